// The converter over a text in pieces gives what one call over the whole
// gives, wherever the pieces are cut: a pair, an escape, a katakana and its
// sound mark may each fall on a cut.

#include <gtest/gtest.h>

#include <random>

#include "decode/kanji_stream.h"
#include "tests/decode/kanji_test_support.h"

using namespace wp;
using namespace wp::kanji_test;

namespace {

std::vector<std::string> Texts() {
    std::vector<std::string> texts = {
        "",
        "a",
        "plain ASCII\r\nonly\r\n",
        "Subject: x\r\n\r\n\x1b$BF|K\\8l\x1b(B abc \x1b(I6^J_\x1b(B end\r\n",
        "\x1b$@$\"\x1b(J x \x1b$B%F\x1b(Bz",
        "\xC6\xFC\xCB\xDC \x8E\xB6\x8E\xDE \x8E\xCA\x8E\xDF\r\n\xA4\xA2",
        "\x93\xFA\x96\x7B \xB6\xDE\xCA\xDF\xB1 \x87\x40\r\n",
        "hiragana line\r\n\xA4\xA2\xA4\xA2\r\n\xEB\xA1\r\n",
        "\x93\n\xFA\xA1",
        "\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x8C\xB8\r\n",
        "ab\x1b$",
    };
    std::mt19937 random(20);
    for (int n = 0; n < 6; ++n) {
        std::string bytes(300 + n * 97, '\0');
        for (char& b : bytes) {
            b = static_cast<char>(random() % 255 + 1);  // no zero: the reader stops there
        }
        texts.push_back(bytes);
    }
    return texts;
}

}  // namespace

TEST(KanjiStream, DetectionInPiecesAnswersAsTheWhole) {
    for (const std::string& text : Texts()) {
        for (std::size_t piece : {1u, 2u, 3u, 5u, 64u, 4096u}) {
            KanjiStreamDetector detector;
            for (std::size_t at = 0; at < text.size(); at += piece) {
                const std::string_view part = std::string_view(text).substr(at, piece);
                detector.Feed(part.data(), part.size());
            }
            EXPECT_EQ(detector.Code(), Detect(text)) << "piece " << piece << " text " << text;
            EXPECT_EQ(detector.Utf8(), text.find("\xE6\x97\xA5") == 0) << "piece " << piece;
        }
    }
}

TEST(KanjiStream, QuotedJisIsRecognisedAcrossPieces) {
    const std::string quoted = "Subject: x\r\n\r\n=1B$B$\"=1B(B\r\n";
    for (std::size_t piece = 1; piece <= quoted.size(); ++piece) {
        KanjiStreamDetector detector;
        for (std::size_t at = 0; at < quoted.size(); at += piece) {
            detector.Feed(quoted.data() + at, std::min(piece, quoted.size() - at));
        }
        EXPECT_TRUE(detector.QuotedJis()) << piece;
        EXPECT_EQ(detector.Code(), KANJI_JIS) << piece;
    }
    KanjiStreamDetector raw;
    const std::string both = quoted + "\x1b$B$\"\x1b(B";
    raw.Feed(both.data(), both.size());
    EXPECT_FALSE(raw.QuotedJis()) << "a raw escape keeps the quoted text as it is";
}

TEST(KanjiStream, ConversionInPiecesGivesTheWholesBytes) {
    for (const std::string& text : Texts()) {
        for (std::int32_t source : {KANJI_SJIS, KANJI_JIS, KANJI_EUC}) {
            for (std::int32_t target : {KANJI_SJIS, KANJI_JIS, KANJI_EUC}) {
                const std::string whole = Conv(text, source, target);
                for (std::size_t piece : {1u, 2u, 3u, 7u, 1000u}) {
                    KanjiStreamConverter converter(source, target, 16);
                    std::string out;
                    for (std::size_t at = 0; at < text.size(); at += piece) {
                        const std::string_view part = std::string_view(text).substr(at, piece);
                        converter.Feed(part.data(), part.size(), out);
                    }
                    converter.Finish(out);
                    ASSERT_EQ(out, whole) << "source " << source << " target " << target << " piece " << piece
                                          << " text " << text;
                }
            }
        }
    }
}
