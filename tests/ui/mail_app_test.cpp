// Start-up: the data folder, its failure, the window title, the About
// dialog, and the program itself started on a data folder of its own.

#include "ui/mail_app.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "frame_rig.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "ui/about_dialog.h"
#include "ui/command_ids.h"
#include "ui/help_page.h"

namespace wp {
namespace {

namespace fs = std::filesystem;
using test::FreshFolder;
using test::Shown;

// Start-up reads the current directory: each test works in one of its own.
class InFolder {
public:
    explicit InFolder(const std::string& dir) : saved_(fs::current_path()) { fs::current_path(dir); }
    ~InFolder() { fs::current_path(saved_); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    fs::path saved_;
};

PromptRequest DataFolderBox() {
    PromptRequest box;
    box.text = DataFolderFailureText();
    box.caption = LoadString(57344);
    box.buttons = PromptButtons::Ok;
    return box;
}

TEST(MailApp, StartsInAFolderWithoutMailAndCreatesIt) {
    FreshFolder folder("app");
    Profile profile(folder.Sub("profile.ini"));
    test::ScriptedPrompt prompt;
    InFolder here(folder.Path());
    CMailApp app(prompt, profile);
    ASSERT_TRUE(app.InitInstance());
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(app.DataFolder(), cwd + "/Mail");
    EXPECT_TRUE(fs::is_directory(cwd + "/Mail"));
    // The account store loaded at window creation makes its file beside it.
    EXPECT_TRUE(fs::is_regular_file(cwd + "/AccData.dat"));
    ASSERT_NE(app.MainFrame(), nullptr);
    EXPECT_EQ(app.MainFrame()->windowTitle(), QString::fromUtf8("レンポスト Ver2.2 - Wrenpost"));
    EXPECT_TRUE(app.MainFrame()->isVisible());
    EXPECT_EQ(prompt.Count(), 0u);
}

TEST(MailApp, DataFolderPathHasNoDoubledSeparator) {
    struct Case {
        const char* cwd;
        const char* folder;
        const char* accounts;
    } cases[] = {
        {"/", "/Mail", "/AccData.dat"},
        {"/home/kana", "/home/kana/Mail", "/home/kana/AccData.dat"},
        {"/home/kana/", "/home/kana/Mail", "/home/kana/AccData.dat"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cwd);
        EXPECT_EQ(DataFolderFor(c.cwd), c.folder);
        EXPECT_EQ(AccountDataPath(DataFolderFor(c.cwd)), c.accounts);
    }
}

TEST(MailApp, AFolderThatCannotBeMadeIsToldAndEndsStartUp) {
    FreshFolder folder("app-nomail");
    // A link into nowhere: nothing exists under the name and nothing can be
    // made there, even for root, whom permission bits do not stop.
    fs::create_symlink(folder.Sub("missing/Mail"), folder.Sub("Mail"));
    Profile profile(folder.Sub("profile.ini"));
    test::ScriptedPrompt prompt;
    prompt.Expect(DataFolderBox(), PromptAnswer::Ok);
    InFolder here(folder.Path());
    CMailApp app(prompt, profile);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.MainFrame(), nullptr);
    EXPECT_FALSE(fs::exists(folder.Sub("AccData.dat")));
}

TEST(MailApp, AboutDialogShowsTheVersion) {
    CAboutDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), Shown("レンポストのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_EQ(dialog.TextLabel()->text(), Shown("レンポスト Version 2.2"));
    EXPECT_EQ(dialog.OkButton()->text(), QStringLiteral("OK"));
    EXPECT_FALSE(dialog.IconLabel()->pixmap().isNull());
    // The text stands right of the icon, the button at the top right.
    EXPECT_GT(dialog.TextLabel()->x(), dialog.IconLabel()->x());
    EXPECT_GT(dialog.OkButton()->x(), dialog.TextLabel()->x());
}

TEST(MailApp, AboutCommandOpensTheDialogAndOkClosesIt) {
    test::FrameRig rig;
    rig.Open();
    QString title;
    QString text;
    bool closed = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* dialog = dynamic_cast<CAboutDlg*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        title = dialog->windowTitle();
        text = dialog->TextLabel()->text();
        QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
        closed = true;
    });
    watch.start(5);
    QTimer::singleShot(20000, [] {
        if (QWidget* stuck = QApplication::activeModalWidget()) {
            stuck->close();
        }
    });
    rig.frame->Action(ID_APP_ABOUT)->trigger();
    watch.stop();
    EXPECT_TRUE(closed);
    EXPECT_EQ(title, Shown("レンポストのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_EQ(text, Shown("レンポスト Version 2.2"));
}

TEST(MailApp, HelpCommandFindsTheJapaneseHelpPage) {
    const QString path = HelpPagePath();
    ASSERT_FALSE(path.isEmpty()) << "the help page is missing";
    std::ifstream page(path.toStdString());
    std::string text((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("<html lang=\"ja\">"), std::string::npos);
    EXPECT_NE(text.find("レンポスト"), std::string::npos);
}

// ---------------------------------------------------------------- the program

struct ProgramRun {
    int exitCode = -1;
    QString errors;
    bool finished = false;
};

// Where the program starts: its current directory and what its environment
// changes (an empty value removes the variable).
struct StartPlace {
    std::string workingDir;
    std::vector<std::pair<QString, QString>> environment;
};

QProcessEnvironment ProgramEnvironment(const FreshFolder& folder, const StartPlace& place) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(folder.Sub("config")));
    for (const auto& [name, value] : place.environment) {
        if (value.isEmpty()) {
            env.remove(name);
        } else {
            env.insert(name, value);
        }
    }
    return env;
}

// Starts the program; `running` tells when it is up, then it is asked to end
// as a desktop session would.
ProgramRun RunProgram(const FreshFolder& folder, const QStringList& args,
                      const std::function<bool()>& running = {}, const StartPlace& place = {}) {
    QProcess process;
    process.setProcessEnvironment(ProgramEnvironment(folder, place));
    if (!place.workingDir.empty()) {
        process.setWorkingDirectory(QString::fromStdString(place.workingDir));
    }
    process.start(QStringLiteral(WRENPOST_PROGRAM), args);
    ProgramRun run;
    if (!process.waitForStarted(20000)) {
        run.errors = process.errorString();
        return run;
    }
    if (running) {
        bool up = test::PumpUntil([&] { return running() || process.state() == QProcess::NotRunning; },
                                  std::chrono::seconds(60));
        EXPECT_TRUE(up) << "the program did not come up";
        process.terminate();
    }
    run.finished = process.waitForFinished(60000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(10000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

TEST(WrenpostProgram, DataDirIsMadeAndHoldsTheDataFolder) {
    FreshFolder folder("program");
    const std::string dir = folder.Sub("data/nested");
    ProgramRun run = RunProgram(folder, {QStringLiteral("--data-dir"), QString::fromStdString(dir)},
                                [&] { return fs::exists(dir + "/AccData.dat"); });
    ASSERT_TRUE(run.finished) << run.errors.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_TRUE(fs::is_directory(dir + "/Mail"));
    // Ended as a closed window: the layout went to the profile of its own folder.
    QSettings written(QString::fromStdString(folder.Sub("config/Moorfield/Wrenpost.ini")),
                      QSettings::IniFormat);
    EXPECT_EQ(written.value(QStringLiteral("WinPosition/WinRect/ToolPos")).toInt(), 10240);
    EXPECT_EQ(written.value(QStringLiteral("WinPosition/WinRect/Right")).toInt() -
                  written.value(QStringLiteral("WinPosition/WinRect/Left")).toInt(),
              CMainFrame::FirstStartSize().width());
}

TEST(WrenpostProgram, FailuresEndWithANonZeroStatusAndSayWhy) {
    struct Case {
        const char* what;
        std::function<QStringList(const FreshFolder&)> prepare;
        int exitCode;
        const char* says;
    } cases[] = {
        {"a data folder that cannot be made",
         [](const FreshFolder& f) {
             fs::create_directories(f.Sub("data"));
             fs::create_symlink(f.Sub("missing/Mail"), f.Sub("data/Mail"));
             return QStringList{QStringLiteral("--data-dir"), QString::fromStdString(f.Sub("data"))};
         },
         1, "ﾒｰﾙを保存するﾃﾞｨﾚｸﾄﾘを作成できませんでした。"},
        {"a data dir that is a file",
         [](const FreshFolder& f) {
             std::ofstream(f.Sub("file")) << "x";
             return QStringList{QStringLiteral("--data-dir"), QString::fromStdString(f.Sub("file"))};
         },
         1, "ﾒｰﾙを保存するﾃﾞｨﾚｸﾄﾘを作成できませんでした。"},
        {"an unknown argument", [](const FreshFolder&) { return QStringList{QStringLiteral("--colour")}; },
         64, "unknown argument \"--colour\""},
        {"a data dir without a folder",
         [](const FreshFolder&) { return QStringList{QStringLiteral("--data-dir")}; }, 64,
         "--data-dir needs a folder"},
        {"a data dir and the user data folder at once",
         [](const FreshFolder& f) {
             return QStringList{QStringLiteral("--user-data"), QStringLiteral("--data-dir"),
                                QString::fromStdString(f.Sub("data"))};
         },
         64, "--data-dir and --user-data"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FreshFolder folder("program-fails");
        ProgramRun run = RunProgram(folder, c.prepare(folder));
        ASSERT_TRUE(run.finished) << "the program must end by itself";
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.errors.contains(QString::fromUtf8(c.says))) << run.errors.toStdString();
    }
}

// The desktop entry's command line, with the program of this build.
QStringList DesktopEntryArguments() {
    std::ifstream entry(WRENPOST_SOURCE_DIR "/packaging/org.moorfield.wrenpost.desktop");
    std::string line;
    while (std::getline(entry, line)) {
        if (line.starts_with("Exec=")) {
            QStringList words = QString::fromStdString(line.substr(5)).split(u' ', Qt::SkipEmptyParts);
            EXPECT_EQ(words.value(0), QStringLiteral("wrenpost"));
            words.removeFirst();
            // Field codes (%U, %f ...) stand for what a launcher passes: nothing here.
            words.removeIf([](const QString& word) { return word.startsWith(u'%'); });
            return words;
        }
    }
    ADD_FAILURE() << "the desktop entry has no Exec line";
    return {};
}

// An installed program keeps its files in the per-user data folder when the
// desktop starts it or when it starts in the home folder, and nowhere else:
// no Mail/ or AccData.dat is scattered into the home folder.
TEST(WrenpostProgram, KeepsItsFilesWhereItWasStarted) {
    enum Where { Home, Elsewhere };
    struct Case {
        const char* what;
        std::function<QStringList(const FreshFolder&)> args;
        Where cwd;
        bool ownDataHome;
        const char* folder;  // where AccData.dat and Mail/ belong, under the test folder
    } cases[] = {
        {"the desktop entry", [](const FreshFolder&) { return DesktopEntryArguments(); }, Elsewhere, false,
         "home/.local/share/wrenpost"},
        {"the desktop entry, own data home", [](const FreshFolder&) { return DesktopEntryArguments(); },
         Elsewhere, true, "data-home/wrenpost"},
        {"no option, in the home folder", [](const FreshFolder&) { return QStringList{}; }, Home, false,
         "home/.local/share/wrenpost"},
        {"no option, in the home folder, own data home", [](const FreshFolder&) { return QStringList{}; },
         Home, true, "data-home/wrenpost"},
        {"no option, elsewhere", [](const FreshFolder&) { return QStringList{}; }, Elsewhere, false,
         "elsewhere"},
        {"--data-dir, in the home folder",
         [](const FreshFolder& f) {
             return QStringList{QStringLiteral("--data-dir"), QString::fromStdString(f.Sub("chosen"))};
         },
         Home, false, "chosen"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FreshFolder folder("program-place");
        fs::create_directories(folder.Sub("home"));
        fs::create_directories(folder.Sub("elsewhere"));
        StartPlace place;
        place.workingDir = folder.Sub(c.cwd == Home ? "home" : "elsewhere");
        place.environment = {{QStringLiteral("HOME"), QString::fromStdString(folder.Sub("home"))},
                             {QStringLiteral("XDG_DATA_HOME"),
                              c.ownDataHome ? QString::fromStdString(folder.Sub("data-home")) : QString()}};
        const std::string expected = folder.Sub(c.folder);
        ProgramRun run = RunProgram(
            folder, c.args(folder), [&] { return fs::exists(expected + "/AccData.dat"); }, place);
        ASSERT_TRUE(run.finished) << run.errors.toStdString();
        EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
        EXPECT_TRUE(fs::is_directory(expected + "/Mail"));
        for (const char* other : {"home", "elsewhere"}) {
            if (folder.Sub(other) != expected) {
                EXPECT_FALSE(fs::exists(folder.Sub(other) + "/AccData.dat")) << other;
                EXPECT_FALSE(fs::exists(folder.Sub(other) + "/Mail")) << other;
            }
        }
    }
}

TEST(WrenpostProgram, AUserDataFolderThatCannotBeMadeEndsStartUp) {
    FreshFolder folder("program-nodata");
    std::ofstream(folder.Sub("file")) << "x";
    StartPlace place;
    place.workingDir = folder.Path();
    place.environment = {{QStringLiteral("HOME"), QString::fromStdString(folder.Path())},
                         {QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(folder.Sub("file/data"))}};
    ProgramRun run = RunProgram(folder, {QStringLiteral("--user-data")}, {}, place);
    ASSERT_TRUE(run.finished) << "the program must end by itself";
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.errors.contains(QString::fromUtf8("ﾒｰﾙを保存するﾃﾞｨﾚｸﾄﾘを作成できませんでした。")))
        << run.errors.toStdString();
    EXPECT_FALSE(fs::exists(folder.Sub("Mail")));
}

}  // namespace
}  // namespace wp
