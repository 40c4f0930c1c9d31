// Decoding header values: B and Q encoded words in ISO-2022-JP, plain JIS
// and raw Shift_JIS, the limits of the work buffers and the report of
// invalid base64 characters.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/header_fields.h"
#include "platform/text.h"
#include "table_case.h"

namespace wp {
namespace {

using namespace std::string_literals;

// Expected texts are written in UTF-8 and compared as CP932.
std::string Sj(const char* utf8) {
    return Utf8ToCp932(utf8).value_or("<not CP932>");
}

// テスト, 日本語, こんにちは (padded with "=="), 会議の件 (padded with "=").
constexpr const char* kTesuto = "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=";
constexpr const char* kNihongo = "=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=";
constexpr const char* kKonnichiwa = "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=";
constexpr const char* kKaigi = "=?ISO-2022-JP?B?GyRCMnE1RCRON28bKEI=?=";

struct DecodeCase {
    const char* what;
    std::string value;
    std::string decoded;  // CP932
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.what;
}

class HeaderDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(HeaderDecode, GivesShiftJis) {
    const DecodeCase& c = GetParam();
    std::vector<char> reports;
    std::string decoded = DecodeHeaderText(c.value, [&](char ch) { reports.push_back(ch); });
    EXPECT_EQ(Cp932ToUtf8(decoded), Cp932ToUtf8(c.decoded)) << c.what;
    EXPECT_EQ(decoded, c.decoded) << c.what;
    EXPECT_TRUE(reports.empty()) << c.what;
    EXPECT_LE(decoded.size(), c.value.size()) << c.what;
}

const DecodeCase kDecodeCases[] = {
    // B words and their padding.
    {"B word needing no padding", kTesuto, Sj("テスト")},
    {"B word padded with ==", kKonnichiwa, Sj("こんにちは")},
    {"B word with its == left off", "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg?=", Sj("こんにちは")},
    {"B word padded with =", kKaigi, Sj("会議の件")},
    {"B word with its = left off", "=?ISO-2022-JP?B?GyRCMnE1RCRON28bKEI?=", Sj("会議の件")},
    {"lower-case charset", "=?iso-2022-jp?B?GyRCJUYlOSVIGyhC?=", Sj("テスト")},
    {"B word that is not closed", "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC", Sj("テスト")},
    {"empty B word",
     "=?ISO-2022-JP?B?"
     "?=",
     ""},

    // Charset names in any case and the letter in either case (RFC 2047);
    // these once came out as plain text.
    {"mixed-case charset", "=?Iso-2022-Jp?B?GyRCJUYlOSVIGyhC?=", Sj("テスト")},
    {"lower-case b", "=?ISO-2022-JP?b?GyRCJUYlOSVIGyhC?=", Sj("テスト")},
    {"Q with an upper-case charset and lower q", "=?ISO-2022-JP?q?abc?=", "abc"},
    {"UTF-8 B word", "=?UTF-8?B?44OG?=", Sj("テ")},
    // A word with a blank inside is no encoded word: plain text, "=" lost.
    {"mixed-case word with a blank", "=?Iso-2022-Jp?B?Gy RC?=", "?Iso-2022-Jp?B?Gy RC?"},

    // Q words, whose text may begin with "=1B".
    {"Q word beginning with =1B", "=?ISO-2022-JP?Q?=1B$B%F%9%H=1B(B?=", Sj("テスト")},
    {"Q word with =3D inside", "=?ISO-2022-JP?Q?=1B$B8+@Q=3Dq=1B(B?=", Sj("見積書")},
    {"Q word in lower case", "=?iso-2022-jp?q?=1b$B%F%9%H=1b(B?=", Sj("テスト")},
    {"Q word with a capital Q", "=?iso-2022-jp?Q?=1B$B%F%9%H=1B(B?=", Sj("テスト")},
    {"Q underscore is a space", "=?ISO-2022-JP?Q?a_b?=", "a b"},
    {"Q = without two hex digits stays", "=?ISO-2022-JP?Q?a=zb=4?=", "a=zb=4"},
    {"Q word that is not closed is plain text", "=?ISO-2022-JP?Q?=1B$B%F", "?ISO-2022-JP?Q?1B$B%F"},
    {"Q word then B word", "=?ISO-2022-JP?Q?=1B$B%F%9%H=1B(B?= "s + kNihongo, Sj("テスト 日本語")},

    // What lies between words.
    {"words joined by CR LF TAB", kTesuto + "\r\n\t"s + kNihongo, Sj("テスト日本語")},
    {"words joined by CR LF and a blank", kTesuto + "\r\n "s + kNihongo, Sj("テスト 日本語")},
    {"words unfolded with a TAB", kTesuto + "\t"s + kNihongo, Sj("テスト日本語")},
    {"words next to each other", kTesuto + std::string(kNihongo), Sj("テスト日本語")},
    {"plain text around a word", "Re: "s + kTesuto + " (1)", Sj("Re: テスト (1)")},
    {"plain text loses = and TAB", "a=b\tc==d", "abcd"},
    {"a lone question mark is dropped", "a=?=b", "ab"},

    // Plain JIS and raw Shift_JIS.
    {"raw Shift_JIS passes", Sj("日本語の件名"), Sj("日本語の件名")},
    {"unencoded JIS", "\x1B$BF|K\\8l\x1B(B abc", Sj("日本語 abc")},
    {"JIS with ESC $@ and ESC (J", "\x1B$@%F\x1B(Jx", Sj("テx")},
    {"each piece starts in roman mode", "\x1B$B%F\r\n%F", Sj("テ") + "%F"},
    {"ESC (I is copied as it is", "\x1B(I1", "\x1B(I1"},
    {"an invalid pair ends the piece", "\x1B$B%F%\x01xyz=ok", Sj("テ") + "ok"},
    {"a first byte at the end ends the piece", "\x1B$B%F%", Sj("テ")},
    {"a zero byte in a decoded word ends it", "=?ISO-2022-JP?B?QQBC?=x", "Ax"},
    {"a zero byte in the value ends it", "ab\0cd"s, "ab"},
    {"empty", "", ""},
};

INSTANTIATE_TEST_SUITE_P(Table, HeaderDecode, testing::ValuesIn(kDecodeCases),
                         CaseName<HeaderDecode::ParamType>);

TEST(HeaderDecodeLimits, PiecesAreCutToTheirWorkBuffer) {
    EXPECT_EQ(DecodeHeaderText(std::string(5000, 'a')), std::string(1023, 'a'));
    // Each piece has its own buffer.
    EXPECT_EQ(DecodeHeaderText(std::string(2000, 'a') + "=" + std::string(2000, 'b')),
              std::string(1023, 'a') + std::string(1023, 'b'));
}

TEST(HeaderDecodeLimits, CutKeepsShiftJisCharactersWhole) {
    std::string kanji;
    for (int i = 0; i < 3000; ++i) {
        kanji += Sj("漢");
    }
    std::string decoded = DecodeHeaderText(kanji);
    ASSERT_EQ(decoded.size(), 1022u);
    EXPECT_EQ(Cp932ToUtf8(decoded).find("\xEF\xBF\xBD"), std::string::npos) << "a character was split";
}

TEST(HeaderDecodeLimits, QWordIsCutToItsWorkBuffer) {
    std::string word = "=?ISO-2022-JP?Q?";
    for (int i = 0; i < 3000; ++i) {
        word += "=41";
    }
    word += "?=tail";
    EXPECT_EQ(DecodeHeaderText(word), std::string(1023, 'A') + "tail");
}

TEST(HeaderDecodeLimits, LongJisWordKeepsWholeCharacters) {
    std::string jis = "\x1B$B";
    for (int i = 0; i < 2000; ++i) {
        jis += "%F";
    }
    std::string sjis = JisHeaderToSjis(jis);
    EXPECT_EQ(sjis.size(), 1022u);
    EXPECT_EQ(sjis.substr(0, 2), Sj("テ"));
}

struct InvalidCase {
    const char* what;
    std::string value;
    char first;        // the character named in the one report
    std::string same;  // the value with every invalid character written as 'A' (value 0)
};

void PrintTo(const InvalidCase& c, std::ostream* os) {
    *os << c.what;
}

class HeaderDecodeInvalid : public testing::TestWithParam<InvalidCase> {};

TEST_P(HeaderDecodeInvalid, ReportsOnceAndDecodesAsZero) {
    const InvalidCase& c = GetParam();
    std::vector<char> reports;
    std::string decoded = DecodeHeaderText(c.value, [&](char ch) { reports.push_back(ch); });
    EXPECT_EQ(reports, std::vector<char>{c.first}) << c.what;
    std::vector<char> none;
    EXPECT_EQ(decoded, DecodeHeaderText(c.same, [&](char ch) { none.push_back(ch); })) << c.what;
    EXPECT_TRUE(none.empty()) << c.what;
}

const InvalidCase kInvalidCases[] = {
    {"a blank inside", "=?ISO-2022-JP?B?GyRC JUYlOSVIGyhC?=", ' ', "=?ISO-2022-JP?B?GyRCAJUYlOSVIGyhC?="},
    {"several in one word", "=?ISO-2022-JP?B?Gy!C#UYlOSVIGyhC?=", '!', "=?ISO-2022-JP?B?GyACAUYlOSVIGyhC?="},
    {"in two words", "=?ISO-2022-JP?B?GyRCJU.lOSVIGyhC?= =?ISO-2022-JP?B?GyRC*nxLXDhsGyhC?=", '.',
     "=?ISO-2022-JP?B?GyRCJUAlOSVIGyhC?= =?ISO-2022-JP?B?GyRCAnxLXDhsGyhC?="},
    {"a byte above 0x7F", "=?ISO-2022-JP?B?GyRC\x82JUYlOSVIGyhC?=", '\x82',
     "=?ISO-2022-JP?B?GyRCAJUYlOSVIGyhC?="},
    {"a question mark inside", "=?ISO-2022-JP?B?GyRC?JUYlOSVIGyhC?=", '?',
     "=?ISO-2022-JP?B?GyRCAJUYlOSVIGyhC?="},
};

INSTANTIATE_TEST_SUITE_P(Table, HeaderDecodeInvalid, testing::ValuesIn(kInvalidCases),
                         CaseName<HeaderDecodeInvalid::ParamType>);

TEST(HeaderDecodeReport, ThousandsOfBadWordsGiveOneReport) {
    std::string value;
    for (int i = 0; i < 5000; ++i) {
        value += "=?ISO-2022-JP?B?Gy RCJUYlOSVIGyhC?= ";
    }
    int reports = 0;
    DecodeHeaderText(value, [&](char) { ++reports; });
    EXPECT_EQ(reports, 1);
}

TEST(HeaderDecodeReport, EachValueReportsOnItsOwn) {
    int reports = 0;
    auto count = [&](char) { ++reports; };
    DecodeHeaderText("=?ISO-2022-JP?B?G y?=", count);
    DecodeHeaderText("=?ISO-2022-JP?B?G y?=", count);
    EXPECT_EQ(reports, 2);
}

TEST(HeaderDecodeReport, NoReceiverIsFine) {
    EXPECT_EQ(DecodeHeaderText("=?ISO-2022-JP?B?GyRC JUYlOSVIGyhC?="),
              DecodeHeaderText("=?ISO-2022-JP?B?GyRCAJUYlOSVIGyhC?="));
}

}  // namespace
}  // namespace wp
