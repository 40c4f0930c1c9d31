#include "net/tls_channel.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace wp {

TlsMode TlsModeFromStored(std::int32_t value) {
    switch (value) {
        case 1:
            return TlsMode::kStartTls;
        case 2:
            return TlsMode::kTls;
        default:
            return TlsMode::kNone;
    }
}

const char* TlsModeName(TlsMode mode) {
    switch (mode) {
        case TlsMode::kStartTls:
            return "starttls";
        case TlsMode::kTls:
            return "tls";
        case TlsMode::kNone:
            break;
    }
    return "none";
}

std::string FingerprintText(const Fingerprint& print) {
    std::string out;
    char hex[4];
    for (std::size_t i = 0; i < print.size(); ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : ":%02X", print[i]);
        out += hex;
    }
    return out;
}

bool ParseFingerprint(std::string_view text, Fingerprint* out) {
    Fingerprint print{};
    std::size_t count = 0;
    int high = -1;
    for (char c : text) {
        if (c == ':') {
            if (high >= 0) {
                return false;  // a colon inside a byte
            }
            continue;
        }
        int value = -1;
        if (c >= '0' && c <= '9') {
            value = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            value = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            value = c - 'A' + 10;
        } else {
            return false;
        }
        if (high < 0) {
            high = value;
            continue;
        }
        if (count == print.size()) {
            return false;
        }
        print[count++] = static_cast<std::uint8_t>(high * 16 + value);
        high = -1;
    }
    if (count != print.size() || high >= 0) {
        return false;
    }
    *out = print;
    return true;
}

bool IsEmptyFingerprint(const Fingerprint& print) {
    for (std::uint8_t b : print) {
        if (b != 0) {
            return false;
        }
    }
    return true;
}

struct TlsChannel::Handles {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    CertProblem problem = CertProblem::kNone;
    ~Handles() {
        if (ssl != nullptr) {
            SSL_free(ssl);
        }
        if (ctx != nullptr) {
            SSL_CTX_free(ctx);
        }
    }
};

namespace {

CertProblem ProblemOf(int error) {
    switch (error) {
        case X509_V_OK:
            return CertProblem::kNone;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            return CertProblem::kUnknownIssuer;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return CertProblem::kSelfSigned;
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return CertProblem::kExpired;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return CertProblem::kNotYetValid;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return CertProblem::kWrongHost;
        default:
            return CertProblem::kOther;
    }
}

// Lets the handshake finish whatever the chain shows, so the certificate can
// be named and offered for trust; the connection is judged afterwards. The
// host check comes first in OpenSSL's order, but a chain that is bad in
// itself is the weightier reason.
int KeepGoing(int ok, X509_STORE_CTX* store) {
    if (ok == 0) {
        auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* problem = ssl != nullptr ? static_cast<CertProblem*>(SSL_get_app_data(ssl)) : nullptr;
        if (problem != nullptr) {
            CertProblem found = ProblemOf(X509_STORE_CTX_get_error(store));
            if (*problem == CertProblem::kNone || *problem == CertProblem::kWrongHost) {
                *problem = found;
            }
        }
    }
    return 1;
}

// The socket under OpenSSL, written with MSG_NOSIGNAL: a peer that went
// away must fail a write, not end the process with SIGPIPE.
int Fd(BIO* bio) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int SocketWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        ssize_t n = send(Fd(bio), data, static_cast<std::size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN) {
            BIO_set_retry_write(bio);
        }
        return -1;
    }
}

int SocketRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        ssize_t n = recv(Fd(bio), data, static_cast<std::size_t>(size), MSG_DONTWAIT);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN) {
            BIO_set_retry_read(bio);
        }
        return -1;
    }
}

long SocketControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "wrenpost socket");
        if (m != nullptr) {
            BIO_meth_set_write(m, SocketWrite);
            BIO_meth_set_read(m, SocketRead);
            BIO_meth_set_ctrl(m, SocketControl);
            BIO_meth_set_create(m, SocketCreate);
        }
        return m;
    }();
    return method;
}

std::string OpenSslErrors() {
    std::string text;
    char line[256];
    while (unsigned long code = ERR_get_error()) {
        ERR_error_string_n(code, line, sizeof line);
        if (!text.empty()) {
            text += "; ";
        }
        text += line;
    }
    return text;
}

bool IsAddress(const std::string& name) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, name.c_str(), buffer) == 1 || inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

}  // namespace

TlsChannel::~TlsChannel() = default;

std::unique_ptr<TlsChannel> TlsChannel::Create(int fd, const std::string& serverName, std::string* error) {
    std::unique_ptr<TlsChannel> channel(new TlsChannel);
    channel->h_ = std::make_unique<Handles>();
    Handles& h = *channel->h_;
    ERR_clear_error();
    h.ctx = SSL_CTX_new(TLS_client_method());
    bool ok = h.ctx != nullptr && SSL_CTX_set_min_proto_version(h.ctx, TLS1_2_VERSION) == 1 &&
              SSL_CTX_set_default_verify_paths(h.ctx) == 1;
    if (ok) {
        SSL_CTX_set_verify(h.ctx, SSL_VERIFY_PEER, KeepGoing);
        h.ssl = SSL_new(h.ctx);
        BIO* bio = SocketMethod() != nullptr ? BIO_new(SocketMethod()) : nullptr;
        ok = h.ssl != nullptr && bio != nullptr;
        if (ok) {
            BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
            SSL_set_bio(h.ssl, bio, bio);
        } else if (bio != nullptr) {
            BIO_free(bio);
        }
    }
    if (ok) {
        SSL_set_app_data(h.ssl, &h.problem);
        if (IsAddress(serverName)) {
            ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(h.ssl), serverName.c_str()) == 1;
        } else {
            ok = SSL_set_tlsext_host_name(h.ssl, serverName.c_str()) == 1 &&
                 SSL_set1_host(h.ssl, serverName.c_str()) == 1;
        }
        SSL_set_connect_state(h.ssl);
    }
    if (!ok) {
        if (error != nullptr) {
            *error = OpenSslErrors();
        }
        return nullptr;
    }
    return channel;
}

TlsChannel::Step TlsChannel::Classify(int rc, bool* failed) {
    *failed = false;
    switch (SSL_get_error(h_->ssl, rc)) {
        case SSL_ERROR_WANT_READ:
            return Step::kWantRead;
        case SSL_ERROR_WANT_WRITE:
            return Step::kWantWrite;
        case SSL_ERROR_ZERO_RETURN:
            return Step::kClosed;
        default:
            break;
    }
    *failed = true;
    std::string text = OpenSslErrors();
    if (!text.empty()) {
        errorText_ = text;
    }
    return Step::kFailed;
}

TlsChannel::Step TlsChannel::Handshake() {
    if (established_) {
        return Step::kDone;
    }
    ERR_clear_error();
    int rc = SSL_do_handshake(h_->ssl);
    if (rc == 1) {
        established_ = true;
        RecordPeer();
        return Step::kDone;
    }
    bool failed = false;
    Step step = Classify(rc, &failed);
    return step == Step::kClosed ? Step::kFailed : step;
}

void TlsChannel::RecordPeer() {
    problem_ = h_->problem;
    X509* peer = SSL_get0_peer_certificate(h_->ssl);
    hasPeer_ = peer != nullptr;
    if (peer == nullptr) {
        problem_ = CertProblem::kOther;
        return;
    }
    unsigned int length = 0;
    if (X509_digest(peer, EVP_sha256(), fingerprint_.data(), &length) != 1 || length != fingerprint_.size()) {
        fingerprint_ = {};
        problem_ = CertProblem::kOther;
    }
    if (problem_ == CertProblem::kNone && SSL_get_verify_result(h_->ssl) != X509_V_OK) {
        problem_ = ProblemOf(static_cast<int>(SSL_get_verify_result(h_->ssl)));
    }
}

int TlsChannel::Read(char* buffer, int size, Step* step) {
    ERR_clear_error();
    std::size_t got = 0;
    if (SSL_read_ex(h_->ssl, buffer, static_cast<std::size_t>(size), &got) == 1) {
        *step = Step::kDone;
        return static_cast<int>(got);
    }
    bool failed = false;
    *step = Classify(0, &failed);
    return 0;
}

int TlsChannel::Write(const char* data, int length, Step* step) {
    ERR_clear_error();
    std::size_t put = 0;
    if (SSL_write_ex(h_->ssl, data, static_cast<std::size_t>(length), &put) == 1) {
        *step = Step::kDone;
        return static_cast<int>(put);
    }
    bool failed = false;
    *step = Classify(0, &failed);
    return 0;
}

bool TlsChannel::HasPending() const {
    return established_ && SSL_pending(h_->ssl) > 0;
}

void TlsChannel::Shutdown() {
    if (established_) {
        // One non-blocking try: a peer that does not read it loses nothing.
        ERR_clear_error();
        SSL_shutdown(h_->ssl);
        ERR_clear_error();
    }
}

}  // namespace wp
