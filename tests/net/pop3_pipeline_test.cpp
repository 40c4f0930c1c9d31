// Commands sent ahead of their answers: replies cut anywhere still reach the
// command they answer, and every way a pipelined exchange can go wrong ends
// either one command at a time or with the connection closed, never with a
// reply taken for another's.

#include "session_fixture.h"
#include "support/scripted_peer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wp {
namespace {

using test::Pieces;
using test::ScriptedPeer;
using test::SessionFixture;

const std::string kCapaPipelining = "+OK\r\nTOP\r\nUIDL\r\nPIPELINING\r\n.\r\n";

ScriptedPeer& LoginScript(ScriptedPeer& peer, const std::string& capa = kCapaPipelining) {
    return peer.Greet()
        .Expect("USER alice\r\n")
        .Send("+OK\r\n")
        .Expect("PASS secret\r\n")
        .Send("+OK in\r\n")
        .Expect("CAPA\r\n")
        .Send(capa);
}

bool Ahead(CPop3Session& session, const std::string& command) {
    return session.SendAhead(command.data(), static_cast<int>(command.size()), 100);
}

void LogIn(SessionFixture& f, ScriptedPeer& peer) {
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
}

struct Answer {
    const char* command;
    std::string reply;
};

// Several kinds of reply in one window, among them the edge cases of the
// terminator: an empty header block, a dot-stuffed line, a line that is
// only ".." and a reply whose status line holds a stray '.'.
const std::vector<Answer> kWindow = {
    {"TOP 1 0\r\n", "+OK\r\nSubject: one\r\n\r\n.\r\n"},
    {"DELE 2\r\n", "+OK message 2 deleted\r\n"},
    {"TOP 3 0\r\n", "+OK\r\n.\r\n"},
    {"RETR 4\r\n", "+OK 30 octets.\r\nSubject: four\r\n\r\n..dot\r\n..\r\nend\r\n.\r\n"},
    {"TOP 5 0\r\n", "+OK\r\nSubject: five\r\n\r\n.\r\n"},
};

// Sends the window ahead, then reads every answer through the ordinary calls.
void RunWindow(ScriptedPeer& peer, const Pieces& pieces) {
    std::string replies;
    LoginScript(peer);
    for (const Answer& answer : kWindow) {
        peer.Expect(answer.command);
        replies += answer.reply;
    }
    peer.Send(replies, pieces).Expect("NOOP\r\n").Send("+OK still here\r\n").Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    LogIn(f, peer);
    ASSERT_TRUE(f.session.Pipelines());
    for (const Answer& answer : kWindow) {
        ASSERT_TRUE(Ahead(f.session, answer.command));
    }
    EXPECT_EQ(f.session.Top(1), static_cast<int>(kWindow[0].reply.size()));
    EXPECT_EQ(f.host.capture, kWindow[0].reply);
    f.host.capture.clear();
    EXPECT_GT(f.session.Dele(2), 0);
    EXPECT_EQ(f.host.capture, "");
    EXPECT_EQ(f.session.Top(3), static_cast<int>(kWindow[2].reply.size()));
    EXPECT_EQ(f.host.capture, kWindow[2].reply);
    f.host.capture.clear();
    EXPECT_EQ(f.session.Retr(4), static_cast<int>(kWindow[3].reply.size()));
    EXPECT_EQ(f.host.capture, kWindow[3].reply);
    EXPECT_EQ(f.host.viewer, kWindow[3].reply);
    f.host.capture.clear();
    EXPECT_EQ(f.session.Top(5), static_cast<int>(kWindow[4].reply.size()));
    EXPECT_EQ(f.host.capture, kWindow[4].reply);
    EXPECT_EQ(f.session.Ahead(), 0u);
    EXPECT_EQ(f.session.Noop(), 1);
    EXPECT_STREQ(f.session.reply, "+OK still here\r\n");
    EXPECT_EQ(f.session.Quit(true), 1);
    peer.Check();
}

TEST(Pop3Pipeline, RepliesOfAWindowCutAnywhereReachTheirOwnCommands) {
    {
        SCOPED_TRACE("one byte per read");
        ScriptedPeer peer;
        RunWindow(peer, Pieces::Every(1));
    }
    std::size_t total = 0;
    for (const Answer& answer : kWindow) {
        total += answer.reply.size();
    }
    for (std::size_t at = 0; at < total; ++at) {
        SCOPED_TRACE("cut at " + std::to_string(at));
        ScriptedPeer peer;
        RunWindow(peer, at == 0 ? Pieces::Whole() : Pieces::At({at}));
        if (HasFailure()) {
            return;
        }
    }
}

TEST(Pop3Pipeline, AServerThatAnswersOneCommandAtATimeIsReadAlike) {
    ScriptedPeer peer;
    LoginScript(peer)
        .Expect("TOP 1 0\r\n")
        .Send(kWindow[0].reply)
        .Expect("TOP 3 0\r\n")
        .Send(kWindow[2].reply)
        .Expect("QUIT\r\n")
        .Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    LogIn(f, peer);
    ASSERT_TRUE(f.session.Pipelines());
    ASSERT_TRUE(Ahead(f.session, "TOP 1 0\r\n"));
    ASSERT_TRUE(Ahead(f.session, "TOP 3 0\r\n"));
    EXPECT_GT(f.session.Top(1), 0);
    EXPECT_GT(f.session.Top(3), 0);
    EXPECT_EQ(f.host.capture, kWindow[0].reply + kWindow[2].reply);
    EXPECT_EQ(f.session.Quit(true), 1);
    peer.Check();
}

TEST(Pop3Pipeline, AnErrorInTheMiddleStopsSendingAheadButKeepsEveryAnswer) {
    ScriptedPeer peer;
    LoginScript(peer)
        .Expect("DELE 1\r\n")
        .Expect("DELE 2\r\n")
        .Expect("DELE 3\r\n")
        .Send("+OK\r\n-ERR message 2 is locked\r\n+OK\r\n")
        .Expect("DELE 4\r\n")
        .Send("+OK\r\n")
        .Expect("QUIT\r\n")
        .Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    LogIn(f, peer);
    ASSERT_TRUE(f.session.Pipelines());
    for (const char* command : {"DELE 1\r\n", "DELE 2\r\n", "DELE 3\r\n"}) {
        ASSERT_TRUE(Ahead(f.session, command));
    }
    EXPECT_GT(f.session.Dele(1), 0);
    EXPECT_EQ(f.session.Dele(2), 0);
    EXPECT_FALSE(f.session.Pipelines()) << "after a refusal the rest goes one at a time";
    EXPECT_FALSE(Ahead(f.session, "DELE 4\r\n"));
    EXPECT_GT(f.session.Dele(3), 0) << "the answer already asked for belongs to DELE 3";
    EXPECT_GT(f.session.Dele(4), 0);
    EXPECT_EQ(f.session.Quit(true), 1);
    peer.Check();
}

TEST(Pop3Pipeline, WithoutPipeliningOrCapaNothingGoesAhead) {
    const struct {
        const char* name;
        std::string capa;
    } cases[] = {
        {"CAPA refused", "-ERR unknown command\r\n"},
        {"CAPA without PIPELINING", "+OK\r\nTOP\r\nPIPELINING-LATER\r\nUIDL\r\n.\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        LoginScript(peer, c.capa).Expect("TOP 1 0\r\n").Send(kWindow[0].reply).Expect("QUIT\r\n").Send("+OK\r\n");
        peer.Start();
        SessionFixture f;
        LogIn(f, peer);
        EXPECT_FALSE(f.session.Pipelines());
        EXPECT_FALSE(f.session.Pipelines()) << "CAPA is asked once per login";
        EXPECT_TRUE(f.session.Offers("TOP") || c.capa[0] == '-');
        EXPECT_GT(f.session.Top(1), 0);
        EXPECT_EQ(f.host.capture, kWindow[0].reply);
        EXPECT_EQ(f.session.Quit(true), 1);
        peer.Check();
    }
}

TEST(Pop3Pipeline, AnAnswerOutOfStepClosesTheConnection) {
    ScriptedPeer peer;
    LoginScript(peer).Expect("TOP 1 0\r\n").Expect("TOP 2 0\r\n").Send("Subject: one\r\n\r\n.\r\n").Silence();
    peer.Start();
    SessionFixture f;
    LogIn(f, peer);
    ASSERT_TRUE(f.session.Pipelines());
    ASSERT_TRUE(Ahead(f.session, "TOP 1 0\r\n"));
    ASSERT_TRUE(Ahead(f.session, "TOP 2 0\r\n"));
    EXPECT_EQ(f.session.Top(1), 0);
    EXPECT_EQ(f.socket.sock, -1) << "no later reply could be told from another";
    EXPECT_EQ(f.session.Ahead(), 0u);
    EXPECT_EQ(f.session.Top(2), 0);
    EXPECT_EQ(f.host.capture, "");
    peer.Stop();
}

TEST(Pop3Pipeline, AnotherCommandFirstReadsAndDropsTheAnswersOwed) {
    ScriptedPeer peer;
    LoginScript(peer)
        .Expect("TOP 1 0\r\n")
        .Expect("TOP 3 0\r\n")
        .Send(kWindow[0].reply + kWindow[2].reply, Pieces::Every(3))
        .Expect("NOOP\r\n")
        .Send("+OK noop\r\n")
        .Expect("QUIT\r\n")
        .Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    LogIn(f, peer);
    ASSERT_TRUE(f.session.Pipelines());
    ASSERT_TRUE(Ahead(f.session, "TOP 1 0\r\n"));
    ASSERT_TRUE(Ahead(f.session, "TOP 3 0\r\n"));
    EXPECT_EQ(f.session.Noop(), 1);
    EXPECT_STREQ(f.session.reply, "+OK noop\r\n");
    EXPECT_EQ(f.host.capture, "") << "answers nobody waits for go nowhere";
    EXPECT_EQ(f.session.Quit(true), 1);
    peer.Check();
}

TEST(Pop3Pipeline, CancelWithCommandsInFlight) {
    // Headers: the reply being read ends with the connection, as without
    // pipelining, and nothing more is sent.
    {
        ScriptedPeer peer;
        LoginScript(peer)
            .Expect("TOP 1 0\r\n")
            .Expect("TOP 3 0\r\n")
            .Send(kWindow[0].reply)
            .Send("+OK\r\nSubject: ")
            .Hold()
            .Send("three\r\n\r\n.\r\n");
        peer.Start();
        SessionFixture f;
        LogIn(f, peer);
        ASSERT_TRUE(f.session.Pipelines());
        ASSERT_TRUE(Ahead(f.session, "TOP 1 0\r\n"));
        ASSERT_TRUE(Ahead(f.session, "TOP 3 0\r\n"));
        EXPECT_GT(f.session.Top(1), 0);
        f.session.cancel = 1;
        EXPECT_FALSE(Ahead(f.session, "TOP 5 0\r\n")) << "nothing new goes out after a cancel";
        f.host.capture.clear();
        EXPECT_EQ(f.session.Top(3), 0);
        EXPECT_EQ(f.socket.sock, -1);
        EXPECT_EQ(f.session.Ahead(), 0u);
        peer.Release();
        peer.Stop();
        peer.TakeFailures();
        EXPECT_EQ(peer.Received().find("TOP 5"), std::string::npos);
    }
    // Deletions: the answers already asked for are still read, because the
    // server acts on them, and the QUIT after them gets its own answer.
    {
        ScriptedPeer peer;
        LoginScript(peer)
            .Expect("DELE 1\r\n")
            .Expect("DELE 2\r\n")
            .Send("+OK\r\n")
            .Hold()
            .Send("+OK\r\n")
            .Expect("QUIT\r\n")
            .Send("+OK bye\r\n");
        peer.Start();
        SessionFixture f;
        LogIn(f, peer);
        ASSERT_TRUE(f.session.Pipelines());
        ASSERT_TRUE(Ahead(f.session, "DELE 1\r\n"));
        ASSERT_TRUE(Ahead(f.session, "DELE 2\r\n"));
        f.session.cancel = 1;
        EXPECT_GT(f.session.Dele(1), 0);
        peer.Release();
        EXPECT_GT(f.session.Dele(2), 0);
        f.session.cancel = 0;
        EXPECT_EQ(f.session.Command("QUIT\r\n", 6, nullptr), 1);
        EXPECT_STREQ(f.socket.recvBuf, "+OK bye\r\n");
        f.session.Quit(false);
        peer.Check();
    }
}

TEST(Pop3Pipeline, TheWindowIsBoundedInCommandsAndReplyBytes) {
    ScriptedPeer peer;
    LoginScript(peer).Expect("TOP 1 0\r\n").Expect("TOP 2 0\r\n").Silence();
    peer.Start();
    SessionFixture f;
    LogIn(f, peer);
    f.session.pipelineDepth = 2;
    f.session.pipelineBytes = 1000;
    ASSERT_TRUE(f.session.Pipelines());
    EXPECT_TRUE(f.session.RoomAhead(5000)) << "one command always fits";
    ASSERT_TRUE(f.session.SendAhead("TOP 1 0\r\n", 9, 600));
    EXPECT_FALSE(f.session.RoomAhead(600));
    EXPECT_TRUE(f.session.RoomAhead(400));
    ASSERT_TRUE(f.session.SendAhead("TOP 2 0\r\n", 9, 400));
    EXPECT_FALSE(f.session.RoomAhead(0)) << "two commands are the depth";
    EXPECT_FALSE(f.session.SendAhead("TOP 3 0\r\n", 9, 0));
    EXPECT_FALSE(f.session.SendAhead("TOP 3\r\n0\r\n", 10, 0)) << "one line per command";
    f.session.Quit(false);
    peer.WaitClosed();
    peer.Stop();
    peer.TakeFailures();
    EXPECT_EQ(peer.Received().find("TOP 3"), std::string::npos);
}

// The bounds of one reply hold for every reply of a window.
TEST(Pop3Pipeline, BoundsAndTimeOutStillHoldWithCommandsInFlight) {
    {
        SCOPED_TRACE("a header reply longer than any header");
        ScriptedPeer peer;
        LoginScript(peer).Expect("TOP 1 0\r\n").Expect("TOP 2 0\r\n").Send(
            "+OK\r\n" + std::string(3000, 'x') + "\r\n.\r\n" + kWindow[0].reply);
        peer.Start();
        SessionFixture f;
        LogIn(f, peer);
        f.session.headerReplyLimit = 1000;
        ASSERT_TRUE(f.session.Pipelines());
        ASSERT_TRUE(Ahead(f.session, "TOP 1 0\r\n"));
        ASSERT_TRUE(Ahead(f.session, "TOP 2 0\r\n"));
        EXPECT_EQ(f.session.Top(1), 0);
        EXPECT_EQ(f.socket.sock, -1);
        EXPECT_EQ(f.session.Top(2), 0);
        peer.Stop();
    }
    {
        SCOPED_TRACE("a server that stops answering");
        ScriptedPeer peer;
        LoginScript(peer).Expect("TOP 1 0\r\n").Expect("TOP 2 0\r\n").Send(kWindow[0].reply).Silence();
        peer.Start();
        SessionFixture f;
        f.session.inactivityTimeout = std::chrono::milliseconds(500);
        LogIn(f, peer);
        ASSERT_TRUE(f.session.Pipelines());
        ASSERT_TRUE(Ahead(f.session, "TOP 1 0\r\n"));
        ASSERT_TRUE(Ahead(f.session, "TOP 2 0\r\n"));
        EXPECT_GT(f.session.Top(1), 0);
        EXPECT_EQ(f.session.Top(2), 0);
        EXPECT_EQ(f.socket.sock, -1);
        peer.Stop();
    }
}

}  // namespace
}  // namespace wp
