// The first listing with commands pipelined, one at a time, and through a
// plain blocking client, against the test Dovecot: directly, and through a
// relay that delays every byte by a fixed time each way, as a distant
// server would. Login and QUIT are outside every figure. The direct figures
// are the best of three runs; the delayed ones are single runs, and one at
// a time over the delay is measured on fewer mails and scaled.
//
//   bench_pipelined_listing [mails] [delay ms] [serial mails over the delay]
//                           (defaults 10000, 20 and 500)

#include <stdlib.h>

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
#include "mail/mailbox_files.h"
#include "mail/mailbox_session_host.h"
#include "mail/memory_list.h"
#include "mail/operation_context.h"
#include "mail/run_listing.h"
#include "net/pop3_session.h"
#include "support/blocking_pop3.h"
#include "support/delay_proxy.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

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

struct Target {
    std::string host;
    std::uint16_t port;
    std::string user;
    std::string password;
};

// One first listing into an empty cache; its time from after the login.
double FirstListing(const Target& target, const std::string& folder, bool pipelining, int expected) {
    auto mailbox = std::make_unique<wp::CMailboxFiles>("bench", folder);
    mailbox->DiscardHeaderAndIndex();
    wp::MailboxSessionHost host;
    host.SetMailbox(mailbox.get());
    wp::MemoryList list;
    SilentPrompt prompt;
    NullWindow handler;
    auto window = wp::MakeQtWindow(handler);
    wp::CMailSocket socket;
    wp::CPop3Session session(socket);
    session.pipelining = pipelining;
    session.Prepare(window.get(), &host);
    session.SetLogin(target.host.c_str(), target.port, target.user.c_str(), target.password.c_str(), 0);
    if (session.Login() != wp::kLoginOk) {
        Fail("session: login failed");
    }
    wp::OperationContext ctx{session,         list,       prompt,     [] { return true; },
                             [](int, int) {}, [](int) {}, [](int) {}, {}};
    auto start = Clock::now();
    int result = wp::RunListing(*mailbox, ctx);
    double seconds = Seconds(start);
    session.Quit(true);
    if (result != expected || list.RowCount() != expected) {
        std::fprintf(stderr, "listing gave %d (%d rows), not %d\n", result, list.RowCount(), expected);
        std::exit(1);
    }
    mailbox->ClearList(list);
    return seconds;
}

double BlockingRun(const Target& target, int mails) {
    wp::test::BlockingPop3 client;
    if (!client.Connect(target.host, target.port) || !client.LoginUser(target.user, target.password)) {
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

std::vector<std::string> Mails(int count) {
    std::vector<std::string> box;
    box.reserve(static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        box.push_back(wp::bench::SampleMail(n));
    }
    return box;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int mails = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int delayMs = argc > 2 ? std::atoi(argv[2]) : 20;
    const int serialMails = argc > 3 ? std::atoi(argv[3]) : 500;
    auto server = wp::bench::EnsureDovecot();
    auto user = wp::test::LeaseUser();
    if (!user) {
        Fail(user.error().c_str());
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/bench-pipelined-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        Fail("no temporary folder");
    }
    const std::string folder = pattern;
    const Target direct{server.host, server.port, user.name(), user.password()};

    if (!wp::test::FillMailbox(user.name(), Mails(mails))) {
        Fail("could not fill the mailbox");
    }
    double pipelined = 1e9, serial = 1e9, blocking = 1e9;
    for (int round = 0; round < 3; ++round) {
        blocking = std::min(blocking, BlockingRun(direct, mails));
        pipelined = std::min(pipelined, FirstListing(direct, folder, true, mails));
        serial = std::min(serial, FirstListing(direct, folder, false, mails));
    }

    wp::test::DelayProxy proxy(server.port, std::chrono::milliseconds(delayMs));
    const Target delayed{"127.0.0.1", proxy.port(), user.name(), user.password()};
    const double delayedPipelined = FirstListing(delayed, folder, true, mails);
    if (!wp::test::FillMailbox(user.name(), Mails(serialMails))) {
        Fail("could not fill the mailbox");
    }
    const double delayedSerial = FirstListing(delayed, folder, false, serialMails);
    const double delayedBlocking = BlockingRun(delayed, serialMails);

    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);

    std::printf("first listing of %d mails from the test Dovecot (after login, before QUIT)\n", mails);
    std::printf("  (1) direct, best of 3\n");
    std::printf("      pipelined                      %8.3f s  (%.1f us per mail)\n", pipelined,
                pipelined * 1e6 / mails);
    std::printf("      one at a time                  %8.3f s  (%.1f us per mail)\n", serial, serial * 1e6 / mails);
    std::printf("      blocking client, same commands %8.3f s  (%.1f us per mail)\n", blocking,
                blocking * 1e6 / mails);
    std::printf("      pipelined / blocking           %8.2f  (target <= 0.5)\n", pipelined / blocking);
    std::printf("  (2) through a relay adding %d ms each way\n", delayMs);
    std::printf("      pipelined, %d mails          %8.3f s  (target < 10 s)\n", mails, delayedPipelined);
    std::printf("      one at a time, %d mails        %8.3f s  (scaled to %d: %.1f s)\n", serialMails, delayedSerial,
                mails, delayedSerial * mails / serialMails);
    std::printf("      blocking client, %d mails      %8.3f s  (scaled to %d: %.1f s)\n", serialMails,
                delayedBlocking, mails, delayedBlocking * mails / serialMails);
    return 0;
}
