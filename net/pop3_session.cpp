#include "net/pop3_session.h"
#include "net/capabilities.h"

#include "platform/strings.h"

#include <arpa/inet.h>
#include <md5.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <string_view>
#include <mutex>
#include <thread>
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

// Where a multi-line reply's terminating line ends in `data` (just past
// it), given the reply's last bytes before `data`; npos while it has not come.
std::size_t ReplyEnd(const char* before, std::size_t beforeLength, const char* data, std::size_t size) {
    static constexpr std::string_view kEnd = "\r\n.\r\n";
    // A terminator begun in the bytes before: the earliest start first.
    for (std::size_t k = std::min<std::size_t>(beforeLength, kEnd.size() - 1); k > 0; --k) {
        if (std::string_view(before + beforeLength - k, k) == kEnd.substr(0, k) &&
            size >= kEnd.size() - k && std::string_view(data, kEnd.size() - k) == kEnd.substr(k)) {
            return kEnd.size() - k;
        }
    }
    const std::size_t at = std::string_view(data, size).find(kEnd);
    return at == std::string_view::npos ? at : at + kEnd.size();
}

// Takes the replies that are read only to get past them.
class DiscardingHost final : public SessionHost {
public:
    std::string ResponseFilePath() override { return {}; }
    void AppendCapture(const char*, std::size_t) override {}
    void ProgressAddBytes(int) override {}
    void ClearViewerText() override {}
    void AppendViewerText(const char*, std::size_t, int) override {}
};

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
    ++watchSerial_;
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

bool CPop3Session::IsCurrentCloseNotice(LParam tag) const {
    return idleWatch != 0 && busy == 0 && static_cast<std::uint32_t>(tag) == watchSerial_.load();
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
        ownerWnd_->Post(UM_OPERATIONDONE, 0, static_cast<LParam>(watchSerial_.load()));
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

bool CPop3Session::ResolveHost(in_addr* address, int* error) {
    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool ok = false;
        in_addr address{};
        int error = 0;
    };
    auto lookup = std::make_shared<Lookup>();
    // The thread keeps what it needs: a lookup given up on ends in its own time.
    std::thread([lookup, resolver = resolve, name = std::string(host)] {
        in_addr found{};
        int code = 0;
        bool ok = resolver && resolver(name.c_str(), &found, &code);
        std::lock_guard lock(lookup->mutex);
        lookup->ok = ok;
        lookup->address = found;
        lookup->error = code;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    const Clock::time_point deadline = Clock::now() + inactivityTimeout;
    for (;;) {
        {
            std::unique_lock lock(lookup->mutex);
            if (lookup->done.wait_for(lock, std::chrono::milliseconds(10), [&] { return lookup->finished; })) {
                *address = lookup->address;
                *error = lookup->error;
                return lookup->ok;
            }
        }
        DispatchPendingMessages();
        if (cancel) {
            *error = WSAEINTR;
            return false;
        }
        if (Clock::now() >= deadline) {
            *error = WSATRY_AGAIN;
            return false;
        }
    }
}

bool CPop3Session::LoginTextSendable() {
    for (const char* field : {static_cast<const char*>(loginId), static_cast<const char*>(password)}) {
        if (std::strpbrk(field, "\r\n") != nullptr) {
            PostStatus(IDS_STATUS_LOGIN_TEXT_INVALID);
            return false;
        }
    }
    return true;
}

int CPop3Session::Authenticate() {
    int result = kLoginFailed;
    char line[300];
    int n = 0;
    // The greeting.
    if (Command(nullptr, 0, nullptr) == 0) {
        return result;
    }
    loggedIn = 1;
    DispatchPendingMessages();
    quitDue_ = true;
    if (tlsMode == TlsMode::kStartTls && !StartTls(&result)) {
        return result;
    }
    PostStatus(IDS_STATUS_LOGGING_IN);

    if (useApop == 1) {
        const char* open = std::strchr(socket_.recvBuf, '<');
        const char* close = std::strchr(socket_.recvBuf, '>');
        if (open == nullptr || close == nullptr || open > close) {
            result = kLoginNoApop;
            return result;
        }
        std::size_t stampLength = static_cast<std::size_t>(close - open) + 1;
        std::size_t passLength = std::strlen(password);
        // The digest input is a 256-byte area: a timestamp that leaves no room
        // for the password cannot be used, and is refused like a missing one.
        char input[256] = {};
        if (stampLength + passLength > sizeof input - 1) {
            result = kLoginNoApop;
            return result;
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
            // Only an answer is a refusal; a connection that broke is not.
            result = statusSeen_ ? kLoginUserRefused : kLoginFailed;
            return result;
        }
    } else {
        n = std::snprintf(line, sizeof line, "USER %s\r\n", loginId);
        if (Command(line, n, nullptr) == 0) {
            // Only an answer is a refusal; a connection that broke is not.
            result = statusSeen_ ? kLoginUserRefused : kLoginFailed;
            return result;
        }
        PostStatus(IDS_STATUS_SENDING_PASSWORD);
        DispatchPendingMessages();
        if (cancel) {
            return result;
        }
        n = std::snprintf(line, sizeof line, "PASS %s\r\n", password);
        if (Command(line, n, nullptr) == 0) {
            result = statusSeen_ ? kLoginPassRefused : kLoginFailed;
            return result;
        }
    }
    DispatchPendingMessages();
    if (!cancel) {
        result = kLoginOk;
        if (Encrypted()) {
            PostStatus(IDS_STATUS_LOGGED_IN_ENCRYPTED);
        }
    }

    return result;
}

void CPop3Session::StartLogin() {
    loggedIn = 0;
    ForgetLogin();
    statCount = -1;
    quitDue_ = false;
    detailText_.clear();
    refusedCert_ = {};
}

int CPop3Session::Login() {
    StartLogin();
    int result = kLoginFailed;
    in_addr address{};
    int error = 0;
    Clock::time_point deadline;

    if (!LoginTextSendable()) {
        return kLoginFailed;
    }
    if (!socket_.Create(notifyWnd_.get(), host, port, AF_INET, SOCK_STREAM)) {
        goto end;
    }
    if (!ResolveHost(&address, &error)) {
        if (cancel) {
            goto end;
        }
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
    result = Authenticate();

end:
    return EndLogin(result);
}

int CPop3Session::LoginConnected() {
    StartLogin();
    if (!LoginTextSendable()) {
        socket_.Close();
        return kLoginFailed;
    }
    return EndLogin(Authenticate());
}

int CPop3Session::EndLogin(int result) {
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
    bool queued = false;
    if (!ahead_.empty()) {
        if (text != nullptr && length > 0 && ahead_.front().text == std::string_view(text, static_cast<std::size_t>(length))) {
            queued = true;
        } else {
            // Another command first: the answers already asked for are read
            // and dropped, so this one's is not taken for one of theirs.
            DiscardingHost discard;
            while (!ahead_.empty() && socket_.sock >= 0) {
                const std::string owed = ahead_.front().text;
                Exchange(owed.data(), static_cast<int>(owed.size()), &discard, true);
            }
        }
    }
    std::int16_t result = Exchange(text, length, target, queued);
    busy = 0;
    return result;
}

std::int16_t CPop3Session::Exchange(const char* text, int length, SessionHost* target, bool queued) {
    if (queued) {
        aheadBytes_ -= ahead_.front().expected;
        ahead_.pop_front();
    }
    bytesReceived = 0;
    statusSeen_ = false;
    listing = uidlListing = topping = retrieving = false;
    std::int16_t result = 0;
    SessionHost* sessionHost = target != nullptr ? target : host_;
    FILE* listFile = nullptr;
    const Clock::time_point started = Clock::now();
    // A command used while the connection sat idle takes the socket from the
    // watch; the watch comes back when the reply has been read.
    const bool watched = idleWatch != 0;
    if (watched) {
        ++watchSerial_;
        socket_.AsyncSelect(0, 0, 0);
        idleWatch = 0;
    }

    bool multiLine = false;
    if (text != nullptr && length > 0) {
        multiLine = (StartsWithUpper(text, length, "LIST") && !StartsWithUpper(text, length, "LIST ")) ||
                    StartsWithUpper(text, length, "RETR") || StartsWithUpper(text, length, "TOP") ||
                    (StartsWithUpper(text, length, "UIDL") && !StartsWithUpper(text, length, "UIDL "));
    }
    // CAPA is read like TOP: its lines go to the capture hook.
    multiLine = multiLine || (text != nullptr && StartsWithUpper(text, length, "CAPA"));
    // What the reply may hold after its status line, and by when it must be whole.
    std::uint64_t bodyLimit = 0;
    std::uint64_t lineLimit = UINT64_MAX;
    Clock::time_point deadline = Clock::time_point::max();
    if (!multiLine) {
        deadline = started + inactivityTimeout;
    }
    if (multiLine) {
        if (StartsWithUpper(text, length, "LIST") || StartsWithUpper(text, length, "UIDL")) {
            (StartsWithUpper(text, length, "LIST") ? listing : uidlListing) = true;
            // Without a count, a bound no mailbox reaches.
            const std::uint64_t mails = statCount >= 0 ? static_cast<std::uint64_t>(statCount) : 1000000;
            lineLimit = mails + 1;  // and the terminating "."
            bodyLimit = lineLimit * kListingLineMax;
            deadline = started + 2 * inactivityTimeout + std::chrono::milliseconds(10) * mails;
            std::string path = sessionHost != nullptr ? sessionHost->ResponseFilePath() : std::string();
            if (!path.empty()) {
                // A file that cannot be opened loses the reply's content, not the result.
                listFile = std::fopen(path.c_str(), "wb");
            }
        } else if (StartsWithUpper(text, length, "TOP") || StartsWithUpper(text, length, "CAPA")) {
            topping = true;
            bodyLimit = headerReplyLimit;
            deadline = started + 2 * inactivityTimeout;
        } else {
            retrieving = true;
            // Dot-stuffing at most adds a third; the margin covers a server
            // that counts its size a little differently.
            bodyLimit = retrListedSize_ >= 0
                            ? static_cast<std::uint64_t>(retrListedSize_) * 2 + (std::uint64_t{1} << 20)
                            : retrReplyLimit;
            if (sessionHost != nullptr) {
                sessionHost->ClearViewerText();
            }
        }
    }
    retrListedSize_ = -1;

    // The status line is judged once it is whole, however it was split; of
    // an over-long one the start is kept and the rest read and dropped.
    char status[CMailSocket::kBufferSize + 1];
    int statusLength = 0;
    bool statusDone = false;
    bool complete = false;
    std::uint64_t bodyBytes = 0;
    std::uint64_t bodyLines = 0;
    char tail[4] = {};  // the last bytes of the reply so far, for a terminator split over chunks
    std::size_t tailLength = 0;
    auto keepTail = [&](const char* data, std::size_t size) {
        if (size >= sizeof tail) {
            std::memcpy(tail, data + size - sizeof tail, sizeof tail);
            tailLength = sizeof tail;
            return;
        }
        std::size_t keep = std::min(tailLength, sizeof tail - size);
        std::memmove(tail, tail + tailLength - keep, keep);
        std::memcpy(tail + keep, data, size);
        tailLength = keep + size;
    };
    // The reply was read to its end: what follows is the next one's.
    bool whole = false;
    Clock::time_point lastActivity;
    auto deliver = [&](const char* data, std::size_t size) {
        if (size == 0) {
            return;
        }
        if (listing || uidlListing) {
            if (listFile != nullptr) {
                std::fwrite(data, 1, size, listFile);
            }
        } else if ((topping || retrieving) && sessionHost != nullptr) {
            sessionHost->AppendCapture(data, size);
            if (retrieving) {
                sessionHost->AppendViewerText(data, size, bytesReceived);
            }
        }
    };

    if (text != nullptr) {
        if (length < 0 || length > 255) {
            // Longer commands do not fit the command field; nothing is sent.
            goto finish;
        }
        // A CR, LF or NUL inside would end the command early and make the
        // rest another one: a password must never become "DELE 1".
        if (length > 0) {
            if (length < 2 || std::memcmp(text + length - 2, "\r\n", 2) != 0) {
                goto finish;
            }
            for (int i = 0; i < length - 2; ++i) {
                if (text[i] == '\r' || text[i] == '\n' || text[i] == '\0') {
                    goto finish;
                }
            }
        }
    }
    if (socket_.SelectEvents(0, &event_, FD_READ | FD_CLOSE) != 0) {
        TransportFailure(0);
        goto finish;
    }
    if (text != nullptr) {
        std::memcpy(commandText, text, static_cast<std::size_t>(length));
        commandText[length] = '\0';
        if (!queued && length > 0 && socket_.Send(commandText, length, 0) == 0) {
            TransportFailure(10316);
            goto finish;
        }
    }

    std::memset(socket_.recvBuf, 0, sizeof socket_.recvBuf);
    lastActivity = Clock::now();
    for (;;) {
        // Bytes the socket read ahead need no wait: no yield for them, and
        // messages are dispatched once they are used up, not per piece.
        const bool waited = !socket_.Buffered();
        bool dispatched = false;
        NetworkEvents events;
        int bits = 0;
        int n = -1;
        if (!carry_.empty()) {
            // The start of this reply came behind the end of the last one.
            n = static_cast<int>(carry_.size());
            std::memcpy(socket_.recvBuf, carry_.data(), carry_.size());
            socket_.recvBuf[n] = '\0';
            carry_.clear();
        } else {
            bits = socket_.PollEvents(0, event_, &events);
            if (bits < 0) {
                TransportFailure(0);
                result = 0;
                goto finish;
            }
            if (bits & FD_READ) {
                if (waited) {
                    YieldProcessor();
                }
                socket_.lastError = 0;
                std::memset(socket_.recvBuf, 0, sizeof socket_.recvBuf);
                n = socket_.Receive(0);
                if (n < 0 && socket_.lastError != WSAEWOULDBLOCK) {
                    TransportFailure(10317);
                    result = 0;
                    goto finish;
                }
            }
        }
        if (n >= 0) {
            lastActivity = Clock::now();
            if (!socket_.Buffered()) {
                DispatchPendingMessages();
                dispatched = true;
            }
            const char* chunk = socket_.recvBuf;
            std::size_t size = static_cast<std::size_t>(n);
            std::size_t used = 0;  // bytes of this chunk that belong to the status line
            // Bytes behind the end of this reply: the next reply's, when one is owed.
            auto endsAt = [&](std::size_t end) {
                whole = true;
                if (end < size && !ahead_.empty()) {
                    carry_.assign(chunk + end, size - end);
                    size = end;
                }
            };

            if (!statusDone) {
                // memchr, not a string search: a NUL must not hide the line end.
                const char* lf = static_cast<const char*>(std::memchr(chunk, '\n', size));
                used = lf != nullptr ? static_cast<std::size_t>(lf - chunk) + 1 : size;
                std::size_t room = sizeof status - 1 - static_cast<std::size_t>(statusLength);
                std::size_t take = used < room ? used : room;
                std::memcpy(status + statusLength, chunk, take);
                statusLength += static_cast<int>(take);
                status[statusLength] = '\0';
                keepTail(chunk, used);
                if (lf != nullptr) {
                    statusDone = true;
                    statusSeen_ = true;
                    if (StartsWith(status, static_cast<std::size_t>(statusLength), "+OK")) {
                        result = 1;
                        if (multiLine) {
                            deliver(status, static_cast<std::size_t>(statusLength));
                            if (take < used) {
                                deliver("\r\n", 2);  // the cut line still ends as a line
                            }
                        }
                    } else {
                        result = 0;
                        complete = true;
                        if (queued || !ahead_.empty()) {
                            if (!StartsWith(status, static_cast<std::size_t>(statusLength), "-ERR")) {
                                // Neither answer: whose reply this is cannot be told.
                                TransportFailure(10317);
                                goto finish;
                            }
                            // The answers already asked for are still read;
                            // nothing more goes out ahead of its turn.
                            pipelineStopped_ = true;
                        }
                    }
                    if (!multiLine || complete) {
                        endsAt(used);
                    }
                }
            }
            if (!multiLine) {
                bytesReceived += static_cast<int>(size);
                if (statusDone) {
                    // Callers read a single-line reply from the receive buffer.
                    std::memcpy(socket_.recvBuf, status, static_cast<std::size_t>(statusLength) + 1);
                    goto finish;
                }
                if (n == 0) {
                    goto finish;
                }
                continue;
            }
            if (complete) {
                bytesReceived += static_cast<int>(size);
                goto finish;  // "-ERR": no multi-line reply follows
            }
            if (n == 0) {
                goto finish;
            }
            const char* body = chunk + used;
            std::size_t bodySize = size - used;
            if (statusDone) {
                const std::size_t end = ReplyEnd(tail, tailLength, body, bodySize);
                if (end != std::string_view::npos) {
                    endsAt(used + end);
                    bodySize = end;
                }
            }
            bytesReceived += static_cast<int>(size);
            bodyBytes += bodySize;
            for (const char* p = body; (p = static_cast<const char*>(std::memchr(
                                            p, '\n', static_cast<std::size_t>(body + bodySize - p)))) != nullptr;
                 ++p) {
                ++bodyLines;
            }
            if (bodyBytes > bodyLimit || bodyLines > lineLimit) {
                // Not the reply this command can have: what follows is
                // unknown, so the connection goes with it.
                TransportFailure(10317);
                result = 0;
                goto finish;
            }
            deliver(body, bodySize);
            if ((topping || retrieving) && sessionHost != nullptr) {
                sessionHost->ProgressAddBytes(static_cast<int>(size));
            }
            if (whole) {
                listing = uidlListing = topping = retrieving = false;
                complete = true;
                goto finish;
            }
            keepTail(body, bodySize);
            if (cancel) {
                // The rest of the reply would be read as the next one's.
                socket_.Close();
                result = 0;
                goto finish;
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
        if (!dispatched && !socket_.Buffered()) {
            DispatchPendingMessages();
        }
        // A short answer already asked for is waited for even after a
        // cancel: it may have been acted on, and the next reply is behind it.
        if (cancel && (multiLine || !queued)) {
            if (multiLine) {
                socket_.Close();  // the rest would be read as the next reply
            }
            result = 0;
            goto finish;
        }
        const Clock::time_point now = Clock::now();
        if (now - lastActivity >= inactivityTimeout || now >= deadline) {
            TransportFailure(10317);
            result = 0;
            goto finish;
        }
    }

finish:
    if (listFile != nullptr) {
        std::fclose(listFile);
    }
    if (!whole && (queued || !ahead_.empty()) && socket_.sock >= 0) {
        // Where this reply ends is not known: neither can the next one's start be.
        socket_.Close();
    }
    if (socket_.sock < 0) {
        ForgetAhead();
    }
    ReleaseEvent();
    if (watched && socket_.sock >= 0) {
        ++watchSerial_;
        idleWatch = 1;
        socket_.AsyncSelect(0, UM_SOCKETNOTIFY, FD_READ | FD_CLOSE);
    }
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

int CPop3Session::Stat(SessionHost* target) {
    statCount = -1;
    int result = SimpleCommand(*this, "STAT\r\n", target);
    if (result == 1) {
        // "+OK count size": the count bounds the listings that follow.
        const char* p = reply + 3;
        while (*p == ' ') {
            ++p;
        }
        std::int64_t count = 0;
        bool digits = false;
        while (*p >= '0' && *p <= '9' && count <= INT32_MAX) {
            count = count * 10 + (*p++ - '0');
            digits = true;
        }
        if (digits && count <= INT32_MAX) {
            statCount = static_cast<std::int32_t>(count);
        }
    }
    return result;
}
int CPop3Session::List(SessionHost* target) { return SimpleCommand(*this, "LIST\r\n", target); }
int CPop3Session::Uidl(SessionHost* target) { return SimpleCommand(*this, "UIDL\r\n", target); }
int CPop3Session::Top(int messageNumber) { return NumberedCommand(*this, "TOP %d 0\r\n", messageNumber, nullptr); }
int CPop3Session::Dele(int messageNumber) { return NumberedCommand(*this, "DELE %d\r\n", messageNumber, nullptr); }
int CPop3Session::Retr(int messageNumber, SessionHost* target, std::int64_t listedSize) {
    retrListedSize_ = listedSize;
    return NumberedCommand(*this, "RETR %d\r\n", messageNumber, target);
}

bool CPop3Session::Offers(const char* capability) {
    if (!capabilitiesAsked_) {
        if (loggedIn == 0 || socket_.sock < 0) {
            return false;
        }
        capabilitiesAsked_ = true;
        CapabilityCapture capture;
        // A server that refuses CAPA has no capabilities; nothing else changes.
        if (Command("CAPA\r\n", 6, &capture) == 1) {
            capabilities_ = std::move(capture.text);
        }
    }
    return CapabilityListed(capabilities_, capability);
}

bool CPop3Session::Pipelines() {
    return pipelining && !pipelineStopped_ && loggedIn != 0 && Offers("PIPELINING");
}

bool CPop3Session::RoomAhead(std::uint64_t expectedReply) const {
    if (pipelineStopped_ || socket_.sock < 0 || ahead_.size() >= pipelineDepth) {
        return false;
    }
    return ahead_.empty() || aheadBytes_ + expectedReply <= pipelineBytes;
}

bool CPop3Session::SendAhead(const char* text, int length, std::uint64_t expectedReply) {
    if (text == nullptr || length < 2 || length > 255 || std::memcmp(text + length - 2, "\r\n", 2) != 0 ||
        std::memchr(text, '\0', static_cast<std::size_t>(length)) != nullptr ||
        std::find_if(text, text + length - 2, [](char c) { return c == '\r' || c == '\n'; }) != text + length - 2) {
        return false;
    }
    std::int32_t expected = 0;
    if (cancel != 0 || idleWatch != 0 || !RoomAhead(expectedReply) || !busy.compare_exchange_strong(expected, 1)) {
        return false;
    }
    bool sent = socket_.Send(text, length, 0) != 0;
    if (sent) {
        ahead_.push_back({std::string(text, static_cast<std::size_t>(length)), expectedReply});
        aheadBytes_ += expectedReply;
    } else {
        // What part of it went out is unknown: the connection cannot be used.
        TransportFailure(10316);
        ForgetAhead();
    }
    busy = 0;
    return sent;
}

void CPop3Session::ForgetAhead() {
    ahead_.clear();
    aheadBytes_ = 0;
    carry_.clear();
}

void CPop3Session::ForgetLogin() {
    ForgetAhead();
    capabilities_.clear();
    capabilitiesAsked_ = false;
    pipelineStopped_ = false;
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
