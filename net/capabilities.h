// The CAPA reply (RFC 2449), shared by the login's STLS check and the
// session's pipelining.

#pragma once

#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "net/session_host.h"

namespace wp {

// Collects a CAPA reply, bounded: a server that talks on is cut, not kept.
class CapabilityCapture final : public SessionHost {
public:
    std::string ResponseFilePath() override { return {}; }
    void AppendCapture(const char* data, std::size_t length) override {
        std::size_t room = kLimit > text.size() ? kLimit - text.size() : 0;
        text.append(data, length < room ? length : room);
    }
    void ProgressAddBytes(int) override {}
    void ClearViewerText() override {}
    void AppendViewerText(const char*, std::size_t, int) override {}

    static constexpr std::size_t kLimit = 8192;
    std::string text;
};

// Whether a CAPA reply names `capability` (upper case): the first line is
// the status line; each of the others names one capability, its arguments
// after a space, in any case.
inline bool CapabilityListed(std::string_view reply, const char* capability) {
    const std::size_t nameLength = std::strlen(capability);
    std::size_t at = reply.find('\n');
    while (at != std::string_view::npos && at + 1 < reply.size()) {
        const std::size_t begin = at + 1;
        at = reply.find('\n', begin);
        std::string_view line = reply.substr(begin, (at == std::string_view::npos ? reply.size() : at) - begin);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        if (line.size() < nameLength || (line.size() > nameLength && line[nameLength] != ' ')) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 0; i < nameLength && same; ++i) {
            same = std::toupper(static_cast<unsigned char>(line[i])) == capability[i];
        }
        if (same) {
            return true;
        }
    }
    return false;
}

}  // namespace wp
