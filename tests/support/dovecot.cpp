#include "tests/support/dovecot.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef WRENPOST_DOVECOT_DIR
#error "WRENPOST_DOVECOT_DIR must name the fixture's folder"
#endif

namespace wp::test {

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool Connects(const std::string& host, std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

bool ValidUserName(std::string_view name) {
    return !name.empty() && name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c));
    });
}

std::string MaildirOf(std::string_view user) {
    return DovecotDir() + "/mail/" + std::string(user) + "/Maildir";
}

// True while a pop3 process serves `user`; the fixture names the user in
// each process title.
bool SessionRunning(std::string_view user) {
    const std::string title = "dovecot/pop3 [" + std::string(user) + " ";
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    bool found = false;
    while (dirent* entry = readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) {
            continue;
        }
        std::string cmdline = ReadSmallFile(std::string("/proc/") + entry->d_name + "/cmdline");
        if (cmdline.compare(0, title.size(), title) == 0) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

// Removes every entry of a directory (files only; the Maildir holds no
// deeper trees we create). Returns false with `error` set on failure.
bool EmptyDirectory(const std::string& path, std::string& error, bool keep_uidvalidity = false) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        error = Errno("opendir " + path);
        return false;
    }
    bool ok = true;
    while (dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == ".." || name == "cur" || name == "new" || name == "tmp") {
            continue;
        }
        // Dovecot hands out each mailbox's UIDVALIDITY from these, so a
        // refilled mailbox never shows a unique id of its previous contents.
        if (keep_uidvalidity && name.substr(0, 19) == "dovecot-uidvalidity") {
            continue;
        }
        std::string full = path + "/" + std::string(name);
        if (unlink(full.c_str()) != 0 && errno != ENOENT) {
            error = Errno("unlink " + full);
            ok = false;
            break;
        }
    }
    closedir(dir);
    return ok;
}

bool MakeOwnedDirectory(const std::string& path, const DovecotServer& server, std::string& error) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        error = Errno("mkdir " + path);
        return false;
    }
    if (chmod(path.c_str(), 0755) != 0 ||
        (geteuid() == 0 && chown(path.c_str(), server.uid, server.gid) != 0)) {
        error = Errno("chmod/chown " + path);
        return false;
    }
    return true;
}

bool WriteMail(const std::string& maildir, const std::string& base, const std::string& bytes,
               const DovecotServer& server, std::string& error) {
    // Written under tmp/ and moved into cur/, as a maildir delivery does.
    std::string tmp = maildir + "/tmp/" + base;
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = Errno("create " + tmp);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = Errno("write " + tmp);
            close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (geteuid() == 0 && fchown(fd, server.uid, server.gid) != 0) {
        error = Errno("chown " + tmp);
        close(fd);
        return false;
    }
    close(fd);
    std::string target = maildir + "/cur/" + base + ":2,";
    if (rename(tmp.c_str(), target.c_str()) != 0) {
        error = Errno("rename to " + target);
        return false;
    }
    return true;
}

// Maildir file names in the order they were filled: the leading timestamps
// are fixed-width, so name order is fill order.
std::vector<std::string> MailFiles(std::string_view user) {
    std::vector<std::string> files;
    const std::string maildir = MaildirOf(user);
    for (const char* sub : {"/cur", "/new"}) {
        std::string path = maildir + sub;
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr) {
            continue;
        }
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                files.push_back(path + "/" + entry->d_name);
            }
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return a.substr(a.rfind('/') + 1) < b.substr(b.rfind('/') + 1);
    });
    return files;
}

}  // namespace

std::string DovecotDir() {
    if (const char* dir = std::getenv("WRENPOST_DOVECOT_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    return WRENPOST_DOVECOT_DIR;
}

DovecotServer FindDovecot() {
    DovecotServer server;
    server.dir = DovecotDir();
    const std::string how =
        " (ctest starts it for tests named *Dovecot*; by hand: tests/support/dovecot-ctl start " +
        server.dir + ")";
    std::string port = ReadSmallFile(server.dir + "/port");
    std::string owner = ReadSmallFile(server.dir + "/owner");
    unsigned long port_number = std::strtoul(port.c_str(), nullptr, 10);
    unsigned uid = 0;
    unsigned gid = 0;
    if (port_number == 0 || port_number > 65535) {
        server.error = "Dovecot is not running: no port in " + server.dir + "/port" + how;
        return server;
    }
    if (std::sscanf(owner.c_str(), "%u:%u", &uid, &gid) != 2) {
        server.error = "Dovecot is not running: no owner in " + server.dir + "/owner" + how;
        return server;
    }
    server.port = static_cast<std::uint16_t>(port_number);
    unsigned long tls_port = std::strtoul(ReadSmallFile(server.dir + "/tls_port").c_str(), nullptr, 10);
    server.tlsPort = tls_port <= 65535 ? static_cast<std::uint16_t>(tls_port) : 0;
    server.caFile = server.dir + "/tls/ca.pem";
    server.uid = static_cast<uid_t>(uid);
    server.gid = static_cast<gid_t>(gid);
    if (!Connects(server.host, server.port)) {
        server.error = "Dovecot is not running: nothing answers at " + server.host + ":" +
                       std::to_string(port_number) + how;
    }
    return server;
}

DovecotUser DovecotCredentials(std::string_view name) {
    if (name == "alice") {
        return {"alice", "wonderland"};
    }
    if (name == "bob") {
        return {"bob", "builder"};
    }
    if (name.size() == 3 && name[0] == 't' && std::isdigit(static_cast<unsigned char>(name[1])) &&
        std::isdigit(static_cast<unsigned char>(name[2]))) {
        int n = (name[1] - '0') * 10 + (name[2] - '0');
        if (n >= 1 && n <= 60) {
            return {std::string(name), "pw-" + std::string(name)};
        }
    }
    return {};
}

// --- Leases -----------------------------------------------------------------

DovecotUserLease::DovecotUserLease(DovecotUserLease&& other) noexcept
    : fd_(other.fd_), user_(std::move(other.user_)), error_(std::move(other.error_)) {
    other.fd_ = -1;
}

DovecotUserLease& DovecotUserLease::operator=(DovecotUserLease&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = other.fd_;
        user_ = std::move(other.user_);
        error_ = std::move(other.error_);
        other.fd_ = -1;
    }
    return *this;
}

DovecotUserLease::~DovecotUserLease() {
    Release();
}

void DovecotUserLease::Release() {
    if (fd_ >= 0) {
        close(fd_);  // drops the flock
        fd_ = -1;
    }
}

// Each user has a lock file; a lease is an exclusive flock on it, which the
// kernel drops when the holder exits, however it exits.
bool DovecotUserLease::TryLock(const std::string& name, DovecotUserLease& lease) {
    const std::string dir = DovecotDir() + "/leases";
    if (mkdir(dir.c_str(), 01777) != 0 && errno != EEXIST) {
        lease.error_ = Errno("mkdir " + dir);
        return false;
    }
    const std::string path = dir + "/" + name + ".lock";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        lease.error_ = Errno("open " + path);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    lease.Release();
    lease.fd_ = fd;
    lease.user_ = DovecotCredentials(name);
    lease.error_.clear();
    return true;
}

DovecotUserLease LeaseUser(std::chrono::milliseconds bound) {
    DovecotUserLease lease;
    const auto deadline = Clock::now() + bound;
    do {
        for (int n = 1; n <= 60; ++n) {
            char name[8];
            std::snprintf(name, sizeof name, "t%02d", n);
            if (DovecotUserLease::TryLock(name, lease)) {
                return lease;
            }
            if (!lease.error_.empty()) {
                return lease;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    lease.error_ = "every test user t01..t60 stayed leased for " + std::to_string(bound.count()) + " ms";
    return lease;
}

DovecotUserLease LeaseNamedUser(std::string_view name, std::chrono::milliseconds bound) {
    DovecotUserLease lease;
    if (DovecotCredentials(name).name.empty()) {
        lease.error_ = "no such test user: " + std::string(name);
        return lease;
    }
    const auto deadline = Clock::now() + bound;
    do {
        if (DovecotUserLease::TryLock(std::string(name), lease) || !lease.error_.empty()) {
            return lease;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    lease.error_ = std::string(name) + " stayed leased for " + std::to_string(bound.count()) + " ms";
    return lease;
}

// --- Mailboxes --------------------------------------------------------------

std::string ToCrlf(std::string_view mail) {
    std::string out;
    out.reserve(mail.size() + mail.size() / 16);
    for (std::size_t i = 0; i < mail.size(); ++i) {
        if (mail[i] == '\n' && (i == 0 || mail[i - 1] != '\r')) {
            out += '\r';
        }
        out += mail[i];
    }
    return out;
}

testing::AssertionResult FillMailbox(std::string_view user, const std::vector<std::string>& mails) {
    if (!ValidUserName(user) || DovecotCredentials(user).name.empty()) {
        return testing::AssertionFailure() << "FillMailbox: no such test user \"" << user << "\"";
    }
    DovecotServer server = FindDovecot();
    if (!server) {
        return testing::AssertionFailure() << "FillMailbox: " << server.error;
    }
    // A session that is still ending may write the old state back.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (SessionRunning(user)) {
        if (Clock::now() >= deadline) {
            return testing::AssertionFailure()
                   << "FillMailbox: a POP3 session of " << user << " is still running after 10 s";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::string home = DovecotDir() + "/mail/" + std::string(user);
    const std::string maildir = home + "/Maildir";
    std::string error;
    if (!MakeOwnedDirectory(home, server, error) || !MakeOwnedDirectory(maildir, server, error)) {
        return testing::AssertionFailure() << "FillMailbox: " << error;
    }
    for (const char* sub : {"cur", "new", "tmp"}) {
        std::string path = maildir + "/" + sub;
        if (!MakeOwnedDirectory(path, server, error) || !EmptyDirectory(path, error)) {
            return testing::AssertionFailure() << "FillMailbox: " << error;
        }
    }
    if (!EmptyDirectory(maildir, error, /*keep_uidvalidity=*/true)) {
        return testing::AssertionFailure() << "FillMailbox: " << error;
    }
    // Dovecot numbers new files by the time in their names, then by name;
    // consecutive fixed-width seconds make both orders the fill order.
    constexpr long long kFirstSecond = 1500000000;
    const long pid = static_cast<long>(getpid());
    for (std::size_t i = 0; i < mails.size(); ++i) {
        std::string bytes = ToCrlf(mails[i]);
        char base[128];
        std::snprintf(base, sizeof base, "%lld.M%06zuP%ldQ%zu.wrenpost,S=%zu,W=%zu",
                      kFirstSecond + static_cast<long long>(i), i % 1000000, pid, i + 1, bytes.size(),
                      bytes.size());
        if (!WriteMail(maildir, base, bytes, server, error)) {
            return testing::AssertionFailure() << "FillMailbox: " << error;
        }
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult DeliverMail(std::string_view user, const std::vector<std::string>& mails) {
    if (!ValidUserName(user) || DovecotCredentials(user).name.empty()) {
        return testing::AssertionFailure() << "DeliverMail: no such test user \"" << user << "\"";
    }
    DovecotServer server = FindDovecot();
    if (!server) {
        return testing::AssertionFailure() << "DeliverMail: " << server.error;
    }
    const std::string maildir = DovecotDir() + "/mail/" + std::string(user) + "/Maildir";
    std::string error;
    for (const char* sub : {"cur", "new", "tmp"}) {
        if (!MakeOwnedDirectory(maildir + "/" + sub, server, error)) {
            return testing::AssertionFailure() << "DeliverMail: " << error;
        }
    }
    // Later seconds than every mail already there, so the new ones come last.
    constexpr long long kFirstSecond = 1600000000;
    const std::size_t already = MailFiles(user).size();
    const long pid = static_cast<long>(getpid());
    static std::size_t serial = 0;
    for (std::size_t i = 0; i < mails.size(); ++i) {
        std::string bytes = ToCrlf(mails[i]);
        char base[128];
        std::snprintf(base, sizeof base, "%lld.M%06zuP%ldD%zu.wrenpost,S=%zu,W=%zu",
                      kFirstSecond + static_cast<long long>(already + i), ++serial % 1000000, pid, i + 1,
                      bytes.size(), bytes.size());
        if (!WriteMail(maildir, base, bytes, server, error)) {
            return testing::AssertionFailure() << "DeliverMail: " << error;
        }
    }
    return testing::AssertionSuccess();
}

std::vector<std::string> MailboxMails(std::string_view user) {
    std::vector<std::string> mails;
    if (!ValidUserName(user)) {
        return mails;
    }
    for (const std::string& file : MailFiles(user)) {
        mails.push_back(ReadSmallFile(file));
    }
    return mails;
}

std::size_t MailboxCount(std::string_view user) {
    return ValidUserName(user) ? MailFiles(user).size() : 0;
}

}  // namespace wp::test
