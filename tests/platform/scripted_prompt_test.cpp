#include "support/scripted_prompt.h"

#include "platform/strings.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace wp::test {
namespace {

PromptRequest Box(const std::string& text, PromptButtons buttons = PromptButtons::Ok,
                  PromptAnswer defaultAnswer = PromptAnswer::Ok) {
    PromptRequest r;
    r.text = text;
    r.caption = Sjis("ｴﾗｰ");
    r.buttons = buttons;
    r.icon = PromptIcon::Exclamation;
    r.defaultAnswer = defaultAnswer;
    return r;
}

TEST(ScriptedPrompt, AnswersExpectedBoxesInOrderAndRecordsThem) {
    ScriptedPrompt prompt;
    prompt.Expect(Sjis("パスワードを入力してください。"));
    prompt.Expect(Box(Sjis("削除しますか？"), PromptButtons::YesNo, PromptAnswer::No), PromptAnswer::Yes);
    EXPECT_EQ(prompt.Pending(), 2u);

    EXPECT_EQ(prompt.Ask(Box(Sjis("パスワードを入力してください。"))), PromptAnswer::Ok);
    EXPECT_EQ(prompt.Ask(Box(Sjis("削除しますか？"), PromptButtons::YesNo, PromptAnswer::No)), PromptAnswer::Yes);

    auto asked = prompt.Requests();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].text, Sjis("削除しますか？"));
    EXPECT_EQ(asked[1].caption, Sjis("ｴﾗｰ"));
    EXPECT_EQ(asked[1].buttons, PromptButtons::YesNo);
    EXPECT_EQ(asked[1].icon, PromptIcon::Exclamation);
    EXPECT_EQ(asked[1].defaultAnswer, PromptAnswer::No);
    EXPECT_EQ(prompt.Pending(), 0u);
}

TEST(ScriptedPrompt, UnexpectedBoxFailsTheTestAndGetsItsDefault) {
    ScriptedPrompt prompt;
    PromptAnswer answer = PromptAnswer::Ok;
    EXPECT_NONFATAL_FAILURE(
        answer = prompt.Ask(Box(Sjis("続けますか？"), PromptButtons::YesNo, PromptAnswer::No)),
        "unexpected message box \"続けますか？\"");
    EXPECT_EQ(answer, PromptAnswer::No);
    EXPECT_EQ(prompt.Count(), 1u);
}

TEST(ScriptedPrompt, DifferentTextFailsTheTest) {
    ScriptedPrompt prompt;
    prompt.Expect(Sjis("ﾒｯｾｰｼﾞがありません。"));
    EXPECT_NONFATAL_FAILURE(prompt.Ask(Box(Sjis("ﾒｯｾｰｼﾞが見つかりません。"))), "expected \"ﾒｯｾｰｼﾞがありません。\"");
}

TEST(ScriptedPrompt, DifferentButtonsOrIconFailTheTest) {
    ScriptedPrompt prompt;
    prompt.Expect(Box("x", PromptButtons::YesNo, PromptAnswer::Yes), PromptAnswer::Yes);
    EXPECT_NONFATAL_FAILURE(prompt.Ask(Box("x", PromptButtons::OkCancel, PromptAnswer::Ok)), "buttons YesNo");
    PromptRequest noIcon = Box("y");
    noIcon.icon = PromptIcon::None;
    prompt.Expect(Box("y"), PromptAnswer::Ok);
    EXPECT_NONFATAL_FAILURE(prompt.Ask(noIcon), "icon Exclamation");
}

TEST(ScriptedPrompt, BoxThatNeverCameFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedPrompt prompt;
            prompt.Expect(Sjis("ﾒｰﾙを保存するﾃﾞｨﾚｸﾄﾘを作成できませんでした。"));
        },
        "never shown: \"ﾒｰﾙを保存するﾃﾞｨﾚｸﾄﾘを作成できませんでした。\"");
}

// The worker and the user-interface thread may ask at the same time.
TEST(ScriptedPrompt, ManyThreadsMayAsk) {
    ScriptedPrompt prompt;
    constexpr int kEach = 200;
    for (int i = 0; i < 2 * kEach; ++i) {
        prompt.Expect("same", PromptAnswer::Yes);
    }
    std::vector<int> wrong(2, 0);
    std::thread worker([&] {
        for (int i = 0; i < kEach; ++i) {
            wrong[0] += prompt.Ask(Box("same")) != PromptAnswer::Yes;
        }
    });
    for (int i = 0; i < kEach; ++i) {
        wrong[1] += prompt.Ask(Box("same")) != PromptAnswer::Yes;
    }
    worker.join();
    EXPECT_EQ(wrong, std::vector<int>(2, 0));
    EXPECT_EQ(prompt.Count(), 2u * kEach);
    EXPECT_EQ(prompt.Pending(), 0u);
}

TEST(ScriptedPrompt, FailureFromTheWorkerThreadIsReported) {
    ScriptedPrompt prompt;
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(
        {
            std::thread worker([&] { prompt.Ask(Box("from the worker")); });
            worker.join();
        },
        "unexpected message box \"from the worker\"");
}

}  // namespace
}  // namespace wp::test
