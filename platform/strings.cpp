#include "platform/strings.h"

#include "platform/text.h"

#include <mutex>
#include <unordered_map>

namespace wp {

const std::string& Sjis(const char* utf8) {
    static std::mutex mutex;
    static std::unordered_map<const char*, std::string> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(utf8);
    if (it == cache.end()) {
        // Our own texts are all CP932-clean; a slip shows as '?' rather than vanishing.
        it = cache.emplace(utf8, QStringToCp932Lossy(QString::fromUtf8(utf8))).first;
    }
    return it->second;
}

}  // namespace wp
