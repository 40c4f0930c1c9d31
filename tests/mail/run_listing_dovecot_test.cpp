// The listing and the account switch end to end against the test Dovecot,
// with a mailbox of Japanese mail as it arrives: ISO-2022-JP encoded words
// (B and Q, folded), JIS, Shift_JIS and EUC-JP bodies, multipart mail.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/date_size_text.h"
#include "listing_rig.h"
#include "platform/text.h"
#include "support/blocking_pop3.h"
#include "support/dovecot.h"

namespace wp {
namespace {

using test::ConsistentPair;
using test::ListingRig;
using test::Slurp;

const std::vector<std::string> kJapaneseMails = {
    // JIS mail, B-encoded subject and sender.
    "Return-Path: <yamada@example.jp>\n"
    "Message-ID: <1@example.jp>\n"
    "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <yamada@example.jp>\n"
    "To: user@example.jp\n"
    "Subject: =?ISO-2022-JP?B?GyRCMnE1RCRON28bKEI=?=\n"
    "Date: Mon, 7 Mar 2005 09:05:00 +0900\n"
    "MIME-Version: 1.0\n"
    "Content-Type: text/plain; charset=ISO-2022-JP\n"
    "Content-Transfer-Encoding: 7bit\n"
    "\n"
    "\x1b$B$3$s$K$A$O\x1b(B\n"
    ".a line that is dot-stuffed on the wire\n",
    // Shift_JIS body.
    "From: =?ISO-2022-JP?B?GyRCOjRGIzJWO1IbKEI=?= <sato@example.jp>\n"
    "Subject: =?ISO-2022-JP?B?GyRCOCtAUT1xJE5Bd0lVGyhC?=\n"
    "Date: Tue, 8 Mar 2005 10:00:00 +0900\n"
    "Content-Type: text/plain; charset=Shift_JIS\n"
    "\n"
    "\x83\x65\x83\x58\x83\x67\x96\x7b\x95\xb6\n",
    // EUC-JP body, Q-encoded subject.
    "From: suzuki@example.org\n"
    "Subject: =?ISO-2022-JP?Q?=1B=24BE=3AIU=25U=25!=25=24=25k=1B=28B?=\n"
    "Date: Wed, 9 Mar 2005 11:30:00 +0900\n"
    "Content-Type: text/plain; charset=EUC-JP\n"
    "\n"
    "\xa5\xc6\xa5\xb9\xa5\xc8\xcb\xdc\xca\xb8\n",
    // Multipart with an attachment; the subject folded into two words.
    "From: =?ISO-2022-JP?B?GyRCTmtMWjBsTzobKEI=?= <ichiro@example.jp>\n"
    "Subject: =?ISO-2022-JP?B?GyRCIVo9RU1XIVtHPElKGyhC?=\n"
    "\t=?ISO-2022-JP?B?GyRCJE4kKkNOJGkkOxsoQg==?=\n"
    "Date: Thu, 10 Mar 2005 12:00:00 +0900\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\n"
    "\n"
    "--b1\n"
    "Content-Type: text/plain; charset=ISO-2022-JP\n"
    "\n"
    "\x1b$BG<IJ=q$rE:IU$7$^$9\x1b(B\n"
    "--b1\n"
    "Content-Type: application/pdf; name=\"a.pdf\"\n"
    "Content-Disposition: attachment; filename=\"a.pdf\"\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "JVBERi0xLjQK\n"
    "--b1--\n",
    // Shift_JIS written raw into the header.
    "From: tanaka@example.jp\n"
    "Subject: \x93\xfa\x96\x7b\x8c\xea\x82\xcc\x8c\x8f\x96\xbc\n"
    "Date: Fri, 11 Mar 2005 13:15:00 +0900\n"
    "\n"
    "raw\n",
};

struct ExpectedRow {
    const char* from;
    const char* subject;
    const char* date;
    int partsImage;
};

const ExpectedRow kRows[] = {
    {" 山田太郎 <yamada@example.jp>", "会議の件", "2005/03/07 09:05:00 ", kImagePlain},
    {" 佐藤花子 <sato@example.jp>", "見積書の送付", "2005/03/08 10:00:00 ", kImagePlain},
    {" suzuki@example.org", "添付ファイル", "2005/03/09 11:30:00 ", kImagePlain},
    {" 鈴木一郎 <ichiro@example.jp>", "【重要】納品のお知らせ", "2005/03/10 12:00:00 ", kImageParts},
    {" tanaka@example.jp", "日本語の件名", "2005/03/11 13:15:00 ", kImagePlain},
};

class RunListingDovecot : public test::DovecotMailboxTest {
protected:
    int List(ListingRig& rig) {
        auto login = rig.LoginTo(server_.host, server_.port, user_.name(), user_.password());
        EXPECT_TRUE(login);
        if (!login) {
            return -100;
        }
        int result = rig.Listing();
        rig.session.Quit(true);
        return result;
    }

    // What TOP n 0 returns for every mail, through a plain client.
    std::string Headers(int count) {
        test::BlockingPop3 client;
        EXPECT_TRUE(client.Connect(server_.host, server_.port)) << client.error();
        EXPECT_TRUE(client.LoginUser(user_.name(), user_.password())) << client.error();
        std::string all;
        for (int n = 1; n <= count; ++n) {
            all += client.MultiLine("TOP " + std::to_string(n) + " 0");
        }
        client.Command("QUIT");
        return all;
    }

    void ExpectRows(const ListingRig& rig, const std::vector<int>& mails) {
        ASSERT_EQ(rig.list.RowCount(), static_cast<int>(mails.size()));
        for (std::size_t row = 0; row < mails.size(); ++row) {
            const ExpectedRow& e = kRows[mails[row]];
            const int r = static_cast<int>(row);
            SCOPED_TRACE(e.subject);
            EXPECT_EQ(Cp932ToUtf8(rig.list.Text(r, kColumnFrom)), e.from);
            EXPECT_EQ(Cp932ToUtf8(rig.list.Text(r, kColumnSubject)), e.subject);
            EXPECT_EQ(rig.list.Text(r, kColumnDate), e.date);
            EXPECT_EQ(
                rig.list.Text(r, kColumnSize),
                SizeColumnText(static_cast<std::uint32_t>(test::ToCrlf(kJapaneseMails[mails[row]]).size())));
            EXPECT_EQ(rig.list.PartsImage(r), e.partsImage);
            EXPECT_EQ(rig.list.RowEntry(r)->id, row + 1);
        }
    }
};

TEST_F(RunListingDovecot, ListsJapaneseMailThenReusesTheCache) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), kJapaneseMails));
    ListingRig rig;
    ASSERT_EQ(List(rig), 5);
    ExpectRows(rig, {0, 1, 2, 3, 4});
    EXPECT_GT(rig.topChunks, 0);
    EXPECT_EQ(Slurp(rig.mailbox->kvtPath), Headers(5)) << "the header blocks exactly as the server sent them";
    EXPECT_TRUE(ConsistentPair(*rig.mailbox));

    // Again: nothing new, so no TOP, and the same rows.
    std::vector<MailEntry*> rows;
    for (int r = 0; r < rig.list.RowCount(); ++r) {
        rows.push_back(rig.list.RowEntry(r));
    }
    ASSERT_EQ(List(rig), 5);
    EXPECT_EQ(rig.topChunks, 0);
    for (int r = 0; r < rig.list.RowCount(); ++r) {
        EXPECT_EQ(rig.list.RowEntry(r), rows[static_cast<std::size_t>(r)]);
    }

    // Another client deletes the second mail.
    {
        test::BlockingPop3 other;
        ASSERT_TRUE(other.Connect(server_.host, server_.port));
        ASSERT_TRUE(other.LoginUser(user_.name(), user_.password()));
        ASSERT_TRUE(test::IsOk(other.Command("DELE 2")));
        ASSERT_TRUE(test::IsOk(other.Command("QUIT")));
    }
    ASSERT_EQ(List(rig), 4);
    EXPECT_EQ(rig.topChunks, 0);
    ExpectRows(rig, {0, 2, 3, 4});
    EXPECT_EQ(Slurp(rig.mailbox->kvtPath), Headers(4));

    // The account switch shows the same list from the cache.
    rig.SwitchAccount();
    ExpectRows(rig, {0, 2, 3, 4});
}

TEST_F(RunListingDovecot, CancelledListingIsCompletedByTheNextOne) {
    std::vector<std::string> ten;
    for (int i = 0; i < 10; ++i) {
        ten.push_back(kJapaneseMails[static_cast<std::size_t>(i) % kJapaneseMails.size()]);
    }
    ASSERT_TRUE(test::FillMailbox(user_.name(), ten));
    ListingRig rig;
    rig.onPosition = [&rig](int position) {
        if (position == 3) {
            rig.session.cancel = 1;
        }
    };
    EXPECT_EQ(List(rig), -2);
    rig.onPosition = nullptr;
    ExpectRows(rig, {0, 1, 2});
    EXPECT_TRUE(ConsistentPair(*rig.mailbox));

    rig.SwitchAccount();
    ASSERT_EQ(rig.list.RowCount(), 10);
    for (int r = 3; r < 10; ++r) {
        EXPECT_EQ(rig.list.Text(r, kColumnSubject), "");
        EXPECT_EQ(rig.list.Text(r, kColumnFrom), "");
    }
    rig.session.cancel = 0;
    ASSERT_EQ(List(rig), 10);
    ExpectRows(rig, {0, 1, 2, 3, 4, 0, 1, 2, 3, 4});
    EXPECT_EQ(Slurp(rig.mailbox->kvtPath), Headers(10));
}

// What a listing leaves behind: both cache files and every row's texts.
std::string ListingOutcome(const ListingRig& rig) {
    std::string out = Slurp(rig.mailbox->kvtPath) + "\n--\n" + Slurp(rig.mailbox->sidPath) + "\n--\n";
    for (int r = 0; r < rig.list.RowCount(); ++r) {
        for (int column = 0; column < kColumnCount; ++column) {
            out += rig.list.Text(r, column) + "|";
        }
        out += std::to_string(rig.list.PartsImage(r)) + "|" + std::to_string(rig.list.RowEntry(r)->id) + "\n";
    }
    return out;
}

TEST_F(RunListingDovecot, PipelinedListingsLeaveTheSameFilesAndRows) {
    std::vector<std::string> mails;
    for (int i = 0; i < 40; ++i) {
        mails.push_back(kJapaneseMails[static_cast<std::size_t>(i) % kJapaneseMails.size()] + "mail " +
                        std::to_string(i) + "\n");
    }
    ASSERT_TRUE(test::FillMailbox(user_.name(), mails));
    // One at a time; a window of three commands; the full window.
    ListingRig serial, narrow, wide;
    serial.session.pipelining = false;
    narrow.session.pipelineDepth = 3;
    std::vector<ListingRig*> rigs = {&serial, &narrow, &wide};
    for (ListingRig* rig : rigs) {
        ASSERT_EQ(List(*rig), 40);
    }
    EXPECT_EQ(Slurp(serial.mailbox->kvtPath), Headers(40));
    const std::string expected = ListingOutcome(serial);
    EXPECT_EQ(ListingOutcome(narrow), expected);
    EXPECT_EQ(ListingOutcome(wide), expected);

    // Cached and new mails mixed: another client takes some away, and every
    // fourth row is gone from the list, so its mail is fetched again.
    {
        test::BlockingPop3 other;
        ASSERT_TRUE(other.Connect(server_.host, server_.port));
        ASSERT_TRUE(other.LoginUser(user_.name(), user_.password()));
        for (int n : {2, 7, 8, 30}) {
            ASSERT_TRUE(test::IsOk(other.Command("DELE " + std::to_string(n))));
        }
        ASSERT_TRUE(test::IsOk(other.Command("QUIT")));
    }
    for (ListingRig* rig : rigs) {
        for (int r = rig->list.RowCount() - 1; r >= 0; r -= 4) {
            rig->list.DeleteRow(r);
        }
        ASSERT_EQ(List(*rig), 36);
    }
    const std::string again = ListingOutcome(serial);
    EXPECT_EQ(ListingOutcome(narrow), again);
    EXPECT_EQ(ListingOutcome(wide), again);
    EXPECT_TRUE(ConsistentPair(*wide.mailbox));
}

TEST_F(RunListingDovecot, EmptyMailboxClearsEverything) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {kJapaneseMails[0]}));
    ListingRig rig;
    ASSERT_EQ(List(rig), 1);
    ASSERT_TRUE(test::FillMailbox(user_.name(), {}));
    EXPECT_EQ(List(rig), 0);
    EXPECT_EQ(rig.list.RowCount(), 0);
    EXPECT_FALSE(test::Exists(rig.mailbox->sidPath));
    EXPECT_FALSE(test::Exists(rig.mailbox->kvtPath));
}

}  // namespace
}  // namespace wp
