// A listing over a cache whose header blocks are all empty, as an
// interrupted first listing leaves it, beside the same listing with no cache
// at all, against the test Dovecot:
//   (1) no cache: every mail gets TOP and a new row;
//   (2) the account switched to first (an entry and a row per cached
//       record, every block empty): every mail gets TOP and its row is found
//       by its entry and updated in place.
// Both run into the in-memory list and into the real list view (offscreen),
// each listing timed from after the login to its end, best of three. The
// ratio (2)/(1) is the cost of finding the rows (target <= 1.2).
//
//   bench_empty_blocks [mails]      (default 50000)

#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QMainWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_dovecot.h"
#include "mail/index_file.h"
#include "mail/index_record.h"
#include "mail/mailbox_files.h"
#include "mail/mailbox_session_host.h"
#include "mail/memory_list.h"
#include "mail/operation_context.h"
#include "mail/run_listing.h"
#include "net/pop3_session.h"
#include "platform/profile.h"
#include "ui/message_list_view.h"

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

struct Server {
    wp::test::DovecotServer dovecot;
    std::string user;
    std::string password;
};

// One listing into `list`, timed after the login.
double Listing(const Server& server, wp::CMailboxFiles& mailbox, wp::MailList& list, int expected) {
    NullWindow handler;
    auto window = wp::MakeQtWindow(handler);
    wp::MailboxSessionHost host(&mailbox);
    wp::CMailSocket socket;
    wp::CPop3Session session(socket);
    session.Prepare(window.get(), &host);
    session.SetLogin(server.dovecot.host.c_str(), server.dovecot.port, server.user.c_str(),
                     server.password.c_str(), 0);
    if (session.Login() != wp::kLoginOk) {
        Fail("login failed");
    }
    SilentPrompt prompt;
    wp::OperationContext ctx{session, list, prompt, [] { return true; }, {}, {}, {}, {}};
    auto start = Clock::now();
    int result = wp::RunListing(mailbox, ctx);
    double seconds = Seconds(start);
    session.Quit(true);
    if (result != expected || list.RowCount() != expected) {
        std::fprintf(stderr, "listing gave %d with %d rows, not %d\n", result, list.RowCount(), expected);
        std::exit(1);
    }
    return seconds;
}

// The cache an interrupted first listing leaves: every mail's record with its
// unique id, no header block for any.
void EmptyTheBlocks(const wp::CMailboxFiles& mailbox) {
    auto records = wp::IndexFile::ReadRecords(mailbox.sidPath);
    if (!records) {
        Fail("no index file");
    }
    std::string index;
    for (wp::IndexRecord& record : *records) {
        record.headerLength = 0;
        wp::IndexRecordBytes bytes = wp::EncodeIndexRecord(record);
        index.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    for (const auto& [path, bytes] :
         {std::pair{mailbox.sidPath, index}, std::pair{mailbox.kvtPath, std::string()}}) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            Fail("cannot write the cache");
        }
        std::fclose(f);
    }
}

// Runs (1) and (2) into the list that make() gives; returns the best times.
template <class MakeList>
std::pair<double, double> Compare(const Server& server, const std::string& folder, int mails, MakeList make) {
    double none = 1e9;
    double empty = 1e9;
    for (int round = 0; round < 3; ++round) {
        {
            auto list = make();
            wp::CMailboxFiles mailbox("bench", folder);
            mailbox.DiscardHeaderAndIndex();
            none = std::min(none, Listing(server, mailbox, *list, mails));
            mailbox.ClearList(*list);
        }
        {
            auto list = make();
            EmptyTheBlocks(wp::CMailboxFiles("bench", folder));
            wp::CMailboxFiles mailbox("bench", folder);
            SilentPrompt prompt;
            wp::LoadCachedList(mailbox, *list, prompt, {}, {}, {});
            if (list->RowCount() != mails) {
                Fail("the switch did not show every cached record");
            }
            empty = std::min(empty, Listing(server, mailbox, *list, mails));
            mailbox.ClearList(*list);
        }
    }
    return {none, empty};
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int mails = argc > 1 ? std::atoi(argv[1]) : 50000;
    Server server{wp::bench::EnsureDovecot(), {}, {}};
    auto user = wp::test::LeaseUser();
    if (!user) {
        Fail(user.error().c_str());
    }
    server.user = user.name();
    server.password = user.password();
    std::vector<std::string> box;
    box.reserve(static_cast<std::size_t>(mails));
    for (int n = 0; n < mails; ++n) {
        box.push_back(wp::bench::SampleMail(n));
    }
    if (!wp::test::FillMailbox(user.name(), box)) {
        Fail("could not fill the mailbox");
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/bench-empty-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        Fail("no temporary folder");
    }
    const std::string folder = pattern + "/Mail";
    std::filesystem::create_directories(folder);

    auto [memoryNone, memoryEmpty] =
        Compare(server, folder, mails, [] { return std::make_unique<wp::MemoryList>(); });

    wp::Profile profile(pattern + "/profile.ini");
    QMainWindow window;
    window.resize(800, 500);
    window.show();
    auto [viewNone, viewEmpty] = Compare(server, folder, mails, [&] {
        auto* view = new wp::CTarnpostView(profile, &window);
        window.setCentralWidget(view);  // the previous view goes
        return std::unique_ptr<wp::MailList, void (*)(wp::MailList*)>(view, [](wp::MailList*) {});
    });

    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);

    std::printf("listing of %d mails from the test Dovecot (after login, before QUIT), best of 3\n", mails);
    std::printf("                               no cache    empty blocks   ratio (target <= 1.2)\n");
    std::printf("  in-memory list             %8.3f s    %8.3f s     %5.2f\n", memoryNone, memoryEmpty,
                memoryEmpty / memoryNone);
    std::printf("  list view (offscreen)      %8.3f s    %8.3f s     %5.2f\n", viewNone, viewEmpty,
                viewEmpty / viewNone);
    return 0;
}
