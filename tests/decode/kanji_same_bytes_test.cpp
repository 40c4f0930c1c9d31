// The JIS and EUC-JP readings' fast paths against the plain routines they
// replace: a mail must read the same to the byte however the text is cut into
// pieces and however small the output chunks are.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "decode/kanji_stream.h"
#include "tests/decode/kanji_reference.h"
#include "tests/decode/kanji_test_support.h"

using namespace wp;
using namespace wp::kanji_test;

namespace {

using Routine = int (*)(KanjiConvState&);

struct Routines {
    Routine reference;
    Routine actual;
};
const Routines kJis{&ReferenceJisToSjis, &CKanjiConverter::JisToSjis};
const Routines kEuc{&ReferenceEucToSjis, &CKanjiConverter::EucToSjis};

// Runs routine over text cut at the given offsets (ascending), each call
// writing into a buffer of exactly dstChunk bytes so that the sanitizer sees
// any write past it. Cut text starts as the stream converter starts, with a
// first call over nothing.
std::string Drive(Routine routine, std::string_view text, const std::vector<std::size_t>& cuts,
                  std::size_t dstChunk, bool widen) {
    KanjiConvState st;
    st.widenKana = widen ? 1 : 0;
    std::string out;
    auto call = [&](auto&& step) {
        std::vector<unsigned char> buffer(dstChunk);
        st.dst = buffer.data();
        st.dstSize = buffer.size();
        const int more = step();
        out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(st.dstUsed));
        return more;
    };
    static const unsigned char kNothing = 0;
    if (!cuts.empty()) {
        st.src = &kNothing;
        st.srcLeft = 0;
        call([&] { return routine(st); });
    }
    std::size_t from = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const std::size_t to = i < cuts.size() ? cuts[i] : text.size();
        st.src = reinterpret_cast<const unsigned char*>(text.data()) + from;
        st.srcLeft = static_cast<std::ptrdiff_t>(to - from);
        int guard = 0;
        while (call([&] { return routine(st); }) != 0) {
            if (++guard > static_cast<int>(text.size()) + 8) {
                ADD_FAILURE() << "no progress";
                return out;
            }
        }
        from = to;
    }
    if (st.flushKana != nullptr) {
        call([&] {
            st.flushKana(st);
            return 0;
        });
    }
    return out;
}

std::string Printable(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown;
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            shown.push_back(ch);
        } else {
            shown += "\\x";
            shown.push_back(kHex[b >> 4]);
            shown.push_back(kHex[b & 15]);
        }
    }
    return shown;
}

// Both routines, cut and chunked the same way, must agree.
void ExpectSame(const Routines& routines, std::string_view text, const std::vector<std::size_t>& cuts,
                std::size_t dstChunk, bool widen) {
    const std::string expected = Drive(routines.reference, text, cuts, dstChunk, widen);
    const std::string actual = Drive(routines.actual, text, cuts, dstChunk, widen);
    if (actual != expected) {
        std::string where;
        for (const std::size_t cut : cuts) {
            where += std::to_string(cut) + " ";
        }
        ADD_FAILURE() << "input \"" << Printable(text) << "\"\ncuts [" << where << "] chunk " << dstChunk
                      << " widen " << widen << "\nexpected \"" << Printable(expected) << "\"\nactual   \""
                      << Printable(actual) << "\"";
    }
}

const std::size_t kChunks[] = {kKanjiMinChunk, kKanjiMinChunk + 1, kKanjiMinChunk + 2, 12, 13, 16, 4096};

// Whole with every chunk size, cut at every offset, cut at every pair of
// offsets (short texts), and one byte at a time.
// A random text whole and cut at random places, into random chunk sizes,
// with katakana widened or not.
void ExpectSameWholeAndCut(const Routines& routines, std::string_view text, std::mt19937& rng) {
    const bool widen = rng() % 4 != 0;
    ExpectSame(routines, text, {}, kChunks[rng() % std::size(kChunks)], widen);
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; at < text.size(); at += 1 + rng() % 7) {
        cuts.push_back(at);
    }
    ExpectSame(routines, text, cuts, kChunks[rng() % std::size(kChunks)], widen);
}

void ExpectSameEveryWay(const Routines& routines, std::string_view text) {
    for (const bool widen : {true, false}) {
        for (const std::size_t chunk : kChunks) {
            ExpectSame(routines, text, {}, chunk, widen);
        }
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            ExpectSame(routines, text, {cut}, kKanjiMinChunk, widen);
            ExpectSame(routines, text, {cut}, 4096, widen);
            if (text.size() <= 40) {
                for (std::size_t second = cut; second <= text.size(); ++second) {
                    ExpectSame(routines, text, {cut, second}, 11, widen);
                }
            }
        }
        std::vector<std::size_t> bytes;
        for (std::size_t at = 1; at < text.size(); ++at) {
            bytes.push_back(at);
        }
        ExpectSame(routines, text, bytes, kKanjiMinChunk, widen);
        ExpectSame(routines, text, bytes, 64, widen);
    }
}

struct Case {
    const char* name;
    std::string text;
};

std::vector<Case> HostileJisCases() {
    std::vector<Case> cases = {
        {"empty", ""},
        {"roman only", "plain roman text of a line\r\n"},
        {"typical line", Lit("\x1b$B$3$s$K$A$O!\"Bg$-$J%a!<%k$G$9!#\x1b(B line 12\r\n")},
        {"LF lines", Lit("\x1b$B$3$s\x1b(B a\n\x1b$B$K$A\x1b(B b\n")},
        {"old kanji designation", Lit("\x1b$@$3$s\x1b(J yen\x1b(H x\x1b(B")},
        {"katakana set", Lit("\x1b(I6^J_1\x1b(B")},
        {"katakana mark alone and at the end", Lit("\x1b(I^_6")},
        {"katakana then line end", Lit("\x1b(I6\r\n^\x1b(B")},
        {"katakana then kanji", Lit("\x1b(I6\x1b$B^$3\x1b(B")},
        {"katakana out of range", Lit("\x1b(I`~\x7f \x1b(B")},
        {"unknown two-byte set", Lit("\x1b$(DB$C$\x1b(B")},
        {"unknown set in kanji", Lit("\x1b$B$3\x1b$A0!\x1b(X$s\x1b(B")},
        {"unknown final in roman", Lit("a\x1b(Xb\x1b$Zc")},
        {"ESC not a designation", Lit("\x1b" "a\x1b\x1b$B$3\x1b\r\n")},
        {"ESC twice then designation", Lit("\x1b\x1b$B$3$s\x1b(B")},
        {"lone ESC at the end", Lit("abc\x1b")},
        {"truncated kanji designation", Lit("abc\x1b$")},
        {"truncated roman designation", Lit("\x1b$B$3\x1b(")},
        {"odd byte before ESC", Lit("\x1b$B$3$\x1b(B")},
        {"odd byte at the end", Lit("\x1b$B$3$")},
        {"control bytes in kanji", Lit("\x1b$B$3\r\n$s \t$K\x1b(B")},
        {"8-bit bytes in every mode", Lit("\x82\xa0\x1b$B\xa4\xa2$3\x1b(I\xb6\x1b(B\xff\x80")},
        {"pairs out of range", Lit("\x1b$B\x7f!!\x7f~~\x1b(B")},
        {"SO and SI", Lit("\x0e" "6^\x0f" "abc\x1b$B\x0e$3\x0f\x1b(B")},
        {"zero bytes", Lit("\0\x1b$B\0$3\0\x1b(B\0")},
        {"designation at the very start and end", Lit("\x1b$B\x1b(B\x1b$B\x1b(B")},
        {"quoted body", Lit("Subject: x\r\n\r\n=1B$B$3$s=1B(B line\r\n..dot\r\n")},
        {"quoted body with a raw escape", Lit("Subject: x\r\n\r\n=1B$B$3$s=1B(B\x1b$B$K\x1b(B\r\n")},
        {"quoted soft break", Lit("A: b\r\n\r\n=1B$B$3=\r\n$s=1B(B=3D=4\r\n")},
    };
    // An ESC at every place in and around a word of roman bytes.
    const std::string roman = "abcdefghijklmnopqrstu";
    for (std::size_t at = 0; at <= roman.size(); ++at) {
        std::string text = roman;
        text.insert(at, "\x1b$B$3\x1b(B");
        cases.push_back({"ESC inside roman", text});
    }
    // A byte that is no half of a pair at every place in a run of pairs, and
    // the bytes just outside the range.
    const std::string pairs = "$3$s$K$A$O!\"Bg$-$J";
    for (const char stray : {' ', '\r', '\x7f', '\x1b', '\xa4', '!', '~'}) {
        for (std::size_t at = 0; at <= pairs.size(); ++at) {
            std::string text = pairs;
            text.insert(at, 1, stray);
            cases.push_back({"stray byte among pairs", "\x1b$B" + text + "\x1b(B"});
        }
    }
    // Sound marks that may or may not merge with the kana before them.
    for (const char* kana : {"6", "J", "1", "D", "N"}) {
        for (const char* mark : {"^", "_", "!"}) {
            cases.push_back({"kana and mark", std::string("\x1b(I") + kana + mark + "\x1b(B"});
        }
    }
    return cases;
}

TEST(KanjiJisSame, HostileAndTypicalTextsReadAsBefore) {
    for (const Case& c : HostileJisCases()) {
        SCOPED_TRACE(c.name);
        ExpectSameEveryWay(kJis, c.text);
    }
}

TEST(KanjiJisSame, RealMailsReadAsBefore) {
    Iconv toJis("UTF-8", "ISO-2022-JP");
    ASSERT_TRUE(toJis.ok());
    int converted = 0;
    for (const char* mail : MailTexts()) {
        const std::optional<std::string> jis = toJis.Convert(mail);
        if (!jis) {
            continue;
        }
        ++converted;
        for (const std::size_t chunk : kChunks) {
            ExpectSame(kJis, *jis, {}, chunk, true);
        }
        for (std::size_t cut = 0; cut <= jis->size(); ++cut) {
            ExpectSame(kJis, *jis, {cut}, kKanjiMinChunk, true);
        }
    }
    EXPECT_GT(converted, 0);
}

// Texts made of JIS-like pieces, cut and chunked at random.
TEST(KanjiJisSame, RandomTextsReadAsBefore) {
    std::mt19937 rng(20261208);
    const std::vector<std::string> pieces = {
        Lit("\x1b$B"), Lit("\x1b$@"), Lit("\x1b(B"), Lit("\x1b(J"), Lit("\x1b(H"), Lit("\x1b(I"),
        Lit("\x1b$(D"), Lit("\x1b$A"), Lit("\x1b(X"), Lit("\x1b"), Lit("\x1b$"), Lit("\x1b("),
        Lit("\x0e"), Lit("\x0f"), Lit("\r\n"), Lit("\n"), Lit("\r"), Lit(" "), Lit("\0"),
        Lit("\x7f"), Lit("6"), Lit("J"), Lit("^"), Lit("_"), Lit("=1B$B"), Lit("=1B(B"),
        Lit("\r\n\r\n"), Lit("=\r\n"), Lit("\r\n.."), Lit("$3$s"),
    };
    auto randomByte = [&](unsigned from, unsigned to) {
        return static_cast<char>(from + rng() % (to - from + 1));
    };
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int count = static_cast<int>(rng() % 40);
        for (int i = 0; i < count; ++i) {
            switch (rng() % 6) {
                case 0:
                case 1:
                    text += pieces[rng() % pieces.size()];
                    break;
                case 2:
                    for (int n = static_cast<int>(rng() % 8); n > 0; --n) {
                        text.push_back(randomByte(0x21, 0x7E));
                        text.push_back(randomByte(0x21, 0x7E));
                    }
                    break;
                case 3:
                    text.append("the quick brown fox jumps", rng() % 26);
                    break;
                case 4:
                    text.push_back(randomByte(0x80, 0xFF));
                    break;
                default:
                    text.push_back(randomByte(0x21, 0x5F));
                    break;
            }
        }
        ExpectSameWholeAndCut(kJis, text, rng);
        if (HasFailure()) {
            return;
        }
    }
}

// What the rest of the program calls: the whole conversion, its chunked form
// and the stream converter all read the text as the reference does.
TEST(KanjiJisSame, ConvertersAgreeWithTheReference) {
    for (const Case& c : HostileJisCases()) {
        SCOPED_TRACE(c.name);
        const std::string expected = Drive(&ReferenceJisToSjis, c.text, {}, 4096, true);
        EXPECT_EQ(Conv(c.text, KANJI_JIS, KANJI_SJIS), expected);
        EXPECT_EQ(CKanjiConverter::ConvertInChunks(c.text.data(), c.text.size(), KANJI_JIS, KANJI_SJIS, nullptr,
                                                   kKanjiMinChunk),
                  expected);
        // The stream converter never unwraps quoted escapes; the reference
        // does not either when it is fed in pieces.
        const std::string pieced = Drive(&ReferenceJisToSjis, c.text, {0}, 4096, true);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{16}}) {
            KanjiStreamConverter stream(KANJI_JIS, KANJI_SJIS, kKanjiMinChunk);
            std::string out;
            for (std::size_t at = 0; at < c.text.size(); at += piece) {
                stream.Feed(c.text.data() + at, std::min(piece, c.text.size() - at), out);
            }
            stream.Finish(out);
            EXPECT_EQ(out, pieced) << "pieces of " << piece;
        }
    }
}

std::vector<Case> HostileEucCases() {
    std::vector<Case> cases = {
        {"empty", ""},
        {"roman only", "plain roman text of a line\r\n"},
        {"typical line", Lit("\xa4\xb3\xa4\xf3\xa4\xcb\xa4\xc1\xa4\xcf line 12\r\n")},
        {"katakana with marks", Lit("\x8e\xb6\x8e\xde\x8e\xca\x8e\xdf\x8e\xb1\x8e\xde")},
        {"katakana at the end", Lit("a\x8e\xb6")},
        {"katakana before a pair", Lit("\x8e\xb6\xa4\xa2\x8e\xca")},
        {"SS2 before no katakana", Lit("\x8e\xa1\x8e" "a\x8e\xe0")},
        {"SS2 at the end", Lit("ab\x8e")},
        {"lone lead at the end", Lit("ab\xa4")},
        {"lead before a 7-bit byte", Lit("\xa4" "a\xa4\r\n")},
        {"three-byte set", Lit("\x8f\xa2\xaf\xa4\xa2")},
        {"pairs out of range", Lit("\xa4\xff\xff\xff\x80\x80\xa0\xa1\xfe\xfe")},
        {"zero bytes", Lit("\0\xa4\xa2\0\xa4")},
        {"ESC passes", Lit("\x1b$B\xa4\xa2\x1b(B")},
    };
    const std::string pairs = "\xa4\xb3\xa4\xf3\xa4\xcb\xa4\xc1\xa4\xcf\xc2\xe7\xa4\xad\xa4\xca\xa5\xe1";
    for (const char stray : {' ', '\r', '\x7f', '\x80', '\xa0', '\xff', '\x8e', '\xa1', '\xfe'}) {
        for (std::size_t at = 0; at <= pairs.size(); ++at) {
            std::string text = pairs;
            text.insert(at, 1, stray);
            cases.push_back({"stray byte among pairs", text});
        }
    }
    const std::string roman = "abcdefghijklmnopqrstu";
    for (std::size_t at = 0; at <= roman.size(); ++at) {
        std::string text = roman;
        text.insert(at, "\xa4\xa2");
        cases.push_back({"pair inside roman", text});
    }
    return cases;
}

TEST(KanjiEucSame, HostileAndTypicalTextsReadAsBefore) {
    for (const Case& c : HostileEucCases()) {
        SCOPED_TRACE(c.name);
        ExpectSameEveryWay(kEuc, c.text);
    }
}

TEST(KanjiEucSame, RandomTextsReadAsBefore) {
    std::mt19937 rng(20261209);
    const std::vector<std::string> pieces = {
        Lit("\x8e"), Lit("\x8f"), Lit("\x8e\xb6"), Lit("\x8e\xca"), Lit("\x8e\xde"), Lit("\x8e\xdf"),
        Lit("\r\n"), Lit("\n"), Lit(" "), Lit("\0"), Lit("\x7f"), Lit("\x1b$B"), Lit("\xa4\xa2"),
    };
    auto randomByte = [&](unsigned from, unsigned to) {
        return static_cast<char>(from + rng() % (to - from + 1));
    };
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int count = static_cast<int>(rng() % 40);
        for (int i = 0; i < count; ++i) {
            switch (rng() % 5) {
                case 0:
                    text += pieces[rng() % pieces.size()];
                    break;
                case 1:
                case 2:
                    for (int n = static_cast<int>(rng() % 8); n > 0; --n) {
                        text.push_back(randomByte(0xA1, 0xFE));
                        text.push_back(randomByte(0xA1, 0xFE));
                    }
                    break;
                case 3:
                    text.append("the quick brown fox jumps", rng() % 26);
                    break;
                default:
                    text.push_back(randomByte(0x80, 0xFF));
                    break;
            }
        }
        ExpectSameWholeAndCut(kEuc, text, rng);
        if (HasFailure()) {
            return;
        }
    }
}

}  // namespace
