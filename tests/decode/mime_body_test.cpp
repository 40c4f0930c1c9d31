// The MIME reading of a mail: which part is the text, how it is decoded,
// what is listed as attachments, and that mail without MIME keeps the
// reading it always had.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/charset.h"
#include "decode/kanji_converter.h"
#include "decode/mime_body.h"
#include "platform/text.h"
#include "table_case.h"

namespace wp {
namespace {

using namespace std::string_literals;

struct MimeCase {
    const char* what;
    std::string mail;
    std::string body;                      // UTF-8, CR LF
    std::vector<std::string> attachments;  // UTF-8
    std::int32_t code = KANJI_AUTO;
};

void PrintTo(const MimeCase& c, std::ostream* os) {
    *os << c.what;
}

std::string Alternative(const std::string& plain, const std::string& html) {
    std::string mail =
        "From: a@example.jp\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/alternative; boundary=\"000000000000b1\"\r\n\r\n";
    if (!plain.empty()) {
        mail += "--000000000000b1\r\nContent-Type: text/plain; charset=\"UTF-8\"\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n" +
                plain + "\r\n";
    }
    mail += "--000000000000b1\r\nContent-Type: text/html; charset=\"UTF-8\"\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
            html + "\r\n--000000000000b1--\r\n";
    return mail;
}

const std::string kJisHello = "\x1B$B$3$s$K$A$O\x1B(B";  // こんにちは

class MimeReadingTable : public testing::TestWithParam<MimeCase> {};

TEST_P(MimeReadingTable, ShowsTheTextPartAndListsTheRest) {
    const MimeCase& c = GetParam();
    ASSERT_TRUE(NeedsMimeReading(c.mail, c.code)) << c.what;
    const MimeReading reading = ReadMimeBody(c.mail, c.code);
    EXPECT_EQ(reading.body, c.body) << c.what;
    std::vector<std::string> names;
    for (const std::string& name : reading.attachments) {
        names.push_back(Cp932ToUtf8(name));
    }
    EXPECT_EQ(names, c.attachments) << c.what;
}

const MimeCase kMimeCases[] = {
    {"base64 UTF-8 with an emoji and 𠮷",
     "Subject: x\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
     "5pel5pys8J+YgArwoK63Cg==\r\n",
     "日本😀\r\n𠮷\r\n",
     {}},
    {"quoted-printable UTF-8 with a soft break",
     "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: Quoted-Printable\r\n\r\n"
     "=E6=97=A5=E6=9C=AC=\r\n=E8=AA=9E a=3Db =zz\r\n",
     "日本語 a=b =zz\r\n",
     {}},
    {"8bit UTF-8 Hangul",
     "Content-Type: text/plain; charset=\"utf-8\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
     "\xED\x95\x9C\xEA\xB8\x80\r\n",
     "한글\r\n",
     {}},
    {"EUC-KR newsletter",
     "Content-Type: text/plain; charset=EUC-KR\r\n\r\n\xC7\xD1\xB1\xDB\r\n",
     "한글\r\n",
     {}},
    {"GB2312 newsletter in base64",
     "Content-Type: text/plain; charset=gb2312\r\nContent-Transfer-Encoding: base64\r\n\r\n1tDOxA0K\r\n",
     "中文\r\n",
     {}},
    {"ISO-2022-JP multipart, the part in 7bit",
     "Content-Type: Multipart/Mixed; boundary=\"b\"\r\n\r\npreamble\r\n--b\r\n"
     "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + kJisHello + "\r\n--b\r\n"
     "Content-Type: application/pdf; name=\"a.pdf\"\r\nContent-Disposition: attachment; filename=\"a.pdf\"\r\n"
     "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0=\r\n--b--\r\nepilogue\r\n",
     "こんにちは",
     {"a.pdf"}},
    {"Gmail alternative: plain wins over HTML",
     Alternative("5pel5pys6Kqe44Gu5pys5paHDQo=", "<div dir=3D\"ltr\">=E6=97=A5</div>"),
     "日本語の本文\r\n",
     {}},
    {"HTML only: tags removed, breaks and entities kept",
     Alternative("", "<html><head><style>p{x}</style><title>t</title></head><body>"
                     "<p>=E6=97=A5&amp;&#26412;&#x8A9E;&nbsp;x</p>a<br>b<script>alert(1)</script>"
                     "<!-- c --><img src=3D\"http://x/y.png\"></body></html>"),
     "日&本語\xC2\xA0x\r\na\r\nb\r\n",
     {}},
    {"Thunderbird mixed(alternative(plain, related(html, image)), RFC 2231 file)",
     "Content-Type: multipart/mixed; boundary=\"------------mix\"\r\n\r\n"
     "--------------mix\r\nContent-Type: multipart/alternative; boundary=\"------------alt\"\r\n\r\n"
     "--------------alt\r\nContent-Type: text/plain; charset=UTF-8; format=flowed\r\n"
     "Content-Transfer-Encoding: 8bit\r\n\r\n\xE6\x9C\xAC\xE6\x96\x87\r\n"
     "--------------alt\r\nContent-Type: multipart/related; boundary=\"------------rel\"\r\n\r\n"
     "--------------rel\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n<p>x</p>\r\n"
     "--------------rel\r\nContent-Type: image/png; name=\"logo.png\"\r\nContent-ID: <l@x>\r\n"
     "Content-Transfer-Encoding: base64\r\n\r\niVBO\r\n--------------rel--\r\n"
     "--------------alt--\r\n"
     "--------------mix\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment;\r\n"
     " filename*0*=UTF-8''%E8%A6%8B%E7%A9%8D; filename*1*=%E6%9B%B8.pdf\r\n"
     "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0=\r\n--------------mix--\r\n",
     "本文",
     {"logo.png", "見積書.pdf"}},
    {"a text/plain attachment is not the text",
     "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
     "Content-Type: text/plain; charset=utf-8\r\nContent-Disposition: attachment; filename=note.txt\r\n\r\n"
     "note\r\n--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nbody\r\n--b--\r\n",
     "body",
     {"note.txt"}},
    {"a forwarded mail is read when the mail has no text",
     "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: message/rfc822\r\n\r\n"
     "Subject: inner\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
     "5Lit6Lqr\r\n--b--\r\n",
     "中身",
     {}},
    {"a broken base64 line loses only its own bytes",
     "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: base64\r\n\r\n"
     "SGVsbG8g\r\nd2#9y!bGQ=\r\nIQ==\r\n",
     "Hello world!",
     {}},
    {"UTF-8 declared, Shift_JIS sent: detection decides",
     "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n\x93\xFA\x96\x7B\r\n",
     "日本\r\n",
     {}},
    {"an unknown charset holding UTF-8",
     "Content-Type: text/plain; charset=x-no-such-set\r\n\r\n\xE6\x97\xA5\r\n",
     "日\r\n",
     {}},
    {"an unknown charset holding EUC-JP",
     "Content-Type: text/plain; charset=x-no-such-set\r\n\r\n\xC6\xFC\xCB\xDC\r\n",
     "日本\r\n",
     {}},
    {"LF line ends become CR LF",
     "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\na\nb=\nc\n",
     "a\r\nbc\r\n",
     {}},
    {"a multipart cut short shows what came",
     "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
     "\xE6\x97\xA5 and more",
     "日 and more",
     {}},
    {"a multipart without a boundary is read as text",
     "Content-Type: multipart/mixed\r\nContent-Transfer-Encoding: base64\r\n\r\nYWJj\r\n",
     "abc",
     {}},
    {"the UTF-8 choice overrides a declared EUC-JP",
     "Content-Type: text/plain; charset=euc-jp\r\n\r\n\xE6\x97\xA5\r\n",
     "日\r\n",
     {},
     KANJI_UTF8},
    {"the EUC choice overrides a declared UTF-8",
     "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\nxvzL3A==\r\n",
     "日本",
     {},
     KANJI_EUC},
    {"an unnamed picture is listed by its type",
     "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nx\r\n--b\r\n"
     "Content-Type: image/jpeg\r\n\r\n...\r\n--b--\r\n",
     "x",
     {"image/jpeg"}},
};

INSTANTIATE_TEST_SUITE_P(Table, MimeReadingTable, testing::ValuesIn(kMimeCases),
                         CaseName<MimeReadingTable::ParamType>);

TEST(MimeReading, MailWithoutMimeKeepsItsOldReading) {
    const std::string legacy[] = {
        "Subject: x\r\n\r\n" + kJisHello + "\r\n",
        "Subject: x\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + kJisHello + "\r\n",
        "Subject: x\r\nContent-Type: text/plain; charset=Shift_JIS\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
        "\x93\xFA\r\n",
        "Subject: x\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nplain\r\n",
        "Subject: x\r\n\r\n\xC6\xFC\xCB\xDC\r\n",
    };
    for (const std::string& mail : legacy) {
        for (std::int32_t code : {KANJI_AUTO, KANJI_SJIS, KANJI_JIS, KANJI_EUC}) {
            EXPECT_FALSE(NeedsMimeReading(mail, code)) << mail << " code " << code;
        }
        EXPECT_TRUE(NeedsMimeReading(mail, KANJI_UTF8));
    }
    // Undeclared UTF-8 is taken as UTF-8 by the automatic choice only.
    EXPECT_TRUE(NeedsMimeReading("Subject: x\r\n\r\n\xE6\x97\xA5\r\n", KANJI_AUTO));
    EXPECT_FALSE(NeedsMimeReading("Subject: x\r\n\r\n\xE6\x97\xA5\r\n", KANJI_SJIS));
    // The header ends at whichever empty line comes first, bare or CR LF:
    // a field after it is body text.
    EXPECT_FALSE(NeedsMimeReading("Subject: x\n\nContent-Type: text/html\r\n\r\nbody\r\n", KANJI_AUTO));
    EXPECT_FALSE(NeedsMimeReading("Subject: x\r\n\r\nContent-Type: text/html\n\nbody\n", KANJI_AUTO));
    EXPECT_TRUE(NeedsMimeReading("Content-Type: text/html\n\nbody\r\n\r\nmore\r\n", KANJI_AUTO));
}

// Every line end of the text becomes CR LF, whatever mix the part holds
// and wherever a line is long: a lone CR, a lone LF, CR CR LF, a CR last.
TEST(MimeReading, LineEndsBecomeCrLfInAnyMix) {
    auto slowly = [](std::string_view text) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r') {
                out += "\r\n";
                if (i + 1 < text.size() && text[i + 1] == '\n') {
                    ++i;
                }
            } else if (text[i] == '\n') {
                out += "\r\n";
            } else {
                out += text[i];
            }
        }
        return out;
    };
    const std::string longLine(5000, 'x');
    for (const std::string& text : {"a\rb\nc\r\nd"s, "\r\r\n\n\r"s, "\n"s, "\r"s, "end\r"s, "x\r\r\r\ny"s, "\r\n\r\n"s, "one\r\ntwo\r\n"s, "one\r\ntwo"s, "\r\nlast\n"s,
                                    longLine + "\r" + longLine, longLine + "\n\r" + longLine + "\r\n"}) {
        SCOPED_TRACE(testing::PrintToString(text.substr(0, 40)));
        // Quoted-printable carries any CR and LF into the part's text as they are.
        std::string mail =
            "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
        std::size_t line = 0;
        for (char c : text) {
            mail += c == '\r' ? "=0D" : c == '\n' ? "=0A" : std::string(1, c);
            if (++line == 70) {
                mail += "=\r\n";  // a soft line break, never inside an escape
                line = 0;
            }
        }
        EXPECT_EQ(ReadMimeBody(mail, KANJI_AUTO).body, slowly(text));
    }
}

TEST(MimeReading, HostileNestingEndsWithoutExhaustingTheStack) {
    std::string mail;
    for (int i = 0; i < 5000; ++i) {
        mail += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" +
                std::to_string(i) + "\r\n";
    }
    mail += "Content-Type: text/plain\r\n\r\ndeep\r\n";
    const MimeReading reading = ReadMimeBody(mail, KANJI_AUTO);
    EXPECT_EQ(reading.body.find("deep"), std::string::npos);
}

TEST(MimeReading, ThousandsOfPartsAreBounded) {
    std::string mail = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < 20000; ++i) {
        mail += "--b\r\nContent-Type: image/png\r\n\r\nx\r\n";
    }
    const MimeReading reading = ReadMimeBody(mail, KANJI_AUTO);
    EXPECT_LE(reading.attachments.size(), 1000u);
}

TEST(MimeReading, TransferDecodingsTolerateTheirFaults) {
    EXPECT_EQ(DecodeBase64Body("YW\r\nJj\r\nZA=="), "abcd");
    EXPECT_EQ(DecodeBase64Body("YQ==YWJj"), "aabc");  // padding ends one group, not the part
    EXPECT_EQ(DecodeBase64Body("YWJ"), "ab");
    EXPECT_EQ(DecodeQuotedPrintableBody("a=\r\nb=3d=3Dc= \r\nd="), "ab==cd");
    EXPECT_EQ(DecodeQuotedPrintableBody("=4"), "=4");
}

TEST(MimeReading, HtmlNeverKeepsScriptOrMarkup) {
    EXPECT_EQ(HtmlToText("<SCRIPT>x</SCRIPT>a<Style>y</sTyle>b"), "ab\n");
    EXPECT_EQ(HtmlToText("a &lt;b&gt; &unknown; &#0; &#x110000;"), "a <b> &unknown; \xEF\xBF\xBD \xEF\xBF\xBD\n");
    EXPECT_EQ(HtmlToText("<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>"), "1 2\n3\n");
    EXPECT_EQ(HtmlToText("<pre>a  b\nc</pre>d"), "a  b\nc\nd\n");
    EXPECT_EQ(HtmlToText("unclosed <b"), "unclosed\n");
}

}  // namespace
}  // namespace wp
