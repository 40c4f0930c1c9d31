// Encoded words in the charsets of today's mail, RFC 2231 parameters, and
// the CP932 the list keeps: 〓 for what code page 932 cannot hold.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/charset.h"
#include "decode/header_fields.h"
#include "decode/kanji_converter.h"
#include "decode/mime_body.h"
#include "platform/text.h"
#include "table_case.h"

namespace wp {
namespace {

using namespace std::string_literals;

std::string Sj(const char* utf8) {
    return Utf8ToCp932(utf8).value_or("<not CP932>");
}

struct WordCase {
    const char* what;
    std::string value;
    std::string decoded;  // CP932
};

void PrintTo(const WordCase& c, std::ostream* os) {
    *os << c.what;
}

class TodaysWords : public testing::TestWithParam<WordCase> {};

TEST_P(TodaysWords, DecodeToShiftJis) {
    const WordCase& c = GetParam();
    std::vector<char> reports;
    const std::string decoded = DecodeHeaderText(c.value, [&](char ch) { reports.push_back(ch); });
    EXPECT_EQ(Cp932ToUtf8(decoded), Cp932ToUtf8(c.decoded)) << c.what;
    EXPECT_EQ(decoded, c.decoded) << c.what;
    EXPECT_TRUE(reports.empty()) << c.what;
    EXPECT_LE(decoded.size(), c.value.size()) << c.what;
}

const WordCase kWordCases[] = {
    // RFC 2047 section 8 examples.
    {"RFC 2047 ISO-8859-1 Q", "=?ISO-8859-1?Q?a?=", "a"},
    {"RFC 2047 adjacent words lose the blank", "=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=", "ab"},
    {"RFC 2047 folded words lose the fold", "=?ISO-8859-1?Q?a?=\r\n    =?ISO-8859-1?Q?b?=", "ab"},
    {"RFC 2047 underscore", "=?ISO-8859-1?Q?a_b?=", "a b"},
    {"RFC 2047 text keeps its blank", "=?ISO-8859-1?Q?a?= b", "a b"},
    // What today's mailers write.
    {"Gmail UTF-8 B", "=?UTF-8?B?5pel5pys6Kqe44Gu5Lu25ZCN?=", Sj("日本語の件名")},
    {"lower-case utf-8 and b", "=?utf-8?b?5pel5pys6Kqe?=", Sj("日本語")},
    {"Outlook UTF-8 Q", "=?utf-8?Q?=E4=BC=9A=E8=AD=B0?=", Sj("会議")},
    {"Q letter in lower case", "=?UTF-8?q?=E4=BC=9A=E8=AD=B0?=", Sj("会議")},
    {"word split inside a character", "=?UTF-8?B?5pel5pys?= =?UTF-8?B?6Kqe?=", Sj("日本") + Sj("語")},
    {"Re: before a word", "Re: =?UTF-8?B?5pel5pys6Kqe?=", Sj("Re: 日本語")},
    {"Shift_JIS word", "=?Shift_JIS?B?k/qWe4zq?=", Sj("日本語")},
    {"EUC-JP word", "=?EUC-JP?B?xvzL3Ljs?=", Sj("日本語")},
    {"ISO-2022-JP Q with a lower-case letter", "=?iso-2022-jp?b?GyRCJUYlOSVIGyhC?=", Sj("テスト")},
    {"language after the charset", "=?UTF-8*ja?B?5pel5pys6Kqe?=", Sj("日本語")},
    {"windows-1252 Q", "=?windows-1252?Q?caf=E9?=", Sj("caf") + "\x81\xAC"},
    {"KS C 5601 Hangul holds no CP932", "=?ks_c_5601-1987?B?x9Gx2w==?=", "\x81\xAC\x81\xAC"},
    {"EUC-KR Hangul holds no CP932", "=?EUC-KR?B?x9Gx2w==?=", "\x81\xAC\x81\xAC"},
    {"GB2312 kanji", "=?GB2312?B?1tDOxA==?=", Sj("中文")},
    {"Big5 kanji", "=?Big5?B?pKSk5Q==?=", Sj("中文")},
    // 𠮷 and an emoji lie beyond CP932: one 〓 each, neighbours intact.
    {"emoji between kanji", "=?UTF-8?B?5pel8J+YgOacrA==?=", Sj("日") + "\x81\xAC" + Sj("本")},
    {"tsuchi-yoshi", "=?UTF-8?B?8KCut+mHjuWutg==?=", "\x81\xAC" + Sj("野家")},
    // Wrong or unknown charsets fall back to the text's own code.
    {"unknown charset holding UTF-8", "=?x-unknown?B?5pel5pys6Kqe?=", Sj("日本語")},
    {"UTF-8 declared, Shift_JIS sent", "=?UTF-8?B?k/qWe4zq?=", Sj("日本語")},
    {"invalid UTF-8 in an unknown charset", "=?x-unknown?B?/w==?=", "\xFF"},
};

INSTANTIATE_TEST_SUITE_P(Table, TodaysWords, testing::ValuesIn(kWordCases), CaseName<TodaysWords::ParamType>);

TEST(TodaysWordsLimits, ALongUtf8WordIsCutInWholeCharacters) {
    std::string word = "=?UTF-8?Q?";
    for (int i = 0; i < 1000; ++i) {
        word += "=E6=97=A5";  // 日
    }
    word += "?=";
    const std::string decoded = DecodeHeaderText(word);
    EXPECT_EQ(decoded.size(), 1022u);
    EXPECT_EQ(Cp932ToUtf8(decoded).find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(TodaysWordsLimits, InvalidBase64InANewWordIsReportedOnce) {
    int reports = 0;
    DecodeHeaderText("=?UTF-8?B?5p!el?= =?UTF-8?B?5p!el?=", [&](char) { ++reports; });
    EXPECT_EQ(reports, 1);
}

struct RawJisCase {
    const char* what;
    std::string value;
    std::string decoded;
};

void PrintTo(const RawJisCase& c, std::ostream* os) {
    *os << c.what;
}

class RawJisEquals : public testing::TestWithParam<RawJisCase> {};

TEST_P(RawJisEquals, IsACharacterByteInsideATwoByteRun) {
    EXPECT_EQ(Cp932ToUtf8(DecodeHeaderText(GetParam().value)), Cp932ToUtf8(GetParam().decoded));
}

// 製 is 0x403D, 書 is 0x3D71 in JIS X 0208.
const RawJisCase kRawJisCases[] = {
    {"= as a second byte", "\x1B$B@=Fb\x1B(B", Sj("製内")},
    {"= as a first byte", "\x1B$B=q\x1B(B", Sj("書")},
    {"= outside the run is still dropped", "a=b\x1B$B=q\x1B(B=c", Sj("ab書c")},
    {"a line end ends the run", "\x1B$B=q\r\n=x", Sj("書") + "x"},
};

INSTANTIATE_TEST_SUITE_P(Table, RawJisEquals, testing::ValuesIn(kRawJisCases), CaseName<RawJisEquals::ParamType>);

TEST(Cp932Geta, WhatCp932LacksBecomesGetaAndNothingElseIsLost) {
    EXPECT_EQ(Utf8ToCp932Geta("a\xF0\x9F\x98\x80" "b"), "a\x81\xAC" "b");
    EXPECT_EQ(Utf8ToCp932Geta("\xED\x95\x9C\xEA\xB8\x80"), "\x81\xAC\x81\xAC");  // 한글
    EXPECT_EQ(Utf8ToCp932Geta("x\xFFy"), "x\x81\xACy");                             // no UTF-8
    EXPECT_EQ(Utf8ToCp932Geta("\xE3\x80\x9C"), "\x81\x60");  // wave dash takes its look-alike
    EXPECT_EQ(Utf8ToCp932Geta(Cp932ToUtf8(Sj("①髙﨑"))), Sj("①髙﨑"));
}

TEST(Cp932Geta, LooksLikeUtf8NeedsValidMultiByteText) {
    EXPECT_TRUE(LooksLikeUtf8("\xE6\x97\xA5"));
    EXPECT_FALSE(LooksLikeUtf8("plain ascii"));
    EXPECT_FALSE(LooksLikeUtf8(Sj("日本語")));
    EXPECT_FALSE(LooksLikeUtf8("\xC0\xAF"));          // over-long
    EXPECT_FALSE(LooksLikeUtf8("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(LooksLikeUtf8("\xE6\x97"));          // cut short
    EXPECT_TRUE(LooksLikeUtf8("\xF0\xA0\xAE\xB7"));  // 𠮷
    // Long ASCII runs are skipped in words: what follows them, at any
    // offset and up to the last byte, is still judged.
    for (std::size_t run = 0; run < 20; ++run) {
        SCOPED_TRACE(run);
        const std::string ascii(run, 'a');
        EXPECT_TRUE(LooksLikeUtf8(ascii + "\xE6\x97\xA5"));
        EXPECT_TRUE(LooksLikeUtf8(ascii + "\xE6\x97\xA5" + ascii));
        EXPECT_FALSE(LooksLikeUtf8(ascii + "\xE6\x97\xA5" + ascii + "\x80"));
        EXPECT_FALSE(LooksLikeUtf8(ascii + "\xE6\x97"));
        EXPECT_FALSE(LooksLikeUtf8(ascii + Sj("日本語") + ascii));
        EXPECT_FALSE(LooksLikeUtf8(ascii + ascii));
    }
}

struct ParameterCase {
    const char* what;
    std::string disposition;
    std::string contentType;
    std::string name;  // UTF-8
};

void PrintTo(const ParameterCase& c, std::ostream* os) {
    *os << c.what;
}

class FileNames : public testing::TestWithParam<ParameterCase> {};

TEST_P(FileNames, AreDecoded) {
    const ParameterCase& c = GetParam();
    EXPECT_EQ(Cp932ToUtf8(MimeFileName(c.disposition, c.contentType)), c.name);
}

const ParameterCase kParameterCases[] = {
    {"plain quoted", "attachment; filename=\"report.pdf\"", "", "report.pdf"},
    {"plain token", "attachment; filename=report.pdf; size=10", "", "report.pdf"},
    {"RFC 2231 UTF-8", "attachment; filename*=UTF-8''%E8%A6%8B%E7%A9%8D.pdf", "", "見積.pdf"},
    {"RFC 2231 with a language", "attachment; filename*=utf-8'ja'%E8%A6%8B%E7%A9%8D.pdf", "", "見積.pdf"},
    {"RFC 2231 sections", "attachment;\r\n filename*0*=UTF-8''%E8%A6%8B; filename*1*=%E7%A9%8D;\r\n filename*2=.pdf",
     "", "見積.pdf"},
    {"RFC 2231 sections out of order", "attachment; filename*1=\"def\"; filename*0=\"abc\"", "", "abcdef"},
    {"RFC 2231 ISO-2022-JP", "attachment; filename*=iso-2022-jp''%1B%24B8%2B%40Q%3Dq%1B%28B", "", "見積書"},
    {"RFC 2231 beats the plain form", "attachment; filename=\"old.txt\"; filename*=UTF-8''new.txt", "",
     "new.txt"},
    {"encoded word inside quotes (Outlook)", "attachment; filename=\"=?UTF-8?B?6KaL56mN?=.pdf\"", "", "見積.pdf"},
    {"raw UTF-8 name (Apple Mail)", "attachment; filename=\"\xE8\xA6\x8B\xE7\xA9\x8D.pdf\"", "", "見積.pdf"},
    {"name from the Content-Type", "", "application/pdf; name=\"=?ISO-2022-JP?B?GyRCOCtAUT1xGyhC?=.pdf\"",
     "見積書.pdf"},
    {"escaped quote inside", "attachment; filename=\"a\\\"b.txt\"", "", "a\"b.txt"},
    {"no name", "inline", "text/plain", ""},
};

INSTANTIATE_TEST_SUITE_P(Table, FileNames, testing::ValuesIn(kParameterCases), CaseName<FileNames::ParamType>);

}  // namespace
}  // namespace wp

namespace wp {
namespace {

// Japanese text reaches UTF-8 a piece at a time: the same characters as the
// whole text through Shift_JIS, wherever a piece ends inside an escape, a
// pair, a katakana waiting for its sound mark, or a broken sequence.
TEST(JapaneseToUtf8, PiecesReadAsTheWholeText) {
    const std::size_t piece = 1 << 16;
    const struct {
        const char* what;
        std::string unit;  // repeated past the first piece boundaries
        std::int32_t code;
    } cases[] = {
        {"JIS kanji, kana and ASCII", "\x1b$BF|K\\\x1b(I6^1\x1b(B ab\r\n", KANJI_JIS},
        {"JIS with an unknown set and a lone ESC", "\x1b$BF|\x1b$(DAB\x1b x\x1b(B\r\n", KANJI_JIS},
        {"EUC-JP kanji and kana after SS2", "\xc6\xfc\xcb\xdc\x8e\xb6\x8e\xde x\r\n", KANJI_EUC},
        {"EUC-JP with a broken pair", "\xc6\xfc\xcb\x20\x8e\x41 y\r\n", KANJI_EUC},
        {"detected JIS", "\x1b$B$3$s\x1b(B line\r\n", KANJI_AUTO},
        {"detected EUC-JP", "\xa4\xb3\xa4\xf3 line\r\n", KANJI_AUTO},
        {"Shift_JIS", "\x93\xfa\x96\x7b\xb6\xde\r\n", KANJI_SJIS},
    };
    for (const auto& c : cases) {
        for (std::size_t shift = 0; shift < 5; ++shift) {
            SCOPED_TRACE(testing::Message() << c.what << ", shifted by " << shift);
            std::string text(shift, 'x');
            while (text.size() < 2 * piece + 100) {
                text += c.unit;
            }
            // And a text cut at its end in the middle of a unit.
            for (const std::string& whole : {text, text.substr(0, text.size() - 3)}) {
                const std::int32_t source =
                    c.code == KANJI_AUTO ? CKanjiConverter::DetectCode(whole.data(), whole.size()) : c.code;
                const std::string expected =
                    Cp932TextToUtf8(CKanjiConverter::Convert(whole.data(), whole.size(), source, KANJI_SJIS));
                EXPECT_EQ(TextToUtf8(whole, {}, c.code), expected);
            }
        }
    }
    // Quoted-printable JIS without an escape written as it is.
    const std::string quoted = "Subject: x\r\n\r\n=1B$BF|K\\=1B(B\r\n";
    EXPECT_EQ(TextToUtf8(quoted, "iso-2022-jp", KANJI_AUTO),
              Cp932TextToUtf8(CKanjiConverter::Convert(quoted.data(), quoted.size(), KANJI_JIS, KANJI_SJIS)));
}

}  // namespace
}  // namespace wp
