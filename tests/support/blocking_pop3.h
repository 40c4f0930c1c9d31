#pragma once

// A plain POP3 client over blocking sockets: the yardstick the project's own
// session is compared with, and the way tests talk to Dovecot directly.
// Replies come back as the raw bytes the server sent, status line and
// terminating line included, nothing undone (no dot-unstuffing).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace wp::test {

// The APOP digest: MD5 over timestamp followed by secret, as 32 lower-case
// hexadecimal digits.
std::string ApopDigest(std::string_view timestamp, std::string_view secret);

// The first "<...>" of a greeting, angle brackets included; empty when the
// greeting has none.
std::string ApopTimestamp(std::string_view greeting);

inline bool IsOk(std::string_view reply) {
    return reply.substr(0, 3) == "+OK";
}

class BlockingPop3 {
public:
    BlockingPop3() = default;
    ~BlockingPop3();
    BlockingPop3(const BlockingPop3&) = delete;
    BlockingPop3& operator=(const BlockingPop3&) = delete;

    // Connects and reads the greeting; true when it is "+OK". Every later
    // read or write gives up after `timeout` without progress.
    bool Connect(const std::string& host, std::uint16_t port,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // USER then PASS; true when both are accepted.
    bool LoginUser(std::string_view user, std::string_view password);
    // APOP with the greeting's timestamp; false when it has none.
    bool LoginApop(std::string_view user, std::string_view password);

    // Sends `line` plus CR LF and returns the one-line reply, CR LF included;
    // empty when the connection failed.
    std::string Command(std::string_view line);
    // Sends `line` plus CR LF and returns the whole multi-line reply up to and
    // including the terminating ".\r\n"; a "-ERR" status line alone ends it.
    // Empty when the connection failed before the reply was whole.
    std::string MultiLine(std::string_view line);
    // The same into a buffer the caller keeps (no allocation once it is
    // large enough); false when the reply could not be read whole.
    bool MultiLine(std::string_view line, std::string& reply);

    void Close();
    bool connected() const { return fd_ >= 0; }
    const std::string& greeting() const { return greeting_; }
    // What went wrong last, for test messages.
    const std::string& error() const { return error_; }

private:
    bool Send(std::string_view line);
    bool ReadMore();
    bool ReadLine(std::string& out);
    bool Fail(std::string what, int err = 0);

    int fd_ = -1;
    std::string greeting_;
    std::string error_;
    std::string in_;  // received and not yet handed out
    std::unique_ptr<char[]> chunk_;
};

}  // namespace wp::test
