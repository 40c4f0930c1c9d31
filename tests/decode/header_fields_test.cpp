// Finding the shown header fields in a header text: the spellings that are
// found, where a value starts, and which folded lines belong to it.

#include "decode/header_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "table_case.h"

namespace wp {
namespace {

using namespace std::string_literals;

using Reader = std::string (*)(std::string_view);

std::string ContentDisposition(std::string_view text) {
    return GetContentDisposition(text, nullptr);
}

struct FieldCase {
    const char* what;
    Reader reader;
    std::string text;
    std::string value;
};

void PrintTo(const FieldCase& c, std::ostream* os) {
    *os << c.what;
}

class HeaderFieldsRead : public testing::TestWithParam<FieldCase> {};

TEST_P(HeaderFieldsRead, GivesTheRawValue) {
    const FieldCase& c = GetParam();
    EXPECT_EQ(c.reader(c.text), c.value) << c.what;
}

const FieldCase kFieldCases[] = {
    // Where the value starts.
    {"subject skips the blank after the colon", GetSubject, "+OK\r\nSubject: Hello\r\nTo: a\r\n", "Hello"},
    {"subject without a blank loses its first character", GetSubject, "+OK\r\nSubject:Hello\r\n", "ello"},
    {"subject of name and colon only is empty", GetSubject, "+OK\r\nSubject:\r\nTo: a\r\n", ""},
    {"from keeps the blank after the colon", GetFrom, "+OK\r\nFrom: Taro <t@example.jp>\r\n",
     " Taro <t@example.jp>"},
    {"date keeps the blank after the colon", GetDate, "+OK\r\nDate: Mon, 7 Mar 2005\r\n", " Mon, 7 Mar 2005"},
    {"content type skips one character", GetContentType, "+OK\r\nContent-Type: text/plain\r\n", "text/plain"},
    {"missing field", GetSubject, "+OK\r\nFrom: a\r\nTo: b\r\n\r\n.\r\n", ""},
    {"empty text", GetFrom, "", ""},

    // Which spellings are found.
    {"all capitals", GetSubject, "+OK\r\nSUBJECT: caps\r\n", "caps"},
    {"all lower case", GetSubject, "+OK\r\nsubject: lower\r\n", "lower"},
    {"other capitals are not found inside", GetSubject, "+OK\r\nSUbject: odd\r\n", ""},
    {"other capitals are found at the very start", GetSubject, "sUbJeCt: odd\r\nTo: a\r\n", "odd"},
    {"the usual spelling wins wherever it stands", GetSubject, "+OK\r\nsubject: low\r\nSubject: usual\r\n",
     "usual"},
    {"a name inside another name is not taken", GetSubject, "+OK\r\nX-Subject: no\r\n", ""},
    {"from in capitals", GetFrom, "+OK\r\nFROM: x\r\n", " x"},
    {"date in lower case", GetDate, "+OK\r\ndate: x\r\n", " x"},
    {"content type with a lower first letter", GetContentType, "+OK\r\ncontent-Type: a/b\r\n", "a/b"},
    {"content type with a lower t", GetContentType, "+OK\r\nContent-type: a/b\r\n", "a/b"},
    {"content type all lower is not found", GetContentType, "+OK\r\ncontent-type: a/b\r\n", ""},
    {"content type all lower at the start", GetContentType, "content-type: a/b\r\n", "a/b"},
    {"disposition in capitals", ContentDisposition, "\r\nCONTENT-DISPOSITION: inline\r\n", "inline"},

    // Folded lines.
    {"subject joins folded lines as they are", GetSubject, "+OK\r\nSubject: a\r\n b\r\n\tc\r\nTo: x\r\n",
     "a b\tc"},
    {"a folded line with a colon ends the subject", GetSubject,
     "+OK\r\nSubject: Re: meeting\r\n at 10:00\r\n more\r\nTo: x\r\n", "Re: meeting"},
    {"a subject folded after an empty first line", GetSubject, "+OK\r\nSubject:\r\n folded\r\nTo: x\r\n",
     " folded"},
    {"from keeps only its first line", GetFrom, "+OK\r\nFrom: Taro\r\n <t@example.jp>\r\n", " Taro"},
    {"date keeps only its first line", GetDate, "+OK\r\nDate: Mon,\r\n 7 Mar 2005\r\n", " Mon,"},
    {"content type joins its parameters", GetContentType,
     "+OK\r\nContent-Type: multipart/mixed;\r\n\tboundary=\"b1\"\r\nTo: x\r\n",
     "multipart/mixed;\tboundary=\"b1\""},
    {"a subject at the end of the text", GetSubject, "+OK\r\nSubject: a\r\n b", "a b"},
    {"LF-only folding is followed too", GetSubject, "+OK\r\nSubject: a\n b\nTo: x", "a b"},

    // The header ends at its empty line: the "." of a TOP response and the
    // body never join a value.
    {"the closing dot does not join the last field", GetSubject, "+OK\r\nSubject: Hello\r\n\r\n.\r\n",
     "Hello"},
    {"a body line does not join the last field", GetContentType,
     "+OK\r\nContent-Type: text/plain\r\n\r\nbody\r\n", "text/plain"},

    // The text ends at its first zero byte.
    {"a zero byte ends the value", GetSubject, "+OK\r\nSubject: ab\0cd\r\n"s, "ab"},
    {"nothing after a zero byte is found", GetSubject, "+OK\r\n\0\r\nSubject: x\r\n"s, ""},
};

INSTANTIATE_TEST_SUITE_P(Table, HeaderFieldsRead, testing::ValuesIn(kFieldCases),
                         CaseName<HeaderFieldsRead::ParamType>);

TEST(HeaderFields, FromIsCutToItsWorkBuffer) {
    std::string text = "+OK\r\nFrom: " + std::string(5000, 'a') + "\r\n";
    std::string from = GetFrom(text);
    EXPECT_EQ(from.size(), kHeaderWorkBuffer - 1);
    EXPECT_EQ(from[0], ' ');
}

TEST(HeaderFields, DispositionGivesWhereTheFieldNameStarts) {
    std::size_t start = 0;
    std::string text = "+OK\r\nContent-Disposition: inline\r\n";
    EXPECT_EQ(GetContentDisposition(text, &start), "inline");
    EXPECT_EQ(start, 5u);
    EXPECT_EQ(text.substr(start, 20), "Content-Disposition:");

    EXPECT_EQ(GetContentDisposition("content-DISPOSITION: x", &start), "x");
    EXPECT_EQ(start, 0u);

    EXPECT_EQ(GetContentDisposition("+OK\r\nTo: a\r\n", &start), "");
    EXPECT_EQ(start, std::string_view::npos);
}

// Walking from one part to the next, as the viewer lists attachments.
TEST(HeaderFields, DispositionWalksThroughTheParts) {
    const std::string mail =
        "+OK 2048 octets\r\n"
        "From: a@example.jp\r\n"
        "Content-Type: multipart/mixed; boundary=\"XX\"\r\n"
        "\r\n"
        "--XX\r\n"
        "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
        "\r\n"
        "hello\r\n"
        "--XX\r\n"
        "Content-Type: application/pdf; name=\"a.pdf\"\r\n"
        "Content-Disposition: attachment;\r\n"
        "\tfilename=\"a.pdf\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "\r\n"
        "JVBERi0xLjQK\r\n"
        "--XX\r\n"
        "Content-Type: text/plain\r\n"
        "Content-Disposition: attachment; filename=b.txt\r\n"
        "\r\n"
        "SGVsbG8=\r\n"
        "\r\n"
        "--XX--\r\n"
        ".\r\n";
    std::vector<std::string> values;
    std::string_view rest = mail;
    for (int guard = 0; guard < 10; ++guard) {
        std::size_t start = 0;
        std::string value = GetContentDisposition(rest, &start);
        if (start == std::string_view::npos) {
            break;
        }
        values.push_back(value);
        rest.remove_prefix(start + 2);
    }
    // The second part's body must not stick to an unquoted name.
    EXPECT_EQ(values,
              (std::vector<std::string>{"attachment;\tfilename=\"a.pdf\"", "attachment; filename=b.txt"}));
}

}  // namespace
}  // namespace wp
