// A RETR reply made ready while it arrives must show exactly what the view
// of the whole reply shows, wherever its pieces end; and the message file
// written piece by piece is the reply, or nothing at all.

#include "mail/arriving_mail.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mail/stored_mail.h"
#include "mailbox_fixture.h"

namespace wp {
namespace {

using test::DataFolder;
using test::Slurp;
using test::Spit;

const std::vector<std::pair<const char*, std::string>>& Replies() {
    static const std::vector<std::pair<const char*, std::string>> replies = {
        {"JIS: kanji, half-width kana with a sound mark, stuffed lines",
         "+OK 99 octets\r\nSubject: x\r\n\r\n\x1b$BF|K\\\x1b(B\r\n..dot\r\n\x1b(I6^1\x1b(B kana\r\n"
         "\x1b$B$3$s\x1b(B\r\n.\r\n"},
        {"JIS cut inside an escape, a lone ESC, a set we do not know, an odd byte",
         "+OK\r\nA: 1\r\n\r\n\x1b$BF|K\x1b(B \x1b x \x1b$(DAB\x1b(B\r\n\x1b$BF|\x1b$"},
        {"JIS with LF line ends and no empty line", "+OK\nSubject: \x1b$BF|K\\\x1b(B\n..x\n.\n"},
        {"quoted-printable JIS, no escape written as it is",
         "+OK\r\nSubject: x\r\n\r\n=1B$BF|K\\=1B(B\r\n..\r\n.\r\n"},
        {"Shift_JIS with half-width kana and a lead byte at the end",
         "+OK\r\nSubject: x\r\n\r\n\x93\xfa\x96\x7b \xb6\xde\xb1\r\n\x82"},
        {"EUC-JP with a kana after SS2",
         "+OK\r\nSubject: x\r\n\r\n\xc6\xfc\xcb\xdc \x8e\xb6\x8e\xde\r\n.\r\n"},
        {"a zero byte ends the text",
         std::string("+OK\r\nA: 1\r\n\r\n\x1b$BF|\x1b(B\0\x1b$BK\\\r\n.\r\n", 30)},
        {"a zero byte in the status line", std::string("+O\0K\r\nA: 1\r\n\r\nx\r\n.\r\n", 20)},
        {"no line end at all", "+OK no end"},
        {"a '.' line before the end, the terminator cut", "+OK\r\na\r\n.\r\nb\r\n.\r"},
        {"a terminator without its line end after a stuffed line", "+OK\r\n..\r\n."},
        {"the mail starts with its empty line", "+OK\r\n\r\n\x1b$BF|\x1b(B\r\n.\r\n"},
        {"multipart JIS with a file",
         "+OK\r\nSubject: x\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
         "--b\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n\x1b$BF|K\\\x1b(B\r\n"
         "--b\r\nContent-Disposition: attachment; filename=\"a.txt\"\r\n\r\nA\r\n--b--\r\n.\r\n"},
        {"a JIS escape and a UTF-8 body the header says nothing of",
         "+OK\r\nSubject: x\r\n\r\n\x1b$BF|\x1b(B \xE6\x97\xA5\r\n.\r\n"},
    };
    return replies;
}

void ExpectSame(const MailView& got, const MailView& want) {
    EXPECT_EQ(got.decoded, want.decoded);
    EXPECT_EQ(got.legacy, want.legacy);
    EXPECT_EQ(got.header, want.header);
    EXPECT_EQ(got.body, want.body);
    EXPECT_EQ(got.attachments, want.attachments);
}

MailView Arrived(const std::string& reply, std::int32_t startCode, std::int32_t code, bool withSource,
                 const std::vector<std::size_t>& cuts) {
    ArrivingMail mail(startCode, withSource, reply.size());
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        mail.Append(std::string_view(reply).substr(from, cut - from));
        from = cut;
    }
    mail.Append(std::string_view(reply).substr(from));
    return mail.Finish(code, {}, [&reply] { return std::optional<std::string>(reply); });
}

TEST(ArrivingMail, ShowsWhatTheWholeReplyShowsWhereverItIsCut) {
    for (const auto& [what, reply] : Replies()) {
        for (std::int32_t code : {-1, 0, 1, 2, 3}) {
            for (bool withSource : {false, true}) {
                SCOPED_TRACE(testing::Message() << what << ", code " << code << ", source " << withSource);
                const MailView want = ViewOfMail(reply, code, {}, withSource);
                ExpectSame(Arrived(reply, code, code, withSource, {}), want);
                for (std::size_t cut = 1; cut < reply.size(); ++cut) {
                    SCOPED_TRACE(testing::Message() << "cut at " << cut);
                    ExpectSame(Arrived(reply, code, code, withSource, {cut}), want);
                }
                std::vector<std::size_t> bytes;
                for (std::size_t at = 1; at < reply.size(); ++at) {
                    bytes.push_back(at);
                }
                SCOPED_TRACE("byte by byte");
                ExpectSame(Arrived(reply, code, code, withSource, bytes), want);
            }
        }
    }
}

// The code choice may change while the reply arrives: what is shown is for
// the choice once it is in.
TEST(ArrivingMail, TheCodeChoiceAtTheEndDecides) {
    for (const auto& [what, reply] : Replies()) {
        for (std::int32_t start : {-1, 1, 2, 3}) {
            for (std::int32_t code : {-1, 0, 1, 2, 3}) {
                SCOPED_TRACE(testing::Message() << what << ", from " << start << " to " << code);
                ExpectSame(Arrived(reply, start, code, false, {reply.size() / 2}),
                           ViewOfMail(reply, code, {}, false));
            }
        }
    }
}

// The text converted on the way is not kept: a changed choice or a UTF-8
// body reads the reply again, and without it shows what was made on the way.
TEST(ArrivingMail, WithoutTheReplyAgainTheReadingMadeOnTheWayIsShown) {
    const std::string jis = "+OK\r\nSubject: x\r\n\r\n\x1b$BF|K\\\x1b(B\r\n.\r\n";
    const std::string utf8 = "+OK\r\nSubject: x\r\n\r\n\x1b$BF|\x1b(B \xE6\x97\xA5\r\n.\r\n";
    int asked = 0;
    auto noReply = [&asked] {
        ++asked;
        return std::optional<std::string>();
    };
    ArrivingMail changed(-1, false);
    changed.Append(jis);
    ExpectSame(changed.Finish(2, {}, noReply), ViewOfMail(jis, -1, {}, false));
    ArrivingMail eightBit(-1, false);
    eightBit.Append(utf8);
    const MailView shown = eightBit.Finish(-1, {}, noReply);
    EXPECT_FALSE(shown.decoded);
    EXPECT_EQ(shown.legacy, MailTextToShow(utf8, -1));
    EXPECT_EQ(asked, 2);
    // Nothing changed: the reply is not read again.
    ArrivingMail same(-1, false);
    same.Append(jis);
    ExpectSame(same.Finish(-1, {}, noReply), ViewOfMail(jis, -1, {}, false));
    EXPECT_EQ(asked, 2);
}

// Megabytes with stuffed lines and escapes across the pieces a socket hands out.
TEST(ArrivingMail, ALargeJisReplyInSocketPieces) {
    std::string reply = "+OK\r\nSubject: big\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n";
    for (int i = 0; reply.size() < (1u << 20); ++i) {
        reply += "\x1b$B$3$s$K$A$O\x1b(B line " + std::to_string(i) + "\r\n";
        if (i % 97 == 0) {
            reply += "..stuffed\r\n\x1b(I6^\x1b(B\r\n";
        }
    }
    reply += ".\r\n";
    std::vector<std::size_t> cuts;
    for (std::size_t at = 4093; at < reply.size(); at += 4093) {
        cuts.push_back(at);
    }
    for (std::int32_t code : {-1, 1}) {
        ExpectSame(Arrived(reply, code, code, false, cuts), ViewOfMail(reply, code, {}, false));
    }
}

bool HasSibling(const std::string& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(".eml-", 0) == 0) {
            return true;
        }
    }
    return false;
}

TEST(ArrivingMail, TheMessageFileWrittenInPiecesIsTheReplyOrNothing) {
    DataFolder folder;
    const std::string path = folder.path() + "/account.eml";
    std::string reply = "+OK\r\n";
    while (reply.size() < 700 * 1024) {
        reply += "a line of the mail, long enough to fill the batches\r\n";
    }
    {
        StoredMailWriter writer(path);
        // Small pieces, then one larger than a batch.
        for (std::size_t at = 0; at < 4096 * 10; at += 4096) {
            writer.Append(std::string_view(reply).substr(at, 4096));
        }
        writer.Append(std::string_view(reply).substr(4096 * 10));
        std::optional<StoredMail> stored = writer.Commit();
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->Read(), reply);
        EXPECT_EQ(Slurp(path), reply);
    }
    EXPECT_FALSE(HasSibling(folder.path()));

    // A reply never committed (cut off, cancelled) leaves the old file and no temporary.
    Spit(path, "the mail shown before");
    {
        StoredMailWriter writer(path);
        writer.Append(reply);
        EXPECT_TRUE(HasSibling(folder.path()));
    }
    EXPECT_EQ(Slurp(path), "the mail shown before");
    EXPECT_FALSE(HasSibling(folder.path()));

    // A folder that cannot be written: the commit fails, nothing is left.
    StoredMailWriter nowhere(folder.path() + "/missing/account.eml");
    nowhere.Append("x");
    EXPECT_FALSE(nowhere.Commit());
}

}  // namespace
}  // namespace wp
