#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace wp {
namespace {

// Not QString::fromUtf16, which would eat a leading byte order mark.
QString U16(std::u16string_view s) {
    return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}

std::string Hex(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
        out += ' ';
    }
    return out;
}

std::string Units(const QString& s) {
    std::string out;
    for (QChar ch : s) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04X ", ch.unicode());
        out += buf;
    }
    return out;
}

struct DecodeCase {
    const char* what;
    std::string cp932;
    std::u16string unicode;
};

// Each row is a byte sequence a mail or a stored record may hold.
const DecodeCase kDecodeCases[] = {
    {"ASCII", "Re: abc 123", u"Re: abc 123"},
    {"0x5C and 0x7E stay ASCII (paths, escapes)", "C:\\~", u"C:\\~"},
    {"wave dash is Microsoft's fullwidth tilde", "\x81\x60", u"\xFF5E"},
    {"backslash row is fullwidth reverse solidus", "\x81\x5F", u"\xFF3C"},
    {"double bar is U+2225", "\x81\x61", u"\x2225"},
    {"minus is fullwidth hyphen-minus", "\x81\x7C", u"\xFF0D"},
    {"dash is horizontal bar", "\x81\x5C", u"\x2015"},
    {"cent sign is fullwidth", "\x81\x91", u"\xFFE0"},
    {"hiragana", "\x82\xA0\x82\xA2", u"\x3042\x3044"},
    {"level-1 kanji", "\x88\x9F", u"\x4E9C"},
    {"NEC row 13 circled one", "\x87\x40", u"\x2460"},
    {"NEC row 13 roman numeral", "\x87\x54", u"\x2160"},
    {"NEC row 13 numero sign", "\x87\x82", u"\x2116"},
    {"IBM extension small roman numeral", "\xFA\x40", u"\x2170"},
    {"IBM extension kanji", "\xFA\x5C", u"\x7E8A"},
    {"NEC-selected IBM extension kanji", "\xED\x40", u"\x7E8A"},
    {"half-width katakana first", "\xA1", u"\xFF61"},
    {"half-width katakana a", "\xB1", u"\xFF71"},
    {"half-width katakana last", "\xDF", u"\xFF9F"},
    {"user-defined area", "\xF0\x40", u"\xE000"},
    {"embedded zero byte is kept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    {"lone 0x80 is visible", "a\x80" "b", u"a\xFFFD" "b"},
    {"lone 0xA0 is visible", "\xA0", u"\xFFFD"},
    {"bytes 0xFD-0xFF are visible", "\xFD\xFE\xFF", u"\xFFFD\xFFFD\xFFFD"},
    {"lead byte cut off at the end", "ab\x82", u"ab\xFFFD"},
    {"lead byte alone", "\x88", u"\xFFFD"},
    {"bad trail keeps the ASCII after it", "\x81\x20x", u"\xFFFD x"},
    {"bad trail keeps the line end", "\x82\x0D\x0A", u"\xFFFD\r\n"},
    {"unassigned double-byte code", "\x85\x40", u"\xFFFD"},
};

TEST(TextBoundary, DecodesCp932AsMicrosoftDoes) {
    for (const auto& c : kDecodeCases) {
        QString got = Cp932ToQString(c.cp932);
        EXPECT_EQ(Units(got), Units(U16(c.unicode))) << c.what << " [" << Hex(c.cp932) << "]";
    }
}

TEST(TextBoundary, DecodesToUtf8) {
    EXPECT_EQ(Cp932ToUtf8("\x82\xA0\x81\x60"), "\xE3\x81\x82\xEF\xBD\x9E");  // あ～
    EXPECT_EQ(Cp932ToUtf8(""), "");
    EXPECT_EQ(Cp932ToUtf8("\x82"), "\xEF\xBF\xBD");
}

struct EncodeCase {
    const char* what;
    std::u16string unicode;
    std::optional<std::string> cp932;
};

const EncodeCase kEncodeCases[] = {
    {"ASCII with backslash and tilde", u"a\\~z", "a\\~z"},
    {"fullwidth tilde", u"\xFF5E", "\x81\x60"},
    {"wave dash typed by an input method", u"\x301C", "\x81\x60"},
    {"fullwidth reverse solidus", u"\xFF3C", "\x81\x5F"},
    {"double bar U+2225", u"\x2225", "\x81\x61"},
    {"double vertical line typed by an input method", u"\x2016", "\x81\x61"},
    {"fullwidth hyphen-minus", u"\xFF0D", "\x81\x7C"},
    {"minus sign typed by an input method", u"\x2212", "\x81\x7C"},
    {"horizontal bar", u"\x2015", "\x81\x5C"},
    {"em dash", u"\x2014", "\x81\x5C"},
    {"Latin-1 cent sign", u"\x00A2", "\x81\x91"},
    {"Latin-1 pound sign", u"\x00A3", "\x81\x92"},
    {"Latin-1 not sign", u"\x00AC", "\x81\xCA"},
    {"fullwidth not sign takes the JIS code, not an extension", u"\xFFE2", "\x81\xCA"},
    {"because sign takes the JIS code", u"\x2235", "\x81\xE6"},
    {"circled one", u"\x2460", "\x87\x40"},
    {"small roman numeral takes the IBM code", u"\x2170", "\xFA\x40"},
    {"extension kanji takes the IBM code", u"\x7E8A", "\xFA\x5C"},
    {"half-width katakana", u"\xFF61\xFF9F", "\xA1\xDF"},
    {"hiragana and kanji", u"\x3042\x4E9C", "\x82\xA0\x88\x9F"},
    {"e acute has no CP932 form", u"caf\x00E9", std::nullopt},
    {"Hangul has no CP932 form", u"\xAC00", std::nullopt},
    {"emoji has no CP932 form", u"a\xD83D\xDE00", std::nullopt},
    {"zero-width space is not dropped silently", u"ab\x200B" "c", std::nullopt},
    {"byte order mark is not dropped silently", u"\xFEFF" "abc", std::nullopt},
    {"lone surrogate", u"a\xD800", std::nullopt},
    {"replacement character", u"\xFFFD", std::nullopt},
};

TEST(TextBoundary, EncodesUserTextOrRefusesIt) {
    for (const auto& c : kEncodeCases) {
        auto got = QStringToCp932(U16(c.unicode));
        ASSERT_EQ(got.has_value(), c.cp932.has_value()) << c.what << (got ? " gave " + Hex(*got) : "");
        if (got) {
            EXPECT_EQ(Hex(*got), Hex(*c.cp932)) << c.what;
        }
    }
}

TEST(TextBoundary, EncodesUtf8) {
    EXPECT_EQ(Utf8ToCp932("\xE3\x80\x9C"), std::optional<std::string>("\x81\x60"));  // U+301C
    EXPECT_EQ(Utf8ToCp932("plain"), std::optional<std::string>("plain"));
    EXPECT_EQ(Utf8ToCp932(""), std::optional<std::string>(""));
    // Bytes that are not UTF-8 cannot be stored as text.
    EXPECT_EQ(Utf8ToCp932("a\xC3"), std::nullopt);
    EXPECT_EQ(Utf8ToCp932("\xFF\xFE"), std::nullopt);
}

TEST(TextBoundary, LossyEncodingMarksWhatItCannotHold) {
    EXPECT_EQ(QStringToCp932Lossy(U16(u"caf\x00E9 \x3042")), "caf? \x82\xA0");
    // One mark per character, not per UTF-16 unit.
    EXPECT_EQ(QStringToCp932Lossy(U16(u"a\xD83D\xDE00" "b")), "a?b");
    EXPECT_EQ(QStringToCp932Lossy(U16(u"\x301C")), "\x81\x60");
    EXPECT_EQ(QStringToCp932Lossy(QString()), "");
}

// Every double-byte code that decodes to a character encodes back to a code
// that decodes to the same character (duplicates in the NEC and IBM rows
// settle on one code), so text read and written again never changes meaning.
TEST(TextBoundary, EveryDoubleByteCodeSurvivesARoundTrip) {
    int decoded = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead >= 0xA0 && lead <= 0xDF) {
            continue;
        }
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) {
                continue;
            }
            const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            QString text = Cp932ToQString(std::string_view(bytes, 2));
            ASSERT_EQ(text.size(), 1) << Hex(std::string_view(bytes, 2));
            if (text.at(0).unicode() == 0xFFFD) {
                continue;
            }
            ++decoded;
            auto back = QStringToCp932(text);
            ASSERT_TRUE(back.has_value()) << Hex(std::string_view(bytes, 2));
            EXPECT_EQ(Cp932ToQString(*back), text) << Hex(std::string_view(bytes, 2)) << "-> " << Hex(*back);
        }
    }
    // JIS X 0208 rows, NEC row 13, IBM extensions and the user-defined area.
    EXPECT_GT(decoded, 9000);
}

// Long text is converted in pieces; a character cut by a piece boundary must
// still come out whole.
TEST(TextBoundary, LongTextKeepsCharactersAcrossPieces) {
    for (std::size_t pad : {0u, 1u}) {
        std::string cp932(pad, 'x');
        QString expected(static_cast<qsizetype>(pad), QChar('x'));
        while (cp932.size() < 300000) {
            cp932 += "\x82\xA0" "a\xB1";
            expected += U16(u"\x3042" "a\xFF71");
        }
        QString text = Cp932ToQString(cp932);
        ASSERT_EQ(text.size(), expected.size()) << "pad " << pad;
        EXPECT_TRUE(text == expected) << "pad " << pad;
        auto back = QStringToCp932(text);
        ASSERT_TRUE(back.has_value());
        EXPECT_TRUE(*back == cp932) << "pad " << pad;
    }
    // A surrogate pair across a piece boundary is still one character.
    for (std::size_t pad : {65534u, 65535u, 65536u}) {
        QString text(static_cast<qsizetype>(pad), QChar('a'));
        text += U16(u"\xD83D\xDE00");
        text += QChar('b');
        std::string lossy = QStringToCp932Lossy(text);
        EXPECT_EQ(lossy.size(), pad + 2) << "pad " << pad;
        EXPECT_EQ(lossy.substr(pad), "?b") << "pad " << pad;
        EXPECT_FALSE(QStringToCp932(text).has_value()) << "pad " << pad;
    }
}

// Each thread has converters of its own; conversions at the same time must
// not disturb each other.
TEST(TextBoundary, ConvertsOnSeveralThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 2000; ++i) {
                if (Cp932ToQString("\x82\xA0\x81\x60\x88") != U16(u"\x3042\xFF5E\xFFFD")) {
                    ++failures[t];
                }
                if (QStringToCp932(U16(u"\x301C\x2212")) != std::optional<std::string>("\x81\x60\x81\x7C")) {
                    ++failures[t];
                }
                if (QStringToCp932(U16(u"\x00E9")).has_value()) {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

struct TruncateCase {
    std::string utf8;
    std::size_t max;
    std::string expected;
};

TEST(TextBoundary, TruncatesUtf8AtCharacterBoundaries) {
    const TruncateCase cases[] = {
        {"abc", 3, "abc"},
        {"abc", 2, "ab"},
        {"abc", 0, ""},
        {"\xE3\x81\x82\xE3\x81\x84", 6, "\xE3\x81\x82\xE3\x81\x84"},
        {"\xE3\x81\x82\xE3\x81\x84", 5, "\xE3\x81\x82"},
        {"\xE3\x81\x82\xE3\x81\x84", 3, "\xE3\x81\x82"},
        {"\xE3\x81\x82", 2, ""},
        {"a\xF0\x9F\x98\x80" "b", 4, "a"},
        {"a\xF0\x9F\x98\x80" "b", 5, "a\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TruncateUtf8(c.utf8, c.max), c.expected) << Hex(c.utf8) << " max " << c.max;
    }
}

}  // namespace
}  // namespace wp
