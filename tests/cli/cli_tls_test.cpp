// Encrypted accounts through the real program: the options of account add,
// the listing over POP3S and STLS, a refused certificate and a pinned one.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "net/tls_channel.h"
#include "platform/string_table.h"
#include "support/dovecot.h"

namespace wp {
namespace {

using test::CliRunner;
using test::Contains;
using test::SystemText;

std::string FingerprintOf(const std::string& path) {
    Fingerprint print{};
    FILE* file = std::fopen(path.c_str(), "r");
    X509* cert = file != nullptr ? PEM_read_X509(file, nullptr, nullptr, nullptr) : nullptr;
    if (file != nullptr) {
        std::fclose(file);
    }
    unsigned int length = 0;
    EXPECT_TRUE(cert != nullptr && X509_digest(cert, EVP_sha256(), print.data(), &length) == 1) << path;
    X509_free(cert);
    return FingerprintText(print);
}

TEST(CliTls, AccountAddTakesTheModeAndAFingerprintAndRefusesNonsense) {
    const std::string hex(64, 'a');
    struct Step {
        std::vector<std::string> args;
        int status;
        std::string err;
    } const steps[] = {
        {{"account", "add", "s", "--server", "h", "--login", "l", "--tls", "starttls"}, 0, ""},
        {{"account", "add", "t", "--server", "h", "--login", "l", "--tls", "tls", "--trust-fingerprint", hex}, 0, ""},
        {{"account", "add", "n", "--server", "h", "--login", "l", "--tls", "none"}, 0, ""},
        {{"account", "add", "x", "--server", "h", "--login", "l", "--tls", "ssl"}, 64, "--tls"},
        {{"account", "add", "x", "--server", "h", "--login", "l", "--trust-fingerprint", hex}, 64, "--tls"},
        {{"account", "add", "x", "--server", "h", "--login", "l", "--tls", "tls", "--trust-fingerprint", "abc"},
         64,
         "--trust-fingerprint"},
    };
    CliRunner cli;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args.back());
        test::CliResult r = cli.Run(step.args);
        EXPECT_EQ(r.status, step.status) << r.err;
        EXPECT_TRUE(Contains(r.err, step.err)) << r.err;
    }
    EXPECT_EQ(cli.Run({"account", "list"}).out,
              "s\th\tl\tuser\tstarttls\n"
              "t\th\tl\tuser\ttls\n"
              "n\th\tl\tuser\tnone\n");
}

class CliTlsDovecot : public test::DovecotMailboxTest {
protected:
    void SetUp() override {
        test::DovecotMailboxTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(test::FillMailbox(user_.name(), {"From: a@example.jp\nSubject: tls\n\nbody\n"}));
        cli_.environment = {{"SSL_CERT_FILE", server_.caFile}, {"SSL_CERT_DIR", server_.dir + "/none"}};
    }
    int Add(const std::string& name, const std::string& server, std::vector<std::string> more) {
        std::vector<std::string> args = {"account",  "add",         name, "--server", server,
                                         "--login", user_.name(), "--password", user_.password()};
        args.insert(args.end(), more.begin(), more.end());
        test::CliResult r = cli_.Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.status;
    }
    CliRunner cli_;
};

TEST_F(CliTlsDovecot, ListsOverTlsRefusesAStrangerAndAcceptsItPinned) {
    const std::string tlsPort = std::to_string(server_.tlsPort);
    Add("pop3s", "localhost:" + tlsPort, {"--tls", "tls"});
    Add("stls", "localhost:" + std::to_string(server_.port), {"--tls", "starttls"});
    Add("stranger", "127.0.0.3:" + tlsPort, {"--tls", "tls"});
    std::string print = FingerprintOf(server_.dir + "/tls/stranger.pem");
    std::string bare;
    for (char c : print) {
        if (c != ':') {
            bare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    Add("pinned", "127.0.0.3:" + tlsPort, {"--tls", "tls", "--trust-fingerprint", bare});

    for (const char* name : {"pop3s", "stls", "pinned"}) {
        SCOPED_TRACE(name);
        test::CliResult r = cli_.Run({"list", name});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Contains(r.out, "tls")) << r.out;
        EXPECT_TRUE(Contains(r.err, SystemText(IDS_STATUS_LOGGED_IN_ENCRYPTED))) << r.err;
    }
    test::CliResult refused = cli_.Run({"list", "stranger"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Contains(refused.err, "発行者が信頼されていません")) << refused.err;
    EXPECT_TRUE(Contains(refused.err, print)) << refused.err;
    EXPECT_FALSE(Contains(refused.err, SystemText(IDS_LOGIN_REFUSED))) << "no password box";
}

}  // namespace
}  // namespace wp
