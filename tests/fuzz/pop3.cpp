// The POP3 session's reading of replies, greeting and APOP timestamp
// included, driven through one end of a socket pair: each piece of the
// input is what the server has sent when the next command starts.

#include "fuzz_files.h"
#include "net/pop3_session.h"
#include "platform/messages.h"

#include <QCoreApplication>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace {

class Owner : public wp::MessageHandler {
public:
    wp::LResult HandleMessage(std::uint32_t, wp::WParam, wp::LParam) override { return 0; }
};

class Host : public wp::SessionHost {
public:
    std::string ResponseFilePath() override { return wp::fuzz::ScratchFolder() + "/response"; }
    void AppendCapture(const char* data, std::size_t length) override { capture.append(data, length); }
    void ProgressAddBytes(int) override {}
    void ClearViewerText() override {}
    void AppendViewerText(const char*, std::size_t, int) override {}
    std::string capture;
};

struct Rig {
    Owner owner;
    std::unique_ptr<wp::Window> window = wp::MakeQtWindow(owner);
    Host host;
    wp::CMailSocket socket;
    wp::CPop3Session session{socket};
};

Rig* rig = nullptr;

void Feed(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0) {
            return;  // the buffer is full or the session hung up: enough
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    rig = new Rig;
    // An incomplete reply ends by the time-out; keep it short.
    rig->session.inactivityTimeout = std::chrono::milliseconds(5);
    rig->session.headerReplyLimit = 64 * 1024;
    rig->session.retrReplyLimit = 256 * 1024;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool apop = (data[0] & 1) != 0;
    std::string_view pieces[8];
    wp::fuzz::Split(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), pieces);

    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return 0;
    }
    wp::CPop3Session& session = rig->session;
    rig->host.capture.clear();
    session.cancel = 0;
    session.Prepare(rig->window.get(), &rig->host);
    session.SetLogin("fuzz.invalid", 110, "alice", "secret", apop ? 1 : 0);
    rig->socket.sock = pair[0];
    const int peer = pair[1];

    // The server: the greeting, then one piece for each command line.
    std::thread server([peer, &pieces] {
        Feed(peer, pieces[0]);
        std::size_t next = 1;
        char buffer[1024];
        for (;;) {
            pollfd p{peer, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) {
                return;
            }
            ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return;
            }
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\n' && next < std::size(pieces)) {
                    Feed(peer, pieces[next++]);
                }
            }
        }
    });
    if (session.LoginConnected() == wp::kLoginOk) {
        if (session.Stat() == 1) {
            session.List();
            session.Uidl();
        }
        session.Top(1);
        session.Retr(1, nullptr, session.statCount >= 0 ? session.statCount : -1);
        session.Quit(false);
    }
    rig->socket.Close();
    server.join();
    ::close(peer);
    QCoreApplication::processEvents();
    return 0;
}
