// Time of saving every listed mail through the save command (naming the
// files, then the retrieval) against the test Dovecot, beside RETR of the
// same mails through a plain blocking client, once with the replies only and
// once writing each mail to a new file of its own as the save does.
//
//   bench_save_selected [mails] [kilobytes] [folder] [rounds]
//
// Default 1000 mails of 20 KB, saved under the build's Dovecot folder, five
// rounds; a folder on tmpfs (/dev/shm) leaves out what the file system
// costs. Every run writes into a fresh folder and nothing is deleted until
// the last round: on a file system that searches its recently freed inodes
// when it creates one, a run after a deletion pays for it.

#include "bench/bench_dovecot.h"
#include "mail/mailbox_files.h"
#include "mail/mailbox_session_host.h"
#include "mail/memory_list.h"
#include "mail/retrieve_selected.h"
#include "mail/run_listing.h"
#include "net/pop3_session.h"
#include "support/blocking_pop3.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>

#include <algorithm>
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

std::vector<std::string> written;  // folders to remove at the end

double SaveRun(Rig& rig, const wp::test::DovecotServer& server, const std::string& user,
               const std::string& password, std::size_t* bytes) {
    const std::string target = FreshFolder("saved", savedBase) + "/";
    written.push_back(target);
    wp::FileNameMap names;
    wp::RetrieveRun run;
    run.folder = target;
    run.names = &names;
    auto start = Clock::now();
    wp::NameSelectedRows(rig.list, names, target);
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
    return seconds;
}

// What a plain client writes of a RETR reply: the lines between the status
// line and the terminating one, a leading "." of a stuffed line dropped.
bool WriteReply(const std::string& path, const std::string& reply, std::string& out) {
    out.clear();
    std::size_t at = reply.find('\n');
    at = at == std::string::npos ? reply.size() : at + 1;
    const std::size_t end = reply.size() >= 5 ? reply.size() - 3 : reply.size();  // keeps the CR LF before "."
    while (at < end) {
        std::size_t eol = reply.find('\n', at);
        std::size_t next = eol == std::string::npos || eol >= end ? end : eol + 1;
        out.append(reply, reply[at] == '.' ? at + 1 : at, next - (reply[at] == '.' ? at + 1 : at));
        at = next;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    const bool whole = ::write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
    return ::close(fd) == 0 && whole;
}

double BlockingRun(const wp::test::DovecotServer& server, const std::string& user, const std::string& password,
                   int mails, bool files, std::size_t* bytes) {
    std::string target;
    if (files) {
        target = FreshFolder("blocking", savedBase) + "/";
        written.push_back(target);
    }
    wp::test::BlockingPop3 client;
    auto start = Clock::now();
    if (!client.Connect(server.host, server.port) || !client.LoginUser(user, password)) {
        std::fprintf(stderr, "blocking client: %s\n", client.error().c_str());
        std::exit(1);
    }
    std::string reply;
    std::string out;
    client.Command("NOOP");
    client.Command("STAT");
    client.MultiLine("LIST", reply);
    client.MultiLine("UIDL", reply);
    *bytes = 0;
    for (int n = 1; n <= mails; ++n) {
        if (!client.MultiLine("RETR " + std::to_string(n), reply)) {
            std::fprintf(stderr, "blocking client: RETR %d failed\n", n);
            std::exit(1);
        }
        if (files) {
            if (!WriteReply(target + std::to_string(n) + ".eml", reply, out)) {
                std::fprintf(stderr, "blocking client: cannot write mail %d\n", n);
                std::exit(1);
            }
            *bytes += out.size();
        }
    }
    client.Command("QUIT");
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Times {
    std::vector<double> runs;
    void Add(double seconds) { runs.push_back(seconds); }
    double Min() const { return *std::min_element(runs.begin(), runs.end()); }
    double Median() const {
        std::vector<double> sorted = runs;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        return n % 2 != 0 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
};

void Print(const char* what, const Times& times, int mails) {
    std::printf("  %-26s min %7.3f s  median %7.3f s  (%.1f us per mail at the median)\n", what, times.Min(),
                times.Median(), times.Median() * 1e6 / mails);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int mails = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::size_t kilobytes = argc > 2 ? static_cast<std::size_t>(std::atoi(argv[2])) : 20;
    savedBase = argc > 3 ? argv[3] : wp::test::DovecotDir();
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
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

    // Alternate the three, so that load and the file system's state fall
    // on each alike.
    Times save, blocking, blockingFiles;
    std::size_t saved = 0;
    std::size_t blockingSaved = 0;
    std::size_t ignored = 0;
    for (int round = 0; round < rounds; ++round) {
        blocking.Add(BlockingRun(server, user.name(), user.password(), mails, false, &ignored));
        blockingFiles.Add(BlockingRun(server, user.name(), user.password(), mails, true, &blockingSaved));
        save.Add(SaveRun(rig, server, user.name(), user.password(), &saved));
    }
    for (const std::string& folder : written) {
        std::filesystem::remove_all(folder);
    }
    if (saved != blockingSaved) {
        std::fprintf(stderr, "the save wrote %zu bytes, the blocking client %zu\n", saved, blockingSaved);
        return 1;
    }
    std::printf("NOOP, STAT, LIST, UIDL and RETR for %d mails of %zu KB, %d rounds (%zu bytes saved)\n", mails,
                kilobytes, rounds, saved);
    Print("save command, files", save, mails);
    Print("blocking RETR, files", blockingFiles, mails);
    Print("blocking RETR, no files", blocking, mails);
    std::printf("  ratio to blocking with files     min %.2f  median %.2f\n", save.Min() / blockingFiles.Min(),
                save.Median() / blockingFiles.Median());
    std::printf("  ratio to blocking without files  min %.2f  median %.2f\n", save.Min() / blocking.Min(),
                save.Median() / blocking.Median());
    return 0;
}
