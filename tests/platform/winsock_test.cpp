#include "platform/winsock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace wp::wsa {
namespace {

struct ErrnoCase {
    int err;
    const char* name;
    int wsa;
};

// Every condition the socket layer can meet on Linux, with the number the
// error texts and the session's checks know it by.
const ErrnoCase kErrnoCases[] = {
    {0, "0", 0},
    {EINTR, "EINTR", 10004},
    {EBADF, "EBADF", 10009},
    {EACCES, "EACCES", 10013},
    {EPERM, "EPERM", 10013},
    {EFAULT, "EFAULT", 10014},
    {EINVAL, "EINVAL", 10022},
    {EMFILE, "EMFILE", 10024},
    {ENFILE, "ENFILE", 10024},
    {EWOULDBLOCK, "EWOULDBLOCK", 10035},
    {EAGAIN, "EAGAIN", 10035},
    {EINPROGRESS, "EINPROGRESS", 10035},
    {EALREADY, "EALREADY", 10037},
    {ENOTSOCK, "ENOTSOCK", 10038},
    {EDESTADDRREQ, "EDESTADDRREQ", 10039},
    {EMSGSIZE, "EMSGSIZE", 10040},
    {EPROTOTYPE, "EPROTOTYPE", 10041},
    {ENOPROTOOPT, "ENOPROTOOPT", 10042},
    {EPROTONOSUPPORT, "EPROTONOSUPPORT", 10043},
    {ESOCKTNOSUPPORT, "ESOCKTNOSUPPORT", 10044},
    {EOPNOTSUPP, "EOPNOTSUPP", 10045},
    {EPFNOSUPPORT, "EPFNOSUPPORT", 10046},
    {EAFNOSUPPORT, "EAFNOSUPPORT", 10047},
    {EADDRINUSE, "EADDRINUSE", 10048},
    {EADDRNOTAVAIL, "EADDRNOTAVAIL", 10049},
    {ENETDOWN, "ENETDOWN", 10050},
    {ENONET, "ENONET", 10050},
    {ENETUNREACH, "ENETUNREACH", 10051},
    {ENETRESET, "ENETRESET", 10052},
    {ECONNABORTED, "ECONNABORTED", 10053},
    {EPROTO, "EPROTO", 10053},
    {ECONNRESET, "ECONNRESET", 10054},
    {EPIPE, "EPIPE", 10054},
    {ENOBUFS, "ENOBUFS", 10055},
    {ENOMEM, "ENOMEM", 10055},
    {EISCONN, "EISCONN", 10056},
    {ENOTCONN, "ENOTCONN", 10057},
    {ESHUTDOWN, "ESHUTDOWN", 10058},
    {ETOOMANYREFS, "ETOOMANYREFS", 10059},
    {ETIMEDOUT, "ETIMEDOUT", 10060},
    {ECONNREFUSED, "ECONNREFUSED", 10061},
    {ELOOP, "ELOOP", 10062},
    {ENAMETOOLONG, "ENAMETOOLONG", 10063},
    {EHOSTDOWN, "EHOSTDOWN", 10064},
    {EHOSTUNREACH, "EHOSTUNREACH", 10065},
    {ENOTEMPTY, "ENOTEMPTY", 10066},
    {EUSERS, "EUSERS", 10068},
    {EDQUOT, "EDQUOT", 10069},
    {ESTALE, "ESTALE", 10070},
    {EREMOTE, "EREMOTE", 10071},
    // No counterpart: still a failure, never 0.
    {EIO, "EIO", 10022},
    {ENOENT, "ENOENT", 10022},
};

TEST(Winsock, ErrnoMapsToWindowsSocketsNumbers) {
    for (const auto& c : kErrnoCases) {
        EXPECT_EQ(FromErrno(c.err), c.wsa) << c.name;
    }
}

struct GaiCase {
    int result;
    int sysErrno;
    const char* name;
    int wsa;
};

const GaiCase kGaiCases[] = {
    {0, 0, "success", 0},
    {EAI_NONAME, 0, "EAI_NONAME", 11001},
    {EAI_AGAIN, 0, "EAI_AGAIN", 11002},
    {EAI_FAIL, 0, "EAI_FAIL", 11003},
    {EAI_NODATA, 0, "EAI_NODATA", 11004},
    {EAI_ADDRFAMILY, 0, "EAI_ADDRFAMILY", 11004},
    {EAI_MEMORY, 0, "EAI_MEMORY", 10055},
    {EAI_FAMILY, 0, "EAI_FAMILY", 10047},
    {EAI_SOCKTYPE, 0, "EAI_SOCKTYPE", 10044},
    {EAI_SERVICE, 0, "EAI_SERVICE", 10022},
    {EAI_BADFLAGS, 0, "EAI_BADFLAGS", 10022},
    {EAI_SYSTEM, ECONNREFUSED, "EAI_SYSTEM with ECONNREFUSED", 10061},
    {EAI_SYSTEM, EMFILE, "EAI_SYSTEM with EMFILE", 10024},
    // A failed lookup must not read as success when errno says nothing.
    {EAI_SYSTEM, 0, "EAI_SYSTEM without errno", 11003},
    {EAI_OVERFLOW, 0, "EAI_OVERFLOW", 11003},
};

TEST(Winsock, LookupResultsMapToWindowsSocketsNumbers) {
    for (const auto& c : kGaiCases) {
        EXPECT_EQ(FromGetAddrInfo(c.result, c.sysErrno), c.wsa) << c.name;
    }
}

// What the resolver of this machine really answers for a name that cannot
// exist (the .invalid domain is reserved for that).
TEST(Winsock, UnresolvableHostIsHostNotFound) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    errno = 0;
    int rc = getaddrinfo("no-such-host.invalid", "110", &hints, &found);
    int sysErrno = errno;
    if (found != nullptr) {
        freeaddrinfo(found);
    }
    EXPECT_EQ(FromGetAddrInfo(rc, sysErrno), WSAHOST_NOT_FOUND) << gai_strerror(rc);
}

class LocalSocket {
public:
    LocalSocket() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {}
    ~LocalSocket() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// A free port nobody listens on: bound, read back, and released.
std::uint16_t ClosedPort() {
    LocalSocket s;
    sockaddr_in addr = Loopback(0);
    if (bind(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        return 0;
    }
    socklen_t len = sizeof addr;
    getsockname(s.fd(), reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

// The errno values Linux really gives for the two conditions the session
// meets most: a server that is not there, and a port already taken.
TEST(Winsock, RealSocketErrorsMap) {
    std::uint16_t port = ClosedPort();
    ASSERT_NE(port, 0);
    {
        LocalSocket s;
        sockaddr_in addr = Loopback(port);
        ASSERT_NE(connect(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(FromErrno(errno), WSAECONNREFUSED) << std::strerror(errno);
    }
    {
        LocalSocket listener;
        sockaddr_in addr = Loopback(0);
        ASSERT_EQ(bind(listener.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(listen(listener.fd(), 1), 0);
        socklen_t len = sizeof addr;
        getsockname(listener.fd(), reinterpret_cast<sockaddr*>(&addr), &len);
        LocalSocket second;
        ASSERT_NE(bind(second.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(FromErrno(errno), WSAEADDRINUSE) << std::strerror(errno);

        // Reading a non-blocking socket with nothing pending.
        LocalSocket client;
        ASSERT_EQ(connect(client.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        fcntl(client.fd(), F_SETFL, fcntl(client.fd(), F_GETFL) | O_NONBLOCK);
        char byte;
        ASSERT_EQ(recv(client.fd(), &byte, 1, 0), -1);
        EXPECT_EQ(FromErrno(errno), WSAEWOULDBLOCK) << std::strerror(errno);
    }
}

}  // namespace
}  // namespace wp::wsa
