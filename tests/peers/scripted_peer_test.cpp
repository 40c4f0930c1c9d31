#include "tests/support/scripted_peer.h"

#include <arpa/inet.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "tests/support/blocking_pop3.h"

namespace wp::test {
namespace {

using namespace std::chrono_literals;

// A plain blocking socket, to see exactly what the peer puts on the wire.
class RawClient {
public:
    explicit RawClient(std::uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval tv{30, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { Close(); }
    bool connected() const { return connected_; }
    void Send(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // One recv: its result, and the bytes in `out`.
    ssize_t Recv(std::string& out) {
        char buffer[4096];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        out.assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        return n;
    }
    // Every read until end of stream, one entry per recv.
    std::vector<std::string> ReadsUntilClose() {
        std::vector<std::string> reads;
        std::string piece;
        while (Recv(piece) > 0) {
            reads.push_back(piece);
        }
        return reads;
    }
    bool NothingWaiting() {
        char c;
        return ::recv(fd_, &c, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
    }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

// Waits (bounded) until the peer has recorded `what` on connection `index`.
bool PeerReceived(const ScriptedPeer& peer, const std::string& what, std::size_t index = 0) {
    auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until) {
        if (peer.Received(index).find(what) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

TEST(ScriptedPeerPieces, SplitCoversEveryByteOnce) {
    struct Case {
        const char* name;
        Pieces pieces;
        std::size_t total;
        std::vector<std::size_t> expected;
    };
    const Case cases[] = {
        {"whole", Pieces::Whole(), 7, {7}},
        {"every byte", Pieces::Every(1), 3, {1, 1, 1}},
        {"every 4, short tail", Pieces::Every(4), 10, {4, 4, 2}},
        {"sizes then the rest", Pieces::Sizes({2, 3}), 9, {2, 3, 4}},
        {"sizes beyond the end", Pieces::Sizes({5, 5}), 7, {5, 2}},
        {"zero sizes skipped", Pieces::Sizes({0, 2, 0}), 4, {2, 2}},
        {"nothing to send", Pieces::Every(1), 0, {}},
        {"cut at offsets", Pieces::At({3, 10}), 12, {3, 7, 2}},
        {"offsets at the ends", Pieces::At({0, 12}), 12, {12}},
        {"offsets out of order", Pieces::At({5, 2}), 8, {5, 3}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.pieces.Split(c.total), c.expected) << c.name;
    }
}

TEST(ScriptedPeer, PlaysDialogueAndRecordsWhatTheClientSent) {
    ScriptedPeer peer;
    peer.Greet()
        .Expect("USER alice\r\n")
        .Send("+OK\r\n")
        .Expect("PASS wonderland\r\n")
        .Send("+OK logged in\r\n")
        .Expect("QUIT\r\n")
        .Send("+OK bye\r\n")
        .Start();
    BlockingPop3 client;
    ASSERT_TRUE(client.Connect(peer.host(), peer.port())) << client.error();
    EXPECT_EQ(client.greeting(), "+OK POP3 server ready\r\n");
    EXPECT_TRUE(client.LoginUser("alice", "wonderland")) << client.error();
    EXPECT_EQ(client.Command("QUIT"), "+OK bye\r\n");
    client.Close();
    EXPECT_TRUE(peer.Check());
    EXPECT_EQ(peer.Received(), "USER alice\r\nPASS wonderland\r\nQUIT\r\n");
    EXPECT_EQ(peer.connections(), 1u);
}

// A client that judged a reply on its first read would pass these only by
// luck; the peer must make every piece a read of its own.
TEST(ScriptedPeer, SplitRepliesArriveAsSeparateReads) {
    const std::string reply = "+OK 2 messages\r\n1 120\r\n2 4096\r\n.\r\n";
    struct Case {
        const char* name;
        Pieces pieces;
    };
    const Case cases[] = {
        {"one byte per read", Pieces::Every(1)},
        {"terminator split after its CR LF", Pieces::Sizes({reply.size() - 3})},
        {"status line split in three", Pieces::Sizes({1, 2, 5})},
        {"pieces of 5 with a gap", Pieces::Every(5, 1ms)},
    };
    for (const Case& c : cases) {
        ScriptedPeer peer;
        peer.Send(reply, c.pieces).Close().Start();
        RawClient client(peer.port());
        ASSERT_TRUE(client.connected());
        std::vector<std::string> expected;
        std::size_t offset = 0;
        for (std::size_t n : c.pieces.Split(reply.size())) {
            expected.push_back(reply.substr(offset, n));
            offset += n;
        }
        EXPECT_EQ(client.ReadsUntilClose(), expected) << c.name;
        EXPECT_TRUE(peer.Check()) << c.name;
    }
}

// The peer waits for each piece to be read; a client that stops reading in
// the middle of a reply must not hold the rest of the script up.
TEST(ScriptedPeer, ClientThatStopsReadingDoesNotStallTheReply) {
    const std::string body(3000, 'x');
    ScriptedPeer peer;
    peer.Greet()
        .Expect("RETR 1\r\n")
        .Send("+OK\r\n" + body + "\r\n.\r\n", Pieces::Every(1))
        .Expect("QUIT\r\n")
        .Send("+OK bye\r\n")
        .Start();
    RawClient raw(peer.port());
    ASSERT_TRUE(raw.connected());
    std::string bytes;
    ASSERT_GT(raw.Recv(bytes), 0);
    raw.Send("RETR 1\r\n");
    ASSERT_GT(raw.Recv(bytes), 0);
    raw.Send("QUIT\r\n");
    ASSERT_TRUE(peer.WaitDone());
    raw.Close();
    EXPECT_TRUE(peer.Check());
}

TEST(ScriptedPeer, BlockingClientReassemblesSplitMultiLineReply) {
    ScriptedPeer peer;
    const std::string reply = "+OK\r\nSubject: x\r\n\r\n..dot\r\n.\r\n";
    peer.Greet()
        .Expect("TOP 1 0\r\n")
        .Send(reply, Pieces::Every(1))
        .Expect("RETR 9\r\n")
        .Send("-ERR no such message\r\n", Pieces::Every(2))
        .Start();
    BlockingPop3 client;
    ASSERT_TRUE(client.Connect(peer.host(), peer.port())) << client.error();
    EXPECT_EQ(client.MultiLine("TOP 1 0"), reply);
    EXPECT_EQ(client.MultiLine("RETR 9"), "-ERR no such message\r\n");
    client.Close();
    EXPECT_TRUE(peer.Check());
}

TEST(ScriptedPeer, WrongAndExtraCommandsAreFailures) {
    ScriptedPeer peer;
    peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Start();
    RawClient raw(peer.port());
    ASSERT_TRUE(raw.connected());
    std::string bytes;
    ASSERT_GT(raw.Recv(bytes), 0);
    raw.Send("USER bob\r\n");
    ASSERT_GT(raw.Recv(bytes), 0);
    EXPECT_EQ(bytes, "+OK\r\n");  // the script plays on
    ASSERT_TRUE(peer.WaitDone());
    raw.Send("NOOP\r\n");  // beyond the script
    raw.Close();
    ASSERT_TRUE(peer.WaitClosed());
    auto failures = peer.TakeFailures();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_NE(failures[0].find("expect \"USER alice\\r\\n\""), std::string::npos) << failures[0];
    EXPECT_NE(failures[0].find("\"USER bob\\r\\n\""), std::string::npos) << failures[0];
    EXPECT_NE(failures[1].find("NOOP"), std::string::npos) << failures[1];
    EXPECT_TRUE(peer.Check());  // taken failures are not reported twice
}

TEST(ScriptedPeer, CheckAndDestructorReportFailuresToTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedPeer peer;
            peer.Greet().Expect("STAT\r\n").Send("+OK 0 0\r\n").Start();
            BlockingPop3 client;
            client.Connect(peer.host(), peer.port());
            client.Command("LIST");
            client.Close();
            peer.Check();
        },
        "the client sent \"LIST\\r\\n\"");
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedPeer peer;
            peer.Greet().Expect("STAT\r\n").Send("+OK 0 0\r\n").Start();
            BlockingPop3 client;
            client.Connect(peer.host(), peer.port());
            client.Command("LIST");
            client.Close();
            peer.WaitClosed();
        },
        "the client sent \"LIST\\r\\n\"");
}

TEST(ScriptedPeer, ClientClosingBeforeExpectedCommandIsFailure) {
    ScriptedPeer peer;
    peer.Greet().Expect("QUIT\r\n").Send("+OK\r\n").Start();
    {
        BlockingPop3 client;
        ASSERT_TRUE(client.Connect(peer.host(), peer.port())) << client.error();
    }
    ASSERT_TRUE(peer.WaitDone());
    auto failures = peer.TakeFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("closed the connection"), std::string::npos) << failures[0];
}

TEST(ScriptedPeer, CloseInTheMiddleOfAReply) {
    ScriptedPeer peer;
    peer.Greet().Expect("RETR 1\r\n").Send("+OK 300 octets\r\nFrom: a@b\r\nSubj").Close().Start();
    RawClient raw(peer.port());
    ASSERT_TRUE(raw.connected());
    std::string greeting;
    ASSERT_GT(raw.Recv(greeting), 0);
    raw.Send("RETR 1\r\n");
    std::string all;
    for (const std::string& read : raw.ReadsUntilClose()) {
        all += read;
    }
    EXPECT_EQ(all, "+OK 300 octets\r\nFrom: a@b\r\nSubj");
    EXPECT_TRUE(peer.Check());
}

TEST(ScriptedPeer, ResetEndsTheConnectionWithAnError) {
    ScriptedPeer peer;
    peer.Greet().Expect("NOOP\r\n").Reset().Start();
    RawClient raw(peer.port());
    ASSERT_TRUE(raw.connected());
    std::string bytes;
    ASSERT_GT(raw.Recv(bytes), 0);
    raw.Send("NOOP\r\n");
    errno = 0;
    EXPECT_LT(raw.Recv(bytes), 0);
    EXPECT_EQ(errno, ECONNRESET);
    EXPECT_TRUE(peer.Check());
}

TEST(ScriptedPeer, SilenceRecordsButNeverAnswers) {
    ScriptedPeer peer;
    peer.Greet().Silence().Start();
    RawClient raw(peer.port());
    ASSERT_TRUE(raw.connected());
    std::string greeting;
    ASSERT_GT(raw.Recv(greeting), 0);
    raw.Send("STAT\r\n");
    ASSERT_TRUE(PeerReceived(peer, "STAT\r\n"));
    EXPECT_TRUE(raw.NothingWaiting());
    EXPECT_FALSE(peer.WaitDone(0ms));  // silence lasts while the client stays
    raw.Send("QUIT\r\n");
    raw.Close();
    EXPECT_TRUE(peer.Check());
    EXPECT_EQ(peer.Received(), "STAT\r\nQUIT\r\n");
}

TEST(ScriptedPeer, SilenceEndsWhenThePeerStops) {
    auto peer = std::make_unique<ScriptedPeer>();
    peer->Silence().Start();
    RawClient raw(peer->port());
    ASSERT_TRUE(raw.connected());
    raw.Send("USER x\r\n");
    ASSERT_TRUE(PeerReceived(*peer, "USER x\r\n"));
    peer.reset();  // must neither hang nor report a failure
    std::string bytes;
    EXPECT_EQ(raw.Recv(bytes), 0);
}

TEST(ScriptedPeer, ScriptSpansTwoConnections) {
    ScriptedPeer peer;
    peer.Greet("first")
        .Expect("QUIT\r\n")
        .Send("+OK\r\n")
        .Accept()
        .Greet("second")
        .Expect("NOOP\r\n")
        .Send("+OK\r\n")
        .Start();
    BlockingPop3 first;
    ASSERT_TRUE(first.Connect(peer.host(), peer.port())) << first.error();
    EXPECT_EQ(first.greeting(), "+OK first\r\n");
    EXPECT_EQ(first.Command("QUIT"), "+OK\r\n");
    first.Close();
    BlockingPop3 second;
    ASSERT_TRUE(second.Connect(peer.host(), peer.port())) << second.error();
    EXPECT_EQ(second.greeting(), "+OK second\r\n");
    EXPECT_EQ(second.Command("NOOP"), "+OK\r\n");
    second.Close();
    EXPECT_TRUE(peer.Check());
    EXPECT_EQ(peer.connections(), 2u);
    EXPECT_EQ(peer.Received(0), "QUIT\r\n");
    EXPECT_EQ(peer.Received(1), "NOOP\r\n");
}

TEST(ScriptedPeer, ConnectionBeyondTheScriptIsFailure) {
    ScriptedPeer peer;
    peer.Greet().Close().Start();
    {
        RawClient first(peer.port());
        ASSERT_TRUE(first.connected());
        first.ReadsUntilClose();
    }
    ASSERT_TRUE(peer.WaitDone());
    RawClient second(peer.port());
    ASSERT_TRUE(second.connected());
    EXPECT_TRUE(second.ReadsUntilClose().empty());  // closed at once, never left waiting
    auto failures = peer.TakeFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("connection the script does not expect"), std::string::npos);
}

TEST(ScriptedPeer, ApopGreetingCarriesTheTimestamp) {
    ScriptedPeer peer;
    peer.GreetApop("<1896.697170952@dbc.mtview.ca.us>")
        .Expect("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n")
        .Send("+OK maildrop has 1 message (369 octets)\r\n")
        .Start();
    BlockingPop3 client;
    ASSERT_TRUE(client.Connect(peer.host(), peer.port())) << client.error();
    EXPECT_EQ(client.greeting(), "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n");
    EXPECT_TRUE(client.LoginApop("mrose", "tanstaaf")) << client.error();
    client.Close();
    EXPECT_TRUE(peer.Check());
}

TEST(ScriptedPeer, StepTimeoutEndsAStalledScript) {
    ScriptedPeer peer;
    peer.StepTimeout(50ms).Greet().Expect("USER a\r\n").Send("+OK\r\n").Start();
    RawClient raw(peer.port());
    ASSERT_TRUE(raw.connected());
    // The client never sends USER: the peer gives up and closes.
    std::string all;
    for (const std::string& read : raw.ReadsUntilClose()) {
        all += read;
    }
    EXPECT_EQ(all, "+OK POP3 server ready\r\n");
    auto failures = peer.TakeFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("nothing came within 50 ms"), std::string::npos) << failures[0];
}

TEST(ScriptedPeer, DestroyedWithoutClientStopsCleanly) {
    { ScriptedPeer never_started; }
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedPeer peer;
            peer.Greet().Start();
        },
        "stopped before it ended, at step 0 (accept a connection)");
}

}  // namespace
}  // namespace wp::test
