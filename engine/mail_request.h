#pragma once
// The request block of one operation: the account data frozen when the
// operation starts, so the worker never reads the account bar's changing
// state mid-way.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace wp {

struct MailRequest {
    char accountName[256];
    char host[256];
    std::uint16_t port;
    std::int32_t useApop;
    char loginId[40];
    char password[40];
};
static_assert(sizeof(MailRequest) == 600);
static_assert(offsetof(MailRequest, port) == 512);
static_assert(offsetof(MailRequest, useApop) == 516);
static_assert(offsetof(MailRequest, loginId) == 520);
static_assert(offsetof(MailRequest, password) == 560);

// The port of an account's server text: the decimal number after the first
// ":"; 110 when there is no ":", nothing follows it, or the number's low 16
// bits are 0.
std::uint16_t ServerPort(std::string_view server);
// The host: the server text cut at its first ":".
std::string_view ServerHost(std::string_view server);

// Zeroes the block and fills it; every text is cut to its field.
void FillRequest(MailRequest& request, std::string_view accountName, std::string_view server,
                 std::int32_t useApop, std::string_view loginId, std::string_view password);

}  // namespace wp
