#include "support/delay_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace wp::test {

using Clock = std::chrono::steady_clock;

namespace {

struct Parcel {
    Clock::time_point due;
    std::string bytes;
    std::size_t sent = 0;
};

// One direction of one connection.
struct Lane {
    int from = -1;
    int to = -1;
    std::deque<Parcel> queue;
    bool eof = false;      // `from` has no more bytes
    bool shutDown = false;  // ...and `to` was told so, once the queue ran dry
};

struct Pair {
    int client = -1;
    int server = -1;
    Lane up;    // client to server
    Lane down;  // server to client
    bool dead = false;
};

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

void NoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

struct DelayProxy::State {
    std::vector<std::unique_ptr<Pair>> pairs;
    std::atomic<int> accepted{0};
};

DelayProxy::DelayProxy(std::uint16_t targetPort, std::chrono::milliseconds delay)
    : targetPort_(targetPort), delay_(delay), state_(new State) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error("delay proxy: cannot listen");
    }
    port_ = ntohs(address.sin_port);
    SetNonBlocking(listenFd_);
    thread_ = std::thread([this] { Run(); });
}

DelayProxy::~DelayProxy() {
    char byte = 1;
    (void)!::write(wake_[1], &byte, 1);
    thread_.join();
    for (auto& pair : state_->pairs) {
        ::close(pair->client);
        ::close(pair->server);
    }
    delete state_;
    ::close(listenFd_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

int DelayProxy::connections() const { return state_->accepted.load(); }

void DelayProxy::Run() {
    std::vector<pollfd> fds;
    for (;;) {
        auto& pairs = state_->pairs;
        const Clock::time_point now = Clock::now();
        // Whatever is due goes out now; the wait ends when the next is due.
        Clock::time_point next = Clock::time_point::max();
        for (auto& pair : pairs) {
            for (Lane* lane : {&pair->up, &pair->down}) {
                while (!lane->queue.empty() && lane->queue.front().due <= now) {
                    Parcel& parcel = lane->queue.front();
                    ssize_t n = ::send(lane->to, parcel.bytes.data() + parcel.sent, parcel.bytes.size() - parcel.sent,
                                       MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (n < 0) {
                        if (errno != EAGAIN && errno != EINTR) {
                            pair->dead = true;
                        }
                        break;
                    }
                    parcel.sent += static_cast<std::size_t>(n);
                    if (parcel.sent < parcel.bytes.size()) {
                        break;
                    }
                    lane->queue.pop_front();
                }
                if (lane->eof && lane->queue.empty() && !lane->shutDown) {
                    ::shutdown(lane->to, SHUT_WR);
                    lane->shutDown = true;
                }
                if (!lane->queue.empty() && lane->queue.front().due > now && lane->queue.front().due < next) {
                    next = lane->queue.front().due;
                }
            }
            if (pair->up.shutDown && pair->down.shutDown) {
                pair->dead = true;
            }
        }
        std::erase_if(pairs, [](const std::unique_ptr<Pair>& pair) {
            if (pair->dead) {
                ::close(pair->client);
                ::close(pair->server);
            }
            return pair->dead;
        });

        fds.clear();
        fds.push_back({wake_[0], POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        for (auto& pair : pairs) {
            for (Lane* lane : {&pair->up, &pair->down}) {
                short events = lane->eof ? 0 : POLLIN;
                // A lane whose due bytes did not all fit waits for room.
                if (!lane->queue.empty() && lane->queue.front().due <= now) {
                    fds.push_back({lane->to, POLLOUT, 0});
                }
                fds.push_back({lane->from, events, 0});
            }
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
            timeout = wait < 0 ? 0 : static_cast<int>(wait);
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        if (fds[1].revents & POLLIN) {
            int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client >= 0) {
                int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                address.sin_port = htons(targetPort_);
                if (server >= 0 && ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                    SetNonBlocking(server);
                    NoDelay(client);
                    NoDelay(server);
                    auto pair = std::make_unique<Pair>();
                    pair->client = client;
                    pair->server = server;
                    pair->up.from = client;
                    pair->up.to = server;
                    pair->down.from = server;
                    pair->down.to = client;
                    pairs.push_back(std::move(pair));
                    ++state_->accepted;
                } else {
                    ::close(client);
                    if (server >= 0) {
                        ::close(server);
                    }
                }
            }
        }
        // Reading every lane whatever poll said keeps the bookkeeping simple:
        // they are all non-blocking.
        const Clock::time_point arrived = Clock::now();
        for (auto& pair : pairs) {
            for (Lane* lane : {&pair->up, &pair->down}) {
                while (!lane->eof) {
                    char buffer[65536];
                    ssize_t n = ::recv(lane->from, buffer, sizeof buffer, MSG_DONTWAIT);
                    if (n > 0) {
                        lane->queue.push_back({arrived + delay_, std::string(buffer, static_cast<std::size_t>(n))});
                        continue;
                    }
                    if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                        lane->eof = true;
                    }
                    break;
                }
            }
        }
    }
}

}  // namespace wp::test
