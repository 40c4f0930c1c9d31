#pragma once
// TLS over a connected non-blocking socket (OpenSSL). It never waits: every
// call does what the socket allows and says which way it must wait, so the
// caller's own loop keeps its cancel, time-out and message pumping.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace wp {

// How an account's connection is protected; the values are stored.
enum class TlsMode : std::int32_t { kNone = 0, kStartTls = 1, kTls = 2 };

// A stored mode, any unknown value read as none (what every older file holds).
TlsMode TlsModeFromStored(std::int32_t value);
// "none", "starttls", "tls".
const char* TlsModeName(TlsMode mode);

using Fingerprint = std::array<std::uint8_t, 32>;  // SHA-256 of the certificate (DER)

// "AB:CD:..." upper-case.
std::string FingerprintText(const Fingerprint& print);
// Hex digits with or without colons (either case); false for anything else.
bool ParseFingerprint(std::string_view text, Fingerprint* out);
bool IsEmptyFingerprint(const Fingerprint& print);

// Why a certificate was not accepted.
enum class CertProblem { kNone, kUnknownIssuer, kSelfSigned, kExpired, kNotYetValid, kWrongHost, kOther };

class TlsChannel {
public:
    enum class Step { kDone, kWantRead, kWantWrite, kFailed, kClosed };

    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // A client for fd that checks the certificate against serverName (the
    // host the user typed) and sends it as SNI unless it is an address.
    // CA certificates come from OpenSSL's default places, so SSL_CERT_FILE
    // and SSL_CERT_DIR move them. Null with *error set when OpenSSL fails.
    static std::unique_ptr<TlsChannel> Create(int fd, const std::string& serverName, std::string* error);

    Step Handshake();
    bool Established() const { return established_; }

    // Read: n > 0 bytes, or 0 with the step to wait for (kClosed at the
    // peer's close, kFailed on a broken channel).
    int Read(char* buffer, int size, Step* step);
    // Write: bytes taken (> 0), or 0 with the step to wait for.
    int Write(const char* data, int length, Step* step);
    // Decrypted or buffered bytes not yet read: the socket may be quiet
    // while these wait.
    bool HasPending() const;

    // After a finished handshake: the certificate check and what it showed.
    CertProblem Problem() const { return problem_; }
    const Fingerprint& PeerFingerprint() const { return fingerprint_; }
    bool HasPeerCertificate() const { return hasPeer_; }
    // OpenSSL's words for the last failure (for logs and details).
    const std::string& ErrorText() const { return errorText_; }

    void Shutdown();

private:
    TlsChannel() = default;
    Step Classify(int rc, bool* failed);
    void RecordPeer();

    struct Handles;
    std::unique_ptr<Handles> h_;
    bool established_ = false;
    bool hasPeer_ = false;
    CertProblem problem_ = CertProblem::kNone;
    Fingerprint fingerprint_{};
    std::string errorText_;
};

}  // namespace wp
