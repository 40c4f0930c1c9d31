#include "ui/mail_app.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QSocketNotifier>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <system_error>

#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/prompt.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "ui/images.h"
#include "ui/main_frame.h"
#include "ui/qt_prompt.h"

namespace wp {
namespace {

// Nobody can answer a box on a platform without a screen: it would wait for ever.
bool ScreenAvailable() {
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// Start-up failures come before any window: they go to the standard error
// stream too, where a launcher or a terminal keeps them.
class StartupPrompt : public Prompt {
public:
    PromptAnswer Ask(const PromptRequest& request) override {
        std::fprintf(stderr, "wrenpost: %s\n", Cp932ToUtf8(request.text).c_str());
        if (!ScreenAvailable()) {
            return CautiousAnswer(request.buttons);
        }
        QtPrompt boxes;
        return boxes.Ask(request);
    }
};

// SIGTERM, SIGINT and SIGHUP close the main window as its close button
// would: the layout is saved and a running operation ends first.
class SignalCloser : public QObject {
public:
    // window: the main window once it exists.
    explicit SignalCloser(std::function<QWidget*()> window) : window_(std::move(window)) {
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) {
            fds_[0] = fds_[1] = -1;
            return;
        }
        auto* notifier = new QSocketNotifier(fds_[1], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char byte = 0;
            while (read(fds_[1], &byte, 1) < 0 && errno == EINTR) {
            }
            if (QWidget* main = window_()) {
                main->close();
            }
        });
        struct sigaction action {};
        action.sa_handler = &SignalCloser::Handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
            sigaction(sig, &action, nullptr);
        }
    }
    ~SignalCloser() override {
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
            std::signal(sig, SIG_DFL);
        }
        for (int& fd : fds_) {
            if (fd >= 0) {
                close(fd);
                fd = -1;
            }
        }
    }
    SignalCloser(const SignalCloser&) = delete;
    SignalCloser& operator=(const SignalCloser&) = delete;

private:
    static void Handler(int /*sig*/) {
        const int saved = errno;
        const char byte = 1;
        if (fds_[0] >= 0) {
            [[maybe_unused]] ssize_t n = write(fds_[0], &byte, 1);
        }
        errno = saved;
    }

    static inline int fds_[2] = {-1, -1};
    std::function<QWidget*()> window_;
};

}  // namespace

const std::string& DataFolderFailureText() {
    return Sjis("ﾒｰﾙを保存するﾃﾞｨﾚｸﾄﾘを作成できませんでした。");
}

std::optional<std::string> EnterDataDir(const std::string& dir) {
    if (dir.empty()) {
        return std::string("the data folder name is empty");
    }
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error && !std::filesystem::is_directory(dir)) {
        return dir + ": " + error.message();
    }
    if (chdir(dir.c_str()) != 0) {
        return dir + ": " + std::strerror(errno);
    }
    return std::nullopt;
}

void SetApplicationIdentity() {
    QCoreApplication::setOrganizationName(QStringLiteral("Moorfield"));
    QCoreApplication::setApplicationName(Cp932ToQString(LoadString(57344)));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.2"));
    // Ties the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.moorfield.wrenpost"));
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        // The proportional gothic face at 9 points, where it is installed.
        if (QFontDatabase::families().contains(QStringLiteral("IPAPGothic"))) {
            QApplication::setFont(QFont(QStringLiteral("IPAPGothic"), 9));
        }
        QApplication::setWindowIcon(AppIcon());
    }
}

CMailApp::CMailApp(Prompt& prompt, Profile& profile) : prompt_(prompt), profile_(profile) {}

CMailApp::~CMailApp() = default;

bool CMailApp::InitInstance() {
    SetApplicationIdentity();
    std::optional<std::string> folder = PrepareDataFolder();
    if (!folder) {
        PromptRequest box;
        box.text = DataFolderFailureText();
        box.caption = LoadString(57344);
        box.buttons = PromptButtons::Ok;
        prompt_.Ask(box);
        return false;
    }
    dataFolder = *folder;
    frame_ = std::make_unique<CMainFrame>(dataFolder, profile_);
    frame_->show();
    return true;
}

void CMailApp::OnAppAbout() {
    if (frame_) {
        frame_->OnAbout();
    }
}

namespace {

const char kUsage[] =
    "Usage: wrenpost [--data-dir DIR | --user-data]\n"
    "Wrenpost (\xE3\x83\xAC\xE3\x83\xB3\xE3\x83\x9D\xE3\x82\xB9\xE3\x83\x88) 2.2: "
    "a POP3 mail checker and viewer for Japanese mail.\n"
    "\n"
    "  --data-dir DIR  keep the mail cache (Mail/) and the accounts (AccData.dat) in DIR,\n"
    "                  made when missing, instead of the current directory\n"
    "  --user-data     keep them in $XDG_DATA_HOME/wrenpost (~/.local/share/wrenpost),\n"
    "                  as when started in the home folder or from the desktop menu\n"
    "  -h, --help      show this help\n"
    "  -v, --version   show the version\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are taken as well.\n";

enum class Request { Run, Help, Version, Bad };

// The program's own options; Qt has taken its own out of the list by then.
Request ParseOptions(const QStringList& arguments, std::optional<QString>& dataDir, bool& userData,
                     QString& problem) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            return Request::Help;
        }
        if (arg == QLatin1String("-v") || arg == QLatin1String("--version")) {
            return Request::Version;
        }
        if (arg == QLatin1String("--user-data")) {
            userData = true;
        } else if (arg == QLatin1String("--data-dir")) {
            if (i + 1 >= arguments.size()) {
                problem = QStringLiteral("--data-dir needs a folder");
                return Request::Bad;
            }
            dataDir = arguments[++i];
        } else if (arg.startsWith(QLatin1String("--data-dir="))) {
            dataDir = arg.mid(static_cast<qsizetype>(std::strlen("--data-dir=")));
        } else {
            problem = QStringLiteral("unknown argument \"%1\"").arg(arg);
            return Request::Bad;
        }
    }
    if (dataDir && userData) {
        problem = QStringLiteral("--data-dir and --user-data name different folders; give one");
        return Request::Bad;
    }
    return Request::Run;
}

}  // namespace

int RunWrenpost(int argc, char** argv) {
    // Help and version need no screen: answered before the application starts.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "-v") == 0 || std::strcmp(argv[i], "--version") == 0) {
            std::puts("wrenpost 2.2");
            return 0;
        }
    }
    std::setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    SetApplicationIdentity();

    std::optional<QString> dataDir;
    bool userData = false;
    QString problem;
    if (ParseOptions(QCoreApplication::arguments(), dataDir, userData, problem) != Request::Run) {
        std::fprintf(stderr, "wrenpost: %s\n%s", qPrintable(problem), kUsage);
        return 64;
    }

    StartupPrompt prompt;
    std::optional<std::string> dir =
        dataDir ? std::optional<std::string>(QFile::encodeName(*dataDir).toStdString())
                : DefaultDataDir(userData);
    if (dir) {
        if (std::optional<std::string> why = EnterDataDir(*dir)) {
            std::fprintf(stderr, "wrenpost: %s\n", why->c_str());
            PromptRequest box;
            box.text = DataFolderFailureText();
            box.caption = LoadString(57344);
            prompt.Ask(box);
            return 1;
        }
    }

    Profile profile;
    CMailApp mailApp(prompt, profile);
    // From here on a signal waits in the pipe until the window exists.
    SignalCloser closer([&mailApp]() -> QWidget* { return mailApp.MainFrame(); });
    if (!mailApp.InitInstance()) {
        return 1;
    }
    return QApplication::exec();
}

}  // namespace wp
