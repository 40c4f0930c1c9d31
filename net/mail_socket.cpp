#include "net/mail_socket.h"

#include "platform/strings.h"

#include <QObject>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace wp {

using namespace wsa;

// Window notifications of an idle socket: a socket notifier on the
// user-interface thread. Like the original platform it reports FD_READ once
// until the data is received, and FD_CLOSE once.
class AsyncWatch : public QObject {
public:
    AsyncWatch(int fd, Window* target, std::uint32_t msg, long mask)
        : fd_(fd), target_(target), msg_(msg), mask_(mask), notifier_(fd, QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, this, [this] { OnActivated(); });
    }

    // After a receive: bytes still read ahead are reported at once, as the
    // system would report bytes still queued.
    void Rearm(bool buffered) {
        if (!waitingForReceive_) {
            return;
        }
        if (buffered) {
            target_->Post(msg_, static_cast<WParam>(fd_), static_cast<LParam>(MakeLong(FD_READ, 0)));
            return;
        }
        waitingForReceive_ = false;
        notifier_.setEnabled(true);
    }

    // Armed while bytes wait in the read-ahead buffer: the system will not
    // report them.
    void ReportBuffered() {
        if (mask_ & FD_READ) {
            notifier_.setEnabled(false);
            waitingForReceive_ = true;
            target_->Post(msg_, static_cast<WParam>(fd_), static_cast<LParam>(MakeLong(FD_READ, 0)));
        }
    }

private:
    void OnActivated() {
        notifier_.setEnabled(false);
        char c = 0;
        ssize_t n = recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            if (mask_ & FD_READ) {
                waitingForReceive_ = true;
                target_->Post(msg_, static_cast<WParam>(fd_), static_cast<LParam>(MakeLong(FD_READ, 0)));
            }
            return;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            notifier_.setEnabled(true);
            return;
        }
        int error = n == 0 ? 0 : FromErrno(errno);
        if (mask_ & FD_CLOSE) {
            target_->Post(msg_, static_cast<WParam>(fd_),
                          static_cast<LParam>(MakeLong(FD_CLOSE, static_cast<std::uint16_t>(error))));
        }
    }

    int fd_;
    Window* target_;
    std::uint32_t msg_;
    long mask_;
    bool waitingForReceive_ = false;
    QSocketNotifier notifier_;
};

CMailSocket::CMailSocket() = default;

CMailSocket::~CMailSocket() {
    Close();
}

bool CMailSocket::Create(Window* notifyWindow, const char* hostText, std::uint16_t portNumber,
                         int addressFamily, int socketType) {
    lastError = 0;
    if (hostText != nullptr) {
        std::snprintf(host, sizeof host, "%s", hostText);
    }
    port = portNumber;
    family = addressFamily;
    type = socketType;
    notifyWnd = notifyWindow;
    if (sock >= 0) {
        Close();
    }
    int fd = socket(family, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        lastError = FromErrno(errno);
        return false;
    }
    sock = fd;
    DropAhead();
    connectPending_ = false;
    listening_ = false;
    return true;
}

bool CMailSocket::ResolveIPv4(const char* hostText, in_addr* out, int* error) {
    *error = 0;
    if (inet_pton(AF_INET, hostText, out) == 1) {
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    int rc = getaddrinfo(hostText, nullptr, &hints, &list);
    if (rc != 0 || list == nullptr) {
        *error = rc != 0 ? FromGetAddrInfo(rc, errno) : WSAHOST_NOT_FOUND;
        if (list != nullptr) {
            freeaddrinfo(list);
        }
        return false;
    }
    *out = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr;
    freeaddrinfo(list);
    return true;
}

bool CMailSocket::Connect() {
    lastError = 0;
    addr = sockaddr_in{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (sock < 0) {
        lastError = WSAENOTSOCK;
        return false;
    }
    if (host[0] == '\0') {
        // Listening mode: nothing in the system relies on it, but it is part of the class.
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            lastError = FromErrno(errno);
            return false;
        }
        if (port == 0) {
            socklen_t len = sizeof addr;
            if (getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
                lastError = FromErrno(errno);
                return false;
            }
            port = ntohs(addr.sin_port);
        }
        if (listen(sock, backlog) != 0) {
            lastError = FromErrno(errno);
            return false;
        }
        listening_ = true;
        connected = 1;
        return true;
    }
    int error = 0;
    if (!ResolveIPv4(host, &addr.sin_addr, &error)) {
        lastError = error;
        return false;
    }
    if (connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        connected = 1;
        return true;
    }
    lastError = FromErrno(errno);
    if (errno != EINPROGRESS) {
        return false;
    }
    connectPending_ = true;
    // No wait here: the caller polls in short slices and can be stopped.
    pollfd p{sock, POLLOUT, 0};
    int rc = poll(&p, 1, 0);
    if (rc < 0) {
        lastError = FromErrno(errno);
        return false;
    }
    if (rc > 0) {
        connected = 1;
    }
    return false;
}

int CMailSocket::SetNonBlocking(int s) {
    int on = 1;
    return ioctl(Fd(s), FIONBIO, &on);
}

int CMailSocket::SelectEvents(int s, SocketEvent** event, long mask) {
    if (event == nullptr || Fd(s) < 0) {
        return -1;
    }
    // Event objects and window notifications exclude each other.
    StopAsync();
    if (*event == nullptr) {
        *event = new SocketEvent;
    }
    (*event)->mask = mask;
    return 0;
}

int CMailSocket::DeselectEvents(int s, SocketEvent** event) {
    (void)s;
    if (event == nullptr) {
        return -1;
    }
    if (*event != nullptr) {
        (*event)->mask = 0;
    }
    *event = nullptr;
    return 0;
}

bool CMailSocket::CloseEvent(SocketEvent* event) {
    delete event;
    return true;
}

int CMailSocket::PollEvents(int s, SocketEvent* event, NetworkEvents* record) {
    if (record != nullptr) {
        *record = NetworkEvents{};
    }
    int fd = Fd(s);
    if (event == nullptr || fd < 0) {
        return -1;
    }
    NetworkEvents found;
    if (Encrypted() && PollTls(event, &found)) {
        if (record != nullptr) {
            *record = found;
        }
        return static_cast<int>(found.networkEvents);
    }
    if (Buffered()) {
        // Read already: no system call, and no close before these bytes.
        if (event->mask & FD_READ) {
            found.networkEvents |= FD_READ;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (record != nullptr) {
            *record = found;
        }
        return static_cast<int>(found.networkEvents);
    }
    short wanted = 0;
    if (event->mask & (FD_READ | FD_CLOSE | FD_ACCEPT)) {
        wanted |= POLLIN;
    }
    if ((event->mask & FD_CONNECT) && connectPending_) {
        wanted |= POLLOUT;
    }
    // Waiting up to 1 ms for the socket itself (rather than sleeping blindly)
    // keeps the callers' cadence but reads a reply the moment it arrives.
    pollfd p{fd, wanted, 0};
    int rc = poll(&p, 1, 1);
    if (rc < 0) {
        if (errno == EINTR) {
            return 0;
        }
        return -1;
    }
    if (rc > 0 && (p.revents & POLLNVAL)) {
        return -1;
    }
    if (rc > 0 && connectPending_ && (p.revents & (POLLOUT | POLLERR | POLLHUP))) {
        int soError = 0;
        socklen_t len = sizeof soError;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        connectPending_ = false;
        connected = soError == 0 ? 1 : 0;
        found.networkEvents |= FD_CONNECT;
        found.errorCode[FD_CONNECT_BIT] = FromErrno(soError);
    } else if (rc > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
        if (listening_) {
            if (event->mask & FD_ACCEPT) {
                found.networkEvents |= FD_ACCEPT;
            }
        } else {
            // The plain connection reads what is there at once: Receive
            // then needs no call of its own.
            char c = 0;
            ssize_t n = tls_ == nullptr ? FillAhead() : recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
            if (n > 0) {
                if (event->mask & FD_READ) {
                    found.networkEvents |= FD_READ;
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                // Only once every byte the peer sent has been read.
                if ((event->mask & FD_CLOSE) && !event->closeReported) {
                    event->closeReported = true;
                    found.networkEvents |= FD_CLOSE;
                    found.errorCode[FD_CLOSE_BIT] = n == 0 ? 0 : FromErrno(errno);
                }
            }
        }
    }
    if (!(found.networkEvents & FD_READ) && rc > 0 && found.networkEvents == 0) {
        // Readable but nothing to report (a close already reported): keep
        // the loops from spinning.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (record != nullptr) {
        *record = found;
    }
    return static_cast<int>(found.networkEvents);
}

bool CMailSocket::AsyncSelect(int s, std::uint32_t msg, long mask) {
    int fd = Fd(s);
    if (notifyWnd == nullptr || fd < 0) {
        lastError = WSAEINVAL;
        return false;
    }
    StopAsync();
    if (mask == 0) {
        return true;
    }
    std::uint32_t message = msg != 0 ? msg : notifyMsg;
    Window* target = notifyWnd;
    const bool buffered = fd == sock && Buffered();
    RunOnUiThread([&] {
        async_ = std::make_unique<AsyncWatch>(fd, target, message, mask);
        if (buffered) {
            async_->ReportBuffered();
        }
    });
    return true;
}

void CMailSocket::StopAsync() {
    if (async_) {
        // The notifier belongs to the user-interface thread.
        RunOnUiThread([&] { async_.reset(); });
    }
}

int CMailSocket::Receive(int s) {
    if (Encrypted() && (s == 0 || s == sock)) {
        return ReceiveTls();
    }
    int fd = Fd(s);
    const bool ahead = fd == sock && tls_ == nullptr;
    int total = 0;
    int lastErrno = 0;
    bool failed = false;
    while (total < kBufferSize) {
        const std::size_t room = static_cast<std::size_t>(kBufferSize - total);
        if (ahead && Buffered()) {
            const std::size_t take = std::min(room, aheadEnd_ - aheadBegin_);
            std::memcpy(recvBuf + total, ahead_.get() + aheadBegin_, take);
            aheadBegin_ += take;
            total += static_cast<int>(take);
            if (!Buffered()) {
                // What had arrived is handed out; asking again now mostly
                // finds nothing, and a later poll sees what came since.
                break;
            }
            continue;
        }
        ssize_t n = ahead ? FillAhead() : recv(fd, recvBuf + total, room, MSG_DONTWAIT);
        if (n > 0) {
            if (!ahead) {
                total += static_cast<int>(n);
            }
            continue;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            failed = true;
            lastErrno = errno;
        }
        break;
    }
    recvBuf[total] = '\0';
    recvBuf[kBufferSize] = '\0';
    if (async_ && IsUiThread()) {
        async_->Rearm(ahead && Buffered());
    }
    if (total == 0 && failed) {
        lastError = FromErrno(lastErrno);
        return -1;
    }
    return total;
}

ssize_t CMailSocket::FillAhead() {
    if (!ahead_) {
        ahead_ = std::make_unique_for_overwrite<char[]>(kReadAhead);
    }
    ssize_t n = recv(sock, ahead_.get(), kReadAhead, MSG_DONTWAIT);
    if (n > 0) {
        aheadBegin_ = 0;
        aheadEnd_ = static_cast<std::size_t>(n);
    }
    return n;
}

int CMailSocket::Send(const char* data, int length, int flags) {
    int fd = Fd(0);
    if (fd < 0 || length < 0) {
        lastError = WSAENOTSOCK;
        return 0;
    }
    if (Encrypted()) {
        return SendTls(data, length);
    }
    int sent = 0;
    int lastErrno = 0;
    // A command fits the send buffer nearly always: wait only when it does not.
    bool mayWrite = true;
    while (sent < length) {
        if (!mayWrite) {
            int limit = sendTimeout != 0 ? sendTimeout * 1000 : static_cast<int>(sendWaitLimit.count());
            pollfd p{fd, POLLOUT, 0};
            int rc = poll(&p, 1, limit);
            if (rc < 0 && errno == EINTR) {
                continue;
            }
            if (rc <= 0) {
                lastErrno = rc == 0 ? ETIMEDOUT : errno;
                break;
            }
        }
        ssize_t n = send(fd, data + sent, static_cast<std::size_t>(length - sent),
                         flags | MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN) {
                mayWrite = false;
                continue;
            }
            lastErrno = errno;
            break;
        }
        sent += static_cast<int>(n);
    }
    if (sent == 0 && length > 0) {
        lastError = FromErrno(lastErrno);
        return 0;
    }
    return sent;
}

void CMailSocket::Close() {
    StopAsync();
    if (tls_) {
        tls_->Shutdown();
        tls_.reset();
    }
    tlsClosed_ = false;
    if (sock >= 0) {
        shutdown(sock, SHUT_RDWR);
        ::close(sock);
        sock = -1;
    }
    DropAhead();
    connectPending_ = false;
    listening_ = false;
    std::this_thread::yield();
    connected = 0;
}

namespace {

struct ErrorRow {
    int code;
    const char* text;
};

const ErrorRow kErrorTexts[] = {
    {10004, "WSAEINTR[%d] -システムコールの割り込みが発生しました-"},
    {10009, "WSAEBADF[%d] -ファイル番号に誤りがあります-"},
    {10013, "WSAEACCES[%d] -パーミッションが拒否されました-"},
    {10014, "WSAEFAULT[%d] -アドレスに誤りがあります-"},
    {10022, "WSAEINVAL[%d] -引数が無効です-"},
    {10024, "WSAEMFILE[%d] -開いているファイルが過剰です-"},
    {10035, "WSAEWOULDBLOCK[%d] -このソケットはノンブロッキング型です-"},
    {10036, "WSAEINPROGRESS[%d] -現在ブロッキング型の処理が進行中です-"},
    {10037, "WSAEALREADY[%d] -ノンブロッキング型のルーチンは既にその処理を完了しています-"},
    {10038, "WSAENOTSOCK[%d] -ソケット以外に対してソケット操作が行われました-"},
    {10039, "WSAEDESTADDRREQ[%d] -宛先のアドレスが必要です-"},
    {10040, "WSAEMSGSIZE[%d] -メッセージが長すぎます-"},
    {10041, "WSAEPROTOTYPE[%d] -ソケットに対するプロトコルの種類が不正です-"},
    {10042, "WSAENOPROTOOPT[%d] -操作がソケットでサポートされていません-"},
    {10043, "WSAEPROTONOSUPPORT[%d] -プロトコルファミリがサポートされていません-"},
    {10044, "WSAESOCKTNOSUPPORT[%d] -アドレスファミリがサポートされていません-"},
    {10048, "WSAEADDRINUSE[%d] -アドレスが既に使用中です-"},
    {10049, "WSAEADDRNOTAVAIL[%d] -要求されたアドレスを割り当てられません-"},
    {10050, "WSAENETDOWN[%d] -ネットワークが落ちている可能性があります-"},
    {10051, "WSAENETUNREACH[%d] -目的のネットワークに到達できません-"},
    {10052, "WSAENETRESET[%d] -Winsockが接続を停止しました-"},
    {10053, "WSAECONNABORTED[%d] -ネットワークの不良が原因で接続が中止されました-"},
    {10054, "WSAECONNRESET[%d] -接続先のホストによって接続が再設定されました-"},
    {10055, "WSAENOBUFS[%d] -利用可能なバッファ領域が存在しません-"},
    {10056, "WSAEISCONN[%d] -ソケットが既に接続されています-"},
    {10057, "WSAENOTCONN[%d] -ソケットが接続されていません-"},
    {10058, "WSAESHUTDOWN[%d] -ソケットが遮断されています-"},
    {10059, "WSAETOOMANYREFS[%d] -参照数が過大：結合不可能です-"},
    {10060, "WSAETIMEDOUT[%d] -接続がタイムアウトしました-"},
    {10061, "WSAECONNREFUSED[%d] -接続が拒否されました-"},
    {10062, "WSAELOOP[%d] -シンボリックリンクのレベルが過大です-"},
    {10063, "WSAENAMETOOLONG[%d] -ファイル名が長すぎます-"},
    {10064, "WSAEHOSTDOWN[%d] -ホストが落ちている可能性があります-"},
    {10065, "WSAEHOSTUNREACH[%d] -ホストへの到達経路が存在しません-"},
    {10066, "WSAENOTEMPTY[%d] -ディレクトリが空ではありません-"},
    {10067, "WSAEPROCLIM[%d] -プロセス数が過剰です-"},
    {10068, "WSAEUSERS[%d] -ユーザー数が過剰です-"},
    {10069, "WSAEDQUOT[%d] -ディスク割り当てを超過-"},
    {10070, "WSAESTALE[%d] -NFSのファイルハンドルが失効-"},
    {10071, "WSAEREMOTE[%d] -パス中の遠隔のレベルが過剰です-"},
    {10091, "WSASYSNOTREADY[%d] -ネットワークサブシステムに通信するための準備ができていません-"},
    {10092, "WSAVERNOTSUPPORTED[%d] -要求されたWinsock APIのバージョンがサポートされていません-"},
    {10093, "WSANOTINITIALISED[%d] -初期化処理が行われていません-"},
    {10101, "WSAEDISCON[%d] -ネットワークサブシステムが使用不能です-"},
    {11001, "WSAHOST_NOT_FOUND[%d] -ホストが見つかりません-"},
    {11002, "WSATRY_AGAIN[%d] -接続を試みたホストが存在しません-"},
    {11003, "WSANO_RECOVERY[%d] -回復不可能なエラーです-"},
    {11004, "WSANO_DATA[%d] -データレコードの型が要求されていません-"},
};

}  // namespace

void CMailSocket::ErrorText(int code) {
    std::memset(errorText, 0, sizeof errorText);
    if (code == 0) {
        code = lastError;
    }
    for (const ErrorRow& row : kErrorTexts) {
        if (row.code == code) {
            const std::string& format = Sjis(row.text);
            std::string out;
            std::size_t at = format.find("%d");
            out = format.substr(0, at) + std::to_string(code) + format.substr(at + 2);
            std::snprintf(errorText, sizeof errorText, "%s", out.c_str());
            return;
        }
    }
}

}  // namespace wp
