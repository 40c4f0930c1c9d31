// Whole mails in each code, against glibc's converters: what a user reads in
// the viewer, and what comes back when converted the other way.

#include <gtest/gtest.h>

#include "tests/decode/kanji_test_support.h"

using namespace wp;
using namespace wp::kanji_test;

namespace {

const std::string& Form(const MailForms& f, std::int32_t code) {
    return code == KANJI_SJIS ? f.sjis : code == KANJI_JIS ? f.jis : f.euc;
}

const std::int32_t kCodes[] = {KANJI_SJIS, KANJI_JIS, KANJI_EUC};

}  // namespace

// Every direction gives exactly the reference text of the target code, and
// the source code is detected.
TEST(KanjiMail, EveryDirectionMatchesTheReference) {
    for (const char* mail : MailTexts()) {
        const MailForms forms = Forms(mail);
        ASSERT_NE(forms.jis.find("\x1b$B"), std::string::npos);
        for (std::int32_t source : kCodes) {
            std::int32_t used = 99;
            EXPECT_EQ(Conv(Form(forms, source), KANJI_AUTO, KANJI_SJIS, &used), forms.sjis) << source;
            EXPECT_EQ(used, source);
            for (std::int32_t target : kCodes) {
                EXPECT_EQ(Conv(Form(forms, source), source, target), Form(forms, target))
                    << source << " -> " << target << "\n"
                    << mail;
            }
        }
    }
}

// Half-width katakana come out full-width, merged with their sound marks, in
// every target; converting back gives the widened text.
TEST(KanjiMail, HalfWidthKatakanaAreWidenedOnTheWay) {
    const std::string head = "From: a@example.jp\r\nSubject: test\r\n\r\n";
    const std::string half = head + MailTexts()[0] + kHalfWidthLine + "..\r\n";
    const std::string wide = head + MailTexts()[0] + kWidenedLine + "..\r\n";
    const std::string sjisHalf = Utf8ToCp932(half).value();
    const MailForms widened = Forms(wide.c_str());
    // glibc writes half-width katakana in JIS only under ISO-2022-JP-3.
    const std::string jisHalf = Iconv("CP932", "ISO-2022-JP-3").Convert(sjisHalf).value();
    const std::string eucHalf = Iconv("CP932", "EUC-JP").Convert(sjisHalf).value();
    ASSERT_NE(jisHalf.find("\x1b(I"), std::string::npos);
    ASSERT_NE(eucHalf.find('\x8E'), std::string::npos);

    const struct {
        const std::string& in;
        std::int32_t source;
    } halves[] = {{sjisHalf, KANJI_SJIS}, {jisHalf, KANJI_JIS}, {eucHalf, KANJI_EUC}};
    for (const auto& h : halves) {
        for (std::int32_t target : kCodes) {
            if (target == h.source) {
                EXPECT_EQ(Conv(h.in, h.source, target), h.in);  // copied, not widened
                continue;
            }
            const std::string out = Conv(h.in, h.source, target);
            EXPECT_EQ(out, Form(widened, target)) << h.source << " -> " << target;
            EXPECT_EQ(Conv(out, target, KANJI_SJIS), widened.sjis) << h.source << " -> " << target;
        }
    }
}

// Shift_JIS to each code and back gives the source again.
TEST(KanjiMail, RoundTripsThroughShiftJis) {
    for (const char* mail : MailTexts()) {
        const MailForms forms = Forms(mail);
        for (std::int32_t code : kCodes) {
            const std::string& src = Form(forms, code);
            const std::string sjis = Conv(src, code, KANJI_SJIS);
            EXPECT_EQ(Conv(sjis, KANJI_SJIS, code), src) << code;
        }
    }
}
