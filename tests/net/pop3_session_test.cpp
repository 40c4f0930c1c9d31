// The POP3 session against a scripted server: login variants, reply kinds
// and their destinations, splits at every byte, cancels, time-outs and
// servers that misbehave.

#include "session_fixture.h"
#include "support/scripted_peer.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <string>
#include <thread>

namespace wp {
namespace {

using test::Pieces;
using test::ScriptedPeer;
using test::SessionFixture;

constexpr const char* kRfcStamp = "<1896.697170952@dbc.mtview.ca.us>";

// A peer that accepts USER alice / PASS secret.
ScriptedPeer& LoginScript(ScriptedPeer& peer) {
    return peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK in\r\n");
}

TEST(Pop3Session, ApopSendsTheDigestOfTheRfcExample) {
    ScriptedPeer peer;
    peer.GreetApop(kRfcStamp)
        .Expect("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n")
        .Send("+OK maildrop has 1 message\r\n")
        .Expect("QUIT\r\n")
        .Send("+OK bye\r\n");
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "mrose", "tanstaaf", 1);
    EXPECT_EQ(f.session.Login(), kLoginOk);
    EXPECT_EQ(f.session.Quit(true), 1);
    peer.Check();
    EXPECT_EQ(f.Statuses(), (std::vector<int>{IDS_STATUS_CONNECTING, IDS_STATUS_LOGGING_IN}));
}

TEST(Pop3Session, ApopWithoutUsableTimestampQuitsAndReports) {
    struct Case {
        const char* greeting;
    } cases[] = {
        {"+OK ready\r\n"},
        {"+OK ready >1896.697170952@dbc.mtview.ca.us<\r\n"},
        {"+OK ready <1896.697170952@dbc.mtview.ca.us\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.greeting);
        ScriptedPeer peer;
        peer.Send(c.greeting).Expect("QUIT\r\n").Send("+OK\r\n");
        peer.Start();
        SessionFixture f;
        f.Begin(ScriptedPeer::host(), peer.port(), "mrose", "tanstaaf", 1);
        EXPECT_EQ(f.session.Login(), kLoginNoApop);
        EXPECT_EQ(f.socket.sock, -1) << "the socket is closed";
        peer.Check();
        EXPECT_EQ(f.Statuses().back(), IDS_STATUS_NO_APOP);
    }
}

TEST(Pop3Session, TimestampThatLeavesNoRoomForThePasswordIsRefused) {
    std::string stamp = "<" + std::string(250, 'x') + ">";
    ScriptedPeer peer;
    peer.GreetApop(stamp).Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "mrose", "tanstaaf", 1);
    EXPECT_EQ(f.session.Login(), kLoginNoApop);
    peer.Check();
}

TEST(Pop3Session, RefusedUserOrPasswordQuitsWithItsCode) {
    struct Case {
        bool refuseUser;
        int code;
    } cases[] = {{true, kLoginUserRefused}, {false, kLoginPassRefused}};
    for (const Case& c : cases) {
        ScriptedPeer peer;
        peer.Greet().Expect("USER alice\r\n");
        if (c.refuseUser) {
            peer.Send("-ERR no such user\r\n");
        } else {
            peer.Send("+OK\r\n").Expect("PASS secret\r\n").Send("-ERR wrong password\r\n");
        }
        peer.Expect("QUIT\r\n").Send("+OK\r\n");
        peer.Start();
        SessionFixture f;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        EXPECT_EQ(f.session.Login(), c.code);
        EXPECT_EQ(f.socket.sock, -1);
        peer.Check();
        EXPECT_EQ(f.Statuses().back(), IDS_LOGIN_REFUSED);
    }
}

TEST(Pop3Session, CancelBeforeTheConnectionSendsNothing) {
    ScriptedPeer peer;
    peer.Silence();
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    f.session.cancel = 1;
    EXPECT_EQ(f.session.Login(), kLoginFailed);
    EXPECT_EQ(f.Statuses().back(), IDS_STATUS_CANCELLED);
    peer.Stop();
    EXPECT_EQ(peer.connections(), 0u) << "stopped before connecting";
    peer.TakeFailures();
}

TEST(Pop3Session, CancelWhileWaitingForTheGreetingSendsNoQuit) {
    ScriptedPeer peer;
    peer.Silence();
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    // The timer fires inside the session's own message dispatching.
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (peer.connections() > 0) {
            f.session.cancel = 1;
        }
    });
    timer.start(5);
    EXPECT_EQ(f.session.Login(), kLoginFailed);
    EXPECT_EQ(f.Statuses().back(), IDS_STATUS_CANCELLED);
    peer.Stop();
    EXPECT_EQ(peer.Received(), "");
}

TEST(Pop3Session, CancelDuringTheLoginIsNotARefusal) {
    ScriptedPeer peer;
    peer.Greet().Expect("USER alice\r\n").Silence();
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (peer.Received().find("USER") != std::string::npos) {
            f.session.cancel = 1;
        }
    });
    timer.start(2);
    EXPECT_EQ(f.session.Login(), kLoginFailed) << "cancelled, not refused";
    EXPECT_EQ(f.Statuses().back(), IDS_STATUS_CANCELLED);
    // The peer has read everything once it sees the connection closed.
    EXPECT_TRUE(peer.WaitClosed());
    peer.Stop();
    EXPECT_NE(peer.Received().find("QUIT\r\n"), std::string::npos) << "the greeting was accepted";
    peer.TakeFailures();
}

TEST(Pop3Session, ListRepliesLandInTheResponseFileExactly) {
    struct Case {
        const char* name;
        std::string reply;
        Pieces pieces;
    } cases[] = {
        {"empty mailbox in one chunk", "+OK\r\n.\r\n", Pieces::Whole()},
        {"terminator split before the dot", "+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n", Pieces::Sizes({29})},
        {"terminator split after the dot", "+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n", Pieces::Sizes({30})},
        {"terminator split before its LF", "+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n", Pieces::Sizes({31})},
        {"one byte per read", "+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n", Pieces::Every(1)},
        {"a dot-stuffed line is not the end", "+OK\r\n1 abc\r\n..\r\n2 def\r\n.\r\n", Pieces::Sizes({12})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        LoginScript(peer).Expect("LIST\r\n").Send(c.reply, c.pieces).Expect("QUIT\r\n").Send("+OK\r\n");
        peer.Start();
        SessionFixture f;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        ASSERT_EQ(f.session.Login(), kLoginOk);
        EXPECT_EQ(f.session.List(), 1);
        EXPECT_EQ(test::ReadFile(f.host.responsePath), c.reply);
        EXPECT_EQ(f.session.Quit(true), 1);
        peer.Check();
    }
}

TEST(Pop3Session, TopCountsEveryByteOfTheReply) {
    const std::string reply = "+OK\r\nSubject: x\r\n\r\n.\r\n";
    ASSERT_EQ(reply.size(), 22u);
    ScriptedPeer peer;
    LoginScript(peer).Expect("TOP 7 0\r\n").Send(reply).Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
    EXPECT_EQ(f.session.Top(7), 22);
    EXPECT_EQ(f.host.capture, reply);
    EXPECT_EQ(f.host.progressBytes, 22);
    f.session.Quit(true);
    peer.Check();
}

TEST(Pop3Session, AReplyThatFillsTheReceiveBufferIsStillText) {
    std::string reply = "+OK\r\n";
    while (reply.size() < 4096 - 3) {
        reply += "Received: x\r\n";
    }
    reply.resize(4096 - 5);
    reply += "\r\n.\r\n";
    ASSERT_EQ(reply.size(), 4096u);
    ScriptedPeer peer;
    LoginScript(peer).Expect("TOP 1 0\r\n").Send(reply).Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
    EXPECT_EQ(f.session.Top(1), 4096);
    EXPECT_EQ(f.host.capture, reply);
    EXPECT_EQ(f.socket.recvBuf[4096], '\0');
    f.session.Quit(true);
    peer.Check();
}

TEST(Pop3Session, RetrFeedsCaptureViewerAndProgress) {
    const std::string reply = "+OK 30 octets\r\nSubject: hi\r\n\r\nbody\r\n..dot\r\n.\r\n";
    ScriptedPeer peer;
    LoginScript(peer).Expect("RETR 3\r\n").Send(reply, Pieces::Sizes({10, 20})).Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
    EXPECT_EQ(f.session.Retr(3), static_cast<int>(reply.size()));
    EXPECT_EQ(f.host.viewerClears, 1);
    EXPECT_EQ(f.host.capture, reply) << "stored exactly as received, dot-stuffing included";
    EXPECT_EQ(f.host.viewer, reply);
    EXPECT_EQ(f.host.viewerBytes, static_cast<int>(reply.size()));
    f.session.Quit(true);
    peer.Check();
}

// A reply far larger than one read, in pieces of every size, its end split
// between two of them: every byte arrives once and in order, and the next
// command's reply is read as its own.
TEST(Pop3Session, ALargeRetrArrivesWholeWhateverItsPieces) {
    std::string reply = "+OK big\r\n";
    for (int i = 0; reply.size() < 300 * 1024; ++i) {
        reply += (i % 7 == 0 ? ".." : "") + std::string("line ") + std::to_string(i) + "\r\n";
    }
    reply += ".\r\n";
    const std::size_t end = reply.size() - 3;
    ScriptedPeer peer;
    LoginScript(peer)
        .Expect("RETR 1\r\n")
        .Send(reply, Pieces::At({5, 9, 10, 4096, 70000, 70001, 140000, end}))
        .Expect("STAT\r\n")
        .Send("+OK 7 1234\r\n")
        .Expect("QUIT\r\n")
        .Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
    EXPECT_EQ(f.session.Retr(1), static_cast<int>(reply.size()));
    EXPECT_EQ(f.host.capture, reply);
    EXPECT_EQ(f.host.viewer, reply);
    EXPECT_EQ(f.session.Stat(), 1);
    EXPECT_EQ(f.session.statCount, 7);
    f.session.Quit(true);
    peer.Check();
}

TEST(Pop3Session, ErrOnAMultiLineCommandEndsItAsFailure) {
    ScriptedPeer peer;
    LoginScript(peer).Expect("TOP 9 0\r\n").Send("-ERR no such message\r\n").Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
    EXPECT_EQ(f.session.Top(9), 0);
    EXPECT_GE(f.socket.sock, 0) << "a refused command leaves the connection open";
    EXPECT_EQ(f.session.Quit(true), 1);
    peer.Check();
}

TEST(Pop3Session, CommandWhileBusyReturnsTwoAndSendsNothing) {
    ScriptedPeer peer;
    LoginScript(peer)
        .Expect("RETR 1\r\n")
        .Send("+OK\r\nline one\r\n")
        .Pause(std::chrono::milliseconds(50))
        .Send(".\r\n")
        .Expect("QUIT\r\n")
        .Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
    int nested = -1;
    int nestedNoop = -1;
    f.host.onChunk = [&] {
        if (nested == -1) {
            nested = f.session.Command("STAT\r\n", 6, nullptr);
            nestedNoop = f.session.Noop();
        }
    };
    EXPECT_GT(f.session.Retr(1), 0);
    EXPECT_EQ(nested, 2);
    EXPECT_EQ(nestedNoop, 2);
    f.session.Quit(true);
    peer.Check();
    EXPECT_EQ(peer.Received().find("STAT"), std::string::npos);
}

TEST(Pop3Session, CancelStopsListAndRetrAfterTheChunk) {
    // LIST stops too, and the connection goes with the rest of its reply.
    {
        const std::string reply = "+OK\r\n1 10\r\n2 20\r\n.\r\n";
        ScriptedPeer peer;
        LoginScript(peer)
            .Expect("LIST\r\n")
            .Send(reply, Pieces::Sizes({8}, std::chrono::milliseconds(30)))
            .Expect("QUIT\r\n")
            .Send("+OK\r\n");
        peer.Start();
        SessionFixture f;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        ASSERT_EQ(f.session.Login(), kLoginOk);
        QTimer::singleShot(0, [&] { f.session.cancel = 1; });
        EXPECT_EQ(f.session.List(), 0);
        EXPECT_EQ(f.socket.sock, -1);
        peer.Stop();
        peer.TakeFailures();
    }
    // RETR stops after the chunk in which the cancel was seen.
    {
        ScriptedPeer peer;
        LoginScript(peer)
            .Expect("RETR 1\r\n")
            .Send("+OK\r\nfirst\r\n")
            .Pause(std::chrono::milliseconds(30))
            .Send("second\r\n.\r\n")
            .ExpectAnyLine();
        peer.Start();
        SessionFixture f;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        ASSERT_EQ(f.session.Login(), kLoginOk);
        f.host.onChunk = [&] { f.session.cancel = 1; };
        EXPECT_EQ(f.session.Retr(1), 0);
        EXPECT_EQ(f.host.capture, "+OK\r\nfirst\r\n");
        EXPECT_EQ(f.socket.sock, -1) << "the rest of the mail would be read as the next reply";
        peer.Stop();
        peer.TakeFailures();
    }
}

// One conversation: every reply of it, each cut once at every offset.
TEST(Pop3Session, EveryReplySplitAtEveryByteIsReadAlike) {
    struct Exchange {
        const char* command;  // nullptr: the greeting
        std::string reply;
    };
    const std::vector<Exchange> conversation = {
        {nullptr, "+OK POP3 ready\r\n"},
        {"USER alice\r\n", "+OK\r\n"},
        {"PASS secret\r\n", "+OK logged in\r\n"},
        {"STAT\r\n", "+OK 2 320\r\n"},
        {"LIST\r\n", "+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n"},
        {"UIDL\r\n", "+OK\r\n1 aaa\r\n2 bbb\r\n.\r\n"},
        {"TOP 2 0\r\n", "+OK\r\nSubject: two\r\n\r\n.\r\n"},
        {"RETR 1\r\n", "+OK\r\nSubject: one\r\n\r\nhello\r\n.\r\n"},
        {"QUIT\r\n", "+OK bye\r\n"},
    };
    auto run = [&](std::size_t splitReply, std::size_t at) {
        ScriptedPeer peer;
        for (std::size_t i = 0; i < conversation.size(); ++i) {
            if (conversation[i].command != nullptr) {
                peer.Expect(conversation[i].command);
            }
            peer.Send(conversation[i].reply, i == splitReply ? Pieces::Sizes({at}) : Pieces::Whole());
        }
        peer.Start();
        SessionFixture f;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        ASSERT_EQ(f.session.Login(), kLoginOk);
        EXPECT_EQ(f.session.Stat(), 1);
        EXPECT_STREQ(f.session.reply, "+OK 2 320\r\n");
        EXPECT_EQ(f.session.List(), 1);
        EXPECT_EQ(test::ReadFile(f.host.responsePath), conversation[4].reply);
        EXPECT_EQ(f.session.Uidl(), 1);
        EXPECT_EQ(test::ReadFile(f.host.responsePath), conversation[5].reply);
        EXPECT_EQ(f.session.Top(2), static_cast<int>(conversation[6].reply.size()));
        EXPECT_EQ(f.host.capture, conversation[6].reply);
        f.host.capture.clear();
        EXPECT_EQ(f.session.Retr(1), static_cast<int>(conversation[7].reply.size()));
        EXPECT_EQ(f.host.capture, conversation[7].reply);
        EXPECT_EQ(f.session.Quit(true), 1);
        peer.Check();
    };
    for (std::size_t r = 0; r < conversation.size(); ++r) {
        for (std::size_t at = 1; at < conversation[r].reply.size(); ++at) {
            SCOPED_TRACE("reply " + std::to_string(r) + " cut at " + std::to_string(at));
            run(r, at);
            if (HasFatalFailure() || HasNonfatalFailure()) {
                return;
            }
        }
    }
}

TEST(Pop3Session, ServerClosingMidReplyIsAFailure) {
    struct Case {
        const char* name;
        bool duringLogin;
    } cases[] = {{"before the greeting", true}, {"in the middle of RETR", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        if (c.duringLogin) {
            peer.Close();
        } else {
            LoginScript(peer).Expect("RETR 1\r\n").Send("+OK\r\nSubject: cut").Close();
        }
        peer.Start();
        SessionFixture f;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        if (c.duringLogin) {
            EXPECT_EQ(f.session.Login(), kLoginFailed);
            EXPECT_EQ(f.Statuses().back(), IDS_STATUS_CONNECT_FAILED);
        } else {
            ASSERT_EQ(f.session.Login(), kLoginOk);
            EXPECT_EQ(f.session.Retr(1), 0) << "a mail cut short is not received";
            EXPECT_EQ(f.session.Noop(), 0) << "the connection is known to be gone";
        }
        EXPECT_EQ(f.socket.sock, -1);
        peer.Stop();
    }
}

TEST(Pop3Session, SilentServerTimesOut) {
    // Before the greeting: the login fails like a failed connection.
    {
        ScriptedPeer peer;
        peer.Silence();
        peer.Start();
        SessionFixture f;
        f.session.inactivityTimeout = std::chrono::milliseconds(1000);
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        EXPECT_EQ(f.session.Login(), kLoginFailed);
        EXPECT_EQ(f.Statuses().back(), IDS_STATUS_CONNECT_FAILED);
        peer.Stop();
    }
    // In the middle of an uncancellable LIST: the command fails and the
    // connection is closed.
    {
        ScriptedPeer peer;
        LoginScript(peer).Expect("LIST\r\n").Send("+OK\r\n1 10\r\n").Silence();
        peer.Start();
        SessionFixture f;
        f.session.inactivityTimeout = std::chrono::milliseconds(1000);
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        ASSERT_EQ(f.session.Login(), kLoginOk);
        EXPECT_EQ(f.session.List(), 0);
        EXPECT_EQ(f.socket.sock, -1);
        peer.Stop();
    }
}

TEST(Pop3Session, OverlongCommandIsRefusedUnsent) {
    ScriptedPeer peer;
    LoginScript(peer).Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
    std::string text = "NOOP " + std::string(300, 'x') + "\r\n";
    EXPECT_EQ(f.session.Command(text.c_str(), static_cast<int>(text.size()), nullptr), 0);
    EXPECT_EQ(f.session.busy, 0);
    EXPECT_EQ(f.session.Quit(true), 1);
    peer.Check();
}

TEST(Pop3Session, HostileRepliesNeverOverflow) {
    // A status line longer than the receive buffer, and a reply of garbage.
    std::string longStatus = "+OK " + std::string(9000, 'z') + "\r\n";
    ScriptedPeer peer;
    LoginScript(peer)
        .Expect("STAT\r\n")
        .Send(longStatus)
        .Expect("NOOP\r\n")
        .Send(std::string(5000, '\xff') + "\r\n")
        .Expect("QUIT\r\n")
        .Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
    EXPECT_EQ(f.session.Stat(), 1);
    EXPECT_LE(std::strlen(f.session.reply), 4096u);
    // The rest of the long line is dropped, so NOOP reads its own reply.
    EXPECT_EQ(f.session.Noop(), 0) << "garbage is no +OK";
    EXPECT_EQ(f.session.Quit(true), 1);
    peer.Check();
}

}  // namespace
}  // namespace wp
