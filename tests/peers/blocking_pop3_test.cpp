#include "tests/support/blocking_pop3.h"

#include <gtest/gtest.h>

#include "tests/support/dovecot.h"

namespace wp::test {
namespace {

TEST(ApopDigest, MatchesTheRfc1939Example) {
    EXPECT_EQ(ApopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"),
              "c4c9334bac560ecc979e58001b3e22fb");
}

TEST(ApopDigest, CoversEveryByteOfTimestampAndSecret) {
    // MD5("") and MD5("abc") from RFC 1321, split between the two inputs.
    EXPECT_EQ(ApopDigest("", ""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(ApopDigest("a", "bc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(ApopDigest("abc", ""), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(ApopTimestamp, TakesTheFirstAngleBracketPair) {
    struct Case {
        const char* greeting;
        const char* timestamp;
    };
    const Case cases[] = {
        {"+OK ready <1.2@host>\r\n", "<1.2@host>"},
        {"+OK Dovecot ready. <4a1.2.6b1+/=@vm>\r\n", "<4a1.2.6b1+/=@vm>"},
        {"+OK <a> <b>\r\n", "<a>"},
        {"+OK no timestamp\r\n", ""},
        {"+OK only open <abc\r\n", ""},
        {"+OK > before <\r\n", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ApopTimestamp(c.greeting), c.timestamp) << c.greeting;
    }
}

TEST(MailboxBytes, OnlyBareLineFeedsGainACarriageReturn) {
    struct Case {
        std::string given;
        std::string stored;
    };
    const Case cases[] = {
        {"a\nb\n", "a\r\nb\r\n"},
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"\n\n", "\r\n\r\n"},
        {"lone\rcr\n", "lone\rcr\r\n"},
        {"no end", "no end"},
        // Shift_JIS and EUC-JP bytes, including 0x0a-free trail bytes and 0x5c.
        {"\x83\x65\x83\x58\x83\x67\x5c\n\xa5\xc6\xa5\xb9\n",
         "\x83\x65\x83\x58\x83\x67\x5c\r\n\xa5\xc6\xa5\xb9\r\n"},
        {std::string("nul\0byte\n", 9), std::string("nul\0byte\r\n", 10)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToCrlf(c.given), c.stored);
    }
}

}  // namespace
}  // namespace wp::test
