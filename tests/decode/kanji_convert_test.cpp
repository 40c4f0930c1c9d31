// The conversion rules of each direction, the two-leg paths, the katakana
// widening and the file writer.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "decode/jis_sjis.h"
#include "platform/text.h"
#include "tests/decode/kanji_test_support.h"

using namespace wp;
using namespace wp::kanji_test;

namespace {

struct ConvCase {
    const char* what;
    std::int32_t source;
    std::int32_t target;
    std::string in;
    std::string out;
};

// Codes used below (JIS / Shift_JIS / EUC-JP): a 2422/82A0/A4A2, nichi
// 467C/93FA/C6FC, hon 4B5C/967B/CBDC, ka 252B/834A/A5AB, ga 252C/834B/A5AC,
// u 2526/8345/A5A6, voiced mark 212B/814A/A1AB, ha 254F/836E/A5CF, pa
// 2551/8370/A5D1, ideographic space 2121/8140/A1A1. Half-width (JIS X 0201):
// ka B6, u B3, ha CA, voiced DE, semi-voiced DF.
// clang-format off
const ConvCase kConvCases[] = {
    // JIS to Shift_JIS
    {"roman passes", KANJI_JIS, KANJI_SJIS, "abc\r\n", "abc\r\n"},
    {"kanji", KANJI_JIS, KANJI_SJIS, "\x1b$B$\"F|K\\\x1b(B!", "\x82\xA0\x93\xFA\x96\x7B!"},
    {"old kanji designation", KANJI_JIS, KANJI_SJIS, "\x1b$@$\"\x1b(J!", "\x82\xA0!"},
    {"ka + voiced mark is ga", KANJI_JIS, KANJI_SJIS, "\x1b(I6^\x1b(B", "\x83\x4B"},
    {"u + voiced mark stays two", KANJI_JIS, KANJI_SJIS, "\x1b(I3^\x1b(B", "\x83\x45\x81\x4A"},
    {"ha + semi-voiced mark is pa", KANJI_JIS, KANJI_SJIS, "\x1b(IJ_", "\x83\x70"},
    {"ka, ka + voiced mark", KANJI_JIS, KANJI_SJIS, "\x1b(I66^", "\x83\x4A\x83\x4B"},
    {"katakana at the end is kept", KANJI_JIS, KANJI_SJIS, "\x1b(I6", "\x83\x4A"},
    {"katakana before CR LF", KANJI_JIS, KANJI_SJIS, "\x1b(I6\r\n", "\x83\x4A\r\n"},
    {"an escape ends a merge", KANJI_JIS, KANJI_SJIS, "\x1b(I6\x1b(I^", "\x83\x4A\x81\x4A"},
    {"katakana, then kanji", KANJI_JIS, KANJI_SJIS, "\x1b(I6\x1b$B$\"", "\x83\x4A\x82\xA0"},
    {"non-katakana byte in katakana", KANJI_JIS, KANJI_SJIS, "\x1b(I6`", "\x83\x4A`"},
    {"ESC and another byte", KANJI_JIS, KANJI_SJIS, "a\x1b" "Ab", "a\x1b" "Ab"},
    {"ESC ESC", KANJI_JIS, KANJI_SJIS, "\x1b\x1b$B$\"", "\x1b\x1b$B$\""},
    {"unknown set in roman", KANJI_JIS, KANJI_SJIS, "\x1b(Dab", "\x1b(Dab"},
    {"unknown set in kanji", KANJI_JIS, KANJI_SJIS, "\x1b$B\x1b$A!!", "\x1b$\x91\x40"},
    {"JIS X 0212 designation", KANJI_JIS, KANJI_SJIS, "\x1b$(D0!", "\x1b$(D0!"},
    {"kanji mode over CR LF", KANJI_JIS, KANJI_SJIS, "\x1b$B$\"\r\n$\"", "\x82\xA0\r\n\x82\xA0"},
    {"lone first byte before CR", KANJI_JIS, KANJI_SJIS, "\x1b$B$\r", "$\r"},
    {"lone first byte before ESC", KANJI_JIS, KANJI_SJIS, "\x1b$B$\x1b(Bz", "$z"},
    {"lone first byte at the end", KANJI_JIS, KANJI_SJIS, "\x1b$B$\"$", "\x82\xA0"},
    {"unfinished escape at the end", KANJI_JIS, KANJI_SJIS, "ab\x1b$", "ab"},
    {"ESC (H is roman", KANJI_JIS, KANJI_SJIS, "\x1b$B$\"\x1b(H$\"", "\x82\xA0$\""},
    {"8-bit bytes in roman", KANJI_JIS, KANJI_SJIS, "\x82\xA0\xFF", "\x82\xA0\xFF"},
    // EUC-JP to Shift_JIS
    {"EUC kanji", KANJI_EUC, KANJI_SJIS, "\xA4\xA2\xC6\xFC\xCB\xDC\r\n", "\x82\xA0\x93\xFA\x96\x7B\r\n"},
    {"SS2 ka + SS2 voiced", KANJI_EUC, KANJI_SJIS, "\x8E\xB6\x8E\xDE", "\x83\x4B"},
    {"SS2 u + SS2 voiced", KANJI_EUC, KANJI_SJIS, "\x8E\xB3\x8E\xDE", "\x83\x45\x81\x4A"},
    {"SS2 ha + SS2 semi-voiced", KANJI_EUC, KANJI_SJIS, "\x8E\xCA\x8E\xDF", "\x83\x70"},
    {"SS2 katakana at the end", KANJI_EUC, KANJI_SJIS, "\x8E\xB6", "\x83\x4A"},
    {"SS2 katakana, then a pair", KANJI_EUC, KANJI_SJIS, "\x8E\xB6\xA4\xA2", "\x83\x4A\x82\xA0"},
    {"SS2 katakana, lone lead, LF", KANJI_EUC, KANJI_SJIS, "\x8E\xB6\xA4\n", "\x83\x4A\xA4\n"},
    {"SS3 passes its first two bytes", KANJI_EUC, KANJI_SJIS, "\x8F\xB0\xA1" "a", "\x8F\xB0\xA1" "a"},
    {"SS3, third byte starts a pair", KANJI_EUC, KANJI_SJIS, "\x8F\xB0\xA1\xA1", "\x8F\xB0\x81\x40"},
    {"SS2 before a byte that is no katakana", KANJI_EUC, KANJI_SJIS, "\x8E\xFFz", "\x8E\xFFz"},
    {"SS2 before ASCII", KANJI_EUC, KANJI_SJIS, "\x8E" "A", "\x8E" "A"},
    {"invalid pair passes", KANJI_EUC, KANJI_SJIS, "\xA0\xA1\xFF\xFF", "\xA0\xA1\xFF\xFF"},
    {"lone lead at the end", KANJI_EUC, KANJI_SJIS, "a\xA4", "a"},
    // Shift_JIS to JIS
    {"roman needs no escape", KANJI_SJIS, KANJI_JIS, "abc\r\n", "abc\r\n"},
    {"kanji is not closed at the end", KANJI_SJIS, KANJI_JIS, "\x82\xA0", "\x1b$B$\""},
    {"switches both ways", KANJI_SJIS, KANJI_JIS, "a\x82\xA0\x93\xFA" "b", "a\x1b$B$\"F|\x1b(Bb"},
    {"half-width ka + voiced", KANJI_SJIS, KANJI_JIS, "\xB6\xDE", "\x1b$B%,"},
    {"half-width u + voiced", KANJI_SJIS, KANJI_JIS, "\xB3\xDE", "\x1b$B%&!+"},
    {"half-width ka, then ASCII", KANJI_SJIS, KANJI_JIS, "\xB6" "a", "\x1b$B%+\x1b(Ba"},
    {"0xA0 widens to a space", KANJI_SJIS, KANJI_JIS, "\xA0", "\x1b$B!!"},
    {"lead before a control byte", KANJI_SJIS, KANJI_JIS, "\x82\xA0\x82\n", "\x1b$B$\"\x1b(B\x82\n"},
    {"pair that is no Shift_JIS", KANJI_SJIS, KANJI_JIS, "\x82\xA0\x82\x7F", "\x1b$B$\"\x1b(B\x82\x7F"},
    {"0x80 is a single byte", KANJI_SJIS, KANJI_JIS, "\x80", "\x80"},
    {"lone lead at the end dropped", KANJI_SJIS, KANJI_JIS, "a\x82", "a"},
    // Shift_JIS to EUC-JP
    {"to EUC kanji", KANJI_SJIS, KANJI_EUC, "\x82\xA0\x93\xFA\r\n", "\xA4\xA2\xC6\xFC\r\n"},
    {"to EUC ka + voiced", KANJI_SJIS, KANJI_EUC, "\xB6\xDE", "\xA5\xAC"},
    {"to EUC ha + semi-voiced", KANJI_SJIS, KANJI_EUC, "\xCA\xDF", "\xA5\xD1"},
    {"to EUC u + voiced", KANJI_SJIS, KANJI_EUC, "\xB3\xDE", "\xA5\xA6\xA1\xAB"},
    {"to EUC lead before LF", KANJI_SJIS, KANJI_EUC, "\x82\n", "\x82\n"},
    {"to EUC invalid pair", KANJI_SJIS, KANJI_EUC, "\x82\x7F\xFD\xA1", "\x82\x7F\xFD\xA1"},
    // Two legs through Shift_JIS
    {"EUC to JIS", KANJI_EUC, KANJI_JIS, "\x8E\xB6\x8E\xDE\xA4\xA2" "a", "\x1b$B%,$\"\x1b(Ba"},
    {"EUC half-width to JIS widened once", KANJI_EUC, KANJI_JIS, "\x8E\xB6", "\x1b$B%+"},
    {"JIS to EUC", KANJI_JIS, KANJI_EUC, "\x1b(I6\x1b$B$\"\x1b(Ba", "\xA5\xAB\xA4\xA2" "a"},
    {"EUC to JIS, a pair that is no EUC stays half-width", KANJI_EUC, KANJI_JIS, "\xA0\xA1", "\x1b(I !"},
    // Same code: copied as it is, even half-width katakana
    {"Shift_JIS kept", KANJI_SJIS, KANJI_SJIS, Lit("\xB6\xDE\0\x1b$B"), Lit("\xB6\xDE\0\x1b$B")},
    {"JIS kept", KANJI_JIS, KANJI_JIS, "\x1b(I6^", "\x1b(I6^"},
    {"EUC kept", KANJI_EUC, KANJI_EUC, "\x8E\xB6\xA4", "\x8E\xB6\xA4"},
};
// clang-format on

void PrintTo(const ConvCase& c, std::ostream* os) {
    *os << c.what;
}

class KanjiConvertTable : public testing::TestWithParam<ConvCase> {};

TEST_P(KanjiConvertTable, Converts) {
    const ConvCase& c = GetParam();
    std::int32_t used = 99;
    EXPECT_EQ(Conv(c.in, c.source, c.target, &used), c.out) << c.what;
    EXPECT_EQ(used, c.source);
}

INSTANTIATE_TEST_SUITE_P(Cases, KanjiConvertTable, testing::ValuesIn(kConvCases));

// Quoted-printable JIS: the header stays, the body is unwrapped, soft line
// breaks and escapes with lower-case digits vanish, a doubled dot at a line
// start becomes one.
TEST(KanjiConvert, QuotedJisBodyIsUnwrapped) {
    const std::string in =
        "Subject: =?ISO-2022-JP?B?GyRCJCIbKEI=?=\r\n"
        "X-Note: a=3Db\r\n"
        "\r\n"
        "=1B$B$\"F|=1B(B=\r\n"
        "tail=3D1 x=0ay\r\n"
        "..dot\r\n"
        ".single\r\n"
        "...\r\n"
        "=1B(I6^=1B(B end=";
    const std::string out =
        "Subject: =?ISO-2022-JP?B?GyRCJCIbKEI=?=\r\n"
        "X-Note: a=3Db\r\n"
        "\r\n"
        "\x82\xA0\x93\xFA"
        "tail=1 xy\r\n"
        ".dot\r\n"
        ".single\r\n"
        "..\r\n"
        "\x83\x4B end";
    std::int32_t used = -1;
    EXPECT_EQ(Conv(in, KANJI_AUTO, KANJI_SJIS, &used), out);
    EXPECT_EQ(used, KANJI_JIS);
    EXPECT_EQ(Conv(in, KANJI_JIS, KANJI_SJIS), out);
    // The two-leg path unwraps in its first leg as well.
    EXPECT_EQ(Conv(in, KANJI_JIS, KANJI_EUC), Conv(out, KANJI_SJIS, KANJI_EUC));
}

// A text with real escapes is not unwrapped, whatever its body holds.
TEST(KanjiConvert, RealEscapesKeepQuotedText) {
    const std::string in = "S: \x1b$B$\"\x1b(B\r\n\r\n=1B$B$\"=1B(B a=3Db\r\n..x";
    EXPECT_EQ(Conv(in, KANJI_JIS, KANJI_SJIS), "S: \x82\xA0\r\n\r\n=1B$B$\"=1B(B a=3Db\r\n..x");
}

TEST(KanjiConvert, DetectedCodeIsReported) {
    const struct {
        std::string in;
        std::int32_t used;
        std::string out;
    } cases[] = {
        {"", KANJI_SJIS, ""},
        {"a", KANJI_SJIS, "a"},
        {"plain text\r\n", KANJI_SJIS, "plain text\r\n"},
        {"\x1b$B$\"\x1b(B", KANJI_JIS, "\x82\xA0"},
        {"\xA4\xA2\r\n\xEB\xA1\r\n", KANJI_EUC, "\x82\xA0\r\n\xE6\x40\r\n"},
    };
    for (const auto& c : cases) {
        std::int32_t used = 99;
        EXPECT_EQ(Conv(c.in, KANJI_AUTO, KANJI_SJIS, &used), c.out) << c.in;
        EXPECT_EQ(used, c.used) << c.in;
        EXPECT_EQ(Conv(c.in, KANJI_AUTO, KANJI_SJIS), c.out);  // no code wanted back
    }
}

// A code number from a damaged profile must not pick a wrong path or crash.
TEST(KanjiConvert, UnknownCodesAreDetectedOrShiftJis) {
    std::int32_t used = 99;
    EXPECT_EQ(Conv("\x1b$B$\"", 7, KANJI_SJIS, &used), "\x82\xA0");
    EXPECT_EQ(used, KANJI_JIS);
    EXPECT_EQ(Conv("\x1b$B$\"", -5, 42, &used), "\x82\xA0");
    EXPECT_EQ(Conv("\x82\xA0", KANJI_SJIS, KANJI_AUTO, &used), "\x82\xA0");
    EXPECT_EQ(used, KANJI_SJIS);
}

// Every half-width katakana, alone, widened in each output code; the expected
// character comes from compatibility normalisation and glibc's converters.
TEST(KanjiConvert, EveryHalfWidthKatakanaWidens) {
    Iconv toEuc("CP932", "EUC-JP");
    Iconv toJis("CP932", "ISO-2022-JP");
    for (unsigned b = 0xA1; b <= 0xDF; ++b) {
        QString wide = Cp932ToQString(Bytes({b})).normalized(QString::NormalizationForm_KC);
        if (wide[0] == QChar(0x3099) || wide[0] == QChar(0x309A)) {
            wide = QString(QChar(wide[0].unicode() + 2));  // the spacing sound marks
        }
        const std::string sjis = *QStringToCp932(wide);
        const std::string euc = *toEuc.Convert(sjis);
        std::string jis = *toJis.Convert(sjis);
        jis.resize(jis.size() - 3);  // we do not switch back to roman at the end
        const std::string narrow = Bytes({b});
        const std::string jisNarrow = "\x1b(I" + Bytes({b - 0x80});
        const std::string eucNarrow = Bytes({0x8E, b});
        EXPECT_EQ(Conv(jisNarrow, KANJI_JIS, KANJI_SJIS), sjis) << std::hex << b;
        EXPECT_EQ(Conv(eucNarrow, KANJI_EUC, KANJI_SJIS), sjis) << std::hex << b;
        EXPECT_EQ(Conv(narrow, KANJI_SJIS, KANJI_JIS), jis) << std::hex << b;
        EXPECT_EQ(Conv(narrow, KANJI_SJIS, KANJI_EUC), euc) << std::hex << b;
        EXPECT_EQ(Conv(eucNarrow, KANJI_EUC, KANJI_JIS), jis) << std::hex << b;
        EXPECT_EQ(Conv(jisNarrow, KANJI_JIS, KANJI_EUC), euc) << std::hex << b;
    }
}

// Every pair of half-width katakana and sound mark, in every output: merged
// exactly where VoicedMarkOffset says, into the next code of the same row.
TEST(KanjiConvert, SoundMarksMergeOnlyWhereTheyShould) {
    for (unsigned kana = 0xA0; kana <= 0xDF; ++kana) {
        for (unsigned mark : {0xDEu, 0xDFu}) {
            const int offset = VoicedMarkOffset(kana, mark);
            const unsigned jis = kanaToJis[kana - 0xA0];
            std::string sjis = TwoBytes(JisToSjisCode(static_cast<std::uint16_t>(jis)) + offset);
            std::string euc = TwoBytes((jis + offset) | 0x8080);
            std::string jisOut = "\x1b$B" + TwoBytes(jis + offset);
            if (offset == 0) {
                const unsigned markJis = kanaToJis[mark - 0xA0];
                sjis += TwoBytes(JisToSjisCode(static_cast<std::uint16_t>(markJis)));
                euc += TwoBytes(markJis | 0x8080);
                jisOut += TwoBytes(markJis);
            }
            const std::string narrow = Bytes({kana, mark});
            EXPECT_EQ(Conv(Bytes({0x8E, kana, 0x8E, mark}), KANJI_EUC, KANJI_SJIS), sjis) << std::hex << kana;
            EXPECT_EQ(Conv(narrow, KANJI_SJIS, KANJI_EUC), euc) << std::hex << kana;
            EXPECT_EQ(Conv(narrow, KANJI_SJIS, KANJI_JIS), jisOut) << std::hex << kana;
            if (kana != 0xA0) {
                EXPECT_EQ(Conv("\x1b(I" + Bytes({kana - 0x80, mark - 0x80}), KANJI_JIS, KANJI_SJIS), sjis)
                    << std::hex << kana;
            }
        }
    }
}

// The routines used directly: a full chunk returns 1, the next call writes
// from the start of the buffer again, and the pieces make the whole.
TEST(KanjiConvert, RoutinesResumeWhereTheyStopped) {
    const std::string in = Bytes({'a', 'b', 0x82, 0xA0, 0xB6, 0xDE, 'c', 0x93, 0xFA, 0xCA, 0xDF, 0xB3});
    KanjiConvState st;
    st.src = reinterpret_cast<const unsigned char*>(in.data());
    st.srcLeft = static_cast<std::ptrdiff_t>(in.size());
    unsigned char chunk[kKanjiMinChunk];
    st.dst = chunk;
    st.dstSize = sizeof chunk;
    std::string out;
    int calls = 0;
    while (CKanjiConverter::SjisToJis(st) == 1) {
        ASSERT_GT(st.dstUsed, 0);
        out.append(reinterpret_cast<char*>(chunk), static_cast<std::size_t>(st.dstUsed));
        ASSERT_LT(++calls, 100);
    }
    out.append(reinterpret_cast<char*>(chunk), static_cast<std::size_t>(st.dstUsed));
    EXPECT_GT(calls, 1);
    EXPECT_EQ(st.srcLeft, 0);
    EXPECT_EQ(st.pendingKana, 0xB3);
    ASSERT_NE(st.flushKana, nullptr);
    st.flushKana(st);
    out.append(reinterpret_cast<char*>(chunk), static_cast<std::size_t>(st.dstUsed));
    EXPECT_EQ(out, Conv(in, KANJI_SJIS, KANJI_JIS));
    EXPECT_EQ(out, "ab\x1b$B$\"%,\x1b(Bc\x1b$BF|%Q%&");
}

class KanjiConvertFile : public testing::Test {
protected:
    static QString Root() {
        const QString root = qEnvironmentVariableIsSet("WRENPOST_TEST_TMP")
                                 ? qEnvironmentVariable("WRENPOST_TEST_TMP")
                                 : QDir::tempPath();
        QDir().mkpath(root);
        return root + "/kanji-XXXXXX";
    }

    std::string Path(const char* name) const { return QDir(dir_.path()).filePath(name).toStdString(); }

    static std::string Read(const std::string& path) {
        QFile f(QString::fromStdString(path));
        if (!f.open(QIODevice::ReadOnly)) {
            return "<missing>";
        }
        return f.readAll().toStdString();
    }

    QTemporaryDir dir_{Root()};
};

TEST_F(KanjiConvertFile, TextEndsAtFirstZeroByte) {
    const std::string in = Lit("\x93\xFA\x96\x7B\r\n\0\x1b$B$\"");
    std::int32_t used = 99;
    ASSERT_TRUE(
        CKanjiConverter::ConvertToFile(in.data(), in.size(), Path("m.txt"), KANJI_AUTO, KANJI_SJIS, &used));
    EXPECT_EQ(Read(Path("m.txt")), "\x93\xFA\x96\x7B\r\n");
    EXPECT_EQ(used, KANJI_SJIS);  // the escape after the zero byte is not seen
}

TEST_F(KanjiConvertFile, ExistingFileIsReplaced) {
    const std::string path = Path("m.txt");
    {
        QFile f(QString::fromStdString(path));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(std::string(5000, 'x').c_str());
    }
    const std::string in = "a\x1b$B$\"";
    std::int32_t used = 99;
    ASSERT_TRUE(CKanjiConverter::ConvertToFile(in.data(), in.size(), path, KANJI_AUTO, KANJI_SJIS, &used));
    EXPECT_EQ(Read(path), "a\x82\xA0");
    EXPECT_EQ(used, KANJI_JIS);
    ASSERT_TRUE(CKanjiConverter::ConvertToFile("", 0, path, KANJI_AUTO, KANJI_SJIS, nullptr));
    EXPECT_EQ(Read(path), "");
}

TEST_F(KanjiConvertFile, UnwritableFileIsReported) {
    const std::string in = "abc";
    EXPECT_FALSE(CKanjiConverter::ConvertToFile(in.data(), in.size(), Path("no/such/dir/m.txt"), KANJI_SJIS,
                                                KANJI_SJIS, nullptr));
    EXPECT_FALSE(CKanjiConverter::ConvertToFile(in.data(), in.size(), dir_.path().toStdString(), KANJI_SJIS,
                                                KANJI_SJIS, nullptr));
    // A full device: the write cannot complete.
    if (QFile::exists("/dev/full")) {
        EXPECT_FALSE(CKanjiConverter::ConvertToFile(in.data(), in.size(), "/dev/full", KANJI_SJIS, KANJI_SJIS,
                                                    nullptr));
    }
}

}  // namespace
