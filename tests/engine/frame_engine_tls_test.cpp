// An encrypted account through the engine: a certificate the user is asked
// about, trusted, pinned in AccData.dat and used for the repeated login.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "accounts/account_list.h"
#include "engine/frame_engine.h"
#include "headless_frame.h"
#include "platform/profile.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "support/dovecot.h"
#include "support/scripted_prompt.h"
#include "support/wait_for.h"

namespace wp {
namespace {

using test::HeadlessFrame;

Fingerprint FingerprintOfFile(const std::string& path) {
    Fingerprint print{};
    FILE* file = std::fopen(path.c_str(), "r");
    X509* cert = file != nullptr ? PEM_read_X509(file, nullptr, nullptr, nullptr) : nullptr;
    if (file != nullptr) {
        std::fclose(file);
    }
    unsigned int length = 0;
    EXPECT_TRUE(cert != nullptr && X509_digest(cert, EVP_sha256(), print.data(), &length) == 1) << path;
    X509_free(cert);
    return print;
}

class FrameEngineTlsDovecot : public test::DovecotMailboxTest {
protected:
    void SetUp() override {
        test::DovecotMailboxTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        setenv("SSL_CERT_FILE", server_.caFile.c_str(), 1);
        setenv("SSL_CERT_DIR", (server_.dir + "/none").c_str(), 1);
        ASSERT_TRUE(test::FillMailbox(user_.name(), {"From: a@example.jp\nSubject: one\n\nbody\n"}));
        const char* base = std::getenv("WRENPOST_TEST_TMP");
        dataFolder_ = std::string(base != nullptr ? base : "/tmp") + "/engine-tls-" +
                      std::to_string(QCoreApplication::applicationPid()) + "/Mail";
        std::filesystem::remove_all(std::filesystem::path(dataFolder_).parent_path());
        std::filesystem::create_directories(dataFolder_);
    }
    void TearDown() override {
        unsetenv("SSL_CERT_FILE");
        unsetenv("SSL_CERT_DIR");
    }
    std::string dataFolder_;
};

TEST_F(FrameEngineTlsDovecot, ATrustedCertificateIsPinnedAndTheLoginRepeated) {
    const std::string name = "TLS " + user_.name();
    const std::string server = "127.0.0.3:" + std::to_string(server_.tlsPort);
    {
        Profile profile;
        CAccountList store(false, dataFolder_, profile);
        AccountRecord record;
        record.number = 0;
        record.SetName(name);
        record.SetServer(server);
        record.SetLoginId(user_.name());
        record.SetTlsModeValue(2);
        ASSERT_TRUE(store.SaveAccount(record, ""));
    }
    const Fingerprint print = FingerprintOfFile(server_.dir + "/tls/stranger.pem");
    const std::string question = Sjis("サーバーの証明書を受け入れられません（") + Sjis("発行者が信頼されていません") +
                                 Sjis("）。\nSHA-256 指紋: ") + FingerprintText(print) +
                                 Sjis("\n\nこの証明書をこのアカウントで信頼して接続しますか？");
    struct Round {
        PromptAnswer answer;
        bool listed;
    } const rounds[] = {{PromptAnswer::No, false}, {PromptAnswer::Yes, true}};
    for (const Round& round : rounds) {
        SCOPED_TRACE(round.answer == PromptAnswer::Yes ? "trusted" : "not trusted");
        HeadlessFrame frame;
        test::ScriptedPrompt prompt;
        FrameEngine engine(frame, prompt, dataFolder_);
        frame.SelectAccount(name, server, user_.name(), user_.password());
        frame.account.SetTlsModeValue(2);
        PromptRequest box;
        box.text = question;
        box.caption = Sjis("証明書の確認");
        box.buttons = PromptButtons::YesNo;
        box.icon = PromptIcon::Exclamation;
        box.defaultAnswer = PromptAnswer::No;
        prompt.Expect(box, round.answer);
        engine.SwitchAccount(name);
        engine.StartOperation(kOperationList);
        ASSERT_TRUE(test::PumpUntil([&] { return engine.receiving == 0; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(frame.list.RowCount(), round.listed ? 1 : 0);
        Profile profile;
        CAccountList store(true, dataFolder_, profile);
        EXPECT_EQ(store.Lookup(1)->PinnedCert(), round.listed ? print : Fingerprint{});
    }
    // Later runs trust it without asking.
    HeadlessFrame frame;
    test::ScriptedPrompt prompt;  // any box fails the test
    FrameEngine engine(frame, prompt, dataFolder_);
    frame.SelectAccount(name, server, user_.name(), user_.password());
    frame.account.SetTlsModeValue(2);
    frame.account.SetPinnedCert(print);
    engine.SwitchAccount(name);
    engine.StartOperation(kOperationList);
    ASSERT_TRUE(test::PumpUntil([&] { return engine.receiving == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.list.RowCount(), 1);
    EXPECT_EQ(prompt.Count(), 0u);
}

}  // namespace
}  // namespace wp
