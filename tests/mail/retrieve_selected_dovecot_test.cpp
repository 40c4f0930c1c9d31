// Saving and dragging the selected mails against the test Dovecot: the files
// hold the mails as sent under unique names, nothing in the target folder is
// replaced, mails gone from the server and files that cannot be written are
// reported, a drag never writes through a planted link, and a stop request
// ends the run after the current mail.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fetch_rig.h"
#include "mail/retrieve_selected.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "support/blocking_pop3.h"
#include "support/dovecot.h"

namespace wp {
namespace {

using test::ListingRig;

class RecordingProgress final : public RetrieveProgress {
public:
    void AddBytes(int count) override { bytes += count; }
    void SetInfoText(const std::string& text) override { infos.push_back(Cp932ToUtf8(text)); }
    void SetMessageIndex(int index) override { indices.push_back(index); }
    bool TakeCancel() override {
        const bool taken = stopAfter > 0 && static_cast<int>(indices.size()) >= stopAfter;
        return taken;
    }
    long long bytes = 0;
    std::vector<std::string> infos;
    std::vector<int> indices;
    int stopAfter = 0;
};

std::string Crlf(const std::string& text) {
    std::string out;
    for (char ch : text) {
        if (ch == '\n') {
            out += '\r';
        }
        out += ch;
    }
    return out;
}

class RetrieveSelectedDovecot : public test::DovecotMailboxTest {
protected:
    void ListInto(ListingRig& rig) {
        ASSERT_TRUE(rig.LoginTo(server_.host, server_.port, user_.name(), user_.password()));
        ASSERT_GT(rig.Listing(), 0);
    }
    void SelectAll(ListingRig& rig) {
        for (int row = 0; row < rig.list.RowCount(); ++row) {
            rig.list.SetSelected(row, true);
        }
    }
    // A save of the selected rows into folder, logged in again.
    int Save(ListingRig& rig, const std::string& folder, RetrieveRun& run, FileNameMap& names) {
        NameSelectedRows(rig.list, names, run.forDrag ? std::string() : folder);
        run.folder = folder;
        run.names = &names;
        OperationContext ctx = rig.Context();
        return RetrieveSelected(*rig.mailbox, ctx, run);
    }

    test::DataFolder target_;
    std::string Folder() const { return target_.path() + "/"; }
};

TEST_F(RetrieveSelectedDovecot, SavesEachMailAsSentUnderUniqueNames) {
    const std::string dotted = "Subject: Re: hello\n\nfirst\n.\n..two dots\n.leading\nend\n";
    ASSERT_TRUE(test::FillMailbox(user_.name(), {dotted, "Subject: Re: hello\n\nsecond\n",
                                                 "Subject: Re: hello\n\nthird\n", "Subject: other\n\nx\n"}));
    ListingRig rig;
    ListInto(rig);
    for (int row = 0; row < 3; ++row) {
        rig.list.SetSelected(row, true);
    }
    RecordingProgress progress;
    RetrieveRun run;
    run.progress = &progress;
    FileNameMap names;
    EXPECT_EQ(Save(rig, Folder(), run, names), 0);
    rig.session.Quit(true);

    EXPECT_EQ(test::FilesIn(target_.path()),
              (std::vector<std::string>{"Re_ hello(1).eml", "Re_ hello(2).eml", "Re_ hello.eml"}));
    // The file is the mail itself: a line sent as "." came as "..".
    EXPECT_EQ(test::Slurp(Folder() + "Re_ hello.eml"), Crlf(dotted));
    EXPECT_EQ(test::Slurp(Folder() + "Re_ hello(2).eml"), Crlf("Subject: Re: hello\n\nthird\n"));
    EXPECT_EQ(run.written, (std::vector<std::string>{Folder() + "Re_ hello.eml", Folder() + "Re_ hello(1).eml",
                                                     Folder() + "Re_ hello(2).eml"}));
    EXPECT_TRUE(run.notSaved.empty());
    EXPECT_EQ(RetrieveReportText(run), "");
    EXPECT_EQ(progress.infos, (std::vector<std::string>{"Re_ hello", "Re_ hello(1)", "Re_ hello(2)"}));
    EXPECT_EQ(progress.indices, (std::vector<int>{1, 2, 3}));
    EXPECT_GE(progress.bytes, static_cast<long long>(Crlf(dotted).size()));
}

TEST_F(RetrieveSelectedDovecot, SavingTwiceIntoOneFolderKeepsBothCopies) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: a\n\none\n", "Subject: a\n\ntwo\n"}));
    ListingRig rig;
    ListInto(rig);
    SelectAll(rig);
    for (int pass = 0; pass < 2; ++pass) {
        RetrieveRun run;
        FileNameMap names;
        EXPECT_EQ(Save(rig, target_.path() + (pass == 0 ? "/" : "//"), run, names), 0);
        EXPECT_EQ(run.written.size(), 2u);
    }
    rig.session.Quit(true);
    EXPECT_EQ(test::FilesIn(target_.path()),
              (std::vector<std::string>{"a(1).eml", "a(2).eml", "a(3).eml", "a.eml"}));
    EXPECT_EQ(test::Slurp(Folder() + "a(3).eml"), Crlf("Subject: a\n\ntwo\n"));
}

TEST_F(RetrieveSelectedDovecot, AMailDeletedElsewhereIsReportedAndLeavesAFileOnlyForADrag) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: gone\n\nx\n", "Subject: kept\n\ny\n"}));
    ListingRig rig;
    ListInto(rig);
    rig.session.Quit(true);
    test::BlockingPop3 other;
    ASSERT_TRUE(other.Connect(server_.host, server_.port)) << other.error();
    ASSERT_TRUE(other.LoginUser(user_.name(), user_.password())) << other.error();
    ASSERT_TRUE(test::IsOk(other.Command("DELE 1")));
    ASSERT_TRUE(test::IsOk(other.Command("QUIT")));
    other.Close();

    for (bool drag : {false, true}) {
        SCOPED_TRACE(drag ? "drag" : "save");
        test::DataFolder folder;
        ASSERT_TRUE(rig.LoginTo(server_.host, server_.port, user_.name(), user_.password()));
        SelectAll(rig);
        RetrieveRun run;
        run.forDrag = drag;
        FileNameMap names;
        EXPECT_EQ(Save(rig, folder.path() + "/", run, names), 0);
        rig.session.Quit(true);
        EXPECT_EQ(run.notOnServer, 1);
        EXPECT_EQ(run.notSaved, std::vector<std::string>{"gone"});
        EXPECT_EQ(test::Slurp(folder.path() + "/kept.eml"), Crlf("Subject: kept\n\ny\n"));
        if (drag) {
            EXPECT_EQ(test::FilesIn(folder.path()), (std::vector<std::string>{"gone.eml", "kept.eml"}));
            EXPECT_EQ(test::Slurp(folder.path() + "/gone.eml"), "");
        } else {
            EXPECT_EQ(test::FilesIn(folder.path()), std::vector<std::string>{"kept.eml"});
            EXPECT_EQ(Cp932ToUtf8(RetrieveReportText(run)),
                      "ﾒｯｾｰｼﾞの受信が完了しました。ｻｰﾊﾞにないﾒｯｾｰｼﾞが 1 件ありました。");
        }
    }
}

TEST_F(RetrieveSelectedDovecot, RowsOfAClearedCacheAreReportedNotSilentlySkipped) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: one\n\nx\n"}));
    ListingRig rig;
    ListInto(rig);
    SelectAll(rig);
    // The cache-clear command leaves the rows.
    ASSERT_EQ(::unlink(rig.mailbox->sidPath.c_str()), 0);
    RetrieveRun run;
    FileNameMap names;
    EXPECT_EQ(Save(rig, Folder(), run, names), 0);
    rig.session.Quit(true);
    EXPECT_TRUE(test::FilesIn(target_.path()).empty());
    EXPECT_EQ(run.notSaved, std::vector<std::string>{"one"});
}

TEST_F(RetrieveSelectedDovecot, FilesThatCannotBeWrittenAreNamedAndTheRunGoesOn) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: one\n\nx\n", "Subject: two\n\ny\n"}));
    ListingRig rig;
    ListInto(rig);
    SelectAll(rig);
    // The folder went after it was chosen.
    const std::string missing = target_.path() + "/gone/";
    RetrieveRun run;
    FileNameMap names;
    EXPECT_EQ(Save(rig, missing, run, names), 0);
    rig.session.Quit(true);
    EXPECT_TRUE(run.written.empty());
    EXPECT_EQ(run.notSaved, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(Cp932ToUtf8(RetrieveReportText(run)), "2 件のﾒｯｾｰｼﾞを保存できませんでした。");
    EXPECT_EQ(Cp932ToUtf8(NotSavedBoxText(run)), "次のﾒｰﾙを保存できませんでした。\n\none.eml\ntwo.eml\n");
    if (::geteuid() != 0) {
        // A folder without write permission, the same way.
        ASSERT_EQ(::chmod(target_.path().c_str(), 0555), 0);
        RetrieveRun readOnly;
        ASSERT_TRUE(rig.LoginTo(server_.host, server_.port, user_.name(), user_.password()));
        EXPECT_EQ(Save(rig, Folder(), readOnly, names), 0);
        rig.session.Quit(true);
        ::chmod(target_.path().c_str(), 0755);
        EXPECT_EQ(readOnly.notSaved.size(), 2u);
    }
}

TEST_F(RetrieveSelectedDovecot, ADragReplacesAPlantedLinkInsteadOfWritingThroughIt) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: mail\n\nbody\n"}));
    ListingRig rig;
    ListInto(rig);
    SelectAll(rig);
    const std::string victim = target_.path() + "/victim";
    test::Spit(victim, "precious");
    test::DataFolder drag;
    const std::string link = drag.path() + "/mail.eml";
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);

    RetrieveRun run;
    run.forDrag = true;
    FileNameMap names;
    EXPECT_EQ(Save(rig, drag.path() + "/", run, names), 0);
    rig.session.Quit(true);
    EXPECT_EQ(test::Slurp(victim), "precious");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(test::Slurp(link), Crlf("Subject: mail\n\nbody\n"));
}

TEST_F(RetrieveSelectedDovecot, AStopRequestAskedAndConfirmedEndsAfterTheCurrentMail) {
    ASSERT_TRUE(test::FillMailbox(user_.name(),
                                  {"Subject: a\n\n1\n", "Subject: b\n\n2\n", "Subject: c\n\n3\n"}));
    for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
        ListingRig rig;
        ListInto(rig);
        SelectAll(rig);
        rig.prompt.answer = answer;
        RecordingProgress progress;
        progress.stopAfter = 1;
        test::DataFolder folder;
        RetrieveRun run;
        run.progress = &progress;
        FileNameMap names;
        const int result = Save(rig, folder.path() + "/", run, names);
        rig.session.Quit(true);
        ASSERT_FALSE(rig.prompt.asked.empty());
        EXPECT_EQ(Cp932ToUtf8(rig.prompt.asked[0].text), "中断してもよろしいですか？");
        if (answer == PromptAnswer::Yes) {
            EXPECT_EQ(result, -2);
            EXPECT_EQ(test::FilesIn(folder.path()), std::vector<std::string>{"a.eml"});
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(test::FilesIn(folder.path()).size(), 3u);
        }
    }
}

}  // namespace
}  // namespace wp
