// The TLS half of CMailSocket: the same non-blocking contract as the plain
// socket, so the session's waits, cancel and time-out work unchanged.

#include "net/mail_socket.h"

#include "platform/winsock.h"

#include <poll.h>

#include <cerrno>

namespace wp {

using namespace wsa;

bool CMailSocket::BeginTls(const std::string& serverName) {
    tlsError_.clear();
    tlsClosed_ = false;
    if (sock < 0) {
        lastError = WSAENOTSOCK;
        return false;
    }
    if (Buffered()) {
        // Clear text read before the handshake is nobody's to trust.
        lastError = WSAECONNABORTED;
        return false;
    }
    tls_ = TlsChannel::Create(sock, serverName, &tlsError_);
    if (!tls_) {
        lastError = WSAEINVAL;
        return false;
    }
    return true;
}

int CMailSocket::ContinueTls() {
    if (!tls_) {
        lastError = WSAENOTSOCK;
        return -1;
    }
    TlsChannel::Step step = tls_->Handshake();
    if (step == TlsChannel::Step::kDone) {
        return 1;
    }
    if (step == TlsChannel::Step::kFailed) {
        tlsError_ = tls_->ErrorText();
        lastError = WSAECONNABORTED;
        return -1;
    }
    pollfd p{sock, static_cast<short>(step == TlsChannel::Step::kWantWrite ? POLLOUT : POLLIN), 0};
    if (poll(&p, 1, 1) > 0 && (p.revents & (POLLERR | POLLNVAL))) {
        // Let the next step read the failure from the socket itself.
        if (p.revents & POLLNVAL) {
            lastError = WSAENOTSOCK;
            return -1;
        }
    }
    return 0;
}

bool CMailSocket::PollTls(SocketEvent* event, NetworkEvents* found) {
    // Plain text already decrypted waits in the channel, not in the socket.
    if ((event->mask & FD_READ) && tls_->HasPending()) {
        found->networkEvents |= FD_READ;
        return true;
    }
    if (tlsClosed_) {
        if ((event->mask & FD_CLOSE) && !event->closeReported) {
            event->closeReported = true;
            found->networkEvents |= FD_CLOSE;
        }
        return true;
    }
    return false;
}

int CMailSocket::ReceiveTls() {
    int total = 0;
    TlsChannel::Step step = TlsChannel::Step::kDone;
    while (total < kBufferSize) {
        int n = tls_->Read(recvBuf + total, kBufferSize - total, &step);
        if (n <= 0) {
            break;
        }
        total += n;
    }
    recvBuf[total] = '\0';
    recvBuf[kBufferSize] = '\0';
    if (step == TlsChannel::Step::kClosed) {
        tlsClosed_ = true;
    }
    if (total > 0) {
        return total;
    }
    // Handshake records and session tickets carry no text: nothing to read
    // yet, as with a plain socket that would block.
    lastError = step == TlsChannel::Step::kFailed ? WSAECONNABORTED : WSAEWOULDBLOCK;
    return -1;
}

int CMailSocket::SendTls(const char* data, int length) {
    int sent = 0;
    int limit = sendTimeout != 0 ? sendTimeout * 1000 : static_cast<int>(sendWaitLimit.count());
    while (sent < length) {
        TlsChannel::Step step = TlsChannel::Step::kDone;
        int n = tls_->Write(data + sent, length - sent, &step);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (step != TlsChannel::Step::kWantRead && step != TlsChannel::Step::kWantWrite) {
            lastError = WSAECONNABORTED;
            break;
        }
        pollfd p{sock, static_cast<short>(step == TlsChannel::Step::kWantWrite ? POLLOUT : POLLIN), 0};
        int rc = poll(&p, 1, limit);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0) {
            lastError = rc == 0 ? WSAETIMEDOUT : FromErrno(errno);
            break;
        }
    }
    return sent;
}

}  // namespace wp
