#include "platform/strings.h"

#include "platform/text.h"

#include <mutex>
#include <string_view>
#include <unordered_map>

namespace wp {
namespace {

// Lookup by string_view, so a hit allocates nothing.
struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

}  // namespace

const std::string& Sjis(const char* utf8) {
    static std::mutex mutex;
    // Keyed by content, not address: the same text reached through a buffer
    // that is later reused must not give a stale result. Nodes never move, so
    // the references handed out stay valid.
    static std::unordered_map<std::string, std::string, Hash, std::equal_to<>> cache;
    std::string_view key = utf8 != nullptr ? std::string_view(utf8) : std::string_view();
    std::lock_guard lock(mutex);
    auto it = cache.find(key);
    if (it == cache.end()) {
        // Our own texts are all CP932-clean; a slip shows as '?' rather than vanishing.
        it = cache.emplace(std::string(key),
                           QStringToCp932Lossy(QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()))))
                 .first;
    }
    return it->second;
}

}  // namespace wp
