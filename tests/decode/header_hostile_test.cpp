// Header blocks from a hostile or broken server: over-long lines, floods of
// encoded words, unterminated words and random bytes must summarise without
// a crash, a hang or a write past any buffer (the sanitizer build watches).

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "decode/date_size_text.h"
#include "decode/header_fields.h"
#include "decode/header_summary.h"

namespace wp {
namespace {

constexpr std::size_t kLong = 100 * 1024;

HeaderSummary Summarize(const std::string& block, int* reports) {
    return SummarizeHeader(block.data(), block.size(), 1, 1, [reports](char) { ++*reports; });
}

TEST(HeaderHostile, HundredKilobyteLines) {
    const std::string line(kLong, 'x');
    const std::string block = "+OK\r\nSubject: " + line + "\r\nFrom: " + line + "\r\nDate: " + line +
                              "\r\nContent-Type: " + line + "\r\n\r\n.\r\n";
    int reports = 0;
    HeaderSummary s = Summarize(block, &reports);
    EXPECT_EQ(s.subject, std::string(kHeaderWorkBuffer - 1, 'x'));
    EXPECT_EQ(s.from, " " + std::string(kHeaderWorkBuffer - 2, 'x'));
    EXPECT_EQ(s.date, line);  // one token: not a date, left as it was
    EXPECT_EQ(s.hasParts, 1);
    EXPECT_EQ(reports, 0);
}

TEST(HeaderHostile, ThousandsOfFoldedLines) {
    std::string block = "+OK\r\nSubject: a";
    for (int i = 0; i < 20000; ++i) {
        block += "\r\n\tb";
    }
    block += "\r\n\r\n.\r\n";
    int reports = 0;
    HeaderSummary s = Summarize(block, &reports);
    EXPECT_EQ(s.subject, "a" + std::string(20000, 'b'));
}

TEST(HeaderHostile, ThousandsOfEncodedWords) {
    std::string block = "+OK\r\nSubject: ";
    std::string expected;
    for (int i = 0; i < 10000; ++i) {
        if (i > 0) {
            block += "\r\n\t";
        }
        block += (i % 2 == 0) ? "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=" : "=?ISO-2022-JP?Q?=1B$B%F%9%H=1B(B?=";
        expected += "\x83\x65\x83\x58\x83\x67";  // テスト
    }
    block += "\r\n\r\n.\r\n";
    int reports = 0;
    HeaderSummary s = Summarize(block, &reports);
    EXPECT_EQ(s.subject, expected);
    EXPECT_EQ(reports, 0);
}

TEST(HeaderHostile, UnterminatedWords) {
    const std::string openings[] = {"=?ISO-2022-JP?Q?", "=?ISO-2022-JP?B?", "=?", "\x1B$B", "\x1B", "?"};
    for (const std::string& opening : openings) {
        std::string value;
        while (value.size() < kLong) {
            value += opening + "%F";
        }
        int reports = 0;
        std::string decoded = DecodeHeaderText(value, [&](char) { ++reports; });
        EXPECT_LE(decoded.size(), value.size()) << opening;
        EXPECT_LE(reports, 1) << opening;
    }
}

TEST(HeaderHostile, OneHugeEncodedWord) {
    std::string value = "=?ISO-2022-JP?B?";
    while (value.size() < kLong) {
        value += "GyRCJUYlOSVIGyhC";
    }
    std::string decoded = DecodeHeaderText(value + "?=");
    EXPECT_LE(decoded.size(), kHeaderWorkBuffer - 1);
    EXPECT_EQ(decoded.substr(0, 6), "\x83\x65\x83\x58\x83\x67");
}

TEST(HeaderHostile, DateOfManyBlanksAndCommas) {
    std::string date = "Mon," + std::string(5000, ' ') + "7 Mar 2005 09:05:00 +0900";
    std::string value = date;
    FormatDateText(value);
    EXPECT_EQ(value, date);  // the pieces lie past the 1023 characters read

    value = std::string(kLong, ',');
    FormatDateText(value);
    EXPECT_EQ(value, std::string(kLong, ','));
}

// Random blocks stitched from the pieces that matter to the parser.
TEST(HeaderHostile, RandomBlocks) {
    const std::string fragments[] = {
        "\r\n",
        "\r",
        "\n",
        "\t",
        " ",
        ":",
        "=",
        "?",
        "?=",
        "=?",
        "\x1B",
        "\x1B$B",
        "\x1B(B",
        "\x1B$@",
        "\x1B(J",
        "=?ISO-2022-JP?B?",
        "=?iso-2022-jp?B?",
        "=?ISO-2022-JP?Q?",
        "=?iso-2022-jp?q?",
        "=1B",
        "=3D",
        "_",
        "Subject:",
        "\r\nSubject: ",
        "\r\nFrom: ",
        "\r\nDate: ",
        "\r\nContent-Type: ",
        "\r\nContent-Disposition: ",
        "Mon, ",
        "7 ",
        "Mar ",
        "2005 ",
        "09:05:00 ",
        "+0900",
        "GyRC",
        "JUYl",
        "==",
        "\x82\xA0",
        "\x81",
        "\xFF",
        std::string(1, '\0'),
        "text/plain",
        "%F",
    };
    std::mt19937 random(20050307);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(fragments) - 1);
    std::uniform_int_distribution<int> length(0, 400);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 3000; ++round) {
        std::string block = "+OK\r\n";
        for (int n = length(random); n > 0; --n) {
            if (n % 7 == 0) {
                block += static_cast<char>(byte(random));
            } else {
                block += fragments[pick(random)];
            }
        }
        int reports = 0;
        HeaderSummary s = Summarize(block, &reports);
        std::string_view text(block.c_str());
        EXPECT_LE(s.subject.size(), GetSubject(text).size());
        EXPECT_LE(s.from.size(), kHeaderWorkBuffer - 1);
        EXPECT_LE(reports, 2);

        std::size_t pos = 0;
        for (int guard = 0; guard < 1000; ++guard) {
            std::size_t start = 0;
            GetContentDisposition(text.substr(pos), &start);
            if (start == std::string_view::npos) {
                break;
            }
            pos += start + 2;
            ASSERT_LE(pos, text.size());
        }
    }
}

}  // namespace
}  // namespace wp
