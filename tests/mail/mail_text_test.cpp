// The viewer's text of a fetched mail: the header/body split and its toggle,
// the attachment names, the live text while a reply arrives, the framing
// undone for showing and saving, and the files the viewer keeps and writes.

#include "mail/mail_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mail/stored_mail.h"
#include "mailbox_fixture.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace wp {
namespace {

using test::DataFolder;
using test::Exists;
using test::Slurp;
using test::Spit;

std::string Utf8(const std::string& cp932) {
    return Cp932ToUtf8(cp932);
}

TEST(MailText, SplitDropsTheStatusLineAndCutsAtTheFirstEmptyLine) {
    const struct {
        const char* what;
        std::string text;
        bool headerShown;
        std::string header;
        std::string body;
    } cases[] = {
        {"header, empty line, body", "+OK\r\nSubject: a\r\n\r\nbody\r\n", false, "Subject: a\r\n\r\n",
         "body\r\n"},
        {"the same with the header shown", "+OK\r\nSubject: a\r\n\r\nbody\r\n", true, "",
         "Subject: a\r\n\r\nbody\r\n"},
        {"only the first empty line splits", "+OK\r\nA: 1\r\n\r\nx\r\n\r\ny\r\n", false, "A: 1\r\n\r\n",
         "x\r\n\r\ny\r\n"},
        {"without an empty line all is header", "+OK\r\nA: 1\r\nB: 2\r\n", false, "A: 1\r\nB: 2\r\n", ""},
        {"without an empty line, header shown", "+OK\r\nA: 1\r\nB: 2\r\n", true, "", "A: 1\r\nB: 2\r\n"},
        {"without any line end nothing is shown", "+OK no line end", false, "", ""},
        {"status line alone", "+OK\r\n", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MailTextParts parts = SplitMailText(c.text, c.headerShown);
        EXPECT_EQ(parts.header, c.header);
        EXPECT_EQ(parts.body, c.body);
    }
}

// Checking the box shows header, empty line and body, each once; unchecking
// gives back the body alone.
TEST(MailText, HeaderToggleRoundTrip) {
    for (const std::string text : {"+OK\r\nSubject: a\r\nFrom: b\r\n\r\nline 1\r\n\r\nline 2\r\n",
                                   "+OK\r\nSubject: only a header\r\n"}) {
        SCOPED_TRACE(text);
        const MailTextParts hidden = SplitMailText(text, false);
        MailTextParts parts = hidden;
        ShowHeaderPart(parts);
        EXPECT_EQ(parts.header, "");
        EXPECT_EQ(parts.body, SplitMailText(text, true).body);
        HideHeaderPart(parts);
        EXPECT_EQ(parts.header, hidden.header);
        EXPECT_EQ(parts.body, hidden.body);
    }
}

std::string Multipart(const std::string& parts) {
    return "+OK 500 octets\r\n"
           "Subject: files\r\n"
           "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
           "\r\n"
           "--b\r\nContent-Type: text/plain\r\n\r\ntext\r\n" +
           parts + "--b--\r\n";
}

TEST(MailText, AttachmentNamesComeFromContentDispositionFileNames) {
    const std::string jisName =
        "=?ISO-2022-JP?B?"
        "GyRCO3FOQRsoQi5wZGY="
        "?=";  // 資料.pdf
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> names;  // UTF-8
    } cases[] = {
        {"two quoted names, an inline part between them adds nothing",
         Multipart("--b\r\nContent-Disposition: attachment; filename=\"a.txt\"\r\n\r\nA\r\n"
                   "--b\r\nContent-Disposition: inline\r\n\r\nI\r\n"
                   "--b\r\nContent-Disposition: attachment;\r\n filename=\"b.pdf\"\r\n\r\nB\r\n"),
         {"a.txt", "b.pdf"}},
        {"an encoded word in ISO-2022-JP is decoded",
         Multipart("--b\r\nContent-Disposition: attachment; filename=\"" + jisName + "\"\r\n\r\nX\r\n"),
         {"資料.pdf"}},
        {"the parameter in any case",
         Multipart("--b\r\nContent-Disposition: attachment; FileName=\"c.zip\"\r\n\r\nX\r\n"),
         {"c.zip"}},
        {"an unquoted name ends at the next parameter",
         Multipart("--b\r\nContent-Disposition: attachment; filename=d.csv; size=3\r\n\r\nX\r\n"),
         {"d.csv"}},
        {"the field spelled in capitals",
         Multipart("--b\r\nCONTENT-DISPOSITION: attachment; filename=\"e.txt\"\r\n\r\nX\r\n"),
         {"e.txt"}},
        {"the field spelled in small letters",
         Multipart("--b\r\ncontent-disposition: attachment; filename=\"f.txt\"\r\n\r\nX\r\n"), {"f.txt"}},
        {"any spelling right after the status line",
         "+OK\r\nContent-DISPOSITION: attachment; filename=\"g.txt\"\r\n\r\nX\r\n", {"g.txt"}},
        {"no status line, nothing searched", "Content-Disposition: attachment; filename=\"x\"", {}},
        {"an empty name adds nothing",
         Multipart("--b\r\nContent-Disposition: attachment; filename=\"\"\r\n\r\nX\r\n"),
         {}},
        {"a plain mail has none", "+OK\r\nSubject: hi\r\n\r\nbody\r\n", {}},
        {"an RFC 2231 name in sections",
         Multipart("--b\r\nContent-Disposition: attachment;\r\n filename*0*=UTF-8''%E8%B3%87; "
                   "filename*1*=%E6%96%99.pdf\r\n\r\nX\r\n"),
         {"資料.pdf"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> names;
        for (const std::string& name : AttachmentNames(c.text)) {
            names.push_back(Utf8(name));
        }
        EXPECT_EQ(names, c.names);
    }
}

TEST(MailText, AttachmentNamesAreBounded) {
    // A name is cut to 259 bytes, never inside a double-byte character.
    std::string longName(257, 'n');
    longName += "\x83\x5c\x83\x5c";  // ソソ: the second would end at byte 261
    std::vector<std::string> names = AttachmentNames(
        Multipart("--b\r\nContent-Disposition: attachment; filename=\"" + longName + "\"\r\n\r\nX\r\n"));
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], std::string(257, 'n') + "\x83\x5c");

    // A hostile mail of thousands of fields gives a list of bounded length.
    std::string many;
    for (int i = 0; i < 2000; ++i) {
        many +=
            "--b\r\nContent-Disposition: attachment; filename=\"f" + std::to_string(i) + "\"\r\n\r\nX\r\n";
    }
    names = AttachmentNames(Multipart(many));
    ASSERT_EQ(names.size(), kAttachmentListMax);
    EXPECT_EQ(names.front(), "f0");
    EXPECT_EQ(names.back(), "f" + std::to_string(kAttachmentListMax - 1));
}

// The live text, fed in two chunks cut at every byte, ends up as the
// finished mail would be split (before the framing is undone), whether the
// header is shown or not.
TEST(MailText, LiveTextSplitsLikeTheFinishedMailWhereverTheChunksEnd) {
    const std::string reply = "+OK 60 octets\r\nSubject: a\r\nFrom: b\r\n\r\nbody 1\r\n\r\nbody 2\r\n.\r\n";
    for (bool headerShown : {false, true}) {
        const MailTextParts expected = SplitMailText(reply, headerShown);
        for (std::size_t cut = 0; cut <= reply.size(); ++cut) {
            SCOPED_TRACE(testing::Message() << "header shown " << headerShown << ", cut at " << cut);
            LiveMailText live(headerShown);
            std::string body(live.Append(std::string_view(reply).substr(0, cut)));
            body += live.Append(std::string_view(reply).substr(cut));
            EXPECT_EQ(body, expected.body);
            EXPECT_EQ(live.Header(), expected.header);
            EXPECT_EQ(live.HeaderDone(), !headerShown);
        }
    }
}

TEST(MailText, LiveTextByteByByteAndWithoutAStatusLine) {
    LiveMailText live(false);
    std::string body;
    for (char ch : std::string("+OK\r\nA: 1\r\n\r\nxyz")) {
        body += live.Append(std::string_view(&ch, 1));
    }
    EXPECT_EQ(body, "xyz");
    EXPECT_EQ(live.Header(), "A: 1\r\n\r\n");

    // Only a status line is skipped: anything else is text.
    live.Clear(true);
    EXPECT_EQ(live.Append("From: x\r\n\r\nbody"), "From: x\r\n\r\nbody");
}

TEST(MailText, FramingIsUndoneForShowingAndSaving) {
    const struct {
        const char* what;
        std::string reply;
        std::string shown;  // UnstuffReply: the status line stays
        std::string saved;  // SavedMailBytes
    } cases[] = {
        {"status line, dot-stuffed line, terminator", "+OK 20\r\nA: 1\r\n\r\n..\r\n..x\r\n.\r\n",
         "+OK 20\r\nA: 1\r\n\r\n.\r\n.x\r\n", "A: 1\r\n\r\n.\r\n.x\r\n"},
        {"lines ending in LF only", "+OK\nA: 1\n\nbody\n.\n", "+OK\nA: 1\n\nbody\n", "A: 1\n\nbody\n"},
        {"a '.' inside a line is text", "+OK\r\na . b\r\n.\r\n", "+OK\r\na . b\r\n", "a . b\r\n"},
        {"a cut reply keeps what came", "+OK\r\nA: 1\r\n\r\npart", "+OK\r\nA: 1\r\n\r\npart",
         "A: 1\r\n\r\npart"},
        {"a status line alone", "+OK\r\n", "+OK\r\n", ""},
        {"nothing but a status line without its end", "+OK", "+OK", ""},
        {"a stuffed line first, then one after another", "+OK\r\n..a\r\n..\r\n...\r\nb\r\n.\r\n",
         "+OK\r\n.a\r\n.\r\n..\r\nb\r\n", ".a\r\n.\r\n..\r\nb\r\n"},
        {"a lone '.' line before the end is an empty line", "+OK\r\na\r\n.\r\nb\r\n.\r\n",
         "+OK\r\na\r\n\r\nb\r\n", "a\r\n\r\nb\r\n"},
        {"the terminator without its line end", "+OK\r\na\r\n.", "+OK\r\na\r\n", "a\r\n"},
        {"a terminator at once", "+OK\r\n.\r\n", "+OK\r\n", ""},
        {"a cut reply ending in a stuffed line", "+OK\r\na\r\n..b", "+OK\r\na\r\n.b", "a\r\n.b"},
        {"a '.' line that is not the last stays text", "+OK\r\n.\r\nx", "+OK\r\n\r\nx", "\r\nx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string shown = c.reply;
        UnstuffReply(shown);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(SavedMailBytes(c.reply), c.saved);
        std::string inPlace = c.reply;
        EXPECT_EQ(SavedMailView(inPlace), c.saved);
    }
    // Lines far longer than the 1023 characters a line reader would take:
    // a "." after that many bytes is text, not a stuffed line start.
    std::string longLine(3000, 'x');
    longLine[1024] = '.';
    EXPECT_EQ(SavedMailBytes("+OK\r\n" + longLine + "\r\n.\r\n"), longLine + "\r\n");
}

TEST(MailText, TextToShowConvertsFromTheChosenCode) {
    // "+OK", a JIS subject and body: 日本 in JIS is ESC $ B F| K\ ESC ( B.
    const std::string jis = "+OK\r\nSubject: x\r\n\r\n\x1b$BF|K\\\x1b(B\r\n.\r\n";
    const std::string nihon = Sjis("日本");
    EXPECT_EQ(MailTextToShow(jis, -1), "+OK\r\nSubject: x\r\n\r\n" + nihon + "\r\n");
    EXPECT_EQ(MailTextToShow(jis, 1), "+OK\r\nSubject: x\r\n\r\n" + nihon + "\r\n");
    // EUC chosen for a JIS mail: nothing is converted, the escapes stay.
    EXPECT_EQ(MailTextToShow(jis, 2), "+OK\r\nSubject: x\r\n\r\n\x1b$BF|K\\\x1b(B\r\n");
    // The text ends at its first zero byte.
    EXPECT_EQ(MailTextToShow(std::string("+OK\r\nab\0cd\r\n", 12), 0), "+OK\r\nab");
}

TEST(MailText, ReplacingAFileWritesAllOrNothing) {
    DataFolder folder;
    const std::string path = folder.path() + "/saved.eml";
    int error = 0;
    ASSERT_TRUE(ReplaceFileWith(path, "first", &error));
    EXPECT_EQ(Slurp(path), "first");
    ASSERT_TRUE(ReplaceFileWith(path, "second, longer", &error));
    EXPECT_EQ(Slurp(path), "second, longer");
    ASSERT_TRUE(ReplaceFileWith(path, "", &error));
    EXPECT_EQ(Slurp(path), "");

    // A folder that is not there: the errno comes back, nothing is left.
    EXPECT_FALSE(ReplaceFileWith(folder.path() + "/missing/x.eml", "x", &error));
    EXPECT_EQ(error, ENOENT);
    // A name that is a folder: the old content stays, no sibling is left.
    std::filesystem::create_directory(folder.path() + "/taken");
    Spit(folder.path() + "/taken/inner", "keep");
    EXPECT_FALSE(ReplaceFileWith(folder.path() + "/taken", "x", &error));
    EXPECT_NE(error, 0);
    EXPECT_EQ(Slurp(folder.path() + "/taken/inner"), "keep");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"saved.eml", "taken"}));
}

// Two windows on one data folder store their mails under the same name: each
// reads back its own, and each deletes only its own.
TEST(MailText, AStoredMailStaysTheViewersOwn) {
    DataFolder folder;
    const std::string path = folder.path() + "/acc.eml";
    Spit(path, "an old mail");
    std::optional<StoredMail> first = StoredMail::Write(path, "+OK\r\nfirst\r\n.\r\n");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Path(), path);
    EXPECT_EQ(Slurp(path), "+OK\r\nfirst\r\n.\r\n");
    std::optional<StoredMail> second = StoredMail::Write(path, "+OK\r\nsecond\r\n.\r\n");
    ASSERT_TRUE(second);
    EXPECT_EQ(first->Read(), "+OK\r\nfirst\r\n.\r\n");
    EXPECT_EQ(second->Read(), "+OK\r\nsecond\r\n.\r\n");
    EXPECT_FALSE(first->SameAs(*second));

    first->Remove();
    EXPECT_TRUE(first->Empty());
    EXPECT_EQ(Slurp(path), "+OK\r\nsecond\r\n.\r\n") << "the other window's mail stays";
    StoredMail copy = *second;
    second->Remove();
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(copy.Read(), "+OK\r\nsecond\r\n.\r\n") << "an open copy still reads it";

    // Only the message file is there: no sibling of a write is left.
    EXPECT_TRUE(StoredMail::Write(path, "x"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_FALSE(StoredMail::Write(folder.path() + "/missing/acc.eml", "x"));
    EXPECT_FALSE(StoredMail().Read());
}

}  // namespace
}  // namespace wp

namespace wp {
namespace {

TEST(MailText, ViewOfMailKeepsTheOldReadingForMailWithoutMime) {
    const std::string jis = "+OK\r\nSubject: x\r\n\r\n\x1b$BF|K\\\x1b(B\r\n..dot\r\n.\r\n";
    for (std::int32_t code : {-1, 0, 1, 2}) {
        const MailView view = ViewOfMail(jis, code);
        EXPECT_FALSE(view.decoded) << code;
        EXPECT_EQ(view.legacy, MailTextToShow(jis, code)) << code;
        const MailTextParts parts = PartsToShow(view, false, false);
        EXPECT_FALSE(parts.unicode);
        EXPECT_EQ(parts.body, SplitMailText(view.legacy, false).body);
    }
}

TEST(MailText, ViewOfMailReadsMimeMailInUnicode) {
    const std::string mail =
        "+OK\r\nSubject: =?UTF-8?B?8J+MuA==?=\r\nContent-Type: text/plain; charset=utf-8\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n\r\n=F0=9F=8C=B8 =E6=97=A5\r\n..dot\r\n.\r\n";
    const MailView view = ViewOfMail(mail, -1);
    ASSERT_TRUE(view.decoded);
    EXPECT_EQ(view.body, "\xF0\x9F\x8C\xB8 \xE6\x97\xA5\r\n.dot\r\n") << "dot-stuffing undone first";
    EXPECT_EQ(view.header.rfind("Subject: =?UTF-8?B?8J+MuA==?=\r\n", 0), 0u);
    EXPECT_TRUE(view.header.ends_with("\r\n\r\n"));

    MailTextParts parts = PartsToShow(view, false, false);
    EXPECT_TRUE(parts.unicode);
    EXPECT_EQ(parts.body, view.body);
    ShowHeaderPart(parts);
    EXPECT_EQ(parts.body, view.header + view.body);
    HideHeaderPart(parts);
    EXPECT_EQ(parts.body, view.body);
    EXPECT_EQ(PartsToShow(view, true, false).body, view.header + view.body);
    // The source is the old reading, quoted-printable and all.
    const MailTextParts source = PartsToShow(view, false, true);
    EXPECT_FALSE(source.unicode);
    EXPECT_EQ(source.body, "=F0=9F=8C=B8 =E6=97=A5\r\n.dot\r\n");
}

// Without source a decoded view skips the second conversion of the whole
// mail; everything else is the view with source, and a mail without the
// MIME reading keeps its one reading whatever is asked.
TEST(MailText, AViewWithoutSourceLeavesOnlyTheLegacyTextOfADecodedMailOut) {
    const struct {
        const char* what;
        std::string reply;
    } cases[] = {
        {"JIS", "+OK\r\nSubject: x\r\n\r\n\x1b$BF|K\\\x1b(B\r\n..dot\r\n.\r\n"},
        {"Shift_JIS", "+OK\r\nSubject: x\r\n\r\n\x93\xfa\x96\x7b \xb1\xdd\r\n.\r\n"},
        {"EUC-JP", "+OK\r\nSubject: x\r\n\r\n\xc6\xfc\xcb\xdc \x8e\xb1\r\n.\r\n"},
        {"ASCII only, LF line ends", "+OK\nSubject: x\n\nplain\n.\n"},
        {"a zero byte ends the text", std::string("+OK\r\nSubject: x\r\n\r\nab\0cd\r\n.\r\n", 27)},
        {"nothing but a status line", "+OK\r\n"},
        {"quoted-printable UTF-8",
         "+OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n"
         "\r\n=E6=97=A5\r\n.\r\n"},
        {"raw UTF-8 body", "+OK\r\nSubject: x\r\n\r\n\xE6\x97\xA5\r\n.\r\n"},
        {"multipart with a file",
         Multipart("--b\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n\x1b$BF|\x1b(B\r\n"
                   "--b\r\nContent-Disposition: attachment; filename=\"a.txt\"\r\n\r\nA\r\n")},
    };
    for (const auto& c : cases) {
        for (std::int32_t code : {-1, 0, 1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << c.what << ", code " << code);
            const MailView full = ViewOfMail(c.reply, code);
            const MailView light = ViewOfMail(c.reply, code, {}, false);
            EXPECT_EQ(full.legacy, MailTextToShow(c.reply, code == 3 ? -1 : code));
            EXPECT_EQ(light.decoded, full.decoded);
            EXPECT_EQ(light.legacy, full.decoded ? std::string() : full.legacy);
            EXPECT_EQ(light.header, full.header);
            EXPECT_EQ(light.body, full.body);
            EXPECT_EQ(light.attachments, full.attachments);
        }
    }
}

// The search for "\n." looks at sixteen bytes at a time: a stuffed line
// start and the terminator at every place in and across those blocks.
TEST(MailText, UnstuffingFindsEveryDotLineWhereverItFalls) {
    auto slowly = [](std::string reply) {
        std::string out;
        std::size_t at = reply.find('\n');
        if (at == std::string::npos) {
            return reply;
        }
        out = reply.substr(0, at + 1);
        for (std::size_t i = at + 1; i < reply.size(); ++i) {
            if (reply[i] == '.' && reply[i - 1] == '\n') {
                const std::string rest = reply.substr(i);
                if (rest == "." || rest == ".\r" || rest == ".\n" || rest == ".\r\n") {
                    break;
                }
                continue;
            }
            out += reply[i];
        }
        return out;
    };
    for (std::size_t first = 0; first < 40; ++first) {
        for (std::size_t gap : {0u, 1u, 2u, 15u, 16u, 17u}) {
            std::string reply = "+OK\r\n" + std::string(first, 'a') + "\r\n..x" + std::string(gap, 'b') +
                                "\n.." + std::string(first % 7, 'c') + "\r\n.\r\n";
            SCOPED_TRACE(testing::Message() << "first " << first << ", gap " << gap);
            std::string shown = reply;
            UnstuffReply(shown);
            EXPECT_EQ(shown, slowly(reply));
            EXPECT_EQ(shown.find("\n.."), std::string::npos);
            // Cut anywhere: a dot at the very end is a terminator without its line end.
            for (std::size_t cut = reply.size() - 8; cut <= reply.size(); ++cut) {
                std::string part = reply.substr(0, cut);
                UnstuffReply(part);
                EXPECT_EQ(part, slowly(reply.substr(0, cut))) << cut;
            }
        }
    }
}

TEST(MailText, AttachmentNamesAmongManyColonsAndInAnyCase) {
    std::string text;
    for (int i = 0; i < 500; ++i) {
        text += "time: 12:" + std::to_string(i) + " disposition: none\r\n";
    }
    EXPECT_EQ(AttachmentNames(Multipart("--b\r\n" + text + "\r\nX\r\n")), std::vector<std::string>{});
    // Past many colons, and a colon as the very first byte after the status line.
    EXPECT_EQ(AttachmentNames(Multipart("--b\r\n" + text +
                                        "Content-Disposition: attachment; filename=\"z.txt\"\r\n\r\nZ\r\n")),
              std::vector<std::string>{"z.txt"});
    EXPECT_EQ(AttachmentNames("+OK\r\n:\r\nCONTENT-DISPOSITION: attachment; filename=a\r\n\r\n"),
              std::vector<std::string>{"a"});
}

TEST(MailText, TheUtf8ChoiceReadsEvenALegacyMailAsUtf8) {
    const MailView view = ViewOfMail("+OK\r\nSubject: x\r\n\r\n\xE6\x97\xA5\x93\xFA\r\n.\r\n", 3);
    ASSERT_TRUE(view.decoded);
    EXPECT_EQ(view.body, "\xE6\x97\xA5\xEF\xBF\xBD\xEF\xBF\xBD\r\n") << "a byte that is no UTF-8 shows as U+FFFD";
}

}  // namespace
}  // namespace wp
