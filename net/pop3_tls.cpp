// The encrypted half of the login: POP3S from the first byte, or STLS
// (RFC 2595) on the plain port, and the judgement of the certificate.

#include "net/pop3_session.h"
#include "net/capabilities.h"
#include "platform/strings.h"

#include <sys/socket.h>

#include <cctype>
#include <cstring>

namespace wp {

using namespace wsa;
using Clock = std::chrono::steady_clock;

namespace {

const char* ProblemText(CertProblem problem) {
    switch (problem) {
        case CertProblem::kUnknownIssuer:
            return "発行者が信頼されていません";
        case CertProblem::kSelfSigned:
            return "自己署名の証明書です";
        case CertProblem::kExpired:
            return "有効期限が切れています";
        case CertProblem::kNotYetValid:
            return "まだ有効期間になっていません";
        case CertProblem::kWrongHost:
            return "サーバー名と一致しません";
        case CertProblem::kNone:
        case CertProblem::kOther:
            break;
    }
    return "証明書を検証できません";
}

}  // namespace

void CPop3Session::SetSecurity(TlsMode mode, const Fingerprint& pinned) {
    tlsMode = mode;
    pinnedCert = pinned;
}

bool CPop3Session::SecureChannel(int* result) {
    if (!socket_.BeginTls(host)) {
        detailText_ = Sjis("TLS を開始できませんでした") + (socket_.TlsErrorText().empty() ? "" : ": ") +
                      socket_.TlsErrorText();
        return false;
    }
    // The whole handshake gets one inactivity span: a server that stalls in
    // it ends like any other silent wait.
    Clock::time_point deadline = Clock::now() + inactivityTimeout;
    for (;;) {
        DispatchPendingMessages();
        if (cancel) {
            return false;
        }
        int step = socket_.ContinueTls();
        if (step == 1) {
            break;
        }
        if (step < 0) {
            detailText_ = Sjis("TLS の接続に失敗しました") + (socket_.TlsErrorText().empty() ? "" : ": ") +
                          socket_.TlsErrorText();
            return false;
        }
        if (Clock::now() >= deadline) {
            socket_.lastError = WSAETIMEDOUT;
            detailText_ = Sjis("TLS の接続がタイムアウトしました");
            return false;
        }
    }
    TlsChannel& tls = *socket_.Tls();
    CertProblem problem = tls.Problem();
    bool pinned = !IsEmptyFingerprint(pinnedCert);
    // A certificate the user trusted for this account stands in for the
    // checks it failed; any other must pass them.
    if (problem == CertProblem::kNone || (pinned && tls.HasPeerCertificate() && tls.PeerFingerprint() == pinnedCert)) {
        return true;
    }
    refusedCert_ = tls.PeerFingerprint();
    std::string reason = Sjis(ProblemText(problem));
    if (problem == CertProblem::kWrongHost) {
        reason = Sjis("サーバー名 ") + host + Sjis(" と一致しません");
    }
    if (pinned) {
        reason = Sjis("信頼した証明書から変わっています。") + reason;
    }
    detailText_ = Sjis("サーバーの証明書を受け入れられません（") + reason + Sjis("）。\nSHA-256 指紋: ") +
                  FingerprintText(refusedCert_);
    *result = kLoginCertRefused;
    return false;
}

bool CPop3Session::StartTls(int* result) {
    // APOP needs the greeting's timestamp after the upgrade.
    char greeting[sizeof socket_.recvBuf];
    std::memcpy(greeting, socket_.recvBuf, sizeof greeting);

    CapabilityCapture capa;
    if (Command("CAPA\r\n", 6, &capa) != 1 || !CapabilityListed(capa.text, "STLS")) {
        if (!cancel) {
            detailText_ = Sjis("サーバーが STARTTLS（STLS）に対応していません。暗号化せずには接続しません。");
            SendQuitIfDue();
        }
        return false;
    }
    if (Command("STLS\r\n", 6, nullptr) != 1) {
        if (!cancel) {
            detailText_ = Sjis("サーバーが STLS を受け付けませんでした。");
            SendQuitIfDue();
        }
        return false;
    }
    // What comes after "+OK" in clear before the handshake cannot be
    // trusted, and a server that sends it is no partner for a password.
    const char* end = std::strstr(socket_.recvBuf, "\r\n");
    int lineLength = end != nullptr ? static_cast<int>(end - socket_.recvBuf) + 2 : bytesReceived;
    char extra = 0;
    if (bytesReceived > lineLength || socket_.Buffered() ||
        recv(socket_.sock, &extra, 1, MSG_PEEK | MSG_DONTWAIT) > 0) {
        detailText_ = Sjis("STLS の応答の後に暗号化されていないデータが届いたため、接続を中止しました。");
        quitDue_ = false;
        return false;
    }
    // From here on nothing goes out in clear, QUIT included.
    quitDue_ = false;
    if (!SecureChannel(result)) {
        return false;
    }
    quitDue_ = true;
    std::memcpy(socket_.recvBuf, greeting, sizeof greeting);
    return true;
}

}  // namespace wp
