// Viewing a mail of 5 MB from the test Dovecot, from the start of the view
// operation (the connection check, NOOP, STAT, LIST and UIDL first) and from
// its RETR to the converted text in the viewer, beside the bare RETR of the
// same mail by the plain blocking client:
//   time     in one process, logins kept open, the three alternated round
//            by round: the best of each and its ratio to the best RETR, and
//            the median of each and the ratio of the medians; beside it the
//            processor time of this whole process (all its threads, the
//            server's not), which a busy machine hardly moves;
//   memory   the peak growth of a fresh process's resident size over one
//            view (login included) or one login and RETR, against the mail's
//            size.
// The view runs as in the program: the engine's worker fetches, the viewer
// is reached through posted calls on this (the user-interface) thread. Two
// viewers: the headless one of wrenpost-cli (the text kept as bytes, the
// live text split as the window splits it) and the window's own, offscreen.
//
//   bench_view [megabytes [rounds [headless|window [multipart]]]]
//       default 5 MB, five rounds, both viewers, a plain JIS mail; "headless"
//       leaves the window out, "multipart" makes the JIS text the text part
//       of a multipart mail, which goes through the MIME reading.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_dovecot.h"
#include "engine/frame_engine.h"
#include "engine/headless_frame.h"
#include "engine/viewer_forwarder.h"
#include "mail/fetch_for_view.h"
#include "mail/index_record.h"
#include "mail/mail_text.h"
#include "mail/mailbox_files.h"
#include "platform/profile.h"
#include "support/blocking_pop3.h"
#include "ui/mail_view_dlg.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_view: %s\n", what.c_str());
    std::exit(1);
}

// Resident size and its peak, in bytes.
long StatusField(const char* name) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(name)) * 1024;
        }
    }
    return -1;
}

// The processor time of the process so far, in seconds.
double CpuNow() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Starts the peak afresh at the present resident size.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

class SilentPrompt final : public wp::Prompt {
public:
    wp::PromptAnswer Ask(const wp::PromptRequest& request) override { return request.defaultAnswer; }
};

// The viewer of wrenpost-cli, plus the live text as the window keeps it.
class HeadlessViewer final : public wp::ViewerHooks {
public:
    void BeginReceive() override {}
    void EndReceive() override {}
    void PostClose() override {}
    void SetStatusText(const std::string&) override {}
    void ClearMailText() override {
        live.Clear(false);
        body.clear();
    }
    void AppendReceivedText(const char* data, std::size_t length, int) override {
        body.append(live.Append(std::string_view(data, length)));
    }
    void SetMailFile(const wp::StoredMail& mail) override {
        if (!file.SameAs(mail)) {
            file.Remove();
        }
        file = mail;
    }
    void SetWaitCursor(bool) override {}
    void ClearAttachments() override {}
    void AddAttachment(const std::string&) override {}
    void ShowMailText(wp::MailView view) override {
        // Kept as the window keeps it: the decoded reading, or the legacy text.
        decoded = view.decoded;
        shown = std::move(view);
        body.clear();
        body.shrink_to_fit();
    }
    wp::LiveMailText live;
    std::string body;
    wp::MailView shown;
    bool decoded = false;
    wp::StoredMail file;
};

// The fetch's viewer, noting when the RETR goes out: the live text is
// cleared just before it is sent.
class RetrClock final : public wp::FetchViewer {
public:
    explicit RetrClock(wp::FetchViewer& to) : to_(to) {}
    void SetStatusText(const std::string& text) override { to_.SetStatusText(text); }
    void ClearMailText() override {
        sent.store(Clock::now().time_since_epoch().count());
        to_.ClearMailText();
    }
    void AppendReceivedText(const char* data, std::size_t length, int bytesReceived) override {
        to_.AppendReceivedText(data, length, bytesReceived);
    }
    void HandOverReceivedText(std::string&& text, int bytesReceived) override {
        to_.HandOverReceivedText(std::move(text), bytesReceived);
    }
    void SetMailFile(const wp::StoredMail& mail) override { to_.SetMailFile(mail); }
    void SetWaitCursor(bool on) override { to_.SetWaitCursor(on); }
    void ClearAttachments() override { to_.ClearAttachments(); }
    void AddAttachment(const std::string& name) override { to_.AddAttachment(name); }
    void ShowMailText(wp::MailView view) override { to_.ShowMailText(std::move(view)); }

    // Written on the worker, read once the view is over.
    std::atomic<Clock::rep> sent{0};

private:
    wp::FetchViewer& to_;
};

class NoOwner final : public wp::ViewerOwner {
public:
    void CancelOperation() override {}
    void ShowPrevious(wp::MailEntry*) override {}
    void ShowNext(wp::MailEntry*) override {}
    void ViewerClosed() override {}
};

class ViewingFrame final : public wp::test::HeadlessFrame {
public:
    wp::ViewerHooks* Viewer() override { return viewer; }
    wp::ViewerHooks* viewer = nullptr;
};

struct Setup {
    wp::test::DovecotServer server;
    std::string user;
    std::string password;
    std::string uid;
    std::size_t mailSize = 0;
};

// The account's cache as a listing of the one mail left it.
void WriteCache(const wp::CMailboxFiles& mailbox, const Setup& setup) {
    wp::IndexRecord record;
    record.seq = record.msgNo = 1;
    record.size = static_cast<std::int32_t>(setup.mailSize);
    wp::SetUid(record, setup.uid);
    wp::IndexRecordBytes bytes = wp::EncodeIndexRecord(record);
    std::ofstream(mailbox.sidPath, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 88);
    std::ofstream(mailbox.kvtPath, std::ios::binary);
}

// One view through the engine, as the view command starts it; the time from
// the start to the text in the viewer.
class Viewing {
public:
    Viewing(const Setup& setup, const std::string& folder, bool window)
        : engine_(frame_, prompt_, Made(folder)) {
        frame_.SelectAccount("bench", setup.server.host + ":" + std::to_string(setup.server.port), setup.user,
                             setup.password);
        engine_.SwitchAccount("bench");
        WriteCache(*engine_.Mailbox(), setup);
        entry_.id = 1;
        entry_.uid = setup.uid;  // an entry acts only on the record holding its own id
        entry_.size = static_cast<std::uint32_t>(setup.mailSize);
        if (window) {
            profile_ = std::make_unique<wp::Profile>(folder + "/profile.ini");
            dialog_ = new wp::CMailViewDlg(owner_, *profile_, prompt_);
            dialog_->SetEntry(&entry_);
            dialog_->resize(800, 600);
            dialog_->show();
            frame_.viewer = dialog_;
        } else {
            frame_.viewer = &headless_;
        }
        engine_.Operations().fetchForView = [this](wp::OperationContext& context) {
            wp::ViewerForwarder forwarder(engine_);
            RetrClock clock(forwarder);
            result_ = wp::RunFetchForView(*engine_.Mailbox(), context, entry_, clock, [] { return -1; });
            retrSent_.store(clock.sent.load());
            return result_;
        };
    }
    ~Viewing() { delete dialog_; }

    // The headless viewer was handed the MIME reading.
    bool Decoded() const { return headless_.decoded; }

    // The time to the text shown, and (the window's viewer) to the whole
    // text in its text control.
    struct Times {
        double shown = 0;
        double whole = 0;
        double cpu = 0;   // to the text shown
        double retr = 0;  // from the RETR to the whole text shown
    };
    Times View() {
        result_ = -100;
        const auto start = Clock::now();
        const double cpuStart = CpuNow();
        engine_.StartOperation(wp::kOperationView);
        if (engine_.receiving) {
            QEventLoop loop;
            engine_.WhenIdle([&loop] { loop.quit(); });
            loop.exec();
        }
        Times times;
        times.shown = std::chrono::duration<double>(Clock::now() - start).count();
        times.cpu = CpuNow() - cpuStart;
        QCoreApplication::processEvents();  // the window's first paint
        const auto end = Clock::now();
        times.whole = std::chrono::duration<double>(end - start).count();
        times.retr = std::chrono::duration<double>(end - Clock::time_point(Clock::duration(retrSent_.load()))).count();
        if (result_ != 0) {
            Fail("the view failed: " + std::to_string(result_));
        }
        return times;
    }

private:
    static std::string Made(const std::string& folder) {
        std::filesystem::create_directories(folder);
        return folder;
    }

    ViewingFrame frame_;
    SilentPrompt prompt_;
    wp::FrameEngine engine_;
    wp::MailEntry entry_;
    HeadlessViewer headless_;
    NoOwner owner_;
    std::unique_ptr<wp::Profile> profile_;
    wp::CMailViewDlg* dialog_ = nullptr;
    int result_ = -100;
    std::atomic<Clock::rep> retrSent_{0};
};

double BareRetr(wp::test::BlockingPop3& client, std::string& reply, double* cpu = nullptr) {
    const auto start = Clock::now();
    const double cpuStart = CpuNow();
    if (!client.MultiLine("RETR 1", reply)) {
        Fail("RETR failed: " + client.error());
    }
    if (cpu != nullptr) {
        *cpu = CpuNow() - cpuStart;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Folder(const char* what) {
    std::string pattern = wp::test::DovecotDir() + "/bench-view-" + what + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        Fail("no folder for the data");
    }
    return pattern;
}

// A fresh process measures one thing; it prints the peak growth in bytes.
int Child(const Setup& setup, const std::string& what) {
    std::string folder = Folder(what.c_str());
    long before = 0;
    if (what == "retr") {
        wp::test::BlockingPop3 client;
        if (!client.Connect(setup.server.host, setup.server.port) ||
            !client.LoginUser(setup.user, setup.password)) {
            Fail("login failed: " + client.error());
        }
        ResetPeak();
        before = StatusField("VmRSS:");
        std::string reply;
        BareRetr(client, reply);
        client.Command("QUIT");
    } else {
        Viewing viewing(setup, folder, what == "window");
        ResetPeak();
        before = StatusField("VmRSS:");
        viewing.View();  // to the whole text in the window's text control
    }
    std::printf("%ld\n", StatusField("VmHWM:") - before);
    std::filesystem::remove_all(folder);
    return 0;
}

long RunChild(const char* self, const Setup& setup, const std::string& what) {
    std::string command = std::string(self) + " --child " + what + " " + setup.user + " " + setup.password +
                          " " + setup.uid + " " + std::to_string(setup.mailSize);
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        Fail("cannot run " + command);
    }
    long peak = -1;
    if (std::fscanf(pipe, "%ld", &peak) != 1) {
        peak = -1;
    }
    if (::pclose(pipe) != 0 || peak < 0) {
        Fail("the measuring process failed: " + command);
    }
    return peak;
}

// A JIS mail: plain, or as the text part of a multipart mail with a file,
// which the MIME reading shows.
std::string BigMail(std::size_t megabytes, bool multipart) {
    std::string mail = "From: bench@example.jp\nSubject: =?ISO-2022-JP?B?GyRCQmc2cSRKJWEhPCVrGyhC?=\n";
    if (multipart) {
        mail += "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\n";
    }
    mail += "Content-Type: text/plain; charset=ISO-2022-JP\n\n";
    for (int i = 0; mail.size() < (megabytes << 20); ++i) {
        mail += "\x1b$B$3$s$K$A$O!\"Bg$-$J%a!<%k$G$9!#\x1b(B line " + std::to_string(i) + "\n";
    }
    if (multipart) {
        mail += "--b\nContent-Disposition: attachment; filename=\"a.txt\"\n\nA\n--b--\n";
    }
    return mail;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc >= 7 && std::strcmp(argv[1], "--child") == 0) {
        Setup setup;
        setup.server = wp::test::FindDovecot();
        setup.user = argv[3];
        setup.password = argv[4];
        setup.uid = argv[5];
        setup.mailSize = static_cast<std::size_t>(std::atoll(argv[6]));
        return Child(setup, argv[2]);
    }
    const std::size_t megabytes = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 5;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    Setup setup;
    setup.server = wp::bench::EnsureDovecot();
    auto user = wp::test::LeaseUser();
    if (!user) {
        Fail(user.error());
    }
    setup.user = user.name();
    setup.password = user.password();
    const bool multipart = argc > 4 && std::strcmp(argv[4], "multipart") == 0;
    if (!wp::test::FillMailbox(user.name(), {BigMail(megabytes, multipart)})) {
        Fail("could not fill the mailbox");
    }
    wp::test::BlockingPop3 client;
    if (!client.Connect(setup.server.host, setup.server.port) ||
        !client.LoginUser(setup.user, setup.password)) {
        Fail("login failed: " + client.error());
    }
    std::string line = client.Command("UIDL 1");
    std::istringstream words(line);
    std::string ok, number;
    words >> ok >> number >> setup.uid;
    line = client.Command("LIST 1");
    std::istringstream sizes(line);
    sizes >> ok >> number >> setup.mailSize;
    if (setup.uid.empty() || setup.mailSize == 0) {
        Fail("no UIDL or LIST for the mail");
    }

    const bool withWindow = !(argc > 3 && std::strcmp(argv[3], "headless") == 0);

    // Time: logins kept open, the two alternated, the best of each.
    std::string folder = Folder("time");
    Viewing headless(setup, folder + "/headless", false);
    std::unique_ptr<Viewing> window;
    if (withWindow) {
        window = std::make_unique<Viewing>(setup, folder + "/window", true);
    }
    headless.View();  // the logins
    if (window) {
        window->View();
    }
    std::string reply;
    double bestRetr = 1e9, bestHeadless = 1e9, bestWindow = 1e9, bestWhole = 1e9;
    double cpuRetr = 1e9, cpuHeadless = 1e9, cpuWindow = 1e9;
    std::vector<double> retrTimes, headlessTimes, headlessCpu, windowTimes, windowCpu, headlessFromRetr,
        windowFromRetr;
    for (int round = 0; round < rounds; ++round) {
        double cpu = 0;
        retrTimes.push_back(BareRetr(client, reply, &cpu));
        bestRetr = std::min(bestRetr, retrTimes.back());
        cpuRetr = std::min(cpuRetr, cpu);
        const Viewing::Times bare = headless.View();
        bestHeadless = std::min(bestHeadless, bare.shown);
        cpuHeadless = std::min(cpuHeadless, bare.cpu);
        headlessTimes.push_back(bare.shown);
        headlessCpu.push_back(bare.cpu);
        headlessFromRetr.push_back(bare.retr);
        if (window) {
            const Viewing::Times times = window->View();
            bestWindow = std::min(bestWindow, times.shown);
            bestWhole = std::min(bestWhole, times.whole);
            cpuWindow = std::min(cpuWindow, times.cpu);
            windowTimes.push_back(times.shown);
            windowCpu.push_back(times.cpu);
            windowFromRetr.push_back(times.retr);
        }
    }
    client.Command("QUIT");
    const bool decoded = headless.Decoded();
    window.reset();

    // Memory: each in a process of its own.
    const long peakRetr = RunChild(argv[0], setup, "retr");
    const long peakHeadless = RunChild(argv[0], setup, "headless");
    const long peakWindow = withWindow ? RunChild(argv[0], setup, "window") : 0;
    std::filesystem::remove_all(folder);

    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const double size = static_cast<double>(setup.mailSize);
    const double medianRetr = median(retrTimes);
    // From the RETR: the best, and the ratio of the medians.
    auto fromRetr = [&](const std::vector<double>& times) {
        std::printf("    from its RETR       %7.1f ms   %5.2f   median %7.1f ms, ratio of the medians %5.2f\n",
                    *std::min_element(times.begin(), times.end()) * 1e3,
                    *std::min_element(times.begin(), times.end()) / bestRetr, median(times) * 1e3,
                    median(times) / medianRetr);
    };
    std::printf("viewing a mail of %zu bytes (%.1f MB) from Dovecot, to the text shown%s\n", setup.mailSize,
                size / (1 << 20), decoded ? " (MIME reading)" : "");
    std::printf("                          time      ratio   peak memory   x mail size   cpu time  ratio\n");
    std::printf("  blocking client RETR  %7.1f ms    1.00   %7.1f MB      %5.2f   %7.1f ms   1.00\n",
                bestRetr * 1e3, peakRetr / 1048576.0, peakRetr / size, cpuRetr * 1e3);
    std::printf("    median of %d        %7.1f ms\n", rounds, medianRetr * 1e3);
    std::printf("  view, headless viewer %7.1f ms   %5.2f   %7.1f MB      %5.2f   %7.1f ms  %5.2f\n",
                bestHeadless * 1e3, bestHeadless / bestRetr, peakHeadless / 1048576.0, peakHeadless / size,
                cpuHeadless * 1e3, cpuHeadless / cpuRetr);
    std::printf("    median of %d        %7.1f ms   %5.2f   (of the medians)               %7.1f ms\n", rounds,
                median(headlessTimes) * 1e3, median(headlessTimes) / medianRetr, median(headlessCpu) * 1e3);
    fromRetr(headlessFromRetr);
    if (withWindow) {
        std::printf("  view, window's viewer %7.1f ms   %5.2f   %7.1f MB      %5.2f   %7.1f ms  %5.2f\n",
                    bestWindow * 1e3, bestWindow / bestRetr, peakWindow / 1048576.0, peakWindow / size,
                    cpuWindow * 1e3, cpuWindow / cpuRetr);
        std::printf("    median of %d        %7.1f ms   %5.2f   (of the medians)               %7.1f ms\n", rounds,
                    median(windowTimes) * 1e3, median(windowTimes) / medianRetr, median(windowCpu) * 1e3);
        std::printf("    whole text in its text control %7.1f ms   %5.2f\n", bestWhole * 1e3,
                    bestWhole / bestRetr);
        fromRetr(windowFromRetr);
    }
    return 0;
}
