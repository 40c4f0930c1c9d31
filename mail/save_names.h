#pragma once
// The file names of saved mails: one per list entry, made from the subject,
// unique within one save or drag and, for a save, against the files already
// in the target folder. Names are CP932 without the extension; on disk they
// are UTF-8 with ".eml", and that form is what must fit a file name.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "mail/mail_entry.h"

namespace wp {

inline constexpr const char* kSavedMailExtension = ".eml";
// The longest file name the file systems we write to take, in bytes.
inline constexpr std::size_t kSavedNameMax = 255;

// A subject as a file name: forbidden characters and control bytes become
// "_" character by character (a trail byte 0x5C or 0x7C stays part of its
// character), and nothing from a zero byte on is kept.
std::string SaveFileName(std::string_view subject);

// The name on disk of a CP932 name: UTF-8 with the extension.
std::string DiskFileName(std::string_view name);

class FileNameMap {
public:
    // Whether a name is taken outside the map (a file of the target folder).
    using Taken = std::function<bool(const std::string& name)>;

    void Clear();
    bool Empty() const { return names_.empty(); }
    std::size_t Size() const { return names_.size(); }
    // The entry's name; nullptr when it has none.
    const std::string* Find(const MailEntry* entry) const;

    // Enters a unique name for entry: the candidate itself, else the
    // candidate followed by "(1)", "(2)" ... -- the first that no other entry
    // holds and `taken` does not claim. The candidate is cut (between
    // characters) so that its disk name with the suffix still fits; uniqueness
    // is judged after the cut. An entry that has a name keeps it.
    const std::string& AddUniqueName(const MailEntry* entry, std::string_view candidate, const Taken& taken = {});
    // Gives the entry the next free name after its current one: its file
    // name turned out to be taken when the file was created.
    const std::string& Renumber(const MailEntry* entry, const Taken& taken = {});

private:
    struct Name {
        std::string base;
        std::string name;
        int counter = 0;
    };
    const std::string& Choose(const MailEntry* entry, Name& slot, const Taken& taken);

    std::unordered_map<const MailEntry*, Name> names_;
    std::unordered_set<std::string> used_;
};

// `base` followed by the suffix "(n)" (none for 0), with base cut between
// characters so that the disk name fits kSavedNameMax.
std::string FittedName(std::string_view base, int counter);

}  // namespace wp
