// The socket transport: the Windows Sockets behaviour the session relies on,
// kept on POSIX.

#include "net/mail_socket.h"
#include "platform/text.h"
#include "session_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace wp {
namespace {

using namespace wsa;

// A listening socket on 127.0.0.1 and the peer end of one accepted connection.
class Listener {
public:
    Listener() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd_, 4);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() {
        if (peer_ >= 0) {
            close(peer_);
        }
        close(fd_);
    }
    std::uint16_t port() const { return port_; }
    int Accept() {
        peer_ = accept(fd_, nullptr, nullptr);
        return peer_;
    }
    void Write(const std::string& bytes) { ASSERT_EQ(write(peer_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    void ClosePeer() {
        close(peer_);
        peer_ = -1;
    }

private:
    int fd_ = -1;
    int peer_ = -1;
    std::uint16_t port_ = 0;
};

// Detaching hands the event back to its owner, who releases it.
void Release(CMailSocket& s, SocketEvent* event) {
    SocketEvent* held = event;
    s.DeselectEvents(0, &event);
    EXPECT_EQ(event, nullptr);
    s.CloseEvent(held);
}

// Connects a non-blocking socket and waits (bounded) for FD_CONNECT.
bool ConnectTo(CMailSocket& s, std::uint16_t port, int* connectError = nullptr) {
    if (!s.Create(nullptr, "127.0.0.1", port, 2, 1)) {
        return false;
    }
    s.SetNonBlocking(0);
    SocketEvent* event = nullptr;
    s.SelectEvents(0, &event, FD_CONNECT | FD_READ | FD_CLOSE);
    bool ok = s.Connect();
    if (!ok && s.lastError == WSAEWOULDBLOCK) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            NetworkEvents ne;
            int bits = s.PollEvents(0, event, &ne);
            if (bits & FD_CONNECT) {
                if (connectError != nullptr) {
                    *connectError = ne.errorCode[FD_CONNECT_BIT];
                }
                ok = ne.errorCode[FD_CONNECT_BIT] == 0;
                break;
            }
        }
    } else if (!ok && connectError != nullptr) {
        *connectError = s.lastError;
    }
    Release(s, event);
    return ok;
}

// Polls until one of the bits turns up (bounded); returns the bits seen.
int PollFor(CMailSocket& s, SocketEvent* event, int bits) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int got = s.PollEvents(0, event, nullptr);
        if (got < 0 || (got & bits)) {
            return got;
        }
    }
    return 0;
}

TEST(MailSocket, ErrorTextFillsTheRowOfTheCode) {
    CMailSocket s;
    s.ErrorText(10061);
    EXPECT_EQ(Cp932ToUtf8(s.errorText), "WSAECONNREFUSED[10061] -接続が拒否されました-");
    s.ErrorText(10010);
    EXPECT_STREQ(s.errorText, "") << "a code outside the table leaves the text empty";
    s.lastError = 11001;
    s.ErrorText(0);
    EXPECT_EQ(Cp932ToUtf8(s.errorText), "WSAHOST_NOT_FOUND[11001] -ホストが見つかりません-");
}

TEST(MailSocket, UnresolvableHostGivesTheLookupError) {
    CMailSocket s;
    ASSERT_TRUE(s.Create(nullptr, "no-such-host.invalid", 110, 2, 1));
    EXPECT_FALSE(s.Connect());
    EXPECT_EQ(s.lastError, WSAHOST_NOT_FOUND);
}

TEST(MailSocket, NonBlockingConnectCompletesThroughTheConnectEvent) {
    Listener l;
    CMailSocket s;
    ASSERT_TRUE(s.Create(nullptr, "127.0.0.1", l.port(), 2, 1));
    s.SetNonBlocking(0);
    SocketEvent* event = nullptr;
    s.SelectEvents(0, &event, FD_CONNECT | FD_CLOSE);
    if (!s.Connect()) {
        EXPECT_EQ(s.lastError, WSAEWOULDBLOCK);
        NetworkEvents ne;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int bits = 0;
        while (!(bits & FD_CONNECT) && std::chrono::steady_clock::now() < deadline) {
            bits = s.PollEvents(0, event, &ne);
        }
        EXPECT_TRUE(bits & FD_CONNECT);
        EXPECT_EQ(ne.errorCode[FD_CONNECT_BIT], 0);
        // Reported once.
        EXPECT_EQ(s.PollEvents(0, event, nullptr) & FD_CONNECT, 0);
    }
    Release(s, event);
}

TEST(MailSocket, RefusedConnectionCarriesTheRefusal) {
    std::uint16_t port = 0;
    {
        Listener l;  // a port that was just free and is closed again
        port = l.port();
    }
    CMailSocket s;
    int error = 0;
    EXPECT_FALSE(ConnectTo(s, port, &error));
    EXPECT_EQ(error, WSAECONNREFUSED);
}

TEST(MailSocket, ReceiveTakesAtMostABufferAndReportsACleanClose) {
    Listener l;
    CMailSocket s;
    ASSERT_TRUE(ConnectTo(s, l.port()));
    ASSERT_GE(l.Accept(), 0);
    std::string data(5000, 'a');
    data[4095] = 'b';
    data[4096] = 'c';
    l.Write(data);
    l.ClosePeer();

    SocketEvent* event = nullptr;
    s.SelectEvents(0, &event, FD_READ | FD_CLOSE);
    ASSERT_TRUE(PollFor(s, event, FD_READ) & FD_READ);
    // Let all 5000 bytes arrive before reading.
    int first = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string got;
    while (got.size() < data.size() && std::chrono::steady_clock::now() < deadline) {
        int bits = s.PollEvents(0, event, nullptr);
        EXPECT_EQ(bits & FD_CLOSE, 0) << "no close while bytes are still unread";
        if (bits & FD_READ) {
            int n = s.Receive();
            ASSERT_GT(n, 0);
            ASSERT_LE(n, CMailSocket::kBufferSize);
            EXPECT_EQ(s.recvBuf[n], '\0');
            if (first == 0) {
                first = n;
            }
            got.append(s.recvBuf, static_cast<std::size_t>(n));
        }
    }
    EXPECT_EQ(got, data);
    EXPECT_TRUE(PollFor(s, event, FD_CLOSE) & FD_CLOSE);
    EXPECT_EQ(s.Receive(), 0) << "a peer that closed gives 0, not -1";
    Release(s, event);
}

TEST(MailSocket, ReceiveOfExactlyTheBufferLeavesTheRestForTheNextCall) {
    Listener l;
    CMailSocket s;
    ASSERT_TRUE(ConnectTo(s, l.port()));
    ASSERT_GE(l.Accept(), 0);
    l.Write(std::string(4096 + 100, 'x'));
    // Wait until everything is queued, so one call could take it all.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int queued = 0;
    while (queued < 4196 && std::chrono::steady_clock::now() < deadline) {
        char probe[5000];
        queued = static_cast<int>(recv(s.sock, probe, sizeof probe, MSG_PEEK));
    }
    SocketEvent* event = nullptr;
    s.SelectEvents(0, &event, FD_READ | FD_CLOSE);
    ASSERT_TRUE(PollFor(s, event, FD_READ) & FD_READ);
    EXPECT_EQ(s.Receive(), 4096);
    EXPECT_EQ(s.recvBuf[4096], '\0');
    EXPECT_EQ(s.Receive(), 100);
    Release(s, event);
}

TEST(MailSocket, EveryByteComesInOrderInPiecesOfAtMostABuffer) {
    // Around the size the socket reads ahead in one call.
    const std::size_t ahead = CMailSocket::kReadAhead;
    for (std::size_t size : {std::size_t{4096}, ahead - 1, ahead, ahead + 1, 3 * ahead + 123}) {
        SCOPED_TRACE(size);
        Listener l;
        CMailSocket s;
        ASSERT_TRUE(ConnectTo(s, l.port()));
        ASSERT_GE(l.Accept(), 0);
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            data[i] = static_cast<char>('a' + i * 7 % 26);
        }
        l.Write(data);
        l.ClosePeer();
        SocketEvent* event = nullptr;
        s.SelectEvents(0, &event, FD_READ | FD_CLOSE);
        std::string got;
        bool closed = false;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!closed && std::chrono::steady_clock::now() < deadline) {
            int bits = s.PollEvents(0, event, nullptr);
            ASSERT_GE(bits, 0);
            if (bits & FD_CLOSE) {
                EXPECT_EQ(got.size(), data.size()) << "a close reported before the last byte was read";
                closed = true;
            }
            if (bits & FD_READ) {
                int n = s.Receive();
                ASSERT_GT(n, 0);
                ASSERT_LE(n, CMailSocket::kBufferSize);
                EXPECT_EQ(s.recvBuf[n], '\0');
                got.append(s.recvBuf, static_cast<std::size_t>(n));
            }
        }
        EXPECT_TRUE(closed);
        EXPECT_TRUE(got == data);
        Release(s, event);
    }
}

TEST(MailSocket, BytesReadAheadAreReportedToTheIdleWatch) {
    Listener l;
    test::RecordingWindow recorder;
    auto window = MakeQtWindow(recorder);
    CMailSocket s;
    ASSERT_TRUE(ConnectTo(s, l.port()));
    ASSERT_GE(l.Accept(), 0);
    s.notifyWnd = window.get();
    // A reply followed by more than a receive takes: the rest waits in the
    // socket, where the system cannot see it.
    l.Write(std::string(10000, 'r'));
    SocketEvent* event = nullptr;
    s.SelectEvents(0, &event, FD_READ | FD_CLOSE);
    ASSERT_TRUE(PollFor(s, event, FD_READ) & FD_READ);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::size_t taken = 0;
    while (taken < 4096 && std::chrono::steady_clock::now() < deadline) {
        if (s.PollEvents(0, event, nullptr) & FD_READ) {
            taken += static_cast<std::size_t>(std::max(s.Receive(), 0));
        }
    }
    Release(s, event);
    ASSERT_TRUE(s.Buffered());

    ASSERT_TRUE(s.AsyncSelect(0, UM_SOCKETNOTIFY, FD_READ | FD_CLOSE));
    std::size_t drained = taken;
    while (drained < 10000 && std::chrono::steady_clock::now() < deadline) {
        const std::size_t seen = recorder.messages.size();
        ASSERT_TRUE(test::PumpUntil([&] { return recorder.messages.size() > seen; }))
            << "bytes left unreported after " << drained;
        EXPECT_EQ(recorder.messages.back().first, UM_SOCKETNOTIFY);
        int n = s.Receive();
        if (n > 0) {
            drained += static_cast<std::size_t>(n);
        }
    }
    EXPECT_EQ(drained, 10000u);
    s.Close();
}

TEST(MailSocket, ASendToAPeerThatNeverReadsEndsWithWhatWentOut) {
    Listener l;
    CMailSocket s;
    ASSERT_TRUE(ConnectTo(s, l.port()));
    ASSERT_GE(l.Accept(), 0);
    s.sendWaitLimit = std::chrono::milliseconds(100);
    const std::string big(64 << 20, 'z');  // more than both ends buffer
    const int sent = s.Send(big.data(), static_cast<int>(big.size()), 0);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<int>(big.size()));
}

TEST(MailSocket, CloseTwiceDoesNoHarm) {
    Listener l;
    CMailSocket s;
    ASSERT_TRUE(ConnectTo(s, l.port()));
    s.Close();
    s.Close();
    EXPECT_EQ(s.connected, 0);
    EXPECT_EQ(s.sock, -1);
}

TEST(MailSocket, IdleNotificationsArriveOnTheUserInterfaceThread) {
    Listener l;
    test::RecordingWindow recorder;
    auto window = MakeQtWindow(recorder);
    CMailSocket s;
    ASSERT_TRUE(ConnectTo(s, l.port()));
    ASSERT_GE(l.Accept(), 0);
    s.notifyWnd = window.get();
    ASSERT_TRUE(s.AsyncSelect(0, UM_SOCKETNOTIFY, FD_READ | FD_CLOSE));
    l.Write("data");
    ASSERT_TRUE(test::PumpUntil([&] { return recorder.messages.size() == 1; }));
    // Reported once until the data is received.
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(s.Receive(), 4);
    l.ClosePeer();
    ASSERT_TRUE(test::PumpUntil([&] { return recorder.messages.size() == 2; }));
    EXPECT_EQ(recorder.messages[0].first, UM_SOCKETNOTIFY);
    s.Close();
}

}  // namespace
}  // namespace wp
