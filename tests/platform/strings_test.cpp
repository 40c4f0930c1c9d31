#include "platform/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace wp {
namespace {

TEST(Sjis, ConvertsTheSystemsOwnTexts) {
    struct Case {
        const char* utf8;
        const char* cp932;
    };
    const Case cases[] = {
        {"ﾒｯｾｰｼﾞﾘｽﾄの受信が完了しました。", "\xD2\xAF\xBE\xB0\xBC\xDE\xD8\xBD\xC4\x82\xCC\x8E\xF3\x90\x4D\x82\xAA"
                                          "\x8A\xAE\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42"},
        {"ｴﾗｰ", "\xB4\xD7\xB0"},
        {"WSAEINTR[%d] -", "WSAEINTR[%d] -"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sjis(c.utf8), c.cp932) << c.utf8;
    }
}

// The text is converted once: every call gives the very same string object,
// whichever thread asks first.
TEST(Sjis, OneResultForAllThreads) {
    static const char kText[] = "ﾛｸﾞｲﾝしました。";
    std::vector<const std::string*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < seen.size(); ++t) {
        threads.emplace_back([t, &seen] {
            const std::string* first = &Sjis(kText);
            for (int i = 0; i < 1000; ++i) {
                if (&Sjis(kText) != first) {
                    first = nullptr;
                }
            }
            seen[t] = first;
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    std::set<const std::string*> distinct(seen.begin(), seen.end());
    ASSERT_EQ(distinct.size(), 1u);
    ASSERT_NE(*distinct.begin(), nullptr);
    EXPECT_EQ(**distinct.begin(), "\xDB\xB8\xDE\xB2\xDD\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42");
}

// A text reached through a buffer that is then reused for another text must
// not give the first text's result.
TEST(Sjis, ReusedBufferGivesItsCurrentText) {
    char buffer[32];
    std::strcpy(buffer, "ｴﾗｰ");
    EXPECT_EQ(Sjis(buffer), "\xB4\xD7\xB0");
    std::strcpy(buffer, "警告");
    EXPECT_EQ(Sjis(buffer), "\x8C\x78\x8D\x90");
}

}  // namespace
}  // namespace wp
