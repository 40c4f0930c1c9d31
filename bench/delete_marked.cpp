// Deleting marked mails against the test Dovecot: 1,000 marked rows (every
// tenth) of a 10,000-mail mailbox, DeleteMarked from after the login to its
// last DELE, beside the same commands (STAT, LIST, UIDL, DELE for the same
// mails) through a plain blocking client, with the ratio. Both then QUIT,
// untimed, and the mailbox must hold exactly the unmarked mails. Best of
// three rounds; the mailbox is filled afresh before every run.
//
//   bench_delete_marked [mails] [every]      (defaults 10000 and 10)

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

#include "bench/bench_dovecot.h"
#include "mail/delete_marked.h"
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

struct Login {
    std::string user;
    std::string password;
};

// The server expunges a thousand mails after a QUIT; on a busy machine that
// may outlast FillMailbox's wait for the session to end.
void Fill(const Login& login, const std::vector<std::string>& box) {
    for (int attempt = 1;; ++attempt) {
        testing::AssertionResult filled = wp::test::FillMailbox(login.user, box);
        if (filled) {
            return;
        }
        if (attempt == 5) {
            std::fprintf(stderr, "could not fill the mailbox: %s\n", filled.message());
            std::exit(1);
        }
    }
}

// One session of ours, logged in.
struct Session {
    Session(const wp::test::DovecotServer& server, const Login& login, wp::SessionHost* host)
        : window(wp::MakeQtWindow(handler)), session(socket) {
        session.Prepare(window.get(), host);
        session.SetLogin(server.host.c_str(), server.port, login.user.c_str(), login.password.c_str(), 0);
        if (session.Login() != wp::kLoginOk) {
            Fail("session: login failed");
        }
    }
    NullWindow handler;
    std::unique_ptr<wp::Window> window;
    wp::CMailSocket socket;
    wp::CPop3Session session;
};

// The listing (untimed), the marks, then the timed deletion and the QUIT.
double OurRun(const wp::test::DovecotServer& server, const Login& login, const std::string& folder,
              int mails, int every) {
    wp::CMailboxFiles mailbox("bench", folder);
    mailbox.DiscardHeaderAndIndex();
    wp::MailboxSessionHost host;
    host.SetMailbox(&mailbox);
    wp::MemoryList list;
    SilentPrompt prompt;
    {
        Session s(server, login, &host);
        wp::OperationContext ctx{s.session,       list,       prompt,     [] { return true; },
                                 [](int, int) {}, [](int) {}, [](int) {}, {}};
        if (wp::RunListing(mailbox, ctx) != mails) {
            Fail("the listing did not list every mail");
        }
        s.session.Quit(true);
    }
    for (int row = 0; row < list.RowCount(); row += every) {
        list.SetMarkImage(row, wp::kImageMarked);
    }
    Session s(server, login, &host);
    wp::OperationContext ctx{s.session,       list,       prompt,     [] { return true; },
                             [](int, int) {}, [](int) {}, [](int) {}, {}};
    wp::DeletionReport report;
    auto start = Clock::now();
    int result = wp::DeleteMarked(mailbox, ctx, &report);
    double seconds = Seconds(start);
    const bool acknowledged = s.session.Command("QUIT\r\n", 6, nullptr) == 1;
    s.session.Quit(false);
    wp::SettleDeletion(mailbox, list, report, acknowledged);
    if (result != 0 || !acknowledged || report.Count(wp::DeleteOutcome::kDeleted) != (mails + every - 1) / every) {
        Fail("the deletion did not delete every marked mail");
    }
    mailbox.ClearList(list);
    return seconds;
}

double BlockingRun(const wp::test::DovecotServer& server, const Login& login, int mails, int every) {
    wp::test::BlockingPop3 client;
    if (!client.Connect(server.host, server.port) || !client.LoginUser(login.user, login.password)) {
        Fail("blocking client: login failed");
    }
    std::string reply;
    auto start = Clock::now();
    client.Command("NOOP");
    client.Command("STAT");
    client.MultiLine("LIST", reply);
    client.MultiLine("UIDL", reply);
    for (int n = 1; n <= mails; n += every) {
        if (!wp::test::IsOk(client.Command("DELE " + std::to_string(n)))) {
            Fail("blocking client: DELE failed");
        }
    }
    double seconds = Seconds(start);
    if (!wp::test::IsOk(client.Command("QUIT"))) {
        Fail("blocking client: QUIT failed");
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int mails = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int every = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const int marked = (mails + every - 1) / every;
    auto server = wp::bench::EnsureDovecot();
    auto user = wp::test::LeaseUser();
    if (!user) {
        Fail(user.error().c_str());
    }
    const Login login{user.name(), user.password()};
    std::vector<std::string> box;
    box.reserve(static_cast<std::size_t>(mails));
    for (int n = 0; n < mails; ++n) {
        box.push_back(wp::bench::SampleMail(n));
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/bench-delete-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        Fail("no temporary folder");
    }
    const std::string folder = pattern;

    double bestOurs = 1e9, bestBlocking = 1e9;
    for (int round = 0; round < 3; ++round) {
        Fill(login, box);
        bestBlocking = std::min(bestBlocking, BlockingRun(server, login, mails, every));
        if (wp::test::MailboxCount(login.user) != static_cast<std::size_t>(mails - marked)) {
            Fail("the blocking client left the wrong mails");
        }
        Fill(login, box);
        bestOurs = std::min(bestOurs, OurRun(server, login, folder, mails, every));
        if (wp::test::MailboxCount(login.user) != static_cast<std::size_t>(mails - marked)) {
            Fail("the deletion left the wrong mails");
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);

    std::printf("deleting %d marked mails of %d from the test Dovecot (after login, before QUIT), best of 3\n",
                marked, mails);
    std::printf("  DeleteMarked                        %8.3f s  (%.1f us per DELE)\n", bestOurs,
                bestOurs * 1e6 / marked);
    std::printf("  blocking client, same commands      %8.3f s  (%.1f us per DELE)\n", bestBlocking,
                bestBlocking * 1e6 / marked);
    std::printf("  ratio                               %8.2f  (target <= 1.5)\n", bestOurs / bestBlocking);
    return 0;
}
