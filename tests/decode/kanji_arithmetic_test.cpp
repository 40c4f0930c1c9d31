// The JIS X 0208 <-> Shift_JIS arithmetic and the katakana tables, against
// glibc's converters and Unicode normalisation.

#include <gtest/gtest.h>

#include <QString>

#include "decode/jis_sjis.h"
#include "platform/text.h"
#include "tests/decode/kanji_test_support.h"

using namespace wp;
using namespace wp::kanji_test;

// Every assigned JIS X 0208 cell, written as ISO-2022-JP and as EUC-JP, must
// land on the Shift_JIS code that glibc's CP932 converter gives.
TEST(KanjiArithmetic, JisToSjisMatchesGlibcOnEveryCell) {
    Iconv fromJis("ISO-2022-JP", "CP932");
    Iconv fromEuc("EUC-JP", "CP932");
    ASSERT_TRUE(fromJis.ok() && fromEuc.ok());
    int compared = 0;
    for (unsigned hi = 0x21; hi <= 0x7E; ++hi) {
        for (unsigned lo = 0x21; lo <= 0x7E; ++lo) {
            const unsigned jis = hi << 8 | lo;
            const unsigned sjis = JisToSjisCode(static_cast<std::uint16_t>(jis));
            ASSERT_NE(sjis, 0u) << std::hex << jis;
            auto viaJis = fromJis.Convert("\x1b$B" + TwoBytes(jis) + "\x1b(B");
            auto viaEuc = fromEuc.Convert(TwoBytes(jis | 0x8080));
            for (const auto& ref : {viaJis, viaEuc}) {
                if (ref && ref->size() == 2) {
                    EXPECT_EQ(Code(*ref), sjis) << std::hex << "JIS " << jis;
                    ++compared;
                }
            }
        }
    }
    // JIS X 0208 assigns 6879 cells; a few symbols have no CP932 form in glibc.
    EXPECT_GT(compared, 2 * 6800);
}

// Shift_JIS codes of the JIS X 0208 rows (not the NEC and IBM extensions,
// which CP932 maps to duplicates) back to JIS, against CP932 -> EUC-JP.
TEST(KanjiArithmetic, SjisToJisMatchesGlibcOnJisRows) {
    Iconv toEuc("CP932", "EUC-JP");
    ASSERT_TRUE(toEuc.ok());
    int compared = 0;
    for (unsigned lead = 0x81; lead <= 0xEA; ++lead) {
        if ((lead >= 0x85 && lead <= 0x87) || (lead >= 0xA0 && lead <= 0xDF)) {
            continue;
        }
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) {
                continue;
            }
            const unsigned sjis = lead << 8 | trail;
            const unsigned jis = SjisToJisCode(static_cast<std::uint16_t>(sjis));
            ASSERT_NE(jis, 0u) << std::hex << sjis;
            auto ref = toEuc.Convert(TwoBytes(sjis));
            if (ref && ref->size() == 2) {
                EXPECT_EQ(Code(*ref), jis | 0x8080) << std::hex << "Shift_JIS " << sjis;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 6800);
}

// Over all 65536 inputs: nonzero exactly where the validity rules allow, and
// the two directions undo each other.
TEST(KanjiArithmetic, ValidityAndRoundTripOverAllCodes) {
    for (unsigned code = 0; code <= 0xFFFF; ++code) {
        const unsigned hi = code >> 8;
        const unsigned lo = code & 0xFF;
        const bool jisOk = hi >= 0x21 && hi <= 0x7E && lo >= 0x21 && lo <= 0x7E;
        const unsigned sjis = JisToSjisCode(static_cast<std::uint16_t>(code));
        ASSERT_EQ(sjis != 0, jisOk) << std::hex << code;
        if (jisOk) {
            ASSERT_EQ(SjisToJisCode(static_cast<std::uint16_t>(sjis)), code) << std::hex << code;
        }
        const bool sjisOk = ((hi >= 0x81 && hi <= 0x9F) || (hi >= 0xE0 && hi <= 0xFC)) &&
                            ((lo >= 0x40 && lo <= 0x7E) || (lo >= 0x80 && lo <= 0xFC));
        const unsigned jis = SjisToJisCode(static_cast<std::uint16_t>(code));
        ASSERT_EQ(jis != 0, sjisOk) << std::hex << code;
        if (sjisOk && (jis >> 8) <= 0x7E) {
            ASSERT_EQ(JisToSjisCode(static_cast<std::uint16_t>(jis)), code) << std::hex << code;
        }
    }
}

TEST(KanjiArithmetic, InvalidInputsGiveZero) {
    struct Case {
        unsigned code;
        bool fromJis;
    } cases[] = {
        {0x2021, true},  {0x2120, true},  {0x7F21, true},  {0x217F, true},  {0xA1A1, true},
        {0x0000, true},  {0x8040, false}, {0xA040, false}, {0xDF40, false}, {0xFD40, false},
        {0x813F, false}, {0x817F, false}, {0x81FD, false}, {0x8100, false}, {0x4141, false},
    };
    for (const auto& c : cases) {
        const auto code = static_cast<std::uint16_t>(c.code);
        EXPECT_EQ(c.fromJis ? JisToSjisCode(code) : SjisToJisCode(code), 0) << std::hex << c.code;
    }
}

// Each half-width katakana widens to the character that compatibility
// normalisation gives (the sound marks as their spacing forms).
TEST(KanjiArithmetic, KanaTableMatchesNormalisation) {
    EXPECT_EQ(kanaToJis[0], 0x2121);
    for (unsigned b = 0xA1; b <= 0xDF; ++b) {
        QString wide = Cp932ToQString(Bytes({b})).normalized(QString::NormalizationForm_KC);
        ASSERT_EQ(wide.size(), 1) << std::hex << b;
        if (wide[0] == QChar(0x3099)) {
            wide = QString(QChar(0x309B));
        } else if (wide[0] == QChar(0x309A)) {
            wide = QString(QChar(0x309C));
        }
        auto sjis = QStringToCp932(wide);
        ASSERT_TRUE(sjis && sjis->size() == 2) << std::hex << b;
        EXPECT_EQ(JisToSjisCode(kanaToJis[b - 0xA0]), Code(*sjis)) << std::hex << b;
    }
}

// A sound mark merges exactly where Unicode composes the pair into one
// character that CP932 has, except u with the voiced mark, which stays two.
TEST(KanjiArithmetic, VoicedMarkOffsetMatchesComposition) {
    int merges = 0;
    for (unsigned kana = 0xA0; kana <= 0xDF; ++kana) {
        for (unsigned mark : {0xDEu, 0xDFu, 0xB3u, 0xA0u}) {
            int expected = 0;
            QString base = Cp932ToQString(Bytes({kana})).normalized(QString::NormalizationForm_KC);
            if (kana != 0xA0 && kana != 0xB3 && (mark == 0xDE || mark == 0xDF)) {
                QString pair = base + QChar(mark == 0xDE ? 0x3099 : 0x309A);
                QString composed = pair.normalized(QString::NormalizationForm_C);
                auto sjis = QStringToCp932(composed);
                if (composed.size() == 1 && sjis && sjis->size() == 2) {
                    expected = static_cast<int>(Code(*sjis)) -
                               static_cast<int>(JisToSjisCode(kanaToJis[kana - 0xA0]));
                }
            }
            EXPECT_EQ(VoicedMarkOffset(kana, mark), expected) << std::hex << kana << " " << mark;
            merges += expected != 0;
        }
    }
    EXPECT_EQ(merges, 15 + 5 + 5);  // ka-to and ha-ho voiced, ha-ho semi-voiced
}
