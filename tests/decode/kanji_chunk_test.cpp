// The chunk loop: results never depend on the chunk size, every conversion
// finishes, output stays within what a source byte can make, and no input
// writes past a buffer (the sanitizer build runs these too).

#include <gtest/gtest.h>

#include <random>

#include "tests/decode/kanji_test_support.h"

using namespace wp;
using namespace wp::kanji_test;

namespace {

const std::int32_t kSources[] = {KANJI_AUTO, KANJI_SJIS, KANJI_JIS, KANJI_EUC};
const std::int32_t kTargets[] = {KANJI_SJIS, KANJI_JIS, KANJI_EUC};

// The most output one leg can make from n source bytes: a widened katakana
// makes two bytes of one, and JIS output at worst five (ESC $ B and a pair).
std::size_t LegBound(std::int32_t source, std::int32_t target, std::size_t n) {
    if (source == target) {
        return n;
    }
    if (target == KANJI_SJIS) {
        return source == KANJI_JIS ? 2 * n : n;
    }
    return target == KANJI_JIS ? 5 * n : 2 * n;
}

std::size_t Bound(std::int32_t source, std::int32_t target, std::size_t n) {
    if (source != KANJI_SJIS && target != KANJI_SJIS && source != target) {
        return LegBound(KANJI_SJIS, target, LegBound(source, KANJI_SJIS, n));
    }
    return LegBound(source, target, n);
}

// Converts with the size chosen by the input and with the given chunk size,
// and checks that both agree and stay within bounds.
void CheckConversion(const std::string& in, std::int32_t source, std::int32_t target, std::size_t chunk) {
    const std::int32_t made = target >= KANJI_SJIS && target <= KANJI_EUC ? target : KANJI_SJIS;
    std::int32_t used = 99;
    const std::string whole = Conv(in, source, target, &used);
    ASSERT_TRUE(used >= KANJI_SJIS && used <= KANJI_EUC);
    ASSERT_LE(whole.size(), Bound(used, made, in.size()))
        << "source " << used << " target " << target << " length " << in.size();
    std::int32_t usedChunked = 99;
    const std::string chunked =
        CKanjiConverter::ConvertInChunks(in.data(), in.size(), source, target, &usedChunked, chunk);
    ASSERT_EQ(usedChunked, used);
    ASSERT_EQ(chunked, whole) << "chunk " << chunk << " source " << used << " target " << target;
}

}  // namespace

// Converting 1 to 5 bytes to JIS needs more room than the input length + 3;
// the chunk must grow so that these finish.
TEST(KanjiChunk, ShortConversionsToJisFinish) {
    const struct {
        std::int32_t source;
        std::string in;
        std::string out;
    } cases[] = {
        // clang-format off
        {KANJI_SJIS, "\xB6", "\x1b$B%+"},
        {KANJI_SJIS, "\x82\xA0", "\x1b$B$\""},
        {KANJI_SJIS, "\xB6" "a", "\x1b$B%+\x1b(Ba"},
        {KANJI_SJIS, "a\xB6" "b", "a\x1b$B%+\x1b(Bb"},
        {KANJI_SJIS, "\xB6" "a\xB6" "a", "\x1b$B%+\x1b(Ba\x1b$B%+\x1b(Ba"},
        {KANJI_SJIS, "\xB6" "a\xB6" "a\xB6", "\x1b$B%+\x1b(Ba\x1b$B%+\x1b(Ba\x1b$B%+"},
        {KANJI_EUC, "\xA4\xA2", "\x1b$B$\""},
        {KANJI_EUC, "\x8E\xB6", "\x1b$B%+"},
        {KANJI_EUC, "\xA4\xA2" "a", "\x1b$B$\"\x1b(Ba"},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Conv(c.in, c.source, KANJI_JIS), c.out);
        // Any requested chunk, however small, is raised to one that progresses.
        for (std::size_t chunk : {1, 3, 8}) {
            EXPECT_EQ(CKanjiConverter::ConvertInChunks(c.in.data(), c.in.size(), c.source, KANJI_JIS, nullptr,
                                                       chunk),
                      c.out);
        }
    }
}

// Many chunk sizes put the chunk boundary inside every kind of character and
// escape sequence of a real mail; all must give the bytes of one chunk.
TEST(KanjiChunk, ChunkSizeDoesNotChangeMails) {
    const std::string head = "Subject: x\r\n\r\n";
    std::vector<std::string> inputs;
    for (const char* mail : MailTexts()) {
        const MailForms f = Forms(mail);
        inputs.insert(inputs.end(), {f.sjis, f.jis, f.euc});
    }
    const std::string half = Utf8ToCp932(std::string(kHalfWidthLine) + MailTexts()[1]).value();
    inputs.push_back(half);
    inputs.push_back(Iconv("CP932", "ISO-2022-JP-3").Convert(half).value());
    inputs.push_back(Iconv("CP932", "EUC-JP").Convert(half).value());
    inputs.push_back(head + "=1B$B$\"F|=1B(B=\r\n..x =1B(I6^=1B(B\r\n");
    for (const std::string& in : inputs) {
        for (std::int32_t source : kSources) {
            for (std::int32_t target : kTargets) {
                for (std::size_t chunk = 1; chunk <= 40; ++chunk) {
                    CheckConversion(in, source, target, chunk);
                }
                CheckConversion(in, source, target, 1000);
            }
        }
    }
}

// Every source and target on every text of up to 4 bytes over the bytes that
// steer the rules, and on random texts of up to 16 bytes: each finishes and
// stays within bounds, whatever the chunk size.
TEST(KanjiChunk, ShortTextsOfEveryKindFinish) {
    const unsigned char alphabet[] = {0x1B, '$',  '(',  'B',  'I',  '6',  '^',
                                      0x8E, 0xA4, 0xB6, 0xDE, 0x82, 0xEB, 0x0A};
    constexpr std::size_t kLetters = sizeof alphabet;
    std::vector<std::string> inputs;
    for (std::size_t length = 0; length <= 4; ++length) {
        std::size_t count = 1;
        for (std::size_t i = 0; i < length; ++i) {
            count *= kLetters;
        }
        for (std::size_t n = 0; n < count; ++n) {
            std::string s;
            for (std::size_t i = 0, v = n; i < length; ++i, v /= kLetters) {
                s.push_back(static_cast<char>(alphabet[v % kLetters]));
            }
            inputs.push_back(s);
        }
    }
    std::mt19937 rng(20240611);
    for (int i = 0; i < 4000; ++i) {
        std::string s(rng() % 17, '\0');
        for (auto& ch : s) {
            ch = static_cast<char>(rng() % 2 ? alphabet[rng() % kLetters] : rng() % 256);
        }
        inputs.push_back(s);
    }
    for (const std::string& in : inputs) {
        for (std::int32_t source : kSources) {
            for (std::int32_t target : kTargets) {
                CheckConversion(in, source, target, kKanjiMinChunk);
            }
        }
    }
}

// Random bytes of any length, as a hostile server might send them.
TEST(KanjiChunk, RandomBytesAreSafe) {
    std::mt19937 rng(77);
    const unsigned char steering[] = {0x1B, '$',  '(',  'B',  '@',  'I',  'J',  '=',  '1', '.',
                                      '\r', '\n', 0x8E, 0x8F, 0xA0, 0xDE, 0xDF, 0xFF, 0};
    for (int i = 0; i < 600; ++i) {
        const std::size_t length = i < 300 ? rng() % 64 : rng() % 5000;
        std::string s(length, '\0');
        const unsigned mix = rng() % 4;  // from all random to mostly steering bytes
        for (auto& ch : s) {
            ch = static_cast<char>(rng() % 4 < mix ? steering[rng() % sizeof steering] : rng() % 256);
        }
        if (rng() % 3 == 0) {
            s.insert(0, "Subject: x\r\n\r\n");
        }
        const std::int32_t source = static_cast<std::int32_t>(rng() % 6) - 2;  // -2 and 3 are not codes
        const std::int32_t target = static_cast<std::int32_t>(rng() % 5) - 1;
        CheckConversion(s, source, target, rng() % 64);
        std::int32_t detected = CKanjiConverter::DetectCode(s.data(), s.size());
        ASSERT_TRUE(detected >= KANJI_SJIS && detected <= KANJI_EUC);
    }
}
