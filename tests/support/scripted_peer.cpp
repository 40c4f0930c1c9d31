#include "tests/support/scripted_peer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace wp::test {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kMaxLine = 64 * 1024;
// How long a piece may wait for the client to read the one before it.
constexpr milliseconds kPaceBound{1000};
// Between pieces for a client outside this process, whose reads we cannot see.
constexpr milliseconds kBlindGap{2};

// Shows bytes in a failure message: printable ASCII as is, the rest escaped.
std::string Visible(std::string_view bytes, std::size_t limit = 200) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    if (bytes.size() > limit) {
        out += "...(" + std::to_string(bytes.size()) + " bytes)";
    }
    return "\"" + out + "\"";
}

int MillisUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > 60000 ? 60000 : static_cast<int>(left);
}

std::uint16_t PortOf(const sockaddr_in& addr) {
    return ntohs(addr.sin_port);
}

bool LocalAndPeer(int fd, sockaddr_in& local, sockaddr_in& peer) {
    socklen_t len = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 || len != sizeof local ||
        local.sin_family != AF_INET) {
        return false;
    }
    len = sizeof peer;
    return getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0 && len == sizeof peer &&
           peer.sin_family == AF_INET;
}

}  // namespace

std::vector<std::size_t> Pieces::Split(std::size_t total) const {
    std::vector<std::size_t> out;
    std::size_t left = total;
    if (!sizes.empty()) {
        for (std::size_t n : sizes) {
            n = std::min(n, left);
            if (n > 0) {
                out.push_back(n);
                left -= n;
            }
        }
    } else if (every > 0) {
        while (left > every) {
            out.push_back(every);
            left -= every;
        }
    }
    if (left > 0) {
        out.push_back(left);
    }
    return out;
}

ScriptedPeer::ScriptedPeer() {
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("scripted peer: pipe: ") + std::strerror(errno));
    }
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, 8) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        int err = errno;
        if (listen_fd_ >= 0) {
            ::close(listen_fd_);
        }
        ::close(wake_[0]);
        ::close(wake_[1]);
        throw std::runtime_error(std::string("scripted peer: cannot listen: ") + std::strerror(err));
    }
    port_ = PortOf(addr);
    steps_.push_back({Kind::kAccept, {}, {}, {}});
}

ScriptedPeer::~ScriptedPeer() {
    Stop();
    {
        std::lock_guard lock(mutex_);
        for (; reported_ < failures_.size(); ++reported_) {
            ADD_FAILURE() << "scripted peer: " << failures_[reported_];
        }
    }
    if (conn_ >= 0) {
        ::close(conn_);
    }
    ::close(listen_fd_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

// --- Building the script ---------------------------------------------------

ScriptedPeer& ScriptedPeer::Add(Step step) {
    if (started_) {
        throw std::logic_error("scripted peer: steps must be added before Start()");
    }
    steps_.push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::Greet(std::string text) {
    return Send("+OK " + text + "\r\n");
}

ScriptedPeer& ScriptedPeer::GreetApop(std::string timestamp, std::string text) {
    return Send("+OK " + text + " " + timestamp + "\r\n");
}

ScriptedPeer& ScriptedPeer::Send(std::string bytes, Pieces pieces) {
    return Add({Kind::kSend, std::move(bytes), std::move(pieces), {}});
}

ScriptedPeer& ScriptedPeer::Expect(std::string line) {
    return Add({Kind::kExpect, std::move(line), {}, {}});
}

ScriptedPeer& ScriptedPeer::ExpectAnyLine() {
    return Add({Kind::kExpectAny, {}, {}, {}});
}

ScriptedPeer& ScriptedPeer::Pause(milliseconds how_long) {
    return Add({Kind::kPause, {}, {}, how_long});
}

ScriptedPeer& ScriptedPeer::Hold() {
    return Add({Kind::kHold, {}, {}, {}});
}

void ScriptedPeer::Release() {
    ++releases_;
}

ScriptedPeer& ScriptedPeer::Close() {
    return Add({Kind::kClose, {}, {}, {}});
}

ScriptedPeer& ScriptedPeer::Reset() {
    return Add({Kind::kReset, {}, {}, {}});
}

ScriptedPeer& ScriptedPeer::Silence() {
    return Add({Kind::kSilence, {}, {}, {}});
}

ScriptedPeer& ScriptedPeer::Stream(std::string unit, std::chrono::milliseconds gap) {
    return Add({Kind::kStream, std::move(unit), {}, gap});
}

ScriptedPeer& ScriptedPeer::Accept() {
    return Add({Kind::kAccept, {}, {}, {}});
}

ScriptedPeer& ScriptedPeer::StepTimeout(milliseconds bound) {
    step_timeout_ = bound;
    return *this;
}

std::string ScriptedPeer::Describe(std::size_t index) const {
    std::string what = "step " + std::to_string(index) + " ";
    const Step& step = steps_[index];
    switch (step.kind) {
        case Kind::kAccept:
            return what + "(accept a connection)";
        case Kind::kSend:
            return what + "(send " + Visible(step.bytes, 60) + ")";
        case Kind::kExpect:
            return what + "(expect " + Visible(step.bytes, 60) + ")";
        case Kind::kExpectAny:
            return what + "(expect a line)";
        case Kind::kPause:
            return what + "(pause)";
        case Kind::kHold:
            return what + "(hold until released)";
        case Kind::kClose:
            return what + "(close)";
        case Kind::kReset:
            return what + "(reset)";
        case Kind::kSilence:
            return what + "(silence)";
        case Kind::kStream:
            return what + "(stream " + Visible(step.bytes, 60) + ")";
    }
    return what;
}

// --- Running ----------------------------------------------------------------

void ScriptedPeer::Start() {
    if (started_) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        started_ = true;
    }
    thread_ = std::thread([this] { Run(); });
}

void ScriptedPeer::Stop() {
    stop_ = true;
    char byte = 1;
    [[maybe_unused]] auto n = write(wake_[1], &byte, 1);
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool ScriptedPeer::Stopping() const {
    return stop_.load();
}

void ScriptedPeer::Fail(std::string what) {
    {
        std::lock_guard lock(mutex_);
        failures_.push_back(std::move(what));
    }
    changed_.notify_all();
}

void ScriptedPeer::Run() {
    bool failed = false;
    for (std::size_t i = 0; i < steps_.size() && !failed; ++i) {
        {
            std::lock_guard lock(mutex_);
            current_ = i;
        }
        if (Play(i, steps_[i])) {
            continue;
        }
        if (Stopping()) {
            // Silence lasts until someone ends it; any other step was cut short.
            if (steps_[i].kind != Kind::kSilence) {
                Fail("the script was stopped before it ended, at " + Describe(i));
            }
            return;
        }
        failed = true;
    }
    if (Stopping()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    changed_.notify_all();
    if (failed) {
        // A client left hanging would only wait for its own time-out.
        CloseConnection(false);
    }
    Linger();
}

bool ScriptedPeer::Play(std::size_t index, const Step& step) {
    const auto deadline = Clock::now() + step_timeout_;
    switch (step.kind) {
        case Kind::kAccept:
            return AcceptOne(deadline, index);
        case Kind::kSend: {
            if (conn_ < 0) {
                Fail(Describe(index) + ": the connection is closed");
                return false;
            }
            auto pieces = step.pieces.Split(step.bytes.size());
            std::size_t offset = 0;
            bool watch_client = true;
            for (std::size_t k = 0; k < pieces.size(); ++k) {
                Io io = Write(step.bytes.data() + offset, pieces[k]);
                if (io == Io::kStopped) {
                    return false;
                }
                if (io != Io::kOk) {
                    Fail(Describe(index) + ": the client closed the connection after " +
                         std::to_string(offset) + " bytes");
                    return false;
                }
                offset += pieces[k];
                if (k + 1 < pieces.size() && !Pace(step.pieces.gap, watch_client)) {
                    return false;
                }
            }
            return true;
        }
        case Kind::kExpect:
        case Kind::kExpectAny: {
            std::string line;
            Io io = ReadLine(line, deadline);
            // A CAPA the script does not ask for meets a server that
            // predates it; a script that expects CAPA answers it itself.
            while (io == Io::kOk && step.kind == Kind::kExpect && refuse_capa_ && line == "CAPA\r\n" &&
                   step.bytes != line) {
                if (Write("-ERR unknown command\r\n", 22) != Io::kOk) {
                    break;
                }
                line.clear();
                io = ReadLine(line, deadline);
            }
            switch (io) {
                case Io::kOk:
                    if (step.kind == Kind::kExpect && line != step.bytes) {
                        Fail(Describe(index) + ": the client sent " + Visible(line));
                    }
                    return true;
                case Io::kClosed:
                    Fail(Describe(index) + ": the client closed the connection" +
                         (line.empty() ? std::string() : " after sending " + Visible(line)));
                    return false;
                case Io::kTimeout:
                    Fail(Describe(index) + ": nothing came within " + std::to_string(step_timeout_.count()) +
                         " ms" + (line.empty() ? std::string() : "; the client sent " + Visible(line)));
                    return false;
                case Io::kError:
                    Fail(Describe(index) + ": no line end in " + Visible(line));
                    return false;
                case Io::kStopped:
                    return false;
            }
            return false;
        }
        case Kind::kPause: {
            const auto until = Clock::now() + step.wait;
            while (true) {
                Io io = conn_ >= 0 ? ReadSome(until) : (Sleep(step.wait) ? Io::kTimeout : Io::kStopped);
                if (io == Io::kStopped) {
                    return false;
                }
                if (io != Io::kOk) {
                    return true;
                }
            }
        }
        case Kind::kHold: {
            while (releases_.load() <= holdsPassed_) {
                if (Clock::now() >= deadline) {
                    Fail(Describe(index) + ": not released within " + std::to_string(step_timeout_.count()) +
                         " ms");
                    return false;
                }
                const auto slice = std::min(deadline, Clock::now() + milliseconds(20));
                Io io =
                    conn_ >= 0 ? ReadSome(slice) : (Sleep(milliseconds(20)) ? Io::kTimeout : Io::kStopped);
                if (io == Io::kStopped) {
                    return false;
                }
                if (io == Io::kClosed || io == Io::kError) {
                    if (!Sleep(milliseconds(20))) {
                        return false;
                    }
                }
            }
            ++holdsPassed_;
            return true;
        }
        case Kind::kClose:
        case Kind::kReset:
            CloseConnection(step.kind == Kind::kReset);
            return true;
        case Kind::kStream:
            while (conn_ >= 0 && !step.bytes.empty()) {
                Io io = Write(step.bytes.data(), step.bytes.size());
                if (io == Io::kStopped) {
                    return false;
                }
                if (io != Io::kOk) {
                    return true;  // the client gave up: what the step is for
                }
                streamed_ += step.bytes.size();
                if (step.wait.count() > 0 && !Sleep(step.wait)) {
                    return false;
                }
            }
            return true;
        case Kind::kSilence:
            while (conn_ >= 0) {
                Io io = ReadSome(Clock::now() + std::chrono::hours(24));
                if (io == Io::kStopped) {
                    return false;
                }
            }
            return true;
    }
    return false;
}

bool ScriptedPeer::Sleep(milliseconds how_long) {
    const auto until = Clock::now() + how_long;
    while (!Stopping()) {
        int left = MillisUntil(until);
        if (left == 0) {
            return true;
        }
        pollfd pfd{wake_[0], POLLIN, 0};
        poll(&pfd, 1, left);
    }
    return false;
}

ScriptedPeer::Io ScriptedPeer::ReadSome(Clock::time_point deadline) {
    while (true) {
        if (Stopping()) {
            return Io::kStopped;
        }
        pollfd pfds[2] = {{conn_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        int left = MillisUntil(deadline);
        int rc = poll(pfds, 2, left);
        if (rc < 0 && errno != EINTR) {
            return Io::kError;
        }
        if (Stopping()) {
            return Io::kStopped;
        }
        if (rc <= 0 || !(pfds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            if (left == 0) {
                return Io::kTimeout;
            }
            continue;
        }
        char buffer[kReadChunk];
        ssize_t n = recv(conn_, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            CloseConnection(false);
            return Io::kClosed;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
        std::lock_guard lock(mutex_);
        received_.back().append(buffer, static_cast<std::size_t>(n));
        return Io::kOk;
    }
}

ScriptedPeer::Io ScriptedPeer::ReadLine(std::string& line, Clock::time_point deadline) {
    std::size_t from = 0;
    while (true) {
        auto eol = pending_.find('\n', from);
        if (eol != std::string::npos) {
            line.assign(pending_, 0, eol + 1);
            pending_.erase(0, eol + 1);
            return Io::kOk;
        }
        if (pending_.size() > kMaxLine) {
            line = pending_;
            return Io::kError;
        }
        from = pending_.size();
        if (conn_ < 0) {
            line = pending_;
            return Io::kClosed;
        }
        Io io = ReadSome(deadline);
        if (io != Io::kOk) {
            line = pending_;
            return io;
        }
    }
}

ScriptedPeer::Io ScriptedPeer::Write(const char* data, std::size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
        if (Stopping()) {
            return Io::kStopped;
        }
        ssize_t n = send(conn_, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            pollfd pfds[2] = {{conn_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
            poll(pfds, 2, 1000);
            continue;
        }
        return Io::kClosed;
    }
    return Io::kOk;
}

// Waits until the client has read the piece just written, so the next piece
// reaches it as a read of its own. A client that stops reading (it talks
// instead, or lets the piece lie) is not waited for again within the same
// reply: `watch_client` turns false.
bool ScriptedPeer::Pace(milliseconds gap, bool& watch_client) {
    if (watch_client && !ClientSocketValid()) {
        // In another process: its reads cannot be seen, only given time.
        gap = std::max(gap, kBlindGap);
    } else if (watch_client) {
        const auto until = Clock::now() + kPaceBound;
        int ours_before = 0;
        ioctl(conn_, FIONREAD, &ours_before);
        watch_client = ours_before == 0;
        while (watch_client) {
            if (Stopping()) {
                return false;
            }
            int unacked = 0;
            int unread = 0;
            if (ioctl(conn_, SIOCOUTQ, &unacked) != 0 || !ClientSocketValid() ||
                ioctl(client_fd_, FIONREAD, &unread) != 0) {
                break;
            }
            if (unacked == 0 && unread == 0) {
                break;
            }
            int ours = 0;
            ioctl(conn_, FIONREAD, &ours);
            if (ours != ours_before || Clock::now() >= until) {
                watch_client = false;
                break;
            }
            timespec tick{0, 50 * 1000};
            nanosleep(&tick, nullptr);
        }
    }
    return gap.count() == 0 || Sleep(gap);
}

bool ScriptedPeer::AcceptOne(Clock::time_point deadline, std::size_t index) {
    while (true) {
        if (Stopping()) {
            return false;
        }
        pollfd pfds[3] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}, {conn_, POLLIN, 0}};
        int left = MillisUntil(deadline);
        int rc = poll(pfds, conn_ >= 0 ? 3 : 2, left);
        if (Stopping()) {
            return false;
        }
        if (rc > 0 && conn_ >= 0 && (pfds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            // The previous connection still talks: everything it sends now is
            // beyond its part of the script.
            Drain(true);
            continue;
        }
        if (rc > 0 && (pfds[0].revents & POLLIN)) {
            break;
        }
        if (left == 0) {
            Fail(Describe(index) + ": no connection within " + std::to_string(step_timeout_.count()) + " ms");
            return false;
        }
    }
    if (conn_ >= 0) {
        Drain(true);
        CloseConnection(false);
    }
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        Fail(Describe(index) + ": accept: " + std::strerror(errno));
        return false;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    conn_ = fd;
    pending_.clear();
    {
        std::lock_guard lock(mutex_);
        received_.emplace_back();
        closed_ = false;
    }
    changed_.notify_all();
    FindClientSocket();
    return true;
}

// Reads whatever has already arrived without waiting; closes on end of stream.
void ScriptedPeer::Drain(bool record_as_unexpected) {
    while (conn_ >= 0) {
        char buffer[kReadChunk];
        ssize_t n = recv(conn_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            return;
        }
        if (n <= 0) {
            CloseConnection(false);
            return;
        }
        std::string_view bytes(buffer, static_cast<std::size_t>(n));
        {
            std::lock_guard lock(mutex_);
            received_.back().append(bytes);
        }
        if (record_as_unexpected) {
            std::lock_guard lock(mutex_);
            failures_.push_back("connection " + std::to_string(received_.size() - 1) +
                                ": unexpected after its part of the script: " + Visible(bytes));
        }
    }
}

void ScriptedPeer::CloseConnection(bool reset) {
    if (conn_ < 0) {
        return;
    }
    if (reset) {
        linger hard{1, 0};
        setsockopt(conn_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else {
        // Unread input would turn the close into a reset.
        char buffer[kReadChunk];
        ssize_t n;
        while ((n = recv(conn_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            std::lock_guard lock(mutex_);
            received_.back().append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(conn_);
    conn_ = -1;
    client_fd_ = -1;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

// After the script: anything more from the client is a deviation.
void ScriptedPeer::Linger() {
    while (!Stopping()) {
        pollfd pfds[3] = {{wake_[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}, {conn_, POLLIN, 0}};
        int rc = poll(pfds, conn_ >= 0 ? 3 : 2, -1);
        if (Stopping()) {
            return;
        }
        if (rc <= 0) {
            continue;
        }
        if (conn_ >= 0 && (pfds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            Drain(true);
        }
        if (pfds[1].revents & POLLIN) {
            int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                Fail("a connection the script does not expect");
                ::close(fd);
            }
        }
    }
}

// Finds the client's end of the connection among this process's sockets.
void ScriptedPeer::FindClientSocket() {
    client_fd_ = -1;
    sockaddr_in local{};
    sockaddr_in peer{};
    if (!LocalAndPeer(conn_, local, peer)) {
        return;
    }
    client_port_ = PortOf(peer);
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return;
    }
    while (dirent* entry = readdir(dir)) {
        char* end = nullptr;
        long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == conn_ || fd == listen_fd_ || fd == dirfd(dir)) {
            continue;
        }
        client_fd_ = static_cast<int>(fd);
        if (ClientSocketValid()) {
            break;
        }
        client_fd_ = -1;
    }
    closedir(dir);
}

bool ScriptedPeer::ClientSocketValid() const {
    if (client_fd_ < 0) {
        return false;
    }
    sockaddr_in local{};
    sockaddr_in peer{};
    return LocalAndPeer(client_fd_, local, peer) && PortOf(local) == client_port_ && PortOf(peer) == port_ &&
           local.sin_addr.s_addr == htonl(INADDR_LOOPBACK);
}

// --- Results ----------------------------------------------------------------

bool ScriptedPeer::WaitDone(milliseconds bound) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, bound, [this] { return done_; });
}

bool ScriptedPeer::WaitClosed(milliseconds bound) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, bound, [this] { return closed_; });
}

bool ScriptedPeer::Check(bool until_closed, std::source_location where) {
    if (!started_) {
        Fail("Check() before Start()");
    } else if (!WaitDone()) {
        std::size_t at;
        {
            std::lock_guard lock(mutex_);
            at = current_;
        }
        Fail("the script did not end within 30 s; it waits at " + Describe(at));
    } else if (until_closed && !WaitClosed()) {
        Fail("the client did not close the connection within 30 s");
    }
    std::lock_guard lock(mutex_);
    bool clean = reported_ == failures_.size();
    for (; reported_ < failures_.size(); ++reported_) {
        ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line()))
            << "scripted peer: " << failures_[reported_];
    }
    return clean;
}

std::string ScriptedPeer::Received(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < received_.size() ? received_[index] : std::string();
}

std::size_t ScriptedPeer::connections() const {
    std::lock_guard lock(mutex_);
    return received_.size();
}

std::vector<std::string> ScriptedPeer::Failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}

std::vector<std::string> ScriptedPeer::TakeFailures() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out(failures_.begin() + static_cast<std::ptrdiff_t>(reported_), failures_.end());
    reported_ = failures_.size();
    return out;
}

}  // namespace wp::test
