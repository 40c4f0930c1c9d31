// wrenpost-cli's file commands and its command line, through the real program.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_runner.h"

namespace wp {
namespace {

using test::CliRunner;
using test::Contains;

// "日本語のメールです。\r\nテスト 123\r\n" in each code.
const std::string kUtf8 = "日本語のメールです。\r\nテスト 123\r\n";
const std::string kSjis =
    "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x81\x81\x5b\x83\x8b\x82\xc5\x82\xb7\x81\x42\r\n"
    "\x83\x65\x83\x58\x83\x67 123\r\n";
const std::string kJis =
    "\x1b$BF|K\\8l$N%a!<%k$G$9!#\x1b(B\r\n"
    "\x1b$B%F%9%H\x1b(B 123\r\n";
const std::string kEuc =
    "\xc6\xfc\xcb\xdc\xb8\xec\xa4\xce\xa5\xe1\xa1\xbc\xa5\xeb\xa4\xc7\xa4\xb9\xa1\xa3\r\n"
    "\xa5\xc6\xa5\xb9\xa5\xc8 123\r\n";

// An emoji, 𠮷 and a Hangul syllable: none of them is in code page 932.
const std::string kEmoji = "a\xF0\x9F\x8C\xB8\xF0\xA0\xAE\xB7" "b\xED\x95\x9C" "c\r\n";

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(CliConvert, EachCodeIsDetectedAndConverted) {
    // After a zero byte nothing counts: JIS escapes there neither steer the
    // detection nor reach the output.
    const std::string cut = kSjis + std::string(1, '\0') + kJis;
    struct Case {
        const char* what;
        const std::string& input;
        std::vector<std::string> options;
        std::string out;
    } cases[] = {
        {"detect sjis", kSjis, {"--detect"}, "0\n"},
        {"detect jis", kJis, {"--detect"}, "1\n"},
        {"detect euc", kEuc, {"--detect"}, "2\n"},
        {"sjis to utf8", kSjis, {}, kUtf8},
        {"jis to utf8", kJis, {}, kUtf8},
        {"euc to utf8", kEuc, {"--to", "utf8"}, kUtf8},
        {"sjis to jis", kSjis, {"--to", "jis"}, kJis},
        {"jis to euc", kJis, {"--to=euc"}, kEuc},
        {"euc to sjis, named", kEuc, {"--from", "euc", "--to", "sjis"}, kSjis},
        {"jis to sjis, named", kJis, {"--from", "jis", "--to", "sjis"}, kSjis},
        {"sjis taken as itself", kSjis, {"--from", "sjis", "--to", "sjis"}, kSjis},
        {"cut at a zero byte", cut, {}, kUtf8},
        {"detect before a zero byte", cut, {"--detect"}, "0\n"},
        {"empty file", "", {}, ""},
        {"detect utf8", kUtf8, {"--detect"}, "utf8\n"},
        {"utf8 taken as itself", kUtf8, {}, kUtf8},
        {"utf8 to sjis, named", kUtf8, {"--from", "utf8", "--to", "sjis"}, kSjis},
        {"utf8 to jis", kUtf8, {"--to", "jis"}, kJis},
        {"what CP932 lacks becomes geta", kEmoji, {"--to", "sjis"}, "a\x81\xAC\x81\xAC" "b\x81\xAC" "c\r\n"},
    };
    CliRunner cli;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(cli.File("mail.txt"), c.input);
        std::vector<std::string> args = {"convert"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(cli.File("mail.txt"));
        test::CliResult r = cli.Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
    // A file converts where it lies, and nothing is made in the data folder.
    EXPECT_FALSE(std::filesystem::exists(cli.DataDir()));
}

// A file far larger than one piece read, with characters, escapes and
// line ends on every possible cut, converts as the whole text does.
TEST(CliConvert, ALargeFileInPiecesConvertsAsAWhole) {
    std::string jis;
    std::string utf8;
    for (int i = 0; jis.size() < 700 * 1024; ++i) {
        const std::string n = std::to_string(i);
        jis += kJis + n;
        utf8 += kUtf8 + n;
        if (i % 7 == 0) {
            jis += "\r\n";
            utf8 += "\r\n";
        }
    }
    CliRunner cli;
    WriteFile(cli.File("big.txt"), jis);
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, std::vector<std::string>{"--from", "jis"}}) {
        std::vector<std::string> args = {"convert"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(cli.File("big.txt"));
        test::CliResult r = cli.Run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out == utf8) << "sizes " << r.out.size() << " and " << utf8.size();
    }
    // UTF-8 back to JIS, a multi-byte character on each cut.
    WriteFile(cli.File("big8.txt"), utf8);
    test::CliResult r = cli.Run({"convert", "--to", "jis", cli.File("big8.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == jis) << "sizes " << r.out.size() << " and " << jis.size();
}

TEST(CliConvert, AFileThatCannotBeReadFails) {
    CliRunner cli;
    std::filesystem::create_directories(cli.File("folder"));
    for (const std::string& path : {cli.File("missing.txt"), cli.File("folder")}) {
        SCOPED_TRACE(path);
        test::CliResult r = cli.Run({"convert", path});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.out.empty());
        EXPECT_TRUE(Contains(r.err, path)) << r.err;
    }
}

TEST(CliHeaders, ShowsWhatTheListWouldShow) {
    struct Case {
        const char* what;
        std::string block;
        std::string out;
    } cases[] = {
        {"a multipart mail in JIS encoded words",
         "+OK 1523 octets\r\n"
         "Return-Path: <yamada@example.jp>\r\n"
         "Received: from mail.example.jp (mail.example.jp [192.0.2.1])\r\n"
         "\tby mx.example.com (Postfix) with ESMTP id 4F2A1\r\n"
         "\tfor <suzuki@example.com>; Mon, 7 Mar 2005 09:05:10 +0900 (JST)\r\n"
         "Message-ID: <20050307090500.1234@example.jp>\r\n"
         "Date: Mon, 7 Mar 2005 09:05:00 +0900\r\n"
         "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <yamada@example.jp>\r\n"
         "To: suzuki@example.com\r\n"
         "Subject: =?ISO-2022-JP?B?GyRCMnE1RCRON28bKEI=?=\r\n"
         "\t=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed;\r\n"
         "\tboundary=\"----=_Part_0_12345\"\r\n"
         "\r\n"
         ".\r\n",
         "from\t 山田太郎 <yamada@example.jp>\n"
         "subject\t会議の件日本語\n"
         "date\t2005/03/07 09:05:00 \n"
         "parts\t1\n"},
        {"plain text with a raw Shift_JIS subject and another zone",
         "+OK\r\nFrom: suzuki@example.com\r\nSubject: \x83\x65\x83\x58\x83\x67\r\n"
         "Date: Tue, 15 Feb 2011 23:59:59 +0000\r\nContent-Type: text/plain; charset=Shift_JIS\r\n\r\n.\r\n",
         "from\t suzuki@example.com\n"
         "subject\tテスト\n"
         "date\t2011/02/15 23:59:59 (+0000)\n"
         "parts\t0\n"},
        {"no header fields at all", "", "from\t\nsubject\t\ndate\t\nparts\t0\n"},
    };
    CliRunner cli;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(cli.File("header.txt"), c.block);
        test::CliResult r = cli.Run({"headers", cli.File("header.txt")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(CliHeaders, ControlCharactersFromAServerNeverReachTheTerminal) {
    CliRunner cli;
    WriteFile(cli.File("header.txt"),
              "+OK\r\nFrom: \x1b]0;owned\x07 x@example.jp\r\nSubject: red \x1b[31mtext\r\n\r\n.\r\n");
    test::CliResult r = cli.Run({"headers", cli.File("header.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x07'), std::string::npos) << r.out;
    // Still one line per key.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4);
}

TEST(CliUsage, BadArgumentsGiveTheUsageAndStatus64) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"--verbose", "account", "list"},
        {"account"},
        {"account", "rename", "x"},
        {"convert"},
        {"convert", "a.txt", "b.txt"},
        {"convert", "--to", "utf16", "a.txt"},
        {"convert", "--from", "latin1", "a.txt"},
        {"convert", "--bogus", "a.txt"},
        {"convert", "a.txt", "--from"},
        {"convert", "--detect=yes", "a.txt"},
        {"convert", "--to", "jis", "--to", "euc", "a.txt"},
        {"headers"},
        {"account", "add", "x", "--login", "taro"},
        {"account", "add", "x", "--server", "pop.example.jp"},
        {"account", "add", "x", "--server", "s", "--login", "y", "--password", "p", "--no-save-password"},
        {"account", "add", "x😀", "--server", "s", "--login", "y"},
        {"account", "add", "x", "--server", std::string(50, 's'), "--login", "y"},
        {"account", "add", "x", "--server", "s", "--login", "y", "--password", std::string(50, 'p')},
        {"account", "add", std::string("x\xff", 2), "--server", "s", "--login", "y"},
        {"account", "list", "extra"},
        {"account", "remove"},
        {"list"},
        {"list", "x", "--password"},
        {"list", "x", "--password", std::string(40, 'p')},
        {"cached", "x", "y"},
    };
    CliRunner cli;
    for (const auto& args : cases) {
        std::string line;
        for (const auto& a : args) {
            line += a + " ";
        }
        SCOPED_TRACE(line);
        test::CliResult r = cli.Run(args);
        EXPECT_EQ(r.status, 64);
        EXPECT_TRUE(Contains(r.err, "wrenpost-cli [--data-dir DIR] account add NAME --server HOST[:PORT]"))
            << r.err;
        EXPECT_TRUE(r.out.empty());
        // Refused before anything was written.
        EXPECT_FALSE(std::filesystem::exists(cli.DataDir()));
    }
    test::CliResult r = cli.Run({"--data-dir"}, false);
    EXPECT_EQ(r.status, 64);
    EXPECT_TRUE(Contains(r.err, "wrenpost-cli [--data-dir DIR] convert")) << r.err;
}

}  // namespace
}  // namespace wp
