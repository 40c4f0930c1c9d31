// What a CAPA reply offers decides whether the password goes out encrypted
// and whether commands go out ahead of their answers.

#include <gtest/gtest.h>

#include <string>

#include "net/capabilities.h"

namespace wp {
namespace {

TEST(Capabilities, AReplyOffersOnlyTheCapabilitiesItListsByName) {
    struct Case {
        const char* reply;
        const char* capability;
        bool offered;
    };
    const Case cases[] = {
        {"+OK\r\nTOP\r\nUIDL\r\nSTLS\r\nPIPELINING\r\n.\r\n", "STLS", true},
        {"+OK\r\nTOP\r\nUIDL\r\nSTLS\r\nPIPELINING\r\n.\r\n", "PIPELINING", true},
        {"+OK\r\nstls\r\nPipelining\r\n.\r\n", "PIPELINING", true},                  // any case
        {"+OK\r\nSASL PLAIN LOGIN\r\n.\r\n", "SASL", true},                          // arguments
        {"+OK\nSTLS\n.\n", "STLS", true},                                            // bare line ends
        {"+OK\r\nSTLS  \r\n.\r\n", "STLS", true},                                    // trailing blanks
        {"+OK STLS PIPELINING\r\nTOP\r\n.\r\n", "STLS", false},                      // the status line
        {"+OK\r\nPIPELININGX\r\n.\r\n", "PIPELINING", false},                        // a longer name
        {"+OK\r\nX-PIPELINING\r\n.\r\n", "PIPELINING", false},
        {"+OK\r\nPIPE\r\n.\r\n", "PIPELINING", false},                               // a shorter one
        {"+OK\r\n STLS\r\n.\r\n", "STLS", false},
        {"", "STLS", false},
        {"+OK\r\n", "STLS", false},
        {"+OK\r\nSTLS", "STLS", true},  // cut at the bound: what arrived still counts
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CapabilityListed(c.reply, c.capability), c.offered) << c.reply << " / " << c.capability;
    }
}

TEST(Capabilities, ACaptureKeepsNoMoreThanItsBound) {
    CapabilityCapture capture;
    const std::string line = "X-LONG-CAPABILITY-THAT-GOES-ON\r\n";
    for (int i = 0; i < 1000; ++i) {
        capture.AppendCapture(line.data(), line.size());
    }
    EXPECT_EQ(capture.text.size(), CapabilityCapture::kLimit);
}

}  // namespace
}  // namespace wp
