// Encrypted logins against the test Dovecot: POP3S and STLS, and the
// certificates it shows on 127.0.0.1-3 (see support/dovecot-ctl).

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/text.h"
#include "session_fixture.h"
#include "support/dovecot.h"

namespace wp {
namespace {

using test::SessionFixture;

const std::vector<std::string> kMails = {
    "From: a@example.jp\nSubject: first\n\nbody one\n",
    "From: b@example.jp\nSubject: second\n\nbody two\n",
};

Fingerprint FingerprintOfFile(const std::string& path) {
    Fingerprint print{};
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        ADD_FAILURE() << "no certificate at " << path;
        return print;
    }
    X509* cert = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    unsigned int length = 0;
    if (cert == nullptr || X509_digest(cert, EVP_sha256(), print.data(), &length) != 1) {
        ADD_FAILURE() << "unreadable certificate " << path;
    }
    X509_free(cert);
    return print;
}

class Pop3TlsDovecot : public test::DovecotMailboxTest {
protected:
    void SetUp() override {
        test::DovecotMailboxTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_NE(server_.tlsPort, 0) << "the fixture has no POP3S port";
        // Only the test CA is trusted, the way a user points OpenSSL elsewhere.
        setenv("SSL_CERT_FILE", server_.caFile.c_str(), 1);
        setenv("SSL_CERT_DIR", (server_.dir + "/no-such-dir").c_str(), 1);
        ASSERT_TRUE(test::FillMailbox(user_.name(), kMails));
    }
    void TearDown() override {
        unsetenv("SSL_CERT_FILE");
        unsetenv("SSL_CERT_DIR");
    }
    std::string Cert(const char* name) const { return server_.dir + "/tls/" + name + ".pem"; }
};

TEST_F(Pop3TlsDovecot, ListsOverPop3sAndOverStls) {
    struct Case {
        const char* name;
        TlsMode mode;
        bool tlsPort;
        int apop;
    } const cases[] = {
        {"POP3S, USER/PASS", TlsMode::kTls, true, 0},
        {"POP3S, APOP", TlsMode::kTls, true, 1},
        {"STLS, USER/PASS", TlsMode::kStartTls, false, 0},
        // APOP after STLS signs the timestamp of the greeting in clear.
        {"STLS, APOP", TlsMode::kStartTls, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionFixture f;
        f.Begin("localhost", c.tlsPort ? server_.tlsPort : server_.port, user_.name().c_str(),
                user_.password().c_str(), c.apop);
        f.session.SetSecurity(c.mode, Fingerprint{});
        ASSERT_EQ(f.session.Login(), kLoginOk) << f.session.DetailText();
        EXPECT_TRUE(f.session.Encrypted());
        ASSERT_EQ(f.session.List(), 1);
        std::size_t first = test::ToCrlf(kMails[0]).size();
        std::size_t second = test::ToCrlf(kMails[1]).size();
        EXPECT_EQ(test::ReadFile(f.host.responsePath),
                  "+OK 2 messages:\r\n1 " + std::to_string(first) + "\r\n2 " + std::to_string(second) + "\r\n.\r\n");
        ASSERT_GT(f.session.Retr(2), 0);
        EXPECT_NE(f.host.viewer.find("\r\nbody two\r\n.\r\n"), std::string::npos);
        EXPECT_EQ(f.session.Quit(true), 1);
    }
}

TEST_F(Pop3TlsDovecot, CertificateProblemsRefuseTheConnectionWithTheirReason) {
    struct Case {
        const char* host;
        const char* cert;
        const char* reason;
    } const cases[] = {
        {"127.0.0.1", "server", "サーバー名 127.0.0.1 と一致しません"},
        {"127.0.0.2", "expired", "有効期限が切れています"},
        {"127.0.0.3", "stranger", "発行者が信頼されていません"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        SessionFixture f;
        f.Begin(c.host, server_.tlsPort, user_.name().c_str(), user_.password().c_str());
        f.session.SetSecurity(TlsMode::kTls, Fingerprint{});
        EXPECT_EQ(f.session.Login(), kLoginCertRefused);
        EXPECT_FALSE(f.session.Encrypted());
        Fingerprint shown = FingerprintOfFile(Cert(c.cert));
        EXPECT_EQ(f.session.RefusedFingerprint(), shown);
        const std::string detail = Cp932ToUtf8(f.session.DetailText());
        EXPECT_NE(detail.find(c.reason), std::string::npos) << detail;
        EXPECT_NE(detail.find(FingerprintText(shown)), std::string::npos) << detail;
        EXPECT_EQ(f.Statuses().back(), IDS_STATUS_CONNECT_FAILED);
    }
}

TEST_F(Pop3TlsDovecot, APinnedCertificateIsAcceptedAndAChangedOneRefused) {
    const Fingerprint stranger = FingerprintOfFile(Cert("stranger"));
    const Fingerprint other = FingerprintOfFile(Cert("expired"));
    {
        SessionFixture f;
        f.Begin("127.0.0.3", server_.tlsPort, user_.name().c_str(), user_.password().c_str());
        f.session.SetSecurity(TlsMode::kTls, stranger);
        ASSERT_EQ(f.session.Login(), kLoginOk) << f.session.DetailText();
        EXPECT_EQ(f.session.Stat(), 1);
        f.session.Quit(true);
    }
    {
        SessionFixture f;
        f.Begin("127.0.0.3", server_.tlsPort, user_.name().c_str(), user_.password().c_str());
        f.session.SetSecurity(TlsMode::kTls, other);
        EXPECT_EQ(f.session.Login(), kLoginCertRefused);
        EXPECT_EQ(f.session.RefusedFingerprint(), stranger);
        EXPECT_NE(Cp932ToUtf8(f.session.DetailText()).find("信頼した証明書から変わっています"), std::string::npos);
    }
    // A pin is for the certificate it names, not a licence for any other
    // failure: the expired one on .2 is still refused.
    {
        SessionFixture f;
        f.Begin("127.0.0.2", server_.tlsPort, user_.name().c_str(), user_.password().c_str());
        f.session.SetSecurity(TlsMode::kTls, stranger);
        EXPECT_EQ(f.session.Login(), kLoginCertRefused);
    }
}

TEST_F(Pop3TlsDovecot, PlainLoginsStayAsTheyWere) {
    SessionFixture f;
    f.Begin(server_.host.c_str(), server_.port, user_.name().c_str(), user_.password().c_str());
    ASSERT_EQ(f.session.Login(), kLoginOk);
    EXPECT_FALSE(f.session.Encrypted());
    EXPECT_EQ(f.session.Stat(), 1);
    f.session.Quit(true);
}

}  // namespace
}  // namespace wp
