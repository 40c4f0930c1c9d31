#pragma once
// The POP3 client (RFC 1939 with APOP): one session for the whole run,
// driving the program's one socket.

#include "net/mail_socket.h"
#include "net/session_host.h"
#include "platform/messages.h"
#include "platform/string_table.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace wp {

// Login results.
inline constexpr int kLoginOk = 1;
inline constexpr int kLoginFailed = 0;     // connection failed or cancelled
inline constexpr int kLoginUserRefused = 2;
inline constexpr int kLoginPassRefused = 3;
inline constexpr int kLoginNoApop = 4;     // APOP asked for, greeting without timestamp
inline constexpr int kLoginCertRefused = 5;  // the server's certificate was not accepted


class CPop3Session : private MessageHandler {
public:
    explicit CPop3Session(CMailSocket& socket);
    ~CPop3Session() override;
    CPop3Session(const CPop3Session&) = delete;
    CPop3Session& operator=(const CPop3Session&) = delete;

    // Once per operation, on the user-interface thread: owner is the main
    // frame's window (receiver of status texts and completion codes), host
    // its cache and viewer hooks.
    bool Prepare(Window* owner, SessionHost* host);
    bool SetIdleWatch(bool on);
    // A "closed by server" notice carries the watch it came from; one from a
    // watch that has ended since is stale and must be ignored (the socket
    // may be in use by a new operation).
    bool IsCurrentCloseNotice(LParam tag) const;
    int Login();
    // The login over a socket the caller connected (Socket().sock): the
    // greeting on. For tests and the fuzzer, which drive the session
    // through one end of a socket pair.
    int LoginConnected();
    // 1 "+OK", 0 failure / "-ERR" / cancelled, 2 busy (nothing sent).
    std::int16_t Command(const char* text, int length, SessionHost* target);
    int Noop(SessionHost* target = nullptr);
    int Stat(SessionHost* target = nullptr);
    int List(SessionHost* target = nullptr);
    int Uidl(SessionHost* target = nullptr);
    int Top(int messageNumber);
    int Dele(int messageNumber);
    // listedSize: the size LIST gave the mail (bounds the reply); -1 unknown.
    int Retr(int messageNumber, SessionHost* target = nullptr, std::int64_t listedSize = -1);
    int Quit(bool sendQuit);
    void PostStatus(int id);

    // Fills the login block (bounded copies; over-long values are cut).
    void SetLogin(const char* hostText, std::uint16_t portNumber, const char* login, const char* pass,
                  std::int32_t apop);

    // How the connection is protected, and the certificate the user chose to
    // trust for this account (all zero: none).
    void SetSecurity(TlsMode mode, const Fingerprint& pinned);
    TlsMode tlsMode = TlsMode::kNone;
    Fingerprint pinnedCert{};
    // After kLoginCertRefused: the certificate the server showed.
    const Fingerprint& RefusedFingerprint() const { return refusedCert_; }
    bool Encrypted() const { return socket_.Encrypted(); }

    std::atomic<std::int32_t> busy{0};
    std::int32_t bytesReceived = 0;
    char host[256] = {};
    std::uint16_t port = 0;
    char loginId[40] = {};
    char password[40] = {};
    std::int32_t useApop = 0;
    char commandText[512] = {};
    char reply[CMailSocket::kBufferSize + 1] = {};
    std::atomic<std::int16_t> cancel{0};
    Window* frameWnd = nullptr;
    std::int32_t loggedIn = 0;
    std::atomic<std::int32_t> idleWatch{0};

    // Reply kinds being read.
    bool listing = false;
    bool uidlListing = false;
    bool topping = false;
    bool retrieving = false;

    // No byte for this long ends a connect or reply wait as a transport
    // failure, so a stalled server cannot hang the program.
    std::chrono::milliseconds inactivityTimeout{60000};

    // The count of the last STAT on this connection (-1: none). A LIST or
    // UIDL reply has one line per mail: more lines, or more bytes than such
    // lines can hold, is no listing, and so is one that outlasts its deadline.
    std::int32_t statCount = -1;
    static constexpr std::size_t kListingLineMax = 1024;
    // A TOP reply longer than this is no header block; a RETR of unknown
    // size is cut off at the other.
    std::size_t headerReplyLimit = std::size_t{4} << 20;
    std::size_t retrReplyLimit = std::size_t{256} << 20;

    // Pipelining (RFC 2449): with PIPELINING among the server's capabilities
    // the next commands may go out before the answers to those before them.
    // The answers are read in order by the same calls as one at a time
    // (Top, Dele, Retr, Command with the same text); another command first
    // reads and drops the answers still owed. An "-ERR" in the middle stops
    // further sending ahead; an answer that is neither "+OK" nor "-ERR"
    // ends the connection, as no later reply could be told from another.
    bool pipelining = true;
    std::size_t pipelineDepth = 128;                    // commands ahead at most
    std::uint64_t pipelineBytes = std::uint64_t{1} << 20;  // replies expected of them, at most
    // Asks CAPA once per login (after it: capabilities learnt in clear
    // before STLS are not to be trusted) and whether it names this one.
    bool Offers(const char* capability);
    // Sending ahead is allowed and wanted on this login.
    bool Pipelines();
    // Another command of about this reply size may go out ahead now.
    bool RoomAhead(std::uint64_t expectedReply) const;
    // Sends a command whose answer is read later; false when it was not sent.
    bool SendAhead(const char* text, int length, std::uint64_t expectedReply);
    std::size_t Ahead() const { return ahead_.size(); }

    // Turns the host name into an address; it runs on a thread of its own,
    // so a resolver that never answers holds neither cancel nor time-out.
    std::function<bool(const char* host, in_addr* out, int* error)> resolve = &CMailSocket::ResolveIPv4;

    // The last transport failure in words (CP932), for whoever wants to show it.
    const std::string& DetailText() const { return detailText_; }

    CMailSocket& Socket() { return socket_; }
    Window* OwnerWindow() const { return ownerWnd_; }

private:
    LResult HandleMessage(std::uint32_t msg, WParam wParam, LParam lParam) override;
    std::int16_t Exchange(const char* text, int length, SessionHost* target, bool queued);
    void ForgetAhead();
    void ForgetLogin();
    void ReleaseEvent();
    void TransportFailure(int stageTextId);
    bool SendQuitIfDue();
    bool ResolveHost(in_addr* address, int* error);
    bool LoginTextSendable();
    void StartLogin();  // what a new login forgets of the last
    int Authenticate();
    int EndLogin(int result);
    bool SecureChannel(int* result);
    bool StartTls(int* result);

    CMailSocket& socket_;
    Window* ownerWnd_ = nullptr;
    SessionHost* host_ = nullptr;
    std::unique_ptr<Window> notifyWnd_;
    SocketEvent* event_ = nullptr;
    bool quitDue_ = false;
    std::string detailText_;
    // The last command got a whole status line: a failure was the server's
    // answer, not the connection's.
    bool statusSeen_ = false;
    std::int64_t retrListedSize_ = -1;
    std::atomic<std::uint32_t> watchSerial_{0};
    Fingerprint refusedCert_{};

    struct AheadCommand {
        std::string text;
        std::uint64_t expected = 0;
    };
    std::deque<AheadCommand> ahead_;  // sent, answer not yet read, oldest first
    std::uint64_t aheadBytes_ = 0;
    std::string carry_;  // received behind the last reply: the start of the next
    bool capabilitiesAsked_ = false;
    std::string capabilities_;  // the CAPA reply of this login
    bool pipelineStopped_ = false;
};

}  // namespace wp
