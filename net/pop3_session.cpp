#include "net/pop3_session.h"

#include "platform/strings.h"

#include <arpa/inet.h>
#include <md5.h>
#include <sys/socket.h>

#include <cctype>
#include <cstring>

namespace wp {

using namespace wsa;
using Clock = std::chrono::steady_clock;

namespace {

bool StartsWithUpper(const char* text, int length, const char* prefix) {
    int n = static_cast<int>(std::strlen(prefix));
    if (length < n) {
        return false;
    }
    for (int i = 0; i < n; ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

bool StartsWith(const char* data, std::size_t length, const char* prefix) {
    std::size_t n = std::strlen(prefix);
    return length >= n && std::memcmp(data, prefix, n) == 0;
}

// Copies text into a fixed field, cut to fit and always terminated.
template <std::size_t N>
void CopyField(char (&field)[N], const char* text) {
    std::memset(field, 0, N);
    if (text != nullptr) {
        std::strncpy(field, text, N - 1);
    }
}

}  // namespace

CPop3Session::CPop3Session(CMailSocket& socket) : socket_(socket) {}

CPop3Session::~CPop3Session() {
    if (idleWatch) {
        socket_.AsyncSelect(0, 0, 0);
        idleWatch = 0;
    }
    ReleaseEvent();
    if (notifyWnd_) {
        RunOnUiThread([&] { notifyWnd_.reset(); });
    }
    ownerWnd_ = nullptr;
}

void CPop3Session::SetLogin(const char* hostText, std::uint16_t portNumber, const char* login,
                            const char* pass, std::int32_t apop) {
    CopyField(host, hostText);
    port = portNumber;
    CopyField(loginId, login);
    CopyField(password, pass);
    useApop = apop;
}

bool CPop3Session::Prepare(Window* owner, SessionHost* sessionHost) {
    if (owner == nullptr) {
        return false;
    }
    reply[0] = '\0';
    cancel = 0;
    ReleaseEvent();
    SetIdleWatch(false);
    ownerWnd_ = owner;
    host_ = sessionHost;
    if (!notifyWnd_) {
        RunOnUiThread([&] { notifyWnd_ = MakeQtWindow(*this); });
    }
    return notifyWnd_ != nullptr;
}

bool CPop3Session::SetIdleWatch(bool on) {
    bool previous = idleWatch != 0;
    if (previous == on) {
        return previous;
    }
    if (on) {
        // The flag goes up before the watch is armed: a close that is already
        // there is reported at once, and a report that found the flag down
        // would be dropped as one of a connection in use.
        idleWatch = 1;
        if (socket_.sock >= 0) {
            socket_.AsyncSelect(0, UM_SOCKETNOTIFY, FD_READ | FD_CLOSE);
        }
    } else {
        socket_.AsyncSelect(0, 0, 0);
        idleWatch = 0;
    }
    return previous;
}

LResult CPop3Session::HandleMessage(std::uint32_t msg, WParam, LParam lParam) {
    if (msg != UM_SOCKETNOTIFY) {
        return 0;
    }
    // A notification that arrives after the watch ended belongs to a
    // connection that is in use again: reading it would eat a reply.
    if (!idleWatch || busy) {
        return 0;
    }
    if (LoWord(static_cast<std::uintptr_t>(lParam)) == FD_CLOSE && ownerWnd_ != nullptr) {
        ownerWnd_->Post(UM_OPERATIONDONE, 0, 0);
    }
    std::memset(socket_.recvBuf, 0, sizeof socket_.recvBuf);
    socket_.Receive();
    return 0;
}

void CPop3Session::PostStatus(int id) {
    if (ownerWnd_ != nullptr) {
        ownerWnd_->Post(UM_STATUSTEXT, static_cast<WParam>(id), 0);
    }
}

void CPop3Session::ReleaseEvent() {
    if (event_ != nullptr) {
        SocketEvent* event = event_;
        socket_.DeselectEvents(0, &event_);
        socket_.CloseEvent(event);
        event_ = nullptr;
    }
}

void CPop3Session::TransportFailure(int stageTextId) {
    const char* stage = nullptr;
    if (stageTextId == 10316) {
        stage = "コマンド送信エラー";
    } else if (stageTextId == 10317) {
        stage = "コマンド応答データ受信エラー";
    }
    detailText_.clear();
    if (stage != nullptr) {
        const std::string& format = Sjis("エラー：%s");
        detailText_ = format.substr(0, format.find("%s")) + Sjis(stage);
    }
    socket_.Close();
}

bool CPop3Session::SendQuitIfDue() {
    if (!quitDue_) {
        return false;
    }
    quitDue_ = false;
    Command("QUIT\r\n", 6, nullptr);
    return true;
}

int CPop3Session::Login() {
    loggedIn = 0;
    quitDue_ = false;
    detailText_.clear();
    refusedCert_ = {};
    int result = kLoginFailed;
    char line[300];
    int n = 0;
    in_addr address{};
    int error = 0;
    Clock::time_point deadline;

    if (!socket_.Create(notifyWnd_.get(), host, port, AF_INET, SOCK_STREAM)) {
        goto end;
    }
    if (!CMailSocket::ResolveIPv4(host, &address, &error)) {
        socket_.lastError = error;
        socket_.ErrorText(error);
        {
            const std::string& format = Sjis("エラー：%s [%d]\n%s");
            char detail[1024];
            std::string f = format;
            // The format has two %s and one %d: the host, the code and the system's text.
            std::snprintf(detail, sizeof detail, f.c_str(), host, error, socket_.errorText);
            detailText_ = detail;
        }
        goto end;
    }
    inet_ntop(AF_INET, &address, socket_.host, sizeof socket_.host);

    PostStatus(IDS_STATUS_CONNECTING);

    std::memset(socket_.recvBuf, 0, sizeof socket_.recvBuf);
    if (socket_.SelectEvents(0, &event_, FD_ACCEPT | FD_CONNECT | FD_CLOSE) != 0) {
        goto end;
    }
    socket_.SetNonBlocking(0);
    DispatchPendingMessages();
    if (cancel) {
        goto end;
    }
    if (!socket_.Connect()) {
        if (socket_.lastError != WSAEWOULDBLOCK) {
            goto end;
        }
        deadline = Clock::now() + inactivityTimeout;
        for (;;) {
            DispatchPendingMessages();
            if (cancel) {
                goto end;
            }
            NetworkEvents events;
            int bits = socket_.PollEvents(0, event_, &events);
            if (bits < 0) {
                goto end;
            }
            if (bits & (FD_CONNECT | FD_ACCEPT)) {
                if (events.errorCode[FD_CONNECT_BIT] != 0) {
                    socket_.lastError = events.errorCode[FD_CONNECT_BIT];
                    goto end;
                }
                break;
            }
            if (Clock::now() >= deadline) {
                socket_.lastError = WSAETIMEDOUT;
                goto end;
            }
        }
    }

    if (tlsMode == TlsMode::kTls && !SecureChannel(&result)) {
        goto end;
    }

    // The greeting.
    if (Command(nullptr, 0, nullptr) == 0) {
        goto end;
    }
    loggedIn = 1;
    DispatchPendingMessages();
    quitDue_ = true;
    if (tlsMode == TlsMode::kStartTls && !StartTls(&result)) {
        goto end;
    }
    PostStatus(IDS_STATUS_LOGGING_IN);

    if (useApop == 1) {
        const char* open = std::strchr(socket_.recvBuf, '<');
        const char* close = std::strchr(socket_.recvBuf, '>');
        if (open == nullptr || close == nullptr || open > close) {
            result = kLoginNoApop;
            goto end;
        }
        std::size_t stampLength = static_cast<std::size_t>(close - open) + 1;
        std::size_t passLength = std::strlen(password);
        // The digest input is a 256-byte area: a timestamp that leaves no room
        // for the password cannot be used, and is refused like a missing one.
        char input[256] = {};
        if (stampLength + passLength > sizeof input - 1) {
            result = kLoginNoApop;
            goto end;
        }
        std::memcpy(input, open, stampLength);
        std::memcpy(input + stampLength, password, passLength);
        MD5_CTX context;
        MD5Init(&context);
        MD5Update(&context, reinterpret_cast<const unsigned char*>(input), stampLength + passLength);
        unsigned char digest[16];
        MD5Final(digest, &context);
        char hex[33];
        for (int i = 0; i < 16; ++i) {
            std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        }
        n = std::snprintf(line, sizeof line, "APOP %s %s\r\n", loginId, hex);
        if (Command(line, n, nullptr) == 0) {
            result = kLoginUserRefused;
            goto end;
        }
    } else {
        n = std::snprintf(line, sizeof line, "USER %s\r\n", loginId);
        if (Command(line, n, nullptr) == 0) {
            result = kLoginUserRefused;
            goto end;
        }
        PostStatus(IDS_STATUS_SENDING_PASSWORD);
        DispatchPendingMessages();
        if (cancel) {
            goto end;
        }
        n = std::snprintf(line, sizeof line, "PASS %s\r\n", password);
        if (Command(line, n, nullptr) == 0) {
            result = kLoginPassRefused;
            goto end;
        }
    }
    DispatchPendingMessages();
    if (!cancel) {
        result = kLoginOk;
        if (Encrypted()) {
            PostStatus(IDS_STATUS_LOGGED_IN_ENCRYPTED);
        }
    }

end:
    ReleaseEvent();
    if (result == kLoginOk) {
        return result;
    }
    if (cancel) {
        // A login the user stopped was not refused, whatever its last reply
        // said: no "password refused" box may follow it.
        result = kLoginFailed;
        SendQuitIfDue();
        PostStatus(IDS_STATUS_CANCELLED);
    } else if (result == kLoginUserRefused || result == kLoginPassRefused) {
        SendQuitIfDue();
        PostStatus(IDS_LOGIN_REFUSED);
    } else if (result == kLoginNoApop) {
        SendQuitIfDue();
        PostStatus(IDS_STATUS_NO_APOP);
    } else {
        PostStatus(IDS_STATUS_CONNECT_FAILED);
    }
    socket_.Close();
    return result;
}

std::int16_t CPop3Session::Command(const char* text, int length, SessionHost* target) {
    std::int32_t expected = 0;
    if (!busy.compare_exchange_strong(expected, 1)) {
        return 2;
    }
    bytesReceived = 0;
    listing = uidlListing = topping = retrieving = false;
    std::int16_t result = 0;
    SessionHost* sessionHost = target != nullptr ? target : host_;
    FILE* listFile = nullptr;

    bool multiLine = false;
    if (text != nullptr && length > 0) {
        multiLine = (StartsWithUpper(text, length, "LIST") && !StartsWithUpper(text, length, "LIST ")) ||
                    StartsWithUpper(text, length, "RETR") || StartsWithUpper(text, length, "TOP") ||
                    (StartsWithUpper(text, length, "UIDL") && !StartsWithUpper(text, length, "UIDL "));
    }
    // CAPA is read like TOP: its lines go to the capture hook.
    multiLine = multiLine || (text != nullptr && StartsWithUpper(text, length, "CAPA"));
    if (multiLine) {
        if (StartsWithUpper(text, length, "LIST") || StartsWithUpper(text, length, "UIDL")) {
            (StartsWithUpper(text, length, "LIST") ? listing : uidlListing) = true;
            std::string path = sessionHost != nullptr ? sessionHost->ResponseFilePath() : std::string();
            if (!path.empty()) {
                // A file that cannot be opened loses the reply's content, not the result.
                listFile = std::fopen(path.c_str(), "wb");
            }
        } else if (StartsWithUpper(text, length, "TOP") || StartsWithUpper(text, length, "CAPA")) {
            topping = true;
        } else {
            retrieving = true;
            if (sessionHost != nullptr) {
                sessionHost->ClearViewerText();
            }
        }
    }

    // The status line is judged once it is whole, however it was split.
    char status[CMailSocket::kBufferSize + 1];
    int statusLength = 0;
    bool statusDone = false;
    bool complete = false;
    char tail[4] = {};  // the last bytes received, for a terminator split over chunks
    int tailLength = 0;
    Clock::time_point lastActivity;

    if (socket_.SelectEvents(0, &event_, FD_READ | FD_CLOSE) != 0) {
        TransportFailure(0);
        goto finish;
    }
    if (text != nullptr) {
        if (length < 0 || length > 255) {
            // Longer commands do not fit the command field; nothing is sent.
            goto finish;
        }
        std::memcpy(commandText, text, static_cast<std::size_t>(length));
        commandText[length] = '\0';
        if (length > 0 && socket_.Send(commandText, length, 0) == 0) {
            TransportFailure(10316);
            goto finish;
        }
    }

    std::memset(socket_.recvBuf, 0, sizeof socket_.recvBuf);
    lastActivity = Clock::now();
    for (;;) {
        NetworkEvents events;
        int bits = socket_.PollEvents(0, event_, &events);
        if (bits < 0) {
            TransportFailure(0);
            result = 0;
            goto finish;
        }
        if (bits & FD_READ) {
            YieldProcessor();
            socket_.lastError = 0;
            std::memset(socket_.recvBuf, 0, sizeof socket_.recvBuf);
            int n = socket_.Receive(0);
            if (n < 0 && socket_.lastError != WSAEWOULDBLOCK) {
                TransportFailure(10317);
                result = 0;
                goto finish;
            }
            if (n >= 0) {
                lastActivity = Clock::now();
                bytesReceived += n;
                DispatchPendingMessages();
                const char* chunk = socket_.recvBuf;
                std::size_t size = static_cast<std::size_t>(n);

                if (!statusDone) {
                    std::size_t room = sizeof status - 1 - static_cast<std::size_t>(statusLength);
                    std::size_t take = size < room ? size : room;
                    std::memcpy(status + statusLength, chunk, take);
                    statusLength += static_cast<int>(take);
                    status[statusLength] = '\0';
                    if (std::strstr(status, "\r\n") != nullptr ||
                        statusLength >= static_cast<int>(sizeof status - 1) || n == 0) {
                        statusDone = true;
                        if (StartsWith(status, static_cast<std::size_t>(statusLength), "+OK")) {
                            result = 1;
                        } else if (StartsWith(status, static_cast<std::size_t>(statusLength), "-ERR")) {
                            result = 0;
                            complete = true;
                        }
                    }
                }
                if (!multiLine) {
                    if (statusDone) {
                        // Callers read a single-line reply from the receive buffer.
                        std::memcpy(socket_.recvBuf, status, static_cast<std::size_t>(statusLength) + 1);
                        complete = true;
                        goto finish;
                    }
                    if (n == 0) {
                        goto finish;
                    }
                    continue;
                }
                if (complete) {
                    goto finish;  // "-ERR": no multi-line reply follows
                }
                if (n == 0) {
                    goto finish;
                }
                if (listing || uidlListing) {
                    if (listFile != nullptr) {
                        std::fwrite(chunk, 1, size, listFile);
                    }
                } else if (topping || retrieving) {
                    if (sessionHost != nullptr) {
                        sessionHost->AppendCapture(chunk, size);
                        sessionHost->ProgressAddBytes(n);
                        if (retrieving) {
                            sessionHost->AppendViewerText(chunk, size, bytesReceived);
                        }
                    }
                    if (cancel) {
                        result = 0;
                        goto finish;
                    }
                }
                // Complete when everything received ends with CR LF "." CR LF.
                char joined[8];
                std::size_t keep = size >= 5 ? 0 : static_cast<std::size_t>(tailLength);
                std::memcpy(joined, tail + (tailLength - static_cast<int>(keep)), keep);
                std::size_t add = size < 5 ? size : 5;
                std::memcpy(joined + keep, chunk + size - add, add);
                std::size_t joinedLength = keep + add;
                if (joinedLength >= 5 && std::memcmp(joined + joinedLength - 5, "\r\n.\r\n", 5) == 0) {
                    listing = uidlListing = topping = retrieving = false;
                    complete = true;
                    goto finish;
                }
                tailLength = joinedLength >= 4 ? 4 : static_cast<int>(joinedLength);
                std::memcpy(tail, joined + joinedLength - static_cast<std::size_t>(tailLength),
                            static_cast<std::size_t>(tailLength));
            }
        }
        if (bits & FD_CLOSE) {
            // The server went away. A reply cut short is no success, and the
            // connection is gone for whatever comes next.
            if (!complete) {
                result = 0;
            }
            socket_.Close();
            goto finish;
        }
        DispatchPendingMessages();
        if (cancel && !(listing || uidlListing || topping || retrieving)) {
            result = 0;
            goto finish;
        }
        if (Clock::now() - lastActivity >= inactivityTimeout) {
            TransportFailure(10317);
            result = 0;
            goto finish;
        }
    }

finish:
    if (listFile != nullptr) {
        std::fclose(listFile);
    }
    ReleaseEvent();
    busy = 0;
    return result;
}

int CPop3Session::Noop(SessionHost* target) {
    if (loggedIn == 0) {
        return 0;
    }
    reply[0] = '\0';
    std::int16_t r = Command("NOOP\r\n", 6, target);
    if (r == 2) {
        return 2;
    }
    if (r == 0) {
        return 0;
    }
    std::memcpy(reply, socket_.recvBuf, sizeof reply);
    reply[sizeof reply - 1] = '\0';
    return 1;
}

namespace {

int SimpleCommand(CPop3Session& session, const char* text, SessionHost* target) {
    session.reply[0] = '\0';
    // Busy means nothing was sent: no reply to report.
    if (session.Command(text, static_cast<int>(std::strlen(text)), target) != 1) {
        return 0;
    }
    std::memcpy(session.reply, session.Socket().recvBuf, sizeof session.reply);
    session.reply[sizeof session.reply - 1] = '\0';
    return 1;
}

int NumberedCommand(CPop3Session& session, const char* format, int number, SessionHost* target) {
    char text[64];
    int n = std::snprintf(text, sizeof text, format, number);
    session.reply[0] = '\0';
    session.bytesReceived = 0;
    if (session.Command(text, n, target) != 1) {
        return 0;
    }
    return session.bytesReceived;
}

}  // namespace

int CPop3Session::Stat(SessionHost* target) { return SimpleCommand(*this, "STAT\r\n", target); }
int CPop3Session::List(SessionHost* target) { return SimpleCommand(*this, "LIST\r\n", target); }
int CPop3Session::Uidl(SessionHost* target) { return SimpleCommand(*this, "UIDL\r\n", target); }
int CPop3Session::Top(int messageNumber) { return NumberedCommand(*this, "TOP %d 0\r\n", messageNumber, nullptr); }
int CPop3Session::Dele(int messageNumber) { return NumberedCommand(*this, "DELE %d\r\n", messageNumber, nullptr); }
int CPop3Session::Retr(int messageNumber, SessionHost* target) {
    return NumberedCommand(*this, "RETR %d\r\n", messageNumber, target);
}

int CPop3Session::Quit(bool sendQuit) {
    int result = 1;
    if (sendQuit) {
        result = Command("QUIT\r\n", 6, nullptr) != 0 ? 1 : 0;
    }
    quitDue_ = false;
    socket_.Close();
    return result;
}

}  // namespace wp
