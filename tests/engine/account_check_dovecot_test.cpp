// A check of one account without a window against the test Dovecot: what
// counts as new mail, and a failure that asks nobody anything.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>
#include <optional>
#include <string>

#include "engine/account_check.h"
#include "platform/text.h"
#include "support/dovecot.h"
#include "support/wait_for.h"

namespace wp {
namespace {

std::string Mail(const std::string& from, const std::string& subject) {
    return "From: " + from + "\nSubject: " + subject + "\nDate: Mon, 7 Mar 2005 09:05:00 +0900\n\nbody\n";
}

class AccountCheckDovecot : public test::DovecotMailboxTest {
protected:
    void SetUp() override {
        test::DovecotMailboxTest::SetUp();
        const char* base = std::getenv("WRENPOST_TEST_TMP");
        folder_ = std::string(base != nullptr ? base : "/tmp") + "/check-" +
                  std::to_string(QCoreApplication::applicationPid()) + "-" + user_.name() + "/Mail";
        std::filesystem::remove_all(std::filesystem::path(folder_).parent_path());
        std::filesystem::create_directories(folder_);
        account_.number = 1;
        account_.SetName("checked");
        account_.SetServer(ServerText());
        account_.SetLoginId(user_.name());
    }

    std::optional<CheckResult> Check(const std::string& password) {
        std::optional<CheckResult> result;
        AccountCheck check(folder_, account_, password, [&](const CheckResult& done) { result = done; });
        check.Start();
        EXPECT_FALSE(result) << "the result came inside Start";
        if (!test::PumpUntil([&] { return result.has_value(); })) {
            ADD_FAILURE() << "the check did not end";
        }
        return result;
    }

    std::string folder_;
    AccountInfo account_{};
};

TEST_F(AccountCheckDovecot, MailDeliveredBetweenTwoChecksIsCountedAsNew) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {Mail("a@example.jp", "one"), Mail("b@example.jp", "two")}));
    std::optional<CheckResult> first = Check(user_.password());
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->ok) << Cp932ToUtf8(first->failure);
    // Against an empty cache everything is new.
    EXPECT_EQ(first->newCount, 2);
    EXPECT_EQ(first->total, 2);

    ASSERT_TRUE(
        test::DeliverMail(user_.name(), {Mail("c@example.jp", "three"), Mail("d@example.jp", "four")}));
    std::optional<CheckResult> second = Check(user_.password());
    ASSERT_TRUE(second);
    ASSERT_TRUE(second->ok);
    EXPECT_EQ(second->newCount, 2) << "mails the cache held were counted again, or delivered ones missed";
    EXPECT_EQ(second->total, 4);
    ASSERT_EQ(second->newMails.size(), 2u);
    EXPECT_NE(second->newMails[0].from.find("c@example.jp"), std::string::npos) << second->newMails[0].from;
    EXPECT_NE(second->newMails[1].from.find("d@example.jp"), std::string::npos) << second->newMails[1].from;
    EXPECT_EQ(second->newMails[0].subject, "three");

    std::optional<CheckResult> third = Check(user_.password());
    ASSERT_TRUE(third);
    EXPECT_TRUE(third->ok);
    EXPECT_EQ(third->newCount, 0) << "a check with nothing delivered found new mail";
    EXPECT_EQ(third->total, 4);
}

TEST_F(AccountCheckDovecot, ARefusedLoginIsAFailureWithItsReasonAndNoNewMail) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {Mail("a@example.jp", "one")}));
    std::optional<CheckResult> result = Check("not-the-password");
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->ok);
    EXPECT_FALSE(result->stopped);
    EXPECT_EQ(result->newCount, 0);
    EXPECT_FALSE(result->failure.empty()) << "the failure gave no reason to show";
}

TEST(AccountCheck, ANoConnectionIsAFailureNotAHang) {
    const char* base = std::getenv("WRENPOST_TEST_TMP");
    const std::string folder = std::string(base != nullptr ? base : "/tmp") + "/check-refused-" +
                               std::to_string(QCoreApplication::applicationPid()) + "/Mail";
    std::filesystem::create_directories(folder);
    AccountInfo account{};
    account.number = 1;
    account.SetName("nowhere");
    // A port nothing listens on (the discard port, closed on test machines).
    account.SetServer("127.0.0.1:9");
    account.SetLoginId("someone");
    std::optional<CheckResult> result;
    AccountCheck check(folder, account, "pw", [&](const CheckResult& done) { result = done; });
    check.Start();
    ASSERT_TRUE(test::PumpUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(result->ok);
    EXPECT_FALSE(result->failure.empty());
}

}  // namespace
}  // namespace wp
