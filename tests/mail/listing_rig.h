#pragma once
// A listing rig: a session logged in at a scripted peer, a recording frame
// and one account's cache object, as the engine wires them; and the scripts
// of a POP3 server listing a given mailbox.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mail/mailbox_session_host.h"
#include "mail/operation_context.h"
#include "mail/run_listing.h"
#include "mailbox_fixture.h"
#include "net/pop3_session.h"
#include "net/session_fixture.h"
#include "support/scripted_peer.h"

namespace wp::test {

// One mail as a POP3 server lists it.
struct ServerMail {
    std::string uid;
    std::string header;  // lines with CR LF, no empty line
    int size = 0;        // 0: the header's size plus a short body
    std::string Top() const { return "+OK\r\n" + header + "\r\n.\r\n"; }
    int ListSize() const { return size != 0 ? size : static_cast<int>(header.size()) + 40; }
};

inline ServerMail Mail(const std::string& uid, const std::string& subject,
                       const std::string& from = "a@example.jp") {
    return {uid, "From: " + from + "\r\nSubject: " + subject + "\r\nDate: Mon, 7 Mar 2005 09:05:00 +0900\r\n",
            0};
}

inline std::string StatReply(const std::vector<ServerMail>& mails) {
    int total = 0;
    for (const ServerMail& m : mails) {
        total += m.ListSize();
    }
    return "+OK " + std::to_string(mails.size()) + " " + std::to_string(total) + "\r\n";
}

inline std::string ListReply(const std::vector<ServerMail>& mails) {
    std::string reply = "+OK " + std::to_string(mails.size()) + " messages\r\n";
    for (std::size_t i = 0; i < mails.size(); ++i) {
        reply += std::to_string(i + 1) + " " + std::to_string(mails[i].ListSize()) + "\r\n";
    }
    return reply + ".\r\n";
}

inline std::string UidlReply(const std::vector<ServerMail>& mails) {
    std::string reply = "+OK\r\n";
    for (std::size_t i = 0; i < mails.size(); ++i) {
        reply += std::to_string(i + 1) + " " + mails[i].uid + "\r\n";
    }
    return reply + ".\r\n";
}

// Greeting and USER/PASS for alice/secret.
inline ScriptedPeer& LoginSteps(ScriptedPeer& peer) {
    return peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK in\r\n");
}

// NOOP, STAT, LIST and UIDL of a listing of these mails.
inline ScriptedPeer& ListingSteps(ScriptedPeer& peer, const std::vector<ServerMail>& mails) {
    peer.Expect("NOOP\r\n").Send("+OK\r\n").Expect("STAT\r\n").Send(StatReply(mails));
    if (!mails.empty()) {
        peer.Expect("LIST\r\n").Send(ListReply(mails)).Expect("UIDL\r\n").Send(UidlReply(mails));
    }
    return peer;
}

inline ScriptedPeer& TopSteps(ScriptedPeer& peer, const std::vector<ServerMail>& mails,
                              const std::vector<int>& numbers) {
    for (int n : numbers) {
        peer.Expect("TOP " + std::to_string(n) + " 0\r\n").Send(mails[static_cast<std::size_t>(n - 1)].Top());
    }
    return peer;
}

inline ScriptedPeer& QuitSteps(ScriptedPeer& peer) {
    return peer.Expect("QUIT\r\n").Send("+OK bye\r\n");
}

// The frame's side of the mail operations for one account.
struct ListingRig {
    explicit ListingRig(std::string account = "alice@example", std::string otherFolder = {})
        : accountName(std::move(account)), dataFolder(otherFolder.empty() ? folder.path() : otherFolder) {
        mailbox = std::make_unique<CMailboxFiles>(accountName, dataFolder);
        host.SetMailbox(mailbox.get());
        host.progressAddBytes = [this](int) { ++topChunks; };
    }
    ~ListingRig() {
        if (mailbox) {
            mailbox->ClearList(list);
        }
    }

    OperationContext Context() {
        OperationContext ctx{session,
                             list,
                             prompt,
                             checkConnection,
                             [this](int done, int total) { ranges.emplace_back(done, total); },
                             [this](int position) {
                                 positions.push_back(position);
                                 if (onPosition) {
                                     onPosition(position);
                                 }
                             },
                             [this](int id) { statuses.push_back(id); },
                             accountStillValid};
        return ctx;
    }

    // Logs in at the peer as alice/secret.
    testing::AssertionResult Login(const ScriptedPeer& peer) {
        if (!session.Prepare(owner.get(), &host)) {
            return testing::AssertionFailure() << "Prepare failed";
        }
        session.SetLogin(ScriptedPeer::host(), peer.port(), "alice", "secret", 0);
        int code = session.Login();
        if (code != kLoginOk) {
            return testing::AssertionFailure() << "login code " << code;
        }
        return testing::AssertionSuccess();
    }

    // Logs in at a real server with USER/PASS.
    testing::AssertionResult LoginTo(const std::string& server, std::uint16_t port, const std::string& user,
                                     const std::string& password) {
        if (!session.Prepare(owner.get(), &host)) {
            return testing::AssertionFailure() << "Prepare failed";
        }
        session.SetLogin(server.c_str(), port, user.c_str(), password.c_str(), 0);
        int code = session.Login();
        if (code != kLoginOk) {
            return testing::AssertionFailure() << "login code " << code;
        }
        return testing::AssertionSuccess();
    }

    int Listing() {
        ranges.clear();
        positions.clear();
        statuses.clear();
        topChunks = 0;
        OperationContext ctx = Context();
        return RunListing(*mailbox, ctx);
    }

    // Logs in, lists and quits against a peer playing `script` after the login.
    int ListAgainst(ScriptedPeer& peer) {
        peer.Start();
        auto login = Login(peer);
        EXPECT_TRUE(login);
        if (!login) {
            return -100;
        }
        int result = Listing();
        session.Quit(true);
        peer.Check();
        return result;
    }

    // The account switch: a new cache object, then the cached list.
    void SwitchAccount() {
        mailbox->ClearList(list);
        mailbox.reset();
        mailbox = std::make_unique<CMailboxFiles>(accountName, dataFolder);
        host.SetMailbox(mailbox.get());
        ranges.clear();
        positions.clear();
        statuses.clear();
        LoadCachedList(
            *mailbox, list, prompt, [this](int done, int total) { ranges.emplace_back(done, total); },
            [this](int position) { positions.push_back(position); },
            [this](int id) { statuses.push_back(id); });
    }

    std::vector<std::string> Subjects() const {
        std::vector<std::string> out;
        for (int row = 0; row < list.RowCount(); ++row) {
            out.push_back(list.Text(row, kColumnSubject));
        }
        return out;
    }
    std::vector<std::uint32_t> Ids() const {
        std::vector<std::uint32_t> out;
        for (int row = 0; row < list.RowCount(); ++row) {
            out.push_back(list.RowEntry(row)->id);
        }
        return out;
    }

    std::string accountName;
    DataFolder folder;
    // The rig's own folder, or another rig's: two writers of one account.
    std::string dataFolder;
    std::unique_ptr<CMailboxFiles> mailbox;
    MailboxSessionHost host;
    CMailSocket socket;
    CPop3Session session{socket};
    RecordingWindow window;
    std::unique_ptr<Window> owner = MakeQtWindow(window);
    MemoryList list;
    LenientPrompt prompt;
    std::function<bool()> checkConnection = [] { return true; };
    std::function<bool()> accountStillValid;
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
    std::vector<int> statuses;
    std::function<void(int)> onPosition;
    int topChunks = 0;
};

}  // namespace wp::test
