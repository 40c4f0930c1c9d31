// The operation machinery headless: the gate, the worker, the completion
// handlers and the deferred exit, against Dovecot and scripted servers.

#include "engine/frame_engine.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "headless_frame.h"
#include "mail/mailbox_files.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "support/dovecot.h"
#include "support/scripted_peer.h"
#include "support/scripted_prompt.h"
#include "support/wait_for.h"

namespace wp {
namespace {

using test::HeadlessFrame;
using test::ScriptedPeer;
using test::ScriptedPrompt;

std::string StatusText(int id, const std::string& server = {}) {
    std::string text = Cp932ToUtf8(LoadString(id));
    auto at = text.find("%s");
    if (at != std::string::npos) {
        text.replace(at, 2, server);
    }
    return text;
}

std::string FreshDataFolder(const std::string& name) {
    const char* base = std::getenv("WRENPOST_TEST_TMP");
    std::string folder = std::string(base != nullptr ? base : "/tmp") + "/engine-" + name + "-" +
                         std::to_string(QCoreApplication::applicationPid()) + "/Mail";
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
    std::filesystem::create_directories(folder);
    return folder;
}

struct Rig {
    explicit Rig(const std::string& name) : engine(frame, prompt, FreshDataFolder(name)) {}
    bool WaitIdle() {
        return test::PumpUntil([&] { return engine.receiving == 0; });
    }

    HeadlessFrame frame;
    ScriptedPrompt prompt;
    FrameEngine engine;
};

std::string Server(std::uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

TEST(MailRequest, PortRule) {
    struct Case {
        const char* server;
        const char* host;
        int port;
    } cases[] = {
        {"pop.example.jp:995", "pop.example.jp", 995},
        {"pop.example.jp", "pop.example.jp", 110},
        {"pop.example.jp:", "pop.example.jp", 110},
        {"pop.example.jp:0", "pop.example.jp", 110},
        {"pop.example.jp:abc", "pop.example.jp", 110},
        {"pop.example.jp:65536", "pop.example.jp", 110},
        {"pop.example.jp:65646", "pop.example.jp", 110},
        {"pop.example.jp:65647", "pop.example.jp", 111},
        {"pop.example.jp:995:1", "pop.example.jp", 995},
        {"pop.example.jp:00000000000110", "pop.example.jp", 110},  // cut to 11 digits: 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        MailRequest request;
        FillRequest(request, "acc", c.server, 0, "id", "pw");
        EXPECT_STREQ(request.host, c.host);
        EXPECT_EQ(request.port, c.port);
    }
}

TEST(MailRequest, OverlongTextsAreCutToTheirFields) {
    MailRequest request;
    std::string longText(600, 'x');
    FillRequest(request, longText, longText, 1, longText, longText);
    EXPECT_EQ(std::strlen(request.accountName), 255u);
    EXPECT_EQ(std::strlen(request.host), 255u);
    EXPECT_EQ(std::strlen(request.loginId), 39u);
    EXPECT_EQ(std::strlen(request.password), 39u);
    EXPECT_EQ(request.useApop, 1);
}

TEST(FrameEngine, NothingStartsWithoutASelectedAccount) {
    Rig rig("noaccount");
    rig.engine.StartOperation(kOperationList);
    EXPECT_EQ(rig.engine.receiving, 0);
    EXPECT_TRUE(rig.frame.imageSwitches.empty());
}

TEST(FrameEngine, WrongPasswordShowsOneBoxAndEndsWithoutListing) {
    ScriptedPeer peer;
    peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS wrong\r\n").Send("-ERR no\r\n");
    peer.Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    Rig rig("wrongpass");
    rig.frame.SelectAccount("acc", Server(peer.port()), "alice", "wrong");
    PromptRequest box;
    box.text = LoadString(IDS_LOGIN_REFUSED);
    box.caption = Sjis("ｴﾗｰ");
    box.buttons = PromptButtons::Ok;
    box.icon = PromptIcon::Exclamation;
    rig.prompt.Expect(box, PromptAnswer::Ok);
    rig.engine.StartOperation(kOperationList);
    EXPECT_EQ(rig.engine.receiving, 1);
    EXPECT_TRUE(rig.frame.running);
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_FALSE(rig.frame.running);
    EXPECT_EQ(rig.prompt.Count(), 1u);
    peer.Check();
    QCoreApplication::processEvents();
    for (const auto& s : rig.frame.statusHistory) {
        EXPECT_NE(s, StatusText(IDS_STATUS_LOGGED_IN)) << "no listing after a refused login";
    }
}

TEST(FrameEngine, ReceiveWhileRunningCancelsAndStartsNothing) {
    ScriptedPeer peer;
    peer.Silence();
    peer.Start();
    Rig rig("cancel");
    rig.frame.SelectAccount("acc", Server(peer.port()), "alice", "secret");
    rig.engine.StartOperation(kOperationList);
    ASSERT_TRUE(test::PumpUntil([&] { return peer.connections() == 1; }));
    rig.engine.StartOperation(kOperationList);
    EXPECT_EQ(rig.engine.Session().cancel, 1);
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(peer.connections(), 1u);
    peer.Stop();
    peer.TakeFailures();
}

TEST(FrameEngine, RefusedAndSilentServersAlwaysEndTheOperation) {
    std::uint16_t closedPort = 0;
    {
        ScriptedPeer probe;
        closedPort = probe.port();
        probe.Stop();
        probe.TakeFailures();
    }
    // Refused: the connect failure is reported and the operation ends.
    {
        Rig rig("refused");
        rig.frame.SelectAccount("acc", Server(closedPort), "alice", "secret");
        rig.engine.StartOperation(kOperationList);
        ASSERT_TRUE(rig.WaitIdle());
        QCoreApplication::processEvents();
        ASSERT_FALSE(rig.frame.statusHistory.empty());
        EXPECT_EQ(rig.frame.statusHistory.back(), StatusText(IDS_STATUS_CONNECT_FAILED));
    }
    // Silent: the time-out ends the wait.
    {
        ScriptedPeer peer;
        peer.Silence();
        peer.Start();
        Rig rig("silent");
        rig.engine.Session().inactivityTimeout = std::chrono::milliseconds(1000);
        rig.frame.SelectAccount("acc", Server(peer.port()), "alice", "secret");
        rig.engine.StartOperation(kOperationList);
        ASSERT_TRUE(rig.WaitIdle());
        EXPECT_FALSE(rig.frame.running);
        peer.Stop();
        peer.TakeFailures();
    }
}

TEST(FrameEngine, ListingSendsItsCommandsAndQuits) {
    const std::string top =
        "+OK\r\nFrom: a@example.jp\r\nSubject: hello\r\nDate: Mon, 7 Mar 2005 09:05:00 +0900\r\n\r\n.\r\n";
    ScriptedPeer peer;
    peer.Greet()
        .Expect("USER alice\r\n")
        .Send("+OK\r\n")
        .Expect("PASS secret\r\n")
        .Send("+OK\r\n")
        .Expect("NOOP\r\n")
        .Send("+OK\r\n")  // the frame's liveness check
        .Expect("NOOP\r\n")
        .Send("+OK\r\n")
        .Expect("NOOP\r\n")
        .Send("+OK\r\n")  // the listing's own check
        .Expect("NOOP\r\n")
        .Send("+OK\r\n")
        .Expect("NOOP\r\n")
        .Send("+OK\r\n")
        .Expect("STAT\r\n")
        .Send("+OK 1 100\r\n")
        .Expect("LIST\r\n")
        .Send("+OK\r\n1 100\r\n.\r\n")
        .Expect("UIDL\r\n")
        .Send("+OK\r\n1 abc\r\n.\r\n")
        .Expect("TOP 1 0\r\n")
        .Send(top)
        .Expect("QUIT\r\n")
        .Send("+OK\r\n");
    peer.Start();
    Rig rig("scriptedlist");
    rig.frame.SelectAccount("acc", Server(peer.port()), "alice", "secret");
    rig.engine.StartOperation(kOperationList);
    ASSERT_TRUE(rig.WaitIdle());
    peer.Check();
    ASSERT_EQ(rig.frame.list.RowCount(), 1);
    EXPECT_EQ(Cp932ToUtf8(rig.frame.list.RowEntry(0)->subject), "hello");
}

class FrameEngineDovecot : public test::DovecotMailboxTest {
protected:
    void Fill(int count) {
        std::vector<std::string> mails;
        for (int i = 1; i <= count; ++i) {
            mails.push_back("From: sender" + std::to_string(i) +
                            "@example.jp\nSubject: =?ISO-2022-JP?B?GyRCJCIkJCQmJCgkKhsoQg==?= " +
                            std::to_string(i) + "\nDate: Mon, 7 Mar 2005 09:05:00 +0900\n\nbody\n");
        }
        ASSERT_TRUE(test::FillMailbox(user_.name(), mails));
    }
    void Select(HeadlessFrame& frame) {
        frame.SelectAccount("Dovecot " + user_.name(), server_.host + ":" + std::to_string(server_.port),
                            user_.name(), user_.password());
    }
};

TEST_F(FrameEngineDovecot, AFullListingReportsInOrderAndFillsTheList) {
    Fill(5);
    Rig rig("dovecotlist");
    Select(rig.frame);
    rig.engine.SwitchAccount("Dovecot " + user_.name());
    rig.engine.StartOperation(kOperationList);
    ASSERT_TRUE(rig.WaitIdle());
    QCoreApplication::processEvents();
    std::string server = server_.host + ":" + std::to_string(server_.port);
    std::vector<std::string> expected = {
        StatusText(IDS_STATUS_CONNECTING, server), StatusText(IDS_STATUS_LOGGING_IN),
        StatusText(IDS_STATUS_SENDING_PASSWORD),   StatusText(IDS_STATUS_LOGGED_IN),
        StatusText(IDS_STATUS_RECEIVING),          StatusText(IDS_STATUS_LIST_DONE)};
    EXPECT_EQ(rig.frame.statusHistory, expected);
    ASSERT_EQ(rig.frame.list.RowCount(), 5);
    EXPECT_EQ(Cp932ToUtf8(rig.frame.list.RowEntry(4)->subject), "あいうえお 5");
    EXPECT_EQ(Cp932ToUtf8(rig.frame.panes[1]), "5/5件中");
    EXPECT_EQ(rig.frame.title, "Dovecot " + user_.name());
    EXPECT_GE(rig.frame.listFocused, 1);
    EXPECT_FALSE(rig.frame.running);
    EXPECT_EQ(rig.engine.sessionAlive, 0);
    ASSERT_NE(rig.engine.Mailbox(), nullptr);
    EXPECT_EQ(std::filesystem::file_size(rig.engine.Mailbox()->sidPath), 5u * 88u);
    EXPECT_TRUE(std::filesystem::exists(rig.engine.Mailbox()->kvtPath));
}

TEST_F(FrameEngineDovecot, ExitDuringAListingClosesWhenItHasEnded) {
    Fill(200);
    Rig rig("exit");
    Select(rig.frame);
    rig.engine.SwitchAccount("Dovecot " + user_.name());
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (rig.frame.list.RowCount() >= 3 && !rig.engine.exitPending && !rig.frame.closed) {
            rig.engine.Exit();
            EXPECT_FALSE(rig.frame.closed) << "the window waits for the operation";
        }
    });
    timer.start(1);
    rig.engine.StartOperation(kOperationList);
    ASSERT_TRUE(test::PumpUntil([&] { return rig.frame.closed; }));
    EXPECT_LT(rig.frame.list.RowCount(), 200) << "the listing stopped at its next check";
}

TEST_F(FrameEngineDovecot, KindsWithoutTheirOperationEndCleanly) {
    Fill(1);
    for (int kind : {kOperationView, kOperationRetrieve}) {
        SCOPED_TRACE(kind);
        Rig rig("notbuilt");
        Select(rig.frame);
        rig.engine.SwitchAccount("Dovecot " + user_.name());
        rig.engine.StartOperation(kind);
        ASSERT_TRUE(rig.WaitIdle());
        QCoreApplication::processEvents();
        EXPECT_FALSE(rig.frame.running);
        bool said = false;
        for (const auto& s : rig.frame.statusHistory) {
            said = said || s == StatusText(IDS_STATUS_NOT_AVAILABLE);
        }
        EXPECT_TRUE(said);
    }
}

TEST_F(FrameEngineDovecot, ARetrievalStoppedOrFailedIsNoSuccessAndAReportClosesIt) {
    Fill(1);
    struct Case {
        int result;
        const char* report;  // set by the retrieval
        int failed;
        std::string status;  // UTF-8
    };
    const Case cases[] = {
        {0, "", 0, StatusText(IDS_STATUS_MESSAGE_DONE)},
        {0, "2 件のﾒｯｾｰｼﾞを保存できませんでした。", 0, "2 件のﾒｯｾｰｼﾞを保存できませんでした。"},
        {-1, "", 1, StatusText(IDS_STATUS_RETRIEVE_STOPPED)},
        // Stopped by the user: a drop of it must not go ahead.
        {-2, "", 1, StatusText(IDS_STATUS_RETRIEVE_STOPPED)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        Rig rig("retrieve");
        Select(rig.frame);
        rig.engine.SwitchAccount("Dovecot " + user_.name());
        rig.engine.Operations().retrieveSelected = [&](OperationContext&, ProgressHooks*) {
            rig.engine.retrieveReport = Sjis(c.report);
            return c.result;
        };
        rig.engine.StartOperation(kOperationRetrieve);
        EXPECT_EQ(rig.engine.retrieveDone, 1) << "kind 4 runs inside the start";
        EXPECT_EQ(rig.engine.retrieveFailed, c.failed);
        ASSERT_TRUE(rig.WaitIdle());
        QCoreApplication::processEvents();
        ASSERT_FALSE(rig.frame.statusHistory.empty());
        EXPECT_EQ(rig.frame.statusHistory.back(), c.status);
    }
}

TEST_F(FrameEngineDovecot, AServerClosingAKeptLoginIsNoticedAndTheNextOperationLogsInAgain) {
    Fill(2);
    Rig rig("keptlogin");
    Select(rig.frame);
    rig.engine.SwitchAccount("Dovecot " + user_.name());
    // A view keeps its login open.
    rig.engine.StartOperation(kOperationView);
    ASSERT_TRUE(rig.WaitIdle());
    ASSERT_EQ(rig.engine.sessionAlive, 1);
    ASSERT_GE(rig.engine.Session().Socket().sock, 0);
    // The server ends the idle connection (we make it by closing our sending side).
    shutdown(rig.engine.Session().Socket().sock, SHUT_WR);
    ASSERT_TRUE(test::PumpUntil([&] { return rig.engine.sessionAlive == 0; }));
    EXPECT_EQ(rig.engine.Session().Socket().sock, -1);
    EXPECT_EQ(rig.engine.sendQuit, 1);
    // The next operation logs in afresh and lists.
    rig.frame.statusHistory.clear();
    rig.engine.StartOperation(kOperationList);
    ASSERT_TRUE(rig.WaitIdle());
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.frame.list.RowCount(), 2);
    EXPECT_EQ(rig.frame.statusHistory.back(), StatusText(IDS_STATUS_LIST_DONE));
}

TEST_F(FrameEngineDovecot, ManyOperationsCancelledAtRandomPointsAlwaysEnd) {
    Fill(30);
    Rig rig("stress");
    Select(rig.frame);
    rig.engine.SwitchAccount("Dovecot " + user_.name());
    std::mt19937 random(20261207);
    int cancelledInLogin = 0, cancelledInListing = 0, completed = 0;
    for (int round = 0; round < 200; ++round) {
        // Start from an empty cache, so every round's listing fetches headers.
        rig.engine.Mailbox()->ClearList(rig.frame.list);
        std::filesystem::remove(rig.engine.Mailbox()->sidPath);
        std::filesystem::remove(rig.engine.Mailbox()->kvtPath);
        rig.frame.statusHistory.clear();
        // Let the operation get a random distance into its login or its
        // listing before the receive command cancels it. The listing runs
        // inside a message handler, so the check runs from a timer, as a
        // user's key press would.
        std::size_t target = random() % 40;
        bool cancelled = false;
        std::size_t statusesAtCancel = 0;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            std::size_t progress =
                rig.frame.statusHistory.size() + static_cast<std::size_t>(rig.frame.list.RowCount());
            if (!cancelled && rig.engine.receiving && progress >= target) {
                cancelled = true;
                statusesAtCancel = rig.frame.statusHistory.size();
                rig.engine.StartOperation(kOperationList);  // the receive command cancels
            }
        });
        check.start(0);
        rig.engine.StartOperation(kOperationList);
        ASSERT_TRUE(rig.WaitIdle()) << "round " << round;
        check.stop();
        if (!cancelled) {
            ++completed;
        } else {
            (statusesAtCancel < 4 ? cancelledInLogin : cancelledInListing) += 1;
        }
        EXPECT_FALSE(rig.frame.running);
        EXPECT_EQ(rig.engine.Session().busy, 0);
    }
    // The seed spreads the cancels over every phase.
    EXPECT_GT(cancelledInLogin, 10);
    EXPECT_GT(cancelledInListing, 10);
    EXPECT_GT(completed, 10);
}

// --- one operation at a time -------------------------------------------------

// A second start while an operation runs (Next pressed twice during a
// fetch) would join the running worker on this thread while that worker
// waits for this thread.
TEST(FrameEngine, NoKindStartsWhileAnOperationRuns) {
    ScriptedPeer peer;
    peer.Silence();
    peer.Start();
    Rig rig("onekind");
    rig.frame.SelectAccount("acc", Server(peer.port()), "alice", "secret");
    rig.engine.StartOperation(kOperationList);
    ASSERT_TRUE(test::PumpUntil([&] { return peer.connections() == 1; }));
    for (int kind : {kOperationView, kOperationDelete, kOperationRetrieve}) {
        SCOPED_TRACE(kind);
        rig.engine.StartOperation(kind);
        EXPECT_EQ(rig.engine.receiving, 1);
        EXPECT_EQ(rig.engine.Session().cancel, 0) << "only the receive command cancels";
    }
    rig.engine.StartOperation(kOperationList);  // the receive command: cancel
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(peer.connections(), 1u);
    peer.Stop();
    peer.TakeFailures();
}

// What waited for the end of an operation runs in order until one of them
// starts an operation; the rest wait for that one's end, and an account
// switch among them never replaces the cache object under it.
TEST_F(FrameEngineDovecot, QueuedCallbacksStopAtTheFirstThatStartsAnOperation) {
    Fill(2);
    Rig rig("queued");
    Select(rig.frame);
    const std::string account = "Dovecot " + user_.name();
    rig.engine.SwitchAccount(account);
    // Each fetch holds its operation open until the test lets it go.
    std::atomic<int> fetches{0};
    std::atomic<int> released{0};
    rig.engine.Operations().fetchForView = [&](OperationContext&) {
        const int n = ++fetches;
        while (released < n) {
            std::this_thread::yield();
        }
        return 0;
    };
    std::vector<std::string> order;
    std::uint64_t generationAtStart = 0;
    rig.engine.StartOperation(kOperationList);
    ASSERT_EQ(rig.engine.receiving, 1);
    // Next pressed twice, then another account chosen, all during the listing.
    for (int press = 1; press <= 2; ++press) {
        rig.engine.WhenIdle([&, press] {
            order.push_back("view " + std::to_string(press) + (rig.engine.receiving ? " while running" : ""));
            generationAtStart = rig.engine.MailboxGeneration();
            rig.engine.StartOperation(kOperationView);
        });
    }
    rig.engine.SwitchAccount("other");
    rig.engine.WhenIdle([&] { order.push_back("after the switch"); });

    ASSERT_TRUE(test::PumpUntil([&] { return fetches == 1; }));
    EXPECT_EQ(order, std::vector<std::string>{"view 1"});
    EXPECT_EQ(rig.engine.MailboxGeneration(), generationAtStart) << "the cache object stays under the fetch";
    EXPECT_EQ(rig.engine.Mailbox()->AccountName(), account);
    released = 1;
    // The second press starts its own view once the first has ended.
    ASSERT_TRUE(test::PumpUntil([&] { return fetches == 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"view 1", "view 2"}));
    EXPECT_EQ(rig.engine.Mailbox()->AccountName(), account);
    released = 2;
    ASSERT_TRUE(rig.WaitIdle());
    EXPECT_EQ(order, (std::vector<std::string>{"view 1", "view 2", "after the switch"}));
    EXPECT_EQ(rig.engine.Mailbox()->AccountName(), "other");
    EXPECT_NE(rig.engine.MailboxGeneration(), generationAtStart);
}

// The engine goes (the window closes, wrenpost-cli ends) while its worker
// waits for the user-interface thread: here for the refused-password box.
TEST(FrameEngine, DestroyedWhileItsWorkerWaitsForTheUserInterfaceItEndsWithoutABox) {
    ScriptedPeer peer;
    peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS wrong\r\n").Send("-ERR no\r\n");
    peer.Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    HeadlessFrame frame;
    ScriptedPrompt prompt;  // any box fails the test
    auto engine = std::make_unique<FrameEngine>(frame, prompt, FreshDataFolder("destroyed"));
    frame.SelectAccount("acc", Server(peer.port()), "alice", "wrong");
    engine->StartOperation(kOperationList);
    // No events are served meanwhile: the worker's box waits for this thread.
    ASSERT_TRUE(peer.WaitDone());
    engine.reset();
    EXPECT_EQ(prompt.Count(), 0u);
    peer.Check();
    QCoreApplication::processEvents();
}

}  // namespace
}  // namespace wp
