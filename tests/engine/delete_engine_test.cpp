// The delete command's operation through the engine: the login, the
// deletion, the QUIT whose answer decides, and the status it ends with;
// against Dovecot (checked afterwards with a second, plain client) and
// against scripted servers that refuse, fail or never answer QUIT.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/frame_engine.h"
#include "headless_frame.h"
#include "mail/listing_rig.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "support/blocking_pop3.h"
#include "support/dovecot.h"
#include "support/scripted_peer.h"
#include "support/scripted_prompt.h"
#include "support/wait_for.h"

namespace wp {
namespace {

using test::HeadlessFrame;
using test::ScriptedPeer;
using test::ScriptedPrompt;
using test::ServerMail;
using Strings = std::vector<std::string>;

std::string FreshDataFolder(const std::string& name) {
    const char* base = std::getenv("WRENPOST_TEST_TMP");
    std::string folder = std::string(base != nullptr ? base : "/tmp") + "/delete-" + name + "-" +
                         std::to_string(QCoreApplication::applicationPid()) + "/Mail";
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
    std::filesystem::create_directories(folder);
    return folder;
}

struct Rig {
    explicit Rig(const std::string& name) : engine(frame, prompt, FreshDataFolder(name)) {}
    bool Run(int kind) {
        frame.statusHistory.clear();
        engine.StartOperation(kind);
        bool ended = test::PumpUntil([&] { return engine.receiving == 0; });
        QCoreApplication::processEvents();
        return ended;
    }
    void Mark(const std::vector<int>& rows) {
        for (int row : rows) {
            frame.list.SetMarkImage(row, kImageMarked);
        }
    }
    Strings Subjects() const {
        Strings out;
        for (int row = 0; row < frame.list.RowCount(); ++row) {
            out.push_back(Cp932ToUtf8(frame.list.RowEntry(row)->subject));
        }
        return out;
    }
    std::string LastStatus() const { return frame.statusHistory.empty() ? "" : frame.statusHistory.back(); }

    HeadlessFrame frame;
    ScriptedPrompt prompt;
    FrameEngine engine;
};

std::string Utf8Status(int id) {
    return Cp932ToUtf8(LoadString(id));
}

// ---------------------------------------------------------------- Dovecot

class DeleteDovecot : public test::DovecotMailboxTest {
protected:
    void Fill(int count) {
        std::vector<std::string> mails;
        for (int i = 1; i <= count; ++i) {
            mails.push_back("From: s@example.jp\nSubject: mail " + std::to_string(i) + "\n\nbody " +
                            std::to_string(i) + "\n");
        }
        ASSERT_TRUE(test::FillMailbox(user_.name(), mails));
    }
    std::string Account() const { return "Dovecot " + user_.name(); }
    void Select(Rig& rig) {
        rig.frame.SelectAccount(Account(), ServerText(), user_.name(), user_.password());
        rig.engine.SwitchAccount(Account());
    }
    // The subjects the server holds, asked after our QUIT by a second client.
    Strings ServerSubjects() {
        test::BlockingPop3 client;
        EXPECT_TRUE(client.Connect(server_.host, server_.port)) << client.error();
        EXPECT_TRUE(client.LoginUser(user_.name(), user_.password())) << client.error();
        Strings out;
        std::string stat = client.Command("STAT");
        const int count = std::atoi(stat.substr(4).c_str());
        for (int n = 1; n <= count; ++n) {
            std::string top = client.MultiLine("TOP " + std::to_string(n) + " 0");
            auto at = top.find("Subject: ");
            out.push_back(at == std::string::npos ? "" : top.substr(at + 9, top.find('\r', at) - at - 9));
        }
        client.Command("QUIT");
        return out;
    }
};

TEST_F(DeleteDovecot, TheServerLosesExactlyTheMarkedMails) {
    Fill(5);
    Rig rig("dovecot");
    Select(rig);
    ASSERT_TRUE(rig.Run(kOperationList));
    ASSERT_EQ(rig.frame.list.RowCount(), 5);
    rig.Mark({1, 2});
    ASSERT_TRUE(rig.Run(kOperationDelete));
    EXPECT_EQ(rig.LastStatus(), Utf8Status(IDS_STATUS_DELETED));
    EXPECT_EQ(rig.Subjects(), (Strings{"mail 1", "mail 4", "mail 5"}));
    EXPECT_EQ(ServerSubjects(), (Strings{"mail 1", "mail 4", "mail 5"}));
    // Away and back: the cached list has no deleted mail either.
    rig.engine.SwitchAccount("other");
    rig.engine.SwitchAccount(Account());
    EXPECT_EQ(rig.Subjects(), (Strings{"mail 1", "mail 4", "mail 5"}));
}

TEST_F(DeleteDovecot, AMailDeletedElsewhereIsSkippedAndTheOthersGoByTheirCurrentNumbers) {
    Fill(5);
    Rig rig("elsewhere");
    Select(rig);
    ASSERT_TRUE(rig.Run(kOperationList));
    rig.Mark({1, 2, 3});
    {
        // Another client deletes mail 3: mail 4 becomes number 3.
        test::BlockingPop3 other;
        ASSERT_TRUE(other.Connect(server_.host, server_.port));
        ASSERT_TRUE(other.LoginUser(user_.name(), user_.password()));
        ASSERT_TRUE(test::IsOk(other.Command("DELE 3")));
        ASSERT_TRUE(test::IsOk(other.Command("QUIT")));
    }
    ASSERT_TRUE(rig.Run(kOperationDelete));
    EXPECT_EQ(rig.LastStatus(), Utf8Status(IDS_STATUS_DELETED));
    EXPECT_EQ(rig.Subjects(), (Strings{"mail 1", "mail 5"}));
    EXPECT_EQ(ServerSubjects(), (Strings{"mail 1", "mail 5"}));
    const DeletionReport& report = rig.engine.LastDeletion();
    EXPECT_EQ(report.Count(DeleteOutcome::kDeleted), 2);
    EXPECT_EQ(report.Count(DeleteOutcome::kNotOnServer), 1);
}

// ---------------------------------------------------------------- scripted servers

const std::vector<ServerMail> kThree = {test::Mail("u1", "one"), test::Mail("u2", "two"),
                                        test::Mail("u3", "three")};

// The engine's listing of kThree, then a second login for the deletion, up to UIDL.
void ListThenLogInAgain(ScriptedPeer& peer) {
    test::LoginSteps(peer);
    for (int i = 0; i < 5; ++i) {
        peer.Expect("NOOP\r\n").Send("+OK\r\n");
    }
    peer.Expect("STAT\r\n").Send(test::StatReply(kThree));
    peer.Expect("LIST\r\n").Send(test::ListReply(kThree)).Expect("UIDL\r\n").Send(test::UidlReply(kThree));
    test::TopSteps(peer, kThree, {1, 2, 3});
    test::QuitSteps(peer);
    peer.Accept();
    test::LoginSteps(peer);
    for (int i = 0; i < 3; ++i) {
        peer.Expect("NOOP\r\n").Send("+OK\r\n");
    }
    peer.Expect("STAT\r\n").Send(test::StatReply(kThree));
}

struct EndCase {
    const char* what;
    std::function<void(ScriptedPeer&)> afterStat;
    std::string status;  // UTF-8
    Strings rows;
    Strings marked;
};

TEST(DeleteEngine, EachWayADeletionEndsHasItsOwnStatus) {
    auto listed = [](ScriptedPeer& peer) {
        peer.Expect("LIST\r\n").Send(test::ListReply(kThree)).Expect("UIDL\r\n").Send(test::UidlReply(kThree));
    };
    const EndCase cases[] = {
        {"all deleted",
         [&](ScriptedPeer& peer) {
             listed(peer);
             peer.Expect("DELE 2\r\n").Send("+OK\r\n").Expect("DELE 3\r\n").Send("+OK\r\n");
             test::QuitSteps(peer);
         },
         Utf8Status(IDS_STATUS_DELETED),
         {"one"},
         {}},
        {"one DELE refused",
         [&](ScriptedPeer& peer) {
             listed(peer);
             peer.Expect("DELE 2\r\n").Send("-ERR locked\r\n").Expect("DELE 3\r\n").Send("+OK\r\n");
             test::QuitSteps(peer);
         },
         "1件のﾒｯｾｰｼﾞを削除できませんでした。",
         {"one", "two"},
         {"two"}},
        {"UIDL failed before the loop",
         [&](ScriptedPeer& peer) {
             peer.Expect("LIST\r\n").Send(test::ListReply(kThree)).Expect("UIDL\r\n").Send("-ERR\r\n");
             test::QuitSteps(peer);
         },
         Utf8Status(IDS_STATUS_NOTHING_DELETED),
         {"one", "two", "three"},
         {"two", "three"}},
        {"connection closed instead of answering QUIT",
         [&](ScriptedPeer& peer) {
             listed(peer);
             peer.Expect("DELE 2\r\n").Send("+OK\r\n").Expect("DELE 3\r\n").Send("+OK\r\n");
             peer.Expect("QUIT\r\n").Close();
         },
         Utf8Status(IDS_STATUS_DELETE_NOT_DONE),
         {"one", "two", "three"},
         {"two", "three"}},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer;
        ListThenLogInAgain(peer);
        c.afterStat(peer);
        peer.Start();
        Rig rig("status");
        rig.frame.SelectAccount("acc", "127.0.0.1:" + std::to_string(peer.port()), "alice", "secret");
        rig.engine.SwitchAccount("acc");
        ASSERT_TRUE(rig.Run(kOperationList));
        rig.Mark({1, 2});
        ASSERT_TRUE(rig.Run(kOperationDelete));
        peer.Check();
        EXPECT_EQ(rig.LastStatus(), c.status);
        EXPECT_EQ(rig.Subjects(), c.rows);
        Strings marked;
        for (int row = 0; row < rig.frame.list.RowCount(); ++row) {
            if (rig.frame.list.MarkImage(row) == kImageMarked) {
                marked.push_back(Cp932ToUtf8(rig.frame.list.RowEntry(row)->subject));
            }
        }
        EXPECT_EQ(marked, c.marked);
        EXPECT_FALSE(rig.frame.running);
        EXPECT_EQ(rig.engine.sessionAlive, 0);
    }
}

}  // namespace
}  // namespace wp
