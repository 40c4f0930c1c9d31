// The row texts of a listed mail, from header blocks as TOP n 0 returns them.

#include "decode/header_summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "table_case.h"

namespace wp {
namespace {

std::string Sj(const char* utf8) {
    return Utf8ToCp932(utf8).value_or("<not CP932>");
}

HeaderSummary Summarize(const std::string& block, std::vector<char>* reports = nullptr) {
    return SummarizeHeader(block.data(), block.size(), 4321, 17, [reports](char c) {
        if (reports != nullptr) {
            reports->push_back(c);
        }
    });
}

TEST(HeaderSummary, JapaneseMailInBWords) {
    const std::string block =
        "+OK 1523 octets\r\n"
        "Return-Path: <yamada@example.jp>\r\n"
        "Received: from mail.example.jp (mail.example.jp [192.0.2.1])\r\n"
        "\tby mx.example.com (Postfix) with ESMTP id 4F2A1\r\n"
        "\tfor <suzuki@example.com>; Mon, 7 Mar 2005 09:05:10 +0900 (JST)\r\n"
        "Message-ID: <20050307090500.1234@example.jp>\r\n"
        "Date: Mon, 7 Mar 2005 09:05:00 +0900\r\n"
        "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <yamada@example.jp>\r\n"
        "To: suzuki@example.com\r\n"
        "Subject: =?ISO-2022-JP?B?GyRCMnE1RCRON28bKEI=?=\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
        "Content-Transfer-Encoding: 7bit\r\n"
        "X-Mailer: Example Mailer 1.0\r\n"
        "\r\n"
        ".\r\n";
    HeaderSummary s = Summarize(block);
    EXPECT_EQ(s.id, 17u);
    EXPECT_EQ(s.size, 4321u);
    EXPECT_EQ(Cp932ToUtf8(s.subject), "会議の件");
    EXPECT_EQ(Cp932ToUtf8(s.from), " 山田太郎 <yamada@example.jp>");
    EXPECT_EQ(s.date, "2005/03/07 09:05:00 ");
    EXPECT_EQ(s.hasParts, 0);
}

TEST(HeaderSummary, MultipartMailWithFoldedWordsAndAQSender) {
    const std::string block =
        "+OK\r\n"
        "From: \"=?ISO-2022-JP?Q?=1B$B%F%9%H=1B(B?=\" <test@example.com>\r\n"
        "Date: Tue, 15 Feb 2011 23:59:59 +0000\r\n"
        "Content-Type: multipart/mixed;\r\n"
        " boundary=\"----=_Part_0_12345\"\r\n"
        "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
        "\t=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\n"
        "\r\n"
        ".\r\n";
    HeaderSummary s = Summarize(block);
    EXPECT_EQ(Cp932ToUtf8(s.subject), "テスト日本語");
    EXPECT_EQ(Cp932ToUtf8(s.from), " \"テスト\" <test@example.com>");
    EXPECT_EQ(s.date, "2011/02/15 23:59:59 (+0000)");
    EXPECT_EQ(s.hasParts, 1);
}

TEST(HeaderSummary, RawShiftJisAndNoContentType) {
    const std::string block = "+OK\r\nSubject: " + Sj("見積書の送付") + "\r\nFrom: " + Sj("佐藤") +
                              " <sato@example.jp>\r\nDate: 1 Jan 98 00:00:00 GMT\r\n\r\n.\r\n";
    HeaderSummary s = Summarize(block);
    EXPECT_EQ(s.subject, Sj("見積書の送付"));
    EXPECT_EQ(s.from, " " + Sj("佐藤") + " <sato@example.jp>");
    EXPECT_EQ(s.date, "1998/01/01 00:00:00 (GMT)");
    EXPECT_EQ(s.hasParts, 0);
}

TEST(HeaderSummary, SubjectFoldedWithABlankKeepsOneBlank) {
    const std::string block =
        "+OK\r\nSubject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\n"
        "To: a\r\n\r\n.\r\n";
    EXPECT_EQ(Cp932ToUtf8(Summarize(block).subject), "テスト 日本語");
}

TEST(HeaderSummary, EmptyBlockGivesEmptyTexts) {
    HeaderSummary s = SummarizeHeader("", 0, 99, 3);
    EXPECT_EQ(s.id, 3u);
    EXPECT_EQ(s.size, 99u);
    EXPECT_EQ(s.hasParts, 0);
    EXPECT_TRUE(s.from.empty() && s.subject.empty() && s.date.empty());
}

TEST(HeaderSummary, BlockEndsAtAZeroByte) {
    const std::string block("+OK\r\nSubject: ab\0\r\nFrom: x\r\n", 28);
    HeaderSummary s = Summarize(block);
    EXPECT_EQ(s.subject, "ab");
    EXPECT_EQ(s.from, "");
}

TEST(HeaderSummary, BlockIsReadOnlyToItsLength) {
    // Not zero-terminated: the summary must stop at the given length.
    const std::string text = "+OK\r\nSubject: visible\r\nFrom: hidden\r\n";
    HeaderSummary s = SummarizeHeader(text.data(), text.find("From"), 0, 1);
    EXPECT_EQ(s.subject, "visible");
    EXPECT_EQ(s.from, "");
}

TEST(HeaderSummary, InvalidBase64IsReportedPerValue) {
    std::vector<char> reports;
    const std::string block =
        "+OK\r\nSubject: =?ISO-2022-JP?B?Gy RC?= =?ISO-2022-JP?B?G!y?=\r\n"
        "From: =?ISO-2022-JP?B?Gy#RC?=\r\n\r\n.\r\n";
    Summarize(block, &reports);
    EXPECT_EQ(reports, (std::vector<char>{' ', '#'}));
}

struct PartsCase {
    const char* what;
    const char* contentType;
    bool hasParts;
};

void PrintTo(const PartsCase& c, std::ostream* os) {
    *os << c.what;
}

class HeaderSummaryParts : public testing::TestWithParam<PartsCase> {};

TEST_P(HeaderSummaryParts, FollowsTheContentType) {
    const PartsCase& c = GetParam();
    std::string block = "+OK\r\nFrom: a\r\n";
    if (c.contentType != nullptr) {
        block += std::string("Content-Type: ") + c.contentType + "\r\n";
    }
    block += "\r\n.\r\n";
    EXPECT_EQ(Summarize(block).hasParts, c.hasParts ? 1 : 0);
    EXPECT_EQ(HasParts(c.contentType == nullptr ? "" : c.contentType), c.hasParts);
}

const PartsCase kPartsCases[] = {
    {"no content type", nullptr, false},
    {"empty content type", "", false},
    {"text plain with a charset", "text/plain; charset=ISO-2022-JP", false},
    {"Text Plain with parameters after it", "Text/Plain; charset=\"iso-2022-jp\"; format=flowed", false},
    {"TEXT PLAIN in capitals", "TEXT/PLAIN; charset=us-ascii", true},
    {"Text plain in another mix", "Text/plain", true},
    {"multipart mixed", "multipart/mixed; boundary=\"b\"", true},
    {"text html", "text/html; charset=Shift_JIS", true},
    {"plain named in a parameter only", "multipart/alternative; x=\"text/plain\"", false},
};

INSTANTIATE_TEST_SUITE_P(Table, HeaderSummaryParts, testing::ValuesIn(kPartsCases),
                         CaseName<HeaderSummaryParts::ParamType>);

}  // namespace
}  // namespace wp
