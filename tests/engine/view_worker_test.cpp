// Operation kind 1 headless, with the fetch for viewing plugged in as the
// window plugs it in: the login kept between two views, a kept login the
// server drops, and a viewer closed while its mail arrives.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/frame_engine.h"
#include "engine/viewer_forwarder.h"
#include "headless_frame.h"
#include "mail/fetch_for_view.h"
#include "mail/index_record.h"
#include "mail/mail_text.h"
#include "mail/mailbox_files.h"
#include "platform/string_table.h"
#include "platform/text.h"
#include "support/scripted_peer.h"
#include "support/scripted_prompt.h"
#include "support/wait_for.h"

namespace wp {
namespace {

using test::ScriptedPeer;

// Every call that reaches the viewer, by name, and what it showed.
class RecordingViewer final : public ViewerHooks {
public:
    void BeginReceive() override { calls.push_back("BeginReceive"); }
    void EndReceive() override { calls.push_back("EndReceive"); }
    void PostClose() override { calls.push_back("PostClose"); }
    void SetStatusText(const std::string& text) override {
        calls.push_back("SetStatusText " + Cp932ToUtf8(text));
    }
    void ClearMailText() override { calls.push_back("ClearMailText"); }
    void AppendReceivedText(const char* data, std::size_t length, int) override {
        calls.push_back("AppendReceivedText");
        live.append(data, length);
        if (onLive) {
            onLive();
        }
    }
    void SetMailFile(const StoredMail& mail) override {
        calls.push_back("SetMailFile");
        mailFile = mail;
    }
    void SetWaitCursor(bool) override { calls.push_back("SetWaitCursor"); }
    void ClearAttachments() override { calls.push_back("ClearAttachments"); }
    void AddAttachment(const std::string&) override { calls.push_back("AddAttachment"); }
    void ShowMailText(MailView view) override {
        calls.push_back("ShowMailText");
        shown.push_back(SplitMailText(view.legacy, false).body);
    }

    std::vector<std::string> calls;
    std::string live;
    std::vector<std::string> shown;
    StoredMail mailFile;
    std::function<void()> onLive;
};

class ViewingFrame final : public test::HeadlessFrame {
public:
    ViewerHooks* Viewer() override { return viewer; }
    ViewerHooks* viewer = nullptr;
};

std::string FreshDataFolder(const std::string& name) {
    const char* base = std::getenv("WRENPOST_TEST_TMP");
    std::string folder = std::string(base != nullptr ? base : "/tmp") + "/view-" + name + "-" +
                         std::to_string(QCoreApplication::applicationPid()) + "/Mail";
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
    std::filesystem::create_directories(folder);
    return folder;
}

std::string Retr(const std::string& body) {
    std::string mail = "Subject: s\r\n\r\n" + body;
    return "+OK " + std::to_string(mail.size()) + " octets\r\n" + mail + ".\r\n";
}

// The replies of a fetch of mail n among the listed uids.
ScriptedPeer& FetchSteps(ScriptedPeer& peer, const std::vector<std::string>& uids, int n,
                         const std::string& reply, test::Pieces pieces = {}) {
    peer.Expect("NOOP\r\n").Send("+OK\r\n");
    peer.Expect("STAT\r\n").Send("+OK " + std::to_string(uids.size()) + " 1000\r\n");
    std::string list = "+OK\r\n", uidl = "+OK\r\n";
    for (std::size_t i = 0; i < uids.size(); ++i) {
        list += std::to_string(i + 1) + " 100\r\n";
        uidl += std::to_string(i + 1) + " " + uids[i] + "\r\n";
    }
    peer.Expect("LIST\r\n").Send(list + ".\r\n").Expect("UIDL\r\n").Send(uidl + ".\r\n");
    return peer.Expect("RETR " + std::to_string(n) + "\r\n").Send(reply, pieces);
}

// A kept login is checked with two NOOPs by the account check and two more
// by the worker before the fetch starts.
ScriptedPeer& KeptLoginChecks(ScriptedPeer& peer) {
    for (int i = 0; i < 4; ++i) {
        peer.Expect("NOOP\r\n").Send("+OK\r\n");
    }
    return peer;
}

struct Rig {
    explicit Rig(const std::string& name, std::uint16_t port) : engine(frame, prompt, FreshDataFolder(name)) {
        frame.SelectAccount("acc", "127.0.0.1:" + std::to_string(port), "alice", "secret");
        frame.viewer = &viewer;
        engine.SwitchAccount("acc");
        // The cache of the last listing: mails a and b.
        std::string index;
        for (int n = 1; n <= 2; ++n) {
            IndexRecord record;
            record.seq = record.msgNo = n;
            record.size = 100;
            SetUid(record, n == 1 ? "uid-a" : "uid-b");
            IndexRecordBytes bytes = EncodeIndexRecord(record);
            index.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
        FILE* file = std::fopen(engine.Mailbox()->sidPath.c_str(), "wb");
        std::fwrite(index.data(), 1, index.size(), file);
        std::fclose(file);
        engine.Operations().fetchForView = [this](OperationContext& context) {
            ViewerForwarder forwarder(engine);
            return RunFetchForView(*engine.Mailbox(), context, entry, forwarder, {});
        };
    }
    bool View(std::uint32_t id) {
        entry.id = id;
        entry.uid = id == 1 ? "uid-a" : id == 2 ? "uid-b" : "";
        engine.StartOperation(kOperationView);
        return test::PumpUntil([&] { return engine.receiving == 0; });
    }
    std::string LastStatus() const { return frame.statusHistory.empty() ? "" : frame.statusHistory.back(); }

    ViewingFrame frame;
    test::ScriptedPrompt prompt;
    RecordingViewer viewer;
    FrameEngine engine;
    MailEntry entry;
};

std::string Status(int id) {
    return Cp932ToUtf8(LoadString(id));
}

TEST(ViewWorker, TwoViewsInARowLogInOnce) {
    const std::vector<std::string> uids = {"uid-a", "uid-b"};
    ScriptedPeer peer;
    peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK\r\n");
    FetchSteps(peer, uids, 1, Retr("first\r\n"));
    KeptLoginChecks(peer);
    FetchSteps(peer, uids, 2, Retr("second\r\n"));
    peer.Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    {
        Rig rig("twice", peer.port());
        ASSERT_TRUE(rig.View(1));
        QCoreApplication::processEvents();
        EXPECT_EQ(rig.LastStatus(), Status(IDS_STATUS_MESSAGE_DONE));
        EXPECT_EQ(rig.engine.sessionAlive, 1) << "the login stays open";
        ASSERT_TRUE(rig.View(2));
        QCoreApplication::processEvents();
        EXPECT_EQ(rig.LastStatus(), Status(IDS_STATUS_MESSAGE_DONE));
        EXPECT_EQ(rig.viewer.shown, (std::vector<std::string>{"first\r\n", "second\r\n"}));
        EXPECT_EQ(rig.viewer.mailFile.Read(), Retr("second\r\n"));
    }
    peer.Check();
    EXPECT_EQ(peer.connections(), 1u);
}

TEST(ViewWorker, AKeptLoginTheServerDropsIsClosedWithoutQuitAndTheNextViewLogsInAgain) {
    const std::vector<std::string> uids = {"uid-a", "uid-b"};
    ScriptedPeer peer;
    peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK\r\n");
    FetchSteps(peer, uids, 1, Retr("first\r\n")).Close();
    peer.Accept().Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK\r\n");
    FetchSteps(peer, uids, 2, Retr("second\r\n"));
    peer.Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    {
        Rig rig("dropped", peer.port());
        ASSERT_TRUE(rig.View(1));
        // The idle watch sees the close: the login is given up.
        ASSERT_TRUE(test::PumpUntil([&] { return rig.engine.sessionAlive == 0; }));
        EXPECT_EQ(rig.engine.sendQuit, 1);
        ASSERT_TRUE(rig.View(2));
        QCoreApplication::processEvents();
        EXPECT_EQ(rig.viewer.shown, (std::vector<std::string>{"first\r\n", "second\r\n"}));
    }
    peer.Check();
    EXPECT_EQ(peer.Received(0).find("QUIT"), std::string::npos);
}

// Closing the viewer while its mail arrives: the receive stops (10025, the
// connection closed without QUIT), and nothing reaches the closed viewer.
TEST(ViewWorker, AViewerClosedDuringTheFetchGetsNothingMore) {
    const std::vector<std::string> uids = {"uid-a", "uid-b"};
    std::string body;
    for (int i = 0; i < 3000; ++i) {
        body += "line " + std::to_string(i) + "\r\n";
    }
    const std::string reply = Retr(body);
    ScriptedPeer peer;
    peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK\r\n");
    // Paced, so that the stop is seen with the next piece.
    FetchSteps(peer, uids, 1, reply, test::Pieces::Every(200, std::chrono::milliseconds(5))).Silence();
    peer.Start();
    Rig rig("closed", peer.port());
    std::size_t callsAtClose = 0;
    rig.viewer.onLive = [&] {
        if (callsAtClose == 0) {
            // What the frame does when the viewer goes: forget it, stop the fetch.
            callsAtClose = rig.viewer.calls.size();
            rig.frame.viewer = nullptr;
            rig.engine.CancelOperation();
        }
    };
    ASSERT_TRUE(rig.View(1));
    QCoreApplication::processEvents();
    ASSERT_GT(callsAtClose, 0u);
    EXPECT_EQ(rig.viewer.calls.size(), callsAtClose);
    EXPECT_EQ(rig.LastStatus(), Status(IDS_STATUS_MESSAGE_PARTIAL));
    EXPECT_EQ(rig.engine.sessionAlive, 0);
    EXPECT_TRUE(peer.WaitClosed());
    peer.Stop();
    EXPECT_EQ(peer.Received(0).find("QUIT"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(rig.engine.Mailbox()->emlPath));
    peer.TakeFailures();
}

}  // namespace
}  // namespace wp
