#pragma once
// The message list on a plain main window, wired to a real engine whose
// frame records the status panes, as the main frame wires it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QHeaderView>
#include <QMainWindow>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/frame_engine.h"
#include "engine/headless_frame.h"
#include "mail/mail_list.h"
#include "mail/memory_list.h"
#include "platform/profile.h"
#include "platform/strings.h"
#include "support/scripted_prompt.h"
#include "support/wait_for.h"
#include "ui/message_list_view.h"

namespace wp::test {

// A private folder per rig: the profile and the data folder.
inline std::string FreshFolder(const char* what) {
    const char* base = std::getenv("WRENPOST_TEST_TMP");
    std::filesystem::path root = base != nullptr ? base : "/tmp";
    std::filesystem::create_directories(root);
    std::string pattern = (root / (std::string(what) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "no temporary folder";
    }
    return pattern;
}

// Where screenshots of the tests go: <build dir>/screenshots.
inline std::string ScreenshotFile(const std::string& name) {
    const char* base = std::getenv("WRENPOST_TEST_TMP");
    std::filesystem::path dir =
        base != nullptr ? std::filesystem::path(base).parent_path().parent_path() / "screenshots" : "/tmp";
    std::filesystem::create_directories(dir);
    return (dir / (name + ".png")).string();
}

class ViewFrame : public HeadlessFrame {
public:
    MailList& List() override { return *view; }
    CTarnpostView* view = nullptr;
};

struct ListRig {
    explicit ListRig(std::string folder = FreshFolder("list"))
        : root(std::move(folder)), profile(root + "/profile.ini"), engine(frame, prompt, DataFolder(root)) {
        Open();
    }
    ~ListRig() {
        window.reset();
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    static std::string DataFolder(const std::string& root) {
        std::filesystem::create_directories(root + "/Mail");
        return root + "/Mail";
    }

    // A window with a fresh view, as after a start of the program.
    void Open() {
        window = std::make_unique<QMainWindow>();
        window->setFont(QFont("IPAPGothic", 9));
        view = new CTarnpostView(profile, window.get());
        view->SetEngine(&engine);
        frame.view = view;
        window->setCentralWidget(view);
        window->resize(560, 300);
        window->show();
    }
    // Closes the window: the view saves its layout.
    void Close() {
        frame.view = nullptr;
        window.reset();
    }
    void Restart() {
        Close();
        Open();
    }

    int Add(const char* from, const char* subject, const char* date, std::uint32_t size, bool parts = false) {
        HeaderSummary s;
        s.id = static_cast<std::uint32_t>(entries.size() + 1);
        s.hasParts = parts ? 1 : 0;
        s.from = Sjis(from);
        s.subject = Sjis(subject);
        s.date = date;
        s.size = size;
        entries.emplace_back(PutEntryRow(*view, s, nullptr));
        view->Flush();
        return view->RowCount() - 1;
    }

    QPoint CellCenter(int row, int column) const {
        return view->visualRect(view->model()->index(row, column)).center();
    }
    void Click(int row, int column, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, CellCenter(row, column));
    }
    void ClickHeader(int column) {
        QHeaderView* header = view->header();
        QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                  header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    std::string root;
    Profile profile;
    ViewFrame frame;
    ScriptedPrompt prompt;
    FrameEngine engine;
    std::vector<std::unique_ptr<MailEntry>> entries;
    std::unique_ptr<QMainWindow> window;
    CTarnpostView* view = nullptr;
};

}  // namespace wp::test
