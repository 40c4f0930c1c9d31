// The message list widget with many rows, offscreen:
//   (1) an account switch that shows 50,000 cached mails (the engine's
//       switch: cache files read, headers summarised, rows filled, progress
//       sent to the frame), until the list has painted; once beside a frame
//       that only keeps the pane texts, once in the real main window (its
//       status panes and progress bar follow every row);
//   (2) a click on each column header, twice (descending, then ascending),
//       until the list has painted again.
// Best of three runs each.
//
//   bench_list_view [rows]      (default 50000)

#include <stdlib.h>

#include <QApplication>
#include <QMainWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_cache.h"
#include "engine/frame_engine.h"
#include "engine/frame_view.h"
#include "mail/index_record.h"
#include "mail/mailbox_files.h"
#include "mail/memory_list.h"
#include "platform/profile.h"
#include "ui/main_frame.h"
#include "ui/message_list_view.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

class SilentPrompt final : public wp::Prompt {
public:
    wp::PromptAnswer Ask(const wp::PromptRequest& request) override {
        std::fprintf(stderr, "unexpected message box\n");
        return request.defaultAnswer;
    }
};

// The frame's side: panes kept as text, the list is the widget.
class BenchFrame final : public wp::FrameView {
public:
    const wp::AccountInfo* SelectedAccount() override { return nullptr; }
    std::string AccountText() override { return {}; }
    std::string LoginIdText() override { return {}; }
    std::string PasswordText() override { return {}; }
    void SetPaneText(int pane, const std::string& text) override { panes[pane] = text; }
    void ResetProgress() override {}
    void SetProgressRange(int total) override { progressTotal = total; }
    void SetProgressPos(int) override {}
    void SetRunningImages(bool) override {}
    void SetDocumentTitle(const std::string&) override {}
    void FocusList() override {}
    void CloseWindow() override {}
    wp::MailList& List() override { return *view; }

    wp::CTarnpostView* view = nullptr;
    std::string panes[4];
    int progressTotal = 0;
};

// Mails of many senders, subjects, dates and sizes, some with attachments.
std::string HeaderBlock(int i) {
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    unsigned h = static_cast<unsigned>(i) * 2654435761u;
    char date[64];
    std::snprintf(date, sizeof date, "Mon, %u %s %u %02u:%02u:%02u +0900", 1 + h % 28, months[(h >> 5) % 12],
                  1998 + (h >> 9) % 12, (h >> 3) % 24, (h >> 7) % 60, (h >> 11) % 60);
    std::string block = "+OK\r\n";
    block +=
        "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <sender" + std::to_string(h % 997) + "@example.jp>\r\n";
    block += "Subject: =?ISO-2022-JP?B?GyRCJCIkJCQmJCgkKhsoQg==?= " + std::to_string(h % 4093) + "\r\n";
    block += std::string("Date: ") + date + "\r\n";
    block += i % 5 == 0 ? "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
                        : "Content-Type: text/plain; charset=ISO-2022-JP\r\n";
    block += "\r\n.\r\n";
    return block;
}

void WriteCache(const wp::CMailboxFiles& mailbox, int records) {
    wp::bench::WriteCacheFiles(mailbox, records, HeaderBlock, [](int i) {
        unsigned h = static_cast<unsigned>(i) * 40503u;
        return static_cast<int>(500 + h % 3000000);
    });
}

// Until the widget has caught up and painted what it shows.
void Settle(wp::CTarnpostView& view) {
    view.Flush();
    view.viewport()->repaint();
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 50000;

    std::string root = (std::filesystem::temp_directory_path() / "wrenpost-bench-XXXXXX").string();
    if (mkdtemp(root.data()) == nullptr) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::string dataFolder = root + "/Mail";
    std::filesystem::create_directories(dataFolder);
    {
        wp::Profile profile(root + "/profile.ini");
        SilentPrompt prompt;
        BenchFrame frame;
        wp::FrameEngine engine(frame, prompt, dataFolder);
        QMainWindow window;
        window.setFont(QFont("IPAPGothic", 9));
        auto* view = new wp::CTarnpostView(profile, &window);
        view->SetEngine(&engine);
        frame.view = view;
        window.setCentralWidget(view);
        window.resize(800, 600);
        window.show();
        QCoreApplication::processEvents();

        WriteCache(wp::CMailboxFiles("bench", dataFolder), rows);

        double load = 1e30;
        for (int run = 0; run < 3; ++run) {
            auto start = Clock::now();
            engine.SwitchAccount("bench");
            Settle(*view);
            load = std::min(load, Milliseconds(start));
            if (view->RowCount() != rows || view->model()->rowCount() != rows) {
                std::fprintf(stderr, "loaded %d rows, not %d\n", view->RowCount(), rows);
                return 1;
            }
        }
        std::printf("rows: %d\n", rows);
        std::printf("account switch, %d cached mails shown: %8.1f ms\n", rows, load);

        // A selected row, as usually: the sort puts the selection back.
        view->SetSelected(rows / 2, true);
        const char* names[] = {"kind", "sender", "mark", "subject", "date", "size"};
        double worst = 0;
        for (int column = 0; column < wp::kColumnCount; ++column) {
            double first = 1e30;
            double second = 1e30;
            for (int run = 0; run < 3; ++run) {
                // As if another column had been sorted last: descending first.
                wp::CTarnpostView::sortColumn = -1;
                auto start = Clock::now();
                view->SortByColumn(column);
                Settle(*view);
                double a = Milliseconds(start);
                start = Clock::now();
                view->SortByColumn(column);
                Settle(*view);
                double b = Milliseconds(start);
                if (wp::CTarnpostView::sortAscending != 1) {
                    std::fprintf(stderr, "unexpected sort direction\n");
                    return 1;
                }
                first = std::min(first, a);
                second = std::min(second, b);
            }
            worst = std::max({worst, first, second});
            std::printf("sort by %-8s descending %7.1f ms, ascending %7.1f ms\n", names[column], first,
                        second);
        }
        std::printf("slowest sort: %.1f ms\n", worst);
        engine.Mailbox()->ClearList(*view);
    }
    {
        wp::Profile profile(root + "/profile.ini");
        SilentPrompt prompt;
        wp::CMainFrame frame(dataFolder, profile, &prompt);
        frame.resize(800, 600);
        frame.show();
        QCoreApplication::processEvents();
        auto* view = static_cast<wp::CTarnpostView*>(frame.ListWidget());
        double load = 1e30;
        for (int run = 0; run < 3; ++run) {
            auto start = Clock::now();
            frame.LoadCachedList("bench");
            Settle(*view);
            frame.repaint();
            load = std::min(load, Milliseconds(start));
            if (view->RowCount() != rows) {
                std::fprintf(stderr, "the window shows %d rows, not %d\n", view->RowCount(), rows);
                return 1;
            }
        }
        std::printf("the same in the main window:               %8.1f ms\n", load);
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return 0;
}
