#include "mail/save_names.h"

#include "accounts/file_name_chars.h"
#include "decode/jis_sjis.h"
#include "platform/text.h"

namespace wp {
namespace {

// One CP932 character from `at`: 2 bytes for a lead byte with a trail byte.
std::size_t CharLength(std::string_view text, std::size_t at) {
    if (IsSjisLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size()) {
        return 2;
    }
    return 1;
}

}  // namespace

std::string SaveFileName(std::string_view subject) {
    if (std::size_t zero = subject.find('\0'); zero != std::string_view::npos) {
        subject = subject.substr(0, zero);
    }
    return ReplaceFileNameCharsPerCharacter(subject);
}

std::string DiskFileName(std::string_view name) {
    return Cp932ToUtf8(name) + kSavedMailExtension;
}

std::string FittedName(std::string_view base, int counter) {
    const std::string suffix = counter > 0 ? "(" + std::to_string(counter) + ")" : std::string();
    const std::size_t room = kSavedNameMax - suffix.size() - std::char_traits<char>::length(kSavedMailExtension);
    if (Cp932ToUtf8(base).size() <= room) {
        return std::string(base) + suffix;
    }
    // Character by character: a cut inside a double-byte character would
    // leave a broken name, and the UTF-8 form is what must fit.
    std::size_t used = 0;
    std::size_t at = 0;
    while (at < base.size()) {
        const std::size_t length = CharLength(base, at);
        const std::size_t bytes = Cp932ToUtf8(base.substr(at, length)).size();
        if (used + bytes > room) {
            break;
        }
        used += bytes;
        at += length;
    }
    return std::string(base.substr(0, at)) + suffix;
}

void FileNameMap::Clear() {
    names_.clear();
    used_.clear();
}

const std::string* FileNameMap::Find(const MailEntry* entry) const {
    auto it = names_.find(entry);
    return it == names_.end() ? nullptr : &it->second.name;
}

const std::string& FileNameMap::AddUniqueName(const MailEntry* entry, std::string_view candidate,
                                              const Taken& taken) {
    auto [it, added] = names_.try_emplace(entry);
    if (!added) {
        return it->second.name;
    }
    it->second.base = std::string(candidate);
    it->second.counter = 0;
    return Choose(entry, it->second, taken);
}

const std::string& FileNameMap::Renumber(const MailEntry* entry, const Taken& taken) {
    auto it = names_.find(entry);
    if (it == names_.end()) {
        static const std::string none;
        return none;
    }
    used_.erase(it->second.name);
    ++it->second.counter;
    return Choose(entry, it->second, taken);
}

const std::string& FileNameMap::Choose(const MailEntry*, Name& slot, const Taken& taken) {
    for (;; ++slot.counter) {
        std::string name = FittedName(slot.base, slot.counter);
        if (used_.count(name) == 0 && !(taken && taken(name))) {
            slot.name = std::move(name);
            used_.insert(slot.name);
            return slot.name;
        }
    }
}

}  // namespace wp
