// The POP3 session against a server that means harm: replies that never
// end, trickle, lie about their size, break the connection mid-login, or
// carry bytes that C strings do not survive.

#include "session_fixture.h"
#include "support/scripted_peer.h"
#include "support/wait_for.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <condition_variable>
#include <string>

namespace wp {
namespace {

using namespace std::chrono_literals;
using test::ScriptedPeer;
using test::SessionFixture;

ScriptedPeer& LoginScript(ScriptedPeer& peer) {
    return peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK in\r\n");
}

long FileSize(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return -1;
    }
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fclose(f);
    return size;
}

// STAT says 2 mails; the listing that follows never ends, floods or trickles.
TEST(Pop3Hostile, EndlessListingsEndAndStayBounded) {
    struct Case {
        const char* name;
        const char* command;
        std::string unit;
        std::chrono::milliseconds gap;
        bool cancel;
    } cases[] = {
        {"LIST flood", "LIST\r\n", std::string(2000, '1') + " 10\r\n", 0ms, false},
        {"LIST of short lines", "LIST\r\n", "3 10\r\n", 0ms, false},
        {"UIDL flood", "UIDL\r\n", "9 abcdefgh\r\n", 0ms, false},
        {"LIST trickle", "LIST\r\n", "7", 50ms, false},
        {"LIST flood, stopped", "LIST\r\n", "3 10\r\n", 0ms, true},
        {"UIDL trickle, stopped", "UIDL\r\n", "x", 20ms, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        LoginScript(peer).Expect("STAT\r\n").Send("+OK 2 320\r\n").Expect(c.command).Send("+OK\r\n").Stream(
            c.unit, c.gap);
        peer.Start();
        SessionFixture f;
        // Cancel-only cases get a time-out they cannot reach first.
        f.session.inactivityTimeout = c.cancel ? 60s : 300ms;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        ASSERT_EQ(f.session.Login(), kLoginOk);
        ASSERT_EQ(f.session.Stat(), 1);
        EXPECT_EQ(f.session.statCount, 2);
        if (c.cancel) {
            f.host.onChunk = nullptr;
            QTimer timer;
            QObject::connect(&timer, &QTimer::timeout, [&] {
                if (peer.streamed() > 0) {
                    f.session.cancel = 1;
                }
            });
            timer.start(2);
            EXPECT_EQ(std::string(c.command) == "LIST\r\n" ? f.session.List() : f.session.Uidl(), 0);
        } else {
            EXPECT_EQ(std::string(c.command) == "LIST\r\n" ? f.session.List() : f.session.Uidl(), 0);
        }
        EXPECT_EQ(f.socket.sock, -1) << "the rest of the reply must not be read as the next one";
        // Three lines of at most the line bound each, and the status line.
        EXPECT_LE(FileSize(f.host.responsePath), static_cast<long>(3 * CPop3Session::kListingLineMax + 4096 + 4096));
        peer.Stop();
        peer.TakeFailures();
    }
}

TEST(Pop3Hostile, EndlessTopOrRetrIsCutOff) {
    struct Case {
        const char* name;
        bool top;
        std::int64_t listed;
    } cases[] = {{"TOP", true, -1}, {"RETR of a listed size", false, 1000}, {"RETR of no size", false, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        LoginScript(peer).Expect(c.top ? "TOP 1 0\r\n" : "RETR 1\r\n").Send("+OK\r\n").Stream(
            "X-Junk: " + std::string(500, 'j') + "\r\n");
        peer.Start();
        SessionFixture f;
        f.session.headerReplyLimit = 64 * 1024;
        f.session.retrReplyLimit = 256 * 1024;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        ASSERT_EQ(f.session.Login(), kLoginOk);
        EXPECT_EQ(c.top ? f.session.Top(1) : f.session.Retr(1, nullptr, c.listed), 0);
        const std::size_t bound = c.top ? 64 * 1024 : c.listed >= 0 ? 2 * 1000 + (1u << 20) : 256 * 1024;
        EXPECT_LE(f.host.capture.size(), bound + 8192);
        EXPECT_GT(f.host.capture.size(), 0u);
        EXPECT_EQ(f.socket.sock, -1);
        peer.Stop();
        peer.TakeFailures();
    }
}

TEST(Pop3Hostile, LineBreakInLoginTextIsNeverSent) {
    struct Case {
        const char* login;
        const char* password;
    } cases[] = {{"alice", "p\r\nDELE 2"}, {"alice\nDELE 1", "secret"}, {"alice", "p\r"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password);
        ScriptedPeer peer;
        peer.Silence();
        peer.Start();
        SessionFixture f;
        f.Begin(ScriptedPeer::host(), peer.port(), c.login, c.password);
        EXPECT_EQ(f.session.Login(), kLoginFailed);
        EXPECT_EQ(f.Statuses().back(), IDS_STATUS_LOGIN_TEXT_INVALID);
        peer.Stop();
        EXPECT_EQ(peer.connections(), 0u);
        peer.TakeFailures();
    }
}

TEST(Pop3Hostile, CommandWithABreakInsideIsRefusedUnsent) {
    ScriptedPeer peer;
    LoginScript(peer).Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
    for (std::string text : {std::string("NOOP\r\nDELE 1\r\n"), std::string("NOOP\nx\r\n"),
                             std::string("NO\0OP\r\n", 7), std::string("NOOP")}) {
        EXPECT_EQ(f.session.Command(text.data(), static_cast<int>(text.size()), nullptr), 0);
    }
    EXPECT_EQ(f.session.Quit(true), 1);
    peer.Check();
}

TEST(Pop3Hostile, BrokenConnectionDuringLoginIsNoRefusal) {
    struct Case {
        const char* name;
        std::function<void(ScriptedPeer&)> script;
    } cases[] = {
        {"silent after PASS",
         [](ScriptedPeer& p) { p.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Silence(); }},
        {"reset after PASS",
         [](ScriptedPeer& p) { p.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Reset(); }},
        {"reset after USER", [](ScriptedPeer& p) { p.Greet().Expect("USER alice\r\n").Reset(); }},
        {"reset after USER's +OK",
         [](ScriptedPeer& p) { p.Greet().Expect("USER alice\r\n").Send("+OK\r\n").ExpectAnyLine().Reset(); }},
        {"+OK without its line end, then closed",
         [](ScriptedPeer& p) { p.Greet().Expect("USER alice\r\n").Send("+OK").Close(); }},
        {"APOP answered by a close",
         [](ScriptedPeer& p) { p.GreetApop("<1.2@x>").ExpectAnyLine().Close(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        c.script(peer);
        peer.Start();
        SessionFixture f;
        f.session.inactivityTimeout = 300ms;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret",
                std::string(c.name).starts_with("APOP") ? 1 : 0);
        EXPECT_EQ(f.session.Login(), kLoginFailed);
        EXPECT_EQ(f.Statuses().back(), IDS_STATUS_CONNECT_FAILED);
        peer.Stop();
        peer.TakeFailures();
    }
}

TEST(Pop3Hostile, OverlongStatusLinesKeepTheConversationInStep) {
    ScriptedPeer peer;
    peer.Send("+OK " + std::string(100 * 1024, 'g') + "\r\n")
        .Expect("USER alice\r\n")
        .Send("+OK\r\n")
        .Expect("PASS secret\r\n")
        .Send("+OK in\r\n")
        .Expect("STAT\r\n")
        .Send("+OK 2 320 " + std::string(5000, 's') + "\r\n")
        .Expect("LIST\r\n")
        .Send("+OK " + std::string(6000, 'l') + "\r\n1 10\r\n2 20\r\n.\r\n")
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
    EXPECT_EQ(f.session.statCount, 2);
    EXPECT_EQ(f.session.List(), 1);
    const std::string listed = test::ReadFile(f.host.responsePath);
    EXPECT_NE(listed.find("\r\n1 10\r\n2 20\r\n.\r\n"), std::string::npos);
    EXPECT_LE(listed.size(), 4096u + 20u);
    EXPECT_EQ(f.session.Noop(), 0) << "garbage is no +OK";
    EXPECT_EQ(f.session.Quit(true), 1);
    peer.Check();
}

TEST(Pop3Hostile, NulInAStatusLineDoesNotHideItsEnd) {
    using namespace std::string_literals;
    const std::string top = "+OK\0\r\nSubject: a\r\n\r\n.\r\n"s;
    ScriptedPeer peer;
    peer.Send("+OK\0 ready\r\n"s)
        .Expect("USER alice\r\n")
        .Send("+OK\r\n")
        .Expect("PASS secret\r\n")
        .Send("+OK in\r\n")
        .Expect("STAT\r\n")
        .Send("+OK 1 5\0 x\r\n"s)
        .Expect("TOP 1 0\r\n")
        .Send(top)
        .Expect("QUIT\r\n")
        .Send("+OK\r\n");
    peer.Start();
    SessionFixture f;
    f.session.inactivityTimeout = 20s;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
    EXPECT_EQ(f.session.Stat(), 1);
    EXPECT_EQ(f.session.statCount, 1);
    EXPECT_EQ(f.session.Top(1), static_cast<int>(top.size()));
    EXPECT_NE(f.host.capture.find("Subject: a\r\n"), std::string::npos);
    EXPECT_EQ(f.session.Quit(true), 1);
    peer.Check();
}

TEST(Pop3Hostile, IdleWatchSurvivesANoopAndStaleNoticesAreKnown) {
    ScriptedPeer peer;
    LoginScript(peer).Expect("NOOP\r\n").Send("+OK\r\n").Hold().Close();
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    ASSERT_EQ(f.session.Login(), kLoginOk);
    f.session.SetIdleWatch(true);
    // A check of the connection while idle (what the window does before
    // an operation) must leave the watch on.
    EXPECT_EQ(f.session.Noop(), 1);
    EXPECT_EQ(f.session.idleWatch, 1);
    peer.Release();
    ASSERT_TRUE(test::PumpUntil([&] { return f.window.Count(UM_OPERATIONDONE, 0) == 1; }));
    const LParam tag = f.window.doneTags.back();
    EXPECT_TRUE(f.session.IsCurrentCloseNotice(tag));
    // An operation that took the connection since makes the notice stale.
    f.session.SetIdleWatch(false);
    EXPECT_FALSE(f.session.IsCurrentCloseNotice(tag));
    f.session.SetIdleWatch(true);
    EXPECT_FALSE(f.session.IsCurrentCloseNotice(tag));
    f.session.SetIdleWatch(false);
    peer.Stop();
    peer.TakeFailures();
}

// A name lookup that never answers: the user can stop it, and it times out.
TEST(Pop3Hostile, UnansweredNameLookupIsStoppedOrTimesOut) {
    struct Gate {
        std::mutex mutex;
        std::condition_variable open;
        bool released = false;
        bool entered = false;
    };
    for (bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stopped" : "timed out");
        auto gate = std::make_shared<Gate>();
        SessionFixture f;
        f.session.inactivityTimeout = stop ? 60s : 200ms;
        f.session.resolve = [gate](const char*, in_addr*, int* error) {
            std::unique_lock lock(gate->mutex);
            gate->entered = true;
            gate->open.wait(lock, [&] { return gate->released; });
            *error = 11001;
            return false;
        };
        f.Begin("mail.invalid", 110, "alice", "secret");
        QTimer timer;
        if (stop) {
            QObject::connect(&timer, &QTimer::timeout, [&] {
                std::lock_guard lock(gate->mutex);
                if (gate->entered) {
                    f.session.cancel = 1;
                }
            });
            timer.start(2);
        }
        EXPECT_EQ(f.session.Login(), kLoginFailed);
        EXPECT_EQ(f.Statuses().back(), stop ? IDS_STATUS_CANCELLED : IDS_STATUS_CONNECT_FAILED);
        std::lock_guard lock(gate->mutex);
        gate->released = true;
        gate->open.notify_all();
    }
}

}  // namespace
}  // namespace wp
