// Which code a mail's text is taken for.

#include <gtest/gtest.h>

#include "tests/decode/kanji_test_support.h"

using namespace wp;
using namespace wp::kanji_test;

namespace {

struct DetectCase {
    const char* what;
    std::string text;
    std::int32_t code;
};

// EUC-JP bytes: a (hiragana) A4A2, ka (katakana) A5AB, nichi C6FC; a kanji
// of row 75 (first byte 0xEB) EBA1; SS2 with half-width ka 8EB6.
const DetectCase kDetectCases[] = {
    {"empty text", "", KANJI_SJIS},
    {"one byte, even an EUC lead", "\xA4", KANJI_SJIS},
    {"two bytes are scored", "\xA4\xA2", KANJI_SJIS},  // a tie: hiragana is also half-width kana
    {"plain ASCII mail", "From: a@b\r\nSubject: hi\r\n\r\nbody\r\n", KANJI_SJIS},
    {"ESC $B in a header line only", "Subject: \x1b$B$\"\x1b(B\r\n\r\nbody\r\n", KANJI_JIS},
    {"ESC $@", "x\x1b$@$\"", KANJI_JIS},
    {"ESC (I", "x\x1b(I6", KANJI_JIS},
    {"ESC $B as the last three bytes", "ab\x1b$B", KANJI_JIS},
    {"ESC $ as the last two bytes", "ab\xA4\xA2\xEB\xA1\x1b$", KANJI_EUC},
    {"ESC (B and ESC (J alone", "a\x1b(Bb\x1b(Jc\r\n", KANJI_SJIS},
    {"quoted escapes after the empty line", "Subject: x\r\n\r\n=1B$B$\"=1B(B\r\n", KANJI_JIS},
    {"quoted ESC (I", "H: x\r\n\r\nab =1B(I6=1B(B", KANJI_JIS},
    {"quoted escape with lower-case digits", "Subject: x\r\n\r\n=1b$B$\"=1b(B\r\n", KANJI_SJIS},
    {"quoted escape in the header only", "Subject: =1B$B$\"=1B(B\r\n\r\nbody\r\n", KANJI_SJIS},
    {"quoted escape without an empty line", "Subject: x\r\n=1B$B$\"\r\n", KANJI_SJIS},
    {"quoted escape after a zero byte", Lit("H: x\r\n\r\nab\0=1B$B"), KANJI_SJIS},
    {"empty line after a zero byte", Lit("H: x\0\r\n\r\n=1B$B"), KANJI_SJIS},
    {"an ESC $B after a zero byte still counts", Lit("ab\0\x1b$B"), KANJI_JIS},
    {"hiragana line, then a row-75 kanji", "\xA4\xA2\xA4\xA2\r\n\xEB\xA1\r\n", KANJI_EUC},
    {"hiragana only decides nothing", "\xA4\xA2\xA4\xA4\r\n\xA4\xA6\r\n", KANJI_SJIS},
    {"EUC kanji invalid as Shift_JIS", "\xC6\xFC\xCB\xDC\xA4\xA2\xF0\xA1", KANJI_EUC},
    {"Shift_JIS kanji invalid as EUC", "\x93\xFA\x96\x7B", KANJI_SJIS},
    {"Shift_JIS lead cut by the line end", "\x93\n\xFA\xA1", KANJI_EUC},
    {"EUC pair cut by the line end", "\xA1\n", KANJI_SJIS},
    {"lead 0xEB costs 50, EUC fails", "\xEB\x40", KANJI_SJIS},
    {"two leads from 0xEB cost 100", "\xEB\xA1\xEC\xA1", KANJI_EUC},
    {"lead 0xFD counts as a lead", "\xFD\xA1", KANJI_EUC},
    {"SS2 kana is valid in both", "\x8E\xB6\r\n\x93\xFA", KANJI_SJIS},
    {"SS2 before a non-kana byte", "\x8E\xE0", KANJI_SJIS},
    {"tie lines, then an EUC line", "abc\r\n\xA4\xA2\r\n\x8E\xB6\r\n\xA4\xA2\xEB\xA1\r\n", KANJI_EUC},
    {"the first deciding line wins", "\x93\xFA\r\n\xEB\xA1\xEC\xA1\r\n", KANJI_SJIS},
    {"trailing byte after the last LF", "abc\n\xEB\xA1\xEC\xA1", KANJI_EUC},
};

void PrintTo(const DetectCase& c, std::ostream* os) {
    *os << c.what;
}

class KanjiDetectTable : public testing::TestWithParam<DetectCase> {};

TEST_P(KanjiDetectTable, Detects) {
    const DetectCase& c = GetParam();
    EXPECT_EQ(Detect(c.text), c.code) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, KanjiDetectTable, testing::ValuesIn(kDetectCases));

}  // namespace

// A long run of lines that decide nothing, then one that decides: the scan
// must go on past 8-byte words and every line end.
TEST(KanjiDetect, LateDecidingLine) {
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        text += "plain ascii line with some words\r\n\xA4\xA2\xA4\xA4\xA4\xA6 \x8E\xB6\r\n";
    }
    EXPECT_EQ(Detect(text), KANJI_SJIS);
    EXPECT_EQ(Detect(text + "x\xEB\xA1y\r\n"), KANJI_EUC);
    EXPECT_EQ(Detect(text + "1234567\xA4"), KANJI_SJIS);  // an EUC pair cut off at the end
    EXPECT_EQ(Detect(text + "12345678\x93"), KANJI_EUC);
}
