// The date column, the size texts and the two status-bar texts.

#include "decode/date_size_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/text.h"
#include "table_case.h"

namespace wp {
namespace {

struct DateCase {
    const char* what;
    std::string raw;
    std::string shown;
};

void PrintTo(const DateCase& c, std::ostream* os) {
    *os << c.what;
}

class DateSizeTextDate : public testing::TestWithParam<DateCase> {};

TEST_P(DateSizeTextDate, IsWrittenYearFirst) {
    const DateCase& c = GetParam();
    std::string value = c.raw;
    FormatDateText(value);
    EXPECT_EQ(value, c.shown) << c.what;
    EXPECT_LE(value.size(), std::max<std::size_t>(49, c.raw.size())) << c.what;
}

const DateCase kDateCases[] = {
    {"+0900 ends in a blank", " Mon, 7 Mar 2005 09:05:00 +0900", "2005/03/07 09:05:00 "},
    {"another zone in brackets", " Mon, 7 Mar 2005 09:05:00 +0000", "2005/03/07 09:05:00 (+0000)"},
    {"GMT", "Mon, 07 Mar 2005 23:59:59 GMT", "2005/03/07 23:59:59 (GMT)"},
    {"the time is not converted", "Mon, 7 Mar 2005 09:05:00 -0800", "2005/03/07 09:05:00 (-0800)"},
    {"no zone", "Mon, 7 Mar 2005 09:05:00", "2005/03/07 09:05:00 "},
    {"anything after the zone is ignored", "Mon, 7 Mar 2005 09:05:00 +0900 (JST)", "2005/03/07 09:05:00 "},
    {"a comment as the zone", "Mon, 7 Mar 2005 09:05:00 (JST)", "2005/03/07 09:05:00 ((JST))"},
    {"no weekday", " 7 Mar 05 09:05:00 +0900", "2005/03/07 09:05:00 "},
    {"no blank after the comma", "Mon,7 Mar 2005 09:05:00 +0900", "2005/03/07 09:05:00 "},
    {"runs of blanks and tabs", "  Mon,   7\t Mar  2005   09:05:00  +0900", "2005/03/07 09:05:00 "},
    {"98 is 1998", "7 Mar 98 09:05:00 +0900", "1998/03/07 09:05:00 "},
    {"70 is 1970", "7 Mar 70 09:05:00 +0900", "1970/03/07 09:05:00 "},
    {"69 is 2069", "7 Mar 69 09:05:00 +0900", "2069/03/07 09:05:00 "},
    {"00 is 2000", "7 Mar 00 09:05:00 +0900", "2000/03/07 09:05:00 "},
    {"a two-character year that is no number", "7 Mar 9x 09:05:00 +0900", "209x/03/07 09:05:00 "},
    {"a three-digit year as written", "7 Mar 105 09:05:00 +0900", "105/03/07 09:05:00 "},
    {"a two-digit day stays", "17 Dec 2005 09:05:00 +0900", "2005/12/17 09:05:00 "},
    {"month in lower case", "7 jan 2005 09:05:00 +0900", "2005/01/07 09:05:00 "},
    {"month in capitals", "7 OCT 2005 09:05:00 +0900", "2005/10/07 09:05:00 "},
    {"any piece of the month string matches", "7 AN 2005 09:05:00 +0900", "2005/01/07 09:05:00 "},
    {"a piece across two months", "7 NFE 2005 09:05:00 +0900", "2005/01/07 09:05:00 "},
    {"June is not found", " Tue, 7 June 2005 09:05:00 +0900", "Tue, 7 June 2005 09:05:00 +0900"},
    {"Sept is not found", "Wed, 7 Sept 2005 09:05:00 +0900", "Wed, 7 Sept 2005 09:05:00 +0900"},
    {"no time", " 7 Mar 2005", "7 Mar 2005"},
    {"weekday only", " Mon,", "Mon,"},
    {"blanks only", "   ", ""},
    {"empty", "", ""},
    {"over-long pieces are cut", "1234 Mar 1234567890 01:02:03.456789012345678 +09000000000",
     "1234567/03/123 01:02:03.4567890123 (+09000000)"},
    {"the longest result", "123 Mar 1234567 1234567890123456789 123456789",
     "1234567/03/123 1234567890123456789 (123456789)"},
};

INSTANTIATE_TEST_SUITE_P(Table, DateSizeTextDate, testing::ValuesIn(kDateCases),
                         CaseName<DateSizeTextDate::ParamType>);

TEST(DateSizeText, SizeColumnIsRightAlignedInTen) {
    EXPECT_EQ(SizeColumnText(0), "         0");
    EXPECT_EQ(SizeColumnText(4321), "      4321");
    EXPECT_EQ(SizeColumnText(2147483647), "2147483647");
    // Above the signed range a size still reads as the positive number it is.
    EXPECT_EQ(SizeColumnText(4294967295u), "4294967295");
}

struct SizeCase {
    const char* what;
    std::uint32_t size;
    const char* viewer;    // size field before the fetch
    const char* received;  // the same count while receiving
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.what;
}

class DateSizeTextSize : public testing::TestWithParam<SizeCase> {};

TEST_P(DateSizeTextSize, ChoosesTheUnitByThreshold) {
    const SizeCase& c = GetParam();
    EXPECT_EQ(MailSizeText(c.size), c.viewer);
    EXPECT_EQ(ReceivedSizeText(c.size, c.size, "").text, std::string(c.received) + "/");
}

const SizeCase kSizeCases[] = {
    {"zero", 0, "0byte", "0"},
    {"1023 in bytes", 1023, "1023byte", "1023"},
    {"1024 is 1 K", 1024, "1.0Kbyte", "1.0KB"},
    {"1.5 K", 1536, "1.5Kbyte", "1.5KB"},
    {"rounded as printf rounds", 1075, "1.0Kbyte", "1.0KB"},
    {"just below 1 M", 1048575, "1024.0Kbyte", "1024.0KB"},
    {"1048576 is 1 M", 1048576, "1.0Mbyte", "1.0MB"},
    {"12.3 M", 12897485, "12.3Mbyte", "12.3MB"},
    {"1 G", 1073741824, "1.0Gbyte", "1.0GB"},
    {"the largest size", 4294967295u, "4.0Gbyte", "4.0GB"},
};

INSTANTIATE_TEST_SUITE_P(Table, DateSizeTextSize, testing::ValuesIn(kSizeCases),
                         CaseName<DateSizeTextSize::ParamType>);

TEST(DateSizeText, ReceivedTextReplacesOnlyThePartBeforeTheSlash) {
    const std::uint32_t size = 12595;  // 12.3Kbyte
    ReceivedSizeView first = ReceivedSizeText(1024, size, MailSizeText(size));
    EXPECT_EQ(first.text, "1.0KB/12.3Kbyte");
    ReceivedSizeView second = ReceivedSizeText(500, size, first.text);
    EXPECT_EQ(second.text, "500/12.3Kbyte");
    ReceivedSizeView last = ReceivedSizeText(99999, size, second.text);
    EXPECT_EQ(last.text, "12.3KB/12.3Kbyte");  // cut to the size
    EXPECT_EQ(last.position, kReceiveSteps);
}

TEST(DateSizeText, ReceivedTextKeepsAWholeTwentyCharacterTotal) {
    // "1024.0KB/1024.0Kbyte" is twenty characters; the next update must not
    // shorten the total to "1024.0Kbyt".
    const std::uint32_t size = 1048575;
    ReceivedSizeView full = ReceivedSizeText(size, size, MailSizeText(size));
    ASSERT_EQ(full.text, "1024.0KB/1024.0Kbyte");
    EXPECT_EQ(ReceivedSizeText(1048000, size, full.text).text, "1023.4KB/1024.0Kbyte");
}

TEST(DateSizeText, ReceiveBarHasThirteenSteps) {
    struct {
        std::uint32_t received, size;
        int position;
    } cases[] = {
        {0, 1300, 0},     {99, 1300, 0},    {100, 1300, 1},      {1299, 1300, 12},
        {1300, 1300, 13}, {5000, 1300, 13}, {0, 1309, 0},        {1309, 1309, 13},
        {0, 12, 13},      {0, 0, 13},       {0, 4294967295u, 0}, {4294967295u, 4294967295u, 13},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReceivedSizeText(c.received, c.size, "").position, c.position)
            << c.received << " of " << c.size;
    }
}

TEST(DateSizeText, SelectionSizeCodeCarriesUnitAndTenths) {
    struct {
        std::uint32_t bytes;
        std::uint32_t unit, value;
    } cases[] = {
        {0, 0, 0},           {1023, 0, 1023},      {1024, 1, 10},    {1100, 1, 10},
        {1536, 1, 15},       {1048575, 1, 10239},  {1048576, 2, 10}, {1073741823, 2, 10239},
        {1073741824, 3, 10}, {4294967295u, 3, 39},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SelectionSizeCode(c.bytes), (c.unit << 16) | c.value) << c.bytes;
    }
}

// Also checks the CP932 bytes written into the source: each text is compared
// through the one CP932 converter with its UTF-8 form.
TEST(DateSizeText, SelectionStatusText) {
    EXPECT_EQ(SelectionStatusText(0, SelectionSizeCode(1100)), "");
    EXPECT_EQ(Cp932ToUtf8(SelectionStatusText(2, SelectionSizeCode(1000 + 100))),
              "2件のﾒｰﾙを選択 (1.0 Kﾊﾞｲﾄ)");
    EXPECT_EQ(Cp932ToUtf8(SelectionStatusText(1, SelectionSizeCode(500))), "1件のﾒｰﾙを選択 (500 ﾊﾞｲﾄ)");
    EXPECT_EQ(Cp932ToUtf8(SelectionStatusText(3, SelectionSizeCode(5 * 1048576 + 1048576 / 2))),
              "3件のﾒｰﾙを選択 (5.5 Mﾊﾞｲﾄ)");
    EXPECT_EQ(Cp932ToUtf8(SelectionStatusText(9, SelectionSizeCode(3221225472u))),
              "9件のﾒｰﾙを選択 (3.0 Gﾊﾞｲﾄ)");
}

TEST(DateSizeText, ProgressStatusText) {
    EXPECT_EQ(Cp932ToUtf8(ProgressStatusText(3, 10)), "3/10件中");
    EXPECT_EQ(Cp932ToUtf8(ProgressStatusText(0, 10)), "10件");
    EXPECT_EQ(ProgressStatusText(0, 0), "");
}

}  // namespace
}  // namespace wp
