#include "tests/support/blocking_pop3.h"

#include <md5.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace wp::test {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::string_view kTerminator = "\r\n.\r\n";

}  // namespace

std::string ApopDigest(std::string_view timestamp, std::string_view secret) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const std::uint8_t*>(timestamp.data()), timestamp.size());
    MD5Update(&ctx, reinterpret_cast<const std::uint8_t*>(secret.data()), secret.size());
    std::uint8_t digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &ctx);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * MD5_DIGEST_LENGTH);
    for (std::uint8_t b : digest) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    return hex;
}

std::string ApopTimestamp(std::string_view greeting) {
    auto open = greeting.find('<');
    if (open == std::string_view::npos) {
        return {};
    }
    auto close = greeting.find('>', open);
    if (close == std::string_view::npos) {
        return {};
    }
    return std::string(greeting.substr(open, close - open + 1));
}

BlockingPop3::~BlockingPop3() {
    Close();
}

bool BlockingPop3::Fail(std::string what, int err) {
    error_ = std::move(what);
    if (err != 0) {
        error_ += ": ";
        error_ += std::strerror(err);
    }
    return false;
}

bool BlockingPop3::Connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout) {
    Close();
    error_.clear();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    if (int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        error_ = "cannot resolve " + host + ": " + gai_strerror(rc);
        return false;
    }
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        freeaddrinfo(found);
        return Fail("socket", errno);
    }
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int rc = connect(fd_, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (rc != 0) {
        Fail("connect to " + host + ":" + service, errno);
        Close();
        return false;
    }
    if (!ReadLine(greeting_)) {
        Close();
        return false;
    }
    if (!IsOk(greeting_)) {
        return Fail("greeting refused: " + greeting_);
    }
    return true;
}

bool BlockingPop3::LoginUser(std::string_view user, std::string_view password) {
    std::string reply = Command("USER " + std::string(user));
    if (!IsOk(reply)) {
        return Fail("USER refused: " + reply);
    }
    reply = Command("PASS " + std::string(password));
    if (!IsOk(reply)) {
        return Fail("PASS refused: " + reply);
    }
    return true;
}

bool BlockingPop3::LoginApop(std::string_view user, std::string_view password) {
    std::string timestamp = ApopTimestamp(greeting_);
    if (timestamp.empty()) {
        return Fail("greeting without APOP timestamp: " + greeting_);
    }
    std::string reply = Command("APOP " + std::string(user) + " " + ApopDigest(timestamp, password));
    if (!IsOk(reply)) {
        return Fail("APOP refused: " + reply);
    }
    return true;
}

std::string BlockingPop3::Command(std::string_view line) {
    std::string reply;
    if (Send(line)) {
        ReadLine(reply);
    }
    return reply;
}

std::string BlockingPop3::MultiLine(std::string_view line) {
    std::string reply;
    if (!MultiLine(line, reply)) {
        reply.clear();
    }
    return reply;
}

bool BlockingPop3::MultiLine(std::string_view line, std::string& reply) {
    reply.clear();
    if (!Send(line)) {
        return false;
    }
    // The status line decides whether a body follows.
    std::string::size_type eol;
    while ((eol = in_.find("\r\n")) == std::string::npos) {
        if (!ReadMore()) {
            return false;
        }
    }
    std::string::size_type end;
    if (in_.compare(0, 4, "-ERR") == 0) {
        end = eol + 2;
    } else {
        // The terminator's leading CR LF may be the status line's own.
        std::string::size_type from = eol;
        while ((end = in_.find(kTerminator, from)) == std::string::npos) {
            from = in_.size() < kTerminator.size() ? eol : in_.size() - kTerminator.size() + 1;
            if (from < eol) {
                from = eol;
            }
            if (!ReadMore()) {
                return false;
            }
        }
        end += kTerminator.size();
    }
    if (end == in_.size()) {
        reply.swap(in_);  // the usual case; both buffers keep their capacity
        in_.clear();
    } else {
        reply.assign(in_, 0, end);
        in_.erase(0, end);
    }
    return true;
}

bool BlockingPop3::Send(std::string_view line) {
    if (fd_ < 0) {
        return Fail("not connected");
    }
    std::string out;
    out.reserve(line.size() + 2);
    out.append(line).append("\r\n");
    std::size_t sent = 0;
    while (sent < out.size()) {
        ssize_t n = send(fd_, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            Fail("send", errno);
            Close();
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool BlockingPop3::ReadMore() {
    if (!chunk_) {
        chunk_ = std::make_unique<char[]>(kReadChunk);
    }
    ssize_t n;
    do {
        n = recv(fd_, chunk_.get(), kReadChunk, 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        in_.append(chunk_.get(), static_cast<std::size_t>(n));
        return true;
    }
    if (n == 0) {
        Fail("connection closed by the server");
    } else if (errno == EAGAIN) {  // SO_RCVTIMEO ran out
        Fail("no reply in time");
    } else {
        Fail("recv", errno);
    }
    Close();
    return false;
}

bool BlockingPop3::ReadLine(std::string& out) {
    out.clear();
    std::string::size_type eol;
    std::string::size_type from = 0;
    while ((eol = in_.find("\r\n", from)) == std::string::npos) {
        from = in_.empty() ? 0 : in_.size() - 1;
        if (fd_ < 0 || !ReadMore()) {
            return false;
        }
    }
    out.assign(in_, 0, eol + 2);
    in_.erase(0, eol + 2);
    return true;
}

void BlockingPop3::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    in_.clear();
}

}  // namespace wp::test
