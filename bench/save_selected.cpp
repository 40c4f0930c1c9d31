// Time of saving every listed mail through the save command's retrieval
// against the test Dovecot, beside RETR of the same mails through a plain
// blocking client.
//
//   bench_save_selected [mails] [kilobytes] [folder]
//
// Default 1000 mails of 20 KB, saved under the build's Dovecot folder; a
// folder on tmpfs (/dev/shm) leaves out what the file system costs.

#include "bench/bench_dovecot.h"
#include "mail/mailbox_files.h"
#include "mail/mailbox_session_host.h"
#include "mail/memory_list.h"
#include "mail/retrieve_selected.h"
#include "mail/run_listing.h"
#include "net/pop3_session.h"
#include "support/blocking_pop3.h"

#include <stdlib.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class NullWindow : public wp::MessageHandler {
public:
    wp::LResult HandleMessage(std::uint32_t, wp::WParam, wp::LParam) override { return 0; }
};

class DefaultPrompt : public wp::Prompt {
public:
    wp::PromptAnswer Ask(const wp::PromptRequest& request) override { return request.defaultAnswer; }
};

std::string savedBase;

std::string FreshFolder(const char* what, const std::string& base = wp::test::DovecotDir()) {
    std::string pattern = base + "/bench-" + what + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot make %s\n", pattern.c_str());
        std::exit(1);
    }
    return pattern;
}

struct Rig {
    NullWindow handler;
    std::unique_ptr<wp::Window> window = wp::MakeQtWindow(handler);
    wp::CMailSocket socket;
    wp::CPop3Session session{socket};
    std::string dataFolder = FreshFolder("data");
    wp::CMailboxFiles mailbox{"bench", dataFolder};
    wp::MailboxSessionHost host{&mailbox};
    wp::MemoryList list;
    DefaultPrompt prompt;

    ~Rig() {
        mailbox.ClearList(list);
        std::filesystem::remove_all(dataFolder);
    }
    wp::OperationContext Context() {
        return wp::OperationContext{session, list, prompt, [] { return true; }, [](int, int) {}, [](int) {},
                                    [](int) {}, {}};
    }
    void Login(const wp::test::DovecotServer& server, const std::string& user, const std::string& password) {
        session.Prepare(window.get(), &host);
        session.SetLogin(server.host.c_str(), server.port, user.c_str(), password.c_str(), 0);
        if (session.Login() != wp::kLoginOk) {
            std::fprintf(stderr, "session: login failed\n");
            std::exit(1);
        }
    }
};

double SaveRun(Rig& rig, const wp::test::DovecotServer& server, const std::string& user,
               const std::string& password, std::size_t* bytes) {
    const std::string target = FreshFolder("saved", savedBase) + "/";
    wp::FileNameMap names;
    wp::NameSelectedRows(rig.list, names, target);
    wp::RetrieveRun run;
    run.folder = target;
    run.names = &names;
    auto start = Clock::now();
    rig.Login(server, user, password);
    wp::OperationContext ctx = rig.Context();
    const int result = wp::RetrieveSelected(rig.mailbox, ctx, run);
    rig.session.Quit(true);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (result != 0 || !run.notSaved.empty()) {
        std::fprintf(stderr, "save: result %d, %zu not saved\n", result, run.notSaved.size());
        std::exit(1);
    }
    *bytes = 0;
    for (const std::string& path : run.written) {
        *bytes += std::filesystem::file_size(path);
    }
    std::filesystem::remove_all(target);
    return seconds;
}

double BlockingRun(const wp::test::DovecotServer& server, const std::string& user, const std::string& password,
                   int mails) {
    wp::test::BlockingPop3 client;
    auto start = Clock::now();
    if (!client.Connect(server.host, server.port) || !client.LoginUser(user, password)) {
        std::fprintf(stderr, "blocking client: %s\n", client.error().c_str());
        std::exit(1);
    }
    std::string reply;
    client.Command("NOOP");
    client.Command("STAT");
    client.MultiLine("LIST", reply);
    client.MultiLine("UIDL", reply);
    for (int n = 1; n <= mails; ++n) {
        if (!client.MultiLine("RETR " + std::to_string(n), reply)) {
            std::fprintf(stderr, "blocking client: RETR %d failed\n", n);
            std::exit(1);
        }
    }
    client.Command("QUIT");
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int mails = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::size_t kilobytes = argc > 2 ? static_cast<std::size_t>(std::atoi(argv[2])) : 20;
    savedBase = argc > 3 ? argv[3] : wp::test::DovecotDir();
    auto server = wp::bench::EnsureDovecot();
    auto user = wp::test::LeaseUser();
    if (!user) {
        std::fprintf(stderr, "%s\n", user.error().c_str());
        return 1;
    }
    std::vector<std::string> box;
    box.reserve(static_cast<std::size_t>(mails));
    for (int n = 0; n < mails; ++n) {
        std::string mail = wp::bench::SampleMail(n);
        for (int line = 0; mail.size() < kilobytes * 1024; ++line) {
            mail += "\x1b$B$3$s$K$A$O\x1b(B body text of the mail, line " + std::to_string(line) + "\n";
        }
        box.push_back(mail);
    }
    if (!wp::test::FillMailbox(user.name(), box)) {
        std::fprintf(stderr, "could not fill the mailbox\n");
        return 1;
    }

    Rig rig;
    rig.Login(server, user.name(), user.password());
    wp::OperationContext ctx = rig.Context();
    if (wp::RunListing(rig.mailbox, ctx) <= 0) {
        std::fprintf(stderr, "listing failed\n");
        return 1;
    }
    rig.session.Quit(true);
    for (int row = 0; row < rig.list.RowCount(); ++row) {
        rig.list.SetSelected(row, true);
    }

    // Alternate the two and keep the best of three each.
    double bestSave = 1e9, bestBlocking = 1e9;
    std::size_t saved = 0;
    for (int round = 0; round < 3; ++round) {
        bestBlocking = std::min(bestBlocking, BlockingRun(server, user.name(), user.password(), mails));
        bestSave = std::min(bestSave, SaveRun(rig, server, user.name(), user.password(), &saved));
    }
    std::printf("NOOP, STAT, LIST, UIDL and RETR for %d mails of %zu KB (%zu bytes saved)\n", mails, kilobytes,
                saved);
    std::printf("  RetrieveSelected  %8.3f s  (%.1f us per mail, files written)\n", bestSave,
                bestSave * 1e6 / mails);
    std::printf("  blocking RETR     %8.3f s  (%.1f us per mail)\n", bestBlocking, bestBlocking * 1e6 / mails);
    std::printf("  ratio             %8.2f\n", bestSave / bestBlocking);
    return 0;
}
