// A header block as TOP n 0 returned it, summarised into its list row, and
// the message box for invalid base64 characters.

#include "mail/add_mail_to_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mail/memory_list.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace wp {
namespace {

// Answers every box with OK and remembers what was asked.
class RecordingPrompt final : public Prompt {
public:
    PromptAnswer Ask(const PromptRequest& request) override {
        asked.push_back(request);
        return PromptAnswer::Ok;
    }
    std::vector<PromptRequest> asked;
};

const std::string kBlock =
    "+OK 812 octets\r\n"
    "Return-Path: <yamada@example.jp>\r\n"
    "Date: Mon, 7 Mar 2005 09:05:00 +0900\r\n"
    "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <yamada@example.jp>\r\n"
    "Subject: =?ISO-2022-JP?B?GyRCMnE1RCRON28bKEI=?=\r\n"
    "Content-Type: multipart/mixed;\r\n"
    "\tboundary=\"b1\"\r\n"
    "\r\n"
    ".\r\n";

TEST(AddMailToList, WritesTheRowAsTheListShowsIt) {
    MemoryList list;
    RecordingPrompt prompt;
    std::unique_ptr<MailEntry> entry(
        AddMailToList(list, kBlock.data(), kBlock.size(), 81234, 4, nullptr, prompt));
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(list.RowCount(), 1);
    EXPECT_EQ(list.RowEntry(0), entry.get());
    EXPECT_EQ(Cp932ToUtf8(list.Text(0, kColumnFrom)), " 山田太郎 <yamada@example.jp>");
    EXPECT_EQ(Cp932ToUtf8(list.Text(0, kColumnSubject)), "会議の件");
    EXPECT_EQ(list.Text(0, kColumnDate), "2005/03/07 09:05:00 ");
    EXPECT_EQ(list.Text(0, kColumnSize), "     81234");
    EXPECT_EQ(list.PartsImage(0), kImageParts);
    EXPECT_EQ(list.MarkImage(0), kImageUnmarked);
    EXPECT_EQ(entry->id, 4u);
    EXPECT_EQ(entry->size, 81234u);
    EXPECT_TRUE(prompt.asked.empty());
}

TEST(AddMailToList, UpdatesARowInPlace) {
    MemoryList list;
    RecordingPrompt prompt;
    const std::string old = "+OK\r\nSubject: old\r\n\r\n.\r\n";
    std::unique_ptr<MailEntry> entry(AddMailToList(list, old.data(), old.size(), 10, 1, nullptr, prompt));
    list.SetMarkImage(0, kImageMarked);
    EXPECT_EQ(AddMailToList(list, kBlock.data(), kBlock.size(), 20, 1, entry.get(), prompt), entry.get());
    EXPECT_EQ(Cp932ToUtf8(list.Text(0, kColumnSubject)), "会議の件");
    EXPECT_EQ(entry->mark, 1);
    EXPECT_EQ(list.RowCount(), 1);
}

TEST(AddMailToList, CachedRecordOfADeletedMailHasNoRow) {
    MemoryList list;
    RecordingPrompt prompt;
    std::unique_ptr<MailEntry> entry(AddMailToList(list, "", 0, 0, 0, nullptr, prompt));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(list.RowCount(), 0);
}

TEST(AddMailToList, InvalidBase64ShowsOneBoxPerValue) {
    MemoryList list;
    RecordingPrompt prompt;
    std::string block = "+OK\r\nFrom: =?ISO-2022-JP?B?Gy#RC?=\r\nSubject:";
    for (int i = 0; i < 2000; ++i) {
        block += " =?ISO-2022-JP?B?GyRC JUYlOSVIGyhC?=";
    }
    block += "\r\n\r\n.\r\n";
    std::unique_ptr<MailEntry> entry(AddMailToList(list, block.data(), block.size(), 1, 1, nullptr, prompt));
    ASSERT_EQ(prompt.asked.size(), 2u);  // subject, then sender

    const PromptRequest& first = prompt.asked[0];
    EXPECT_EQ(Cp932ToUtf8(first.text), "不正な文字[ ]を検出しました");
    EXPECT_EQ(first.caption, "Error");
    EXPECT_EQ(first.buttons, PromptButtons::Ok);
    EXPECT_EQ(first.icon, PromptIcon::None);
    EXPECT_EQ(Cp932ToUtf8(prompt.asked[1].text), "不正な文字[#]を検出しました");
}

}  // namespace
}  // namespace wp
