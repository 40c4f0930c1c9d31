// The server listing against the test Dovecot, and the account switch:
//   (1) the first listing of 10,000 mails into an empty cache, beside the
//       same commands (STAT, LIST, UIDL, TOP n 0 each) through a plain
//       blocking client, with the ratio;
//   (2) a second listing of the same mails (no TOP);
//   (3) LoadCachedList of 50,000 cached records into the in-memory list.
// Login and QUIT are outside every figure. Best of three runs each.
//
//   bench_listing [mails] [cached]      (defaults 10000 and 50000)

#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_cache.h"
#include "bench/bench_dovecot.h"
#include "mail/index_record.h"
#include "mail/mailbox_files.h"
#include "mail/mailbox_session_host.h"
#include "mail/memory_list.h"
#include "mail/operation_context.h"
#include "mail/run_listing.h"
#include "net/pop3_session.h"
#include "support/blocking_pop3.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

class NullWindow : public wp::MessageHandler {
public:
    wp::LResult HandleMessage(std::uint32_t, wp::WParam, wp::LParam) override { return 0; }
};

class SilentPrompt final : public wp::Prompt {
public:
    wp::PromptAnswer Ask(const wp::PromptRequest& request) override {
        std::fprintf(stderr, "unexpected message box\n");
        return request.defaultAnswer;
    }
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

// The frame's side of one account, as the engine wires it.
struct Account {
    explicit Account(const std::string& folder)
        : mailbox(std::make_unique<wp::CMailboxFiles>("bench", folder)) {
        host.SetMailbox(mailbox.get());
    }
    ~Account() { mailbox->ClearList(list); }

    // The listing's time, from after the login to its end.
    double Listing(const wp::test::DovecotServer& server, const std::string& user,
                   const std::string& password, int expected) {
        NullWindow handler;
        auto window = wp::MakeQtWindow(handler);
        wp::CMailSocket socket;
        wp::CPop3Session session(socket);
        session.Prepare(window.get(), &host);
        session.SetLogin(server.host.c_str(), server.port, user.c_str(), password.c_str(), 0);
        if (session.Login() != wp::kLoginOk) {
            Fail("session: login failed");
        }
        wp::OperationContext ctx{session,         list,       prompt,     [] { return true; },
                                 [](int, int) {}, [](int) {}, [](int) {}, {}};
        auto start = Clock::now();
        int result = wp::RunListing(*mailbox, ctx);
        double seconds = Seconds(start);
        session.Quit(true);
        if (result != expected) {
            std::fprintf(stderr, "listing gave %d, not %d\n", result, expected);
            std::exit(1);
        }
        return seconds;
    }

    std::unique_ptr<wp::CMailboxFiles> mailbox;
    wp::MailboxSessionHost host;
    wp::MemoryList list;
    SilentPrompt prompt;
};

double BlockingRun(const wp::test::DovecotServer& server, const std::string& user,
                   const std::string& password, int mails) {
    wp::test::BlockingPop3 client;
    if (!client.Connect(server.host, server.port) || !client.LoginUser(user, password)) {
        Fail("blocking client: login failed");
    }
    std::string reply;
    auto start = Clock::now();
    client.Command("STAT");
    client.MultiLine("LIST", reply);
    client.MultiLine("UIDL", reply);
    for (int n = 1; n <= mails; ++n) {
        if (!client.MultiLine("TOP " + std::to_string(n) + " 0", reply)) {
            Fail("blocking client: TOP failed");
        }
    }
    double seconds = Seconds(start);
    client.Command("QUIT");
    return seconds;
}

// A cache of `records` mails as a listing leaves it.
void WriteCache(const wp::CMailboxFiles& mailbox, int records) {
    wp::bench::WriteCacheFiles(
        mailbox, records,
        [](int i) {
            std::string mail = wp::test::ToCrlf(wp::bench::SampleMail(i));
            return "+OK\r\n" + mail.substr(0, mail.find("\r\n\r\n") + 2) + "\r\n.\r\n";
        },
        [](int i) { return static_cast<int>(wp::test::ToCrlf(wp::bench::SampleMail(i)).size()); });
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int mails = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int cached = argc > 2 ? std::atoi(argv[2]) : 50000;
    auto server = wp::bench::EnsureDovecot();
    auto user = wp::test::LeaseUser();
    if (!user) {
        Fail(user.error().c_str());
    }
    std::vector<std::string> box;
    box.reserve(static_cast<std::size_t>(mails));
    for (int n = 0; n < mails; ++n) {
        box.push_back(wp::bench::SampleMail(n));
    }
    if (!wp::test::FillMailbox(user.name(), box)) {
        Fail("could not fill the mailbox");
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/bench-listing-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        Fail("no temporary folder");
    }
    const std::string folder = pattern;

    // (1) and (2), alternating with the blocking client.
    double bestFirst = 1e9, bestSecond = 1e9, bestBlocking = 1e9;
    for (int round = 0; round < 3; ++round) {
        bestBlocking = std::min(bestBlocking, BlockingRun(server, user.name(), user.password(), mails));
        {
            Account account(folder);
            account.mailbox->DiscardHeaderAndIndex();
            bestFirst = std::min(bestFirst, account.Listing(server, user.name(), user.password(), mails));
            bestSecond = std::min(bestSecond, account.Listing(server, user.name(), user.password(), mails));
            if (account.list.RowCount() != mails) {
                Fail("the list does not show every mail");
            }
        }
    }

    // (4) Every id changed (the mailbox filled again): every row is stale
    // and every mail new.
    double replaced = 0;
    {
        Account account(folder);
        account.mailbox->DiscardHeaderAndIndex();
        account.Listing(server, user.name(), user.password(), mails);
        if (!wp::test::FillMailbox(user.name(), box)) {
            Fail("could not fill the mailbox again");
        }
        replaced = account.Listing(server, user.name(), user.password(), mails);
        if (account.list.RowCount() != mails) {
            Fail("the list does not show every mail");
        }
    }

    // (3) The account switch over a large cache.
    double bestLoad = 1e9;
    int rows = 0;
    {
        Account account(folder);
        WriteCache(*account.mailbox, cached);
        for (int round = 0; round < 3; ++round) {
            account.mailbox = std::make_unique<wp::CMailboxFiles>("bench", folder);
            auto start = Clock::now();
            wp::LoadCachedList(
                *account.mailbox, account.list, account.prompt, [](int, int) {}, [](int) {}, [](int) {});
            bestLoad = std::min(bestLoad, Seconds(start));
            rows = account.list.RowCount();
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);

    std::printf("listing of %d mails from the test Dovecot (after login, before QUIT), best of 3\n", mails);
    std::printf("  (1) first listing, empty cache     %8.3f s  (%.1f us per mail)\n", bestFirst,
                bestFirst * 1e6 / mails);
    std::printf("      blocking client, same commands %8.3f s  (%.1f us per mail)\n", bestBlocking,
                bestBlocking * 1e6 / mails);
    std::printf("      ratio                          %8.2f  (target <= 1.5)\n", bestFirst / bestBlocking);
    std::printf("  (2) second listing, no TOP         %8.3f s  (target < 0.5 s)\n", bestSecond);
    std::printf("  (4) listing after every id changed %8.3f s  (no target)\n", replaced);
    std::printf("  (3) LoadCachedList of %d records %8.3f s  (target < 1 s; %d rows)\n", cached, bestLoad,
                rows);
    return 0;
}
