#pragma once
// One TCP socket with the behaviour of the original platform's sockets:
// Windows Sockets error numbers, event objects polled without blocking, and
// window notifications while the socket is idle.

#include "net/tls_channel.h"
#include "platform/messages.h"
#include "platform/winsock.h"

#include <netinet/in.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace wp {

inline constexpr int FD_CONNECT_BIT = 4;
inline constexpr int FD_CLOSE_BIT = 5;

// What one poll learnt: the event bits and an error code per bit.
struct NetworkEvents {
    long networkEvents = 0;
    int errorCode[10] = {};
};

// An event object: remembers the mask it was attached with and what it has
// already reported (FD_CONNECT and FD_CLOSE come once).
struct SocketEvent {
    long mask = 0;
    bool closeReported = false;
};

class AsyncWatch;

class CMailSocket {
public:
    static constexpr int kBufferSize = 4096;

    CMailSocket();
    ~CMailSocket();
    CMailSocket(const CMailSocket&) = delete;
    CMailSocket& operator=(const CMailSocket&) = delete;

    bool Create(Window* notifyWindow, const char* hostText, std::uint16_t portNumber, int addressFamily,
                int socketType);
    bool Connect();
    int SetNonBlocking(int s = 0);
    int SelectEvents(int s, SocketEvent** event, long mask);
    int DeselectEvents(int s, SocketEvent** event);
    bool CloseEvent(SocketEvent* event);
    int PollEvents(int s, SocketEvent* event, NetworkEvents* record);
    bool AsyncSelect(int s, std::uint32_t msg, long mask);
    int Receive(int s = 0);
    int Send(const char* data, int length, int flags);
    void Close();
    void ErrorText(int code = 0);

    // Resolves a dotted IPv4 address or a host name (first address); on
    // failure returns false with the Windows Sockets number in *error.
    static bool ResolveIPv4(const char* hostText, in_addr* out, int* error);

    // Bytes of the plain connection already taken from the system and not
    // yet handed out by Receive. One system call takes what has arrived (up
    // to kReadAhead); Receive still hands out at most kBufferSize a call.
    bool Buffered() const { return aheadBegin_ < aheadEnd_; }
    static constexpr std::size_t kReadAhead = 64 * 1024;

    std::int32_t backlog = 5;
    char recvBuf[kBufferSize + 1] = {};  // the extra byte is always zero
    std::uint16_t sendTimeout = 0;
    std::uint32_t notifyMsg = 0;
    Window* notifyWnd = nullptr;
    char host[256] = {};
    std::uint16_t port = 0;
    std::int32_t family = 2;  // AF_INET
    std::int32_t type = 1;    // SOCK_STREAM
    std::int32_t connected = 0;
    std::int32_t lastError = 0;
    char errorText[512] = {};
    int sock = -1;
    sockaddr_in addr{};

    // Bounds the send wait when sendTimeout is 0, so a stalled peer cannot
    // hold the program for ever.
    std::chrono::milliseconds sendWaitLimit{60000};

    // TLS on the connected socket. Once the handshake is done, Receive, Send
    // and PollEvents go through it and their callers see plain text.
    bool BeginTls(const std::string& serverName);
    // One step of the handshake, waiting at most a millisecond for the
    // socket: 1 done, 0 not yet, -1 failed (lastError and TlsErrorText say why).
    int ContinueTls();
    TlsChannel* Tls() { return tls_.get(); }
    bool Encrypted() const { return tls_ != nullptr && tls_->Established(); }
    const std::string& TlsErrorText() const { return tlsError_; }

private:
    int Fd(int s) const { return s != 0 ? s : sock; }
    void StopAsync();
    bool PollTls(SocketEvent* event, NetworkEvents* found);
    int ReceiveTls();
    // One non-blocking receive into the read-ahead buffer: the byte count, 0
    // when the peer closed, -1 with errno set.
    ssize_t FillAhead();
    void DropAhead() { aheadBegin_ = aheadEnd_ = 0; }
    int SendTls(const char* data, int length);

    bool connectPending_ = false;  // a non-blocking connect whose outcome is not reported yet
    bool listening_ = false;
    std::unique_ptr<AsyncWatch> async_;
    std::unique_ptr<TlsChannel> tls_;
    bool tlsClosed_ = false;  // the peer's close_notify was read
    std::string tlsError_;
    std::unique_ptr<char[]> ahead_;
    std::size_t aheadBegin_ = 0;
    std::size_t aheadEnd_ = 0;
};

}  // namespace wp
