#include "engine/mail_request.h"

#include <cstring>

namespace wp {
namespace {

template <std::size_t N>
void CopyCut(char (&field)[N], std::string_view text) {
    std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

}  // namespace

std::string_view ServerHost(std::string_view server) {
    return server.substr(0, server.find(':'));
}

std::uint16_t ServerPort(std::string_view server) {
    auto colon = server.find(':');
    if (colon == std::string_view::npos) {
        return 110;
    }
    // The port text is read into an 11-character field; a longer text is cut
    // to its first 11 characters before it is converted.
    std::string_view text = server.substr(colon + 1, 11);
    // atoi-like: leading blanks, an optional sign, then digits; letters give 0.
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');  // wraps like the original
    }
    if (negative) {
        value = 0u - value;
    }
    auto port = static_cast<std::uint16_t>(value & 0xFFFF);
    return port == 0 ? 110 : port;
}

void FillRequest(MailRequest& request, std::string_view accountName, std::string_view server,
                 std::int32_t useApop, std::string_view loginId, std::string_view password) {
    std::memset(&request, 0, sizeof request);
    CopyCut(request.accountName, accountName);
    CopyCut(request.host, ServerHost(server));
    request.port = ServerPort(server);
    request.useApop = useApop;
    CopyCut(request.loginId, loginId);
    CopyCut(request.password, password);
}

}  // namespace wp
