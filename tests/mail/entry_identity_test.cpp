// A row's entry always names its own mail: after another process rewrote the
// cache, after the list was sorted inside a TOP, with ids cut to fit, with a
// damaged header file; and the cache files have one writer at a time.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "listing_rig.h"
#include "mail/entry_record.h"
#include "mail/index_file.h"
#include "platform/string_table.h"

namespace wp {
namespace {

using test::ConsistentPair;
using test::Exists;
using test::IndexBytes;
using test::ListingRig;
using test::Mail;
using test::ReadIndex;
using test::Record;
using test::ScriptedPeer;
using test::ServerMail;
using test::Slurp;
using test::Spit;

using Mails = std::vector<ServerMail>;

int ListOnce(ListingRig& rig, const Mails& mails, const std::vector<int>& tops) {
    ScriptedPeer peer;
    test::LoginSteps(peer);
    test::ListingSteps(peer, mails);
    test::TopSteps(peer, mails, tops);
    test::QuitSteps(peer);
    return rig.ListAgainst(peer);
}

const Mails kFour = {Mail("uid-1", "one"), Mail("uid-2", "two"), Mail("uid-3", "three"),
                     Mail("uid-4", "four")};

// What a user would call a wrong row: a row whose entry is not the mail its
// texts show, or whose record in the index file is another mail's.
testing::AssertionResult EveryRowIsItsOwnMail(const ListingRig& rig, const Mails& mails) {
    std::map<std::string, std::string> subjectOf;
    std::map<std::string, int> sizeOf;
    for (const ServerMail& m : mails) {
        subjectOf[m.uid] = m.header.substr(m.header.find("Subject: ") + 9);
        subjectOf[m.uid].resize(subjectOf[m.uid].find("\r\n"));
        sizeOf[m.uid] = m.ListSize();
    }
    std::set<const MailEntry*> seen;
    for (int row = 0; row < rig.list.RowCount(); ++row) {
        const MailEntry* entry = rig.list.RowEntry(row);
        if (entry == nullptr || !seen.insert(entry).second) {
            return testing::AssertionFailure() << "row " << row << " shares its entry";
        }
        IndexRecord record;
        if (ReadEntryRecord(rig.mailbox->sidPath, *entry, &record) != EntryRecord::kSame) {
            return testing::AssertionFailure()
                   << "row " << row << " (" << entry->uid << ") has another mail's record: " << UidOf(record);
        }
        if (subjectOf.count(entry->uid) == 0 || entry->subject != subjectOf[entry->uid] ||
            static_cast<int>(entry->size) != sizeOf[entry->uid]) {
            return testing::AssertionFailure() << "row " << row << " shows \"" << entry->subject << "\", "
                                               << entry->size << " bytes for " << entry->uid;
        }
    }
    std::vector<const MailEntry*> owned;
    for (const auto& entry : rig.mailbox->entries) {
        owned.push_back(entry.get());
    }
    std::sort(owned.begin(), owned.end());
    if (std::adjacent_find(owned.begin(), owned.end()) != owned.end()) {
        return testing::AssertionFailure() << "an entry is owned twice";
    }
    return testing::AssertionSuccess();
}

// --- item: entries loaded before another process rewrote the cache ----------

TEST(EntryIdentity, EntriesLoadedBeforeAnotherProcessListedAreMatchedByTheirOwnId) {
    const Mails three(kFour.begin(), kFour.begin() + 3);
    const Mails later(kFour.begin() + 1, kFour.begin() + 3);  // the first is gone
    ListingRig rig;
    ASSERT_EQ(ListOnce(rig, three, {1, 2, 3}), 3);
    rig.SwitchAccount();  // the entries describe the index of three mails
    ASSERT_EQ(rig.list.RowCount(), 3);
    MailEntry* two = rig.list.RowEntry(1);
    rig.list.SetMarkImage(1, kImageMarked);

    // Meanwhile a second window (or wrenpost-cli) lists the same account:
    // the index now holds the two remaining mails at positions 1 and 2.
    {
        ListingRig other(rig.accountName, rig.dataFolder);
        ASSERT_EQ(ListOnce(other, later, {1, 2}), 2);
    }

    // Our listing finds both in the cache, by id, and keeps their rows.
    EXPECT_EQ(ListOnce(rig, later, {}), 2);
    EXPECT_EQ(rig.Subjects(), (std::vector<std::string>{"two", "three"}));
    EXPECT_TRUE(EveryRowIsItsOwnMail(rig, later));
    EXPECT_EQ(rig.list.RowEntry(0), two) << "the row of the mail that stayed is kept";
    EXPECT_EQ(rig.list.MarkImage(0), kImageMarked);
}

// --- item: the list sorted while TOP pumps messages --------------------------

class SortingPrompt final : public Prompt {
public:
    explicit SortingPrompt(MemoryList& list) : list_(list) {}
    PromptAnswer Ask(const PromptRequest& request) override {
        ++asked;
        Reverse(list_);
        return request.defaultAnswer;
    }
    static void Reverse(MemoryList& list) {
        std::vector<int> order(static_cast<std::size_t>(list.RowCount()));
        std::iota(order.rbegin(), order.rend(), 0);
        list.Reorder(order);
    }
    int asked = 0;

private:
    MemoryList& list_;
};

// Four cached records of which only the first has its header block (left by
// an interrupted first listing): the other three rows are updated in place
// after their TOP, while the user sorts the list.
TEST(EntryIdentity, RowsSortedDuringTopAreUpdatedByEntryNotByPosition) {
    struct Case {
        const char* name;
        bool inTop;  // sort while the TOP reply arrives
        bool inBox;  // sort while the invalid-base64 box is up
    } cases[] = {
        {"sorted inside every TOP", true, false},
        {"sorted while the box is up", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mails mails = kFour;
        if (c.inBox) {
            for (std::size_t i = 1; i < mails.size(); ++i) {
                mails[i].header.replace(mails[i].header.find("From: a@example.jp"), 18,
                                        "From: =?ISO-2022-JP?B?Gy#RC?=");
            }
        }
        ListingRig rig;
        const CMailboxFiles& files = *rig.mailbox;
        Spit(files.sidPath,
             IndexBytes({Record(1, 1, mails[0].ListSize(), static_cast<int>(mails[0].Top().size()), "uid-1"),
                         Record(2, 2, mails[1].ListSize(), 0, "uid-2"),
                         Record(3, 3, mails[2].ListSize(), 0, "uid-3"),
                         Record(4, 4, mails[3].ListSize(), 0, "uid-4")}));
        Spit(files.kvtPath, mails[0].Top());
        rig.SwitchAccount();
        ASSERT_EQ(rig.list.RowCount(), 4);
        std::vector<MailEntry*> loaded;
        for (int row = 0; row < 4; ++row) {
            loaded.push_back(rig.list.RowEntry(row));
        }

        SortingPrompt sorter(rig.list);
        rig.host.progressAddBytes = [&](int) {
            if (c.inTop) {
                SortingPrompt::Reverse(rig.list);
            }
        };
        ScriptedPeer peer;
        test::LoginSteps(peer);
        test::ListingSteps(peer, mails);
        test::TopSteps(peer, mails, {2, 3, 4});
        test::QuitSteps(peer);
        peer.Start();
        ASSERT_TRUE(rig.Login(peer));
        OperationContext ctx = rig.Context();
        OperationContext sorting{ctx.session,       ctx.list,        sorter,         ctx.checkConnection,
                                 ctx.progressRange, ctx.progressPos, ctx.postStatus, ctx.accountStillValid};
        EXPECT_EQ(RunListing(*rig.mailbox, sorting), 4);
        rig.session.Quit(true);
        peer.Check();
        if (c.inBox) {
            EXPECT_GE(sorter.asked, 3);
        }

        EXPECT_EQ(rig.list.RowCount(), 4);
        EXPECT_TRUE(EveryRowIsItsOwnMail(rig, mails));
        std::vector<MailEntry*> now;
        for (int row = 0; row < 4; ++row) {
            now.push_back(rig.list.RowEntry(row));
        }
        std::sort(loaded.begin(), loaded.end());
        std::sort(now.begin(), now.end());
        EXPECT_EQ(now, loaded) << "every row was updated in place, none appended";
        EXPECT_TRUE(ConsistentPair(*rig.mailbox));
    }
}

// --- item: the helper later operations read a row's record through ----------

TEST(EntryIdentity, ReadEntryRecordActsOnlyOnTheEntrysOwnRecord) {
    test::DataFolder folder;
    const std::string index = folder.path() + "/acct.sid";
    Spit(index, IndexBytes({Record(1, 1, 10, 0, "aaa"), Record(2, 2, 20, 0, "*"), Record(3, 3, 30, 0, "ccc"),
                            Record(4, 4, 40, 0, std::string(71, 'k'))}));
    auto entry = [](std::uint32_t id, std::string uid) {
        MailEntry e;
        e.id = id;
        e.uid = std::move(uid);
        return e;
    };
    struct Case {
        const char* name;
        MailEntry entry;
        EntryRecord expected;
    } cases[] = {
        {"its own record", entry(3, "ccc"), EntryRecord::kSame},
        {"another mail's record at its position", entry(1, "ccc"), EntryRecord::kOtherMail},
        {"the placeholder names no mail", entry(2, "*"), EntryRecord::kNoUsableId},
        {"nor does an empty id", entry(1, ""), EntryRecord::kNoUsableId},
        {"nor a cut one, even where it is stored", entry(4, std::string(71, 'k')), EntryRecord::kNoUsableId},
        {"a position past the end", entry(5, "eee"), EntryRecord::kUnreadable},
        {"an entry without a record", entry(0, "aaa"), EntryRecord::kUnreadable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IndexRecord record;
        EXPECT_EQ(ReadEntryRecord(index, c.entry, &record), c.expected);
    }
    MailEntry own = entry(3, "ccc");
    EXPECT_EQ(ReadEntryRecord(folder.path() + "/missing.sid", own, nullptr), EntryRecord::kUnreadable);
    EXPECT_FALSE(UidWasCut(own));
    EXPECT_TRUE(UidWasCut(entry(4, std::string(71, 'k'))));
    EXPECT_TRUE(HasUsableUid(entry(4, std::string(70, 'k'))));
}

// --- item: reused header blocks must be whole TOP replies --------------------

TEST(EntryIdentity, ADamagedHeaderFileIsFetchedAgainNotCarriedForward) {
    const Mails three(kFour.begin(), kFour.begin() + 3);
    const int l1 = static_cast<int>(three[0].Top().size());
    const int l2 = static_cast<int>(three[1].Top().size());
    struct Case {
        const char* name;
        std::function<void(std::vector<IndexRecord>&, std::string&)> damage;
        std::vector<int> tops;
    } cases[] = {
        {"garbage in place of the second block",
         [&](std::vector<IndexRecord>&, std::string& kvt) {
             std::fill(kvt.begin() + l1, kvt.begin() + l1 + l2, 'x');
         },
         {2}},
        {"the second block's first line damaged",
         [&](std::vector<IndexRecord>&, std::string& kvt) { kvt[static_cast<std::size_t>(l1)] = '-'; },
         {2}},
        {"the first length one byte too long: every block shifts",
         [&](std::vector<IndexRecord>& index, std::string&) { index[0].headerLength += 1; },
         {1, 2, 3}},
        {"the first length spans two replies",
         [&](std::vector<IndexRecord>& index, std::string&) { index[0].headerLength = l1 + l2; },
         {1, 2, 3}},
        {"the header file cut short",
         [&](std::vector<IndexRecord>&, std::string& kvt) { kvt.resize(static_cast<std::size_t>(l1 + 5)); },
         {2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ListingRig rig;
        ASSERT_EQ(ListOnce(rig, three, {1, 2, 3}), 3);
        std::vector<IndexRecord> index = ReadIndex(rig.mailbox->sidPath);
        std::string kvt = Slurp(rig.mailbox->kvtPath);
        c.damage(index, kvt);
        Spit(rig.mailbox->sidPath, IndexBytes(index));
        Spit(rig.mailbox->kvtPath, kvt);
        rig.SwitchAccount();
        ASSERT_EQ(rig.list.RowCount(), 3);

        EXPECT_EQ(ListOnce(rig, three, c.tops), 3);
        EXPECT_EQ(rig.Subjects(), (std::vector<std::string>{"one", "two", "three"}));
        EXPECT_TRUE(EveryRowIsItsOwnMail(rig, three));
        EXPECT_TRUE(ConsistentPair(*rig.mailbox));
        // Mended for good: the next listing needs no TOP at all.
        EXPECT_EQ(ListOnce(rig, three, {}), 3);
    }
}

TEST(EntryIdentity, AWholeTopReplyIsTheOnlyBlockTakenFromTheCache) {
    struct Case {
        const char* block;
        bool whole;
    } cases[] = {
        {"+OK\r\nSubject: a\r\n\r\n.\r\n", true},
        {"+OK\r\n.\r\n", true},
        {"+OK 123 octets\r\nSubject: a\r\n..dot\r\n\r\n.\r\n", true},
        {"", false},
        {"+OK\r\nSubject: a\r\n\r\n", false},                         // no terminating line
        {"OK\r\nSubject: a\r\n\r\n.\r\n", false},                     // shifted by a byte
        {"-ERR no\r\n.\r\n", false},                                  // not a reply to keep
        {"+OK\r\nA: 1\r\n\r\n.\r\n+OK\r\nB: 2\r\n\r\n.\r\n", false},  // two replies joined
        {"+OK\r\nA: 1\r\n\r\n.\r\n+OK", false},                       // one and a piece
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.block);
        EXPECT_EQ(IsWholeTopReply(c.block), c.whole);
    }
}

// --- item: one writer of an account's cache files at a time -----------------

TEST(EntryIdentity, AReaderNeverTidiesARunningListingAndASecondWriterIsTurnedAway) {
    ListingRig rig;
    ASSERT_EQ(ListOnce(rig, kFour, {1, 2, 3, 4}), 4);
    ASSERT_TRUE(std::filesystem::remove(rig.mailbox->kvtPath));  // every header is fetched again

    bool temporariesStayed = false;
    int refused = 99;
    test::LenientPrompt otherPrompt;
    rig.onPosition = [&](int position) {
        if (position != 2) {
            return;
        }
        // A read-only wrenpost-cli run opens the account meanwhile: the
        // temporaries of this run look like a half-finished replace to it.
        ASSERT_TRUE(Exists(rig.mailbox->NewIndexPath()));
        ASSERT_TRUE(Exists(rig.mailbox->NewHeaderPath()));
        CMailboxFiles reader(rig.accountName, rig.dataFolder);
        temporariesStayed = Exists(rig.mailbox->NewIndexPath()) && Exists(rig.mailbox->NewHeaderPath());

        // A second listing of the same account sends nothing but is told why.
        ListingRig other(rig.accountName, rig.dataFolder);
        ScriptedPeer peer;
        test::LoginSteps(peer);
        test::QuitSteps(peer);
        peer.Start();
        ASSERT_TRUE(other.Login(peer));
        OperationContext ctx = other.Context();
        refused = RunListing(*other.mailbox, ctx);
        other.session.Quit(true);
        peer.Check();
        ASSERT_EQ(other.prompt.asked.size(), 1u);
        EXPECT_EQ(other.prompt.asked[0].text, LoadString(IDS_CACHE_BUSY));
    };
    EXPECT_EQ(ListOnce(rig, kFour, {1, 2, 3, 4}), 4);
    EXPECT_TRUE(temporariesStayed);
    EXPECT_EQ(refused, -1);
    EXPECT_TRUE(Exists(rig.mailbox->sidPath));
    EXPECT_TRUE(Exists(rig.mailbox->kvtPath));
    EXPECT_TRUE(ConsistentPair(*rig.mailbox));
    EXPECT_TRUE(EveryRowIsItsOwnMail(rig, kFour));

    // Once it has ended, the next writer is welcome.
    ListingRig after(rig.accountName, rig.dataFolder);
    EXPECT_EQ(ListOnce(after, kFour, {1, 2, 3, 4}), 4);
}

TEST(EntryIdentity, TheCacheClearLeavesFilesAnotherWriterHolds) {
    ListingRig rig;
    ASSERT_EQ(ListOnce(rig, kFour, {1, 2, 3, 4}), 4);
    test::LenientPrompt prompt;
    {
        CacheLock other = CacheLock::TryAcquire(rig.accountName, rig.dataFolder);
        ASSERT_TRUE(other.Held());
        prompt.answer = PromptAnswer::Yes;
        EXPECT_FALSE(ClearCache(*rig.mailbox, prompt));
        ASSERT_EQ(prompt.asked.size(), 2u);
        EXPECT_EQ(prompt.asked[1].text, LoadString(IDS_CACHE_BUSY));
        EXPECT_TRUE(Exists(rig.mailbox->sidPath));
        EXPECT_TRUE(Exists(rig.mailbox->kvtPath));
    }
    EXPECT_TRUE(ClearCache(*rig.mailbox, prompt));
    EXPECT_FALSE(Exists(rig.mailbox->sidPath));
}

TEST(EntryIdentity, AReplaceThatFailsIsReportedNeverCompleted) {
    ListingRig rig;
    rig.onPosition = [&](int position) {
        if (position == 3) {
            // What an older program tidying the folder would do.
            ::unlink(rig.mailbox->NewIndexPath().c_str());
        }
    };
    EXPECT_EQ(ListOnce(rig, kFour, {1, 2, 3, 4}), -1);
    EXPECT_EQ(rig.prompt.asked.size(), 1u) << "the failure is shown";
    EXPECT_FALSE(Exists(rig.mailbox->sidPath)) << "no index that does not match the entries";
    EXPECT_FALSE(Exists(rig.mailbox->NewHeaderPath()));
}

// --- item: an operation whose account went keeps nothing ---------------------

TEST(EntryIdentity, AListingWhoseAccountWentKeepsNothing) {
    ListingRig rig;
    ASSERT_EQ(ListOnce(rig, kFour, {1, 2, 3, 4}), 4);
    Spit(rig.mailbox->emlPath, "+OK\r\nSubject: last viewed\r\n\r\nbody\r\n.\r\n");
    rig.accountStillValid = [] { return false; };
    EXPECT_EQ(ListOnce(rig, kFour, {}), -1);
    EXPECT_EQ(rig.list.RowCount(), 0);
    EXPECT_TRUE(rig.mailbox->entries.empty());
    for (const std::string& path :
         {rig.mailbox->sidPath, rig.mailbox->kvtPath, rig.mailbox->emlPath, rig.mailbox->NewIndexPath(),
          rig.mailbox->NewHeaderPath(), rig.mailbox->ResponsePath()}) {
        EXPECT_FALSE(Exists(path)) << path;
    }
    ASSERT_EQ(rig.prompt.asked.size(), 1u);
    EXPECT_EQ(rig.prompt.asked[0].text, LoadString(IDS_ACCOUNT_GONE));
}

// --- item: the entry -> row lookup stays right through every change ----------

TEST(EntryIdentity, FindRowAnswersAsAScanThroughInsertsDeletesAndSorts) {
    MemoryList list;
    std::vector<std::unique_ptr<MailEntry>> entries;
    for (int i = 0; i < 12; ++i) {
        entries.push_back(std::make_unique<MailEntry>());
    }
    MailEntry stranger;
    auto scan = [&](const MailEntry* entry) {
        for (int row = 0; row < list.RowCount(); ++row) {
            if (list.RowEntry(row) == entry) {
                return row;
            }
        }
        return -1;
    };
    auto check = [&](const char* step) {
        SCOPED_TRACE(step);
        for (const auto& entry : entries) {
            EXPECT_EQ(list.FindRow(entry.get()), scan(entry.get()));
        }
        EXPECT_EQ(list.FindRow(&stranger), -1);
        EXPECT_EQ(list.FindRow(nullptr), -1);
    };
    for (int i = 0; i < 8; ++i) {
        list.InsertRow(entries[static_cast<std::size_t>(i)].get(), kImageUnmarked);
    }
    list.InsertRow(nullptr, kImageUnmarked);
    list.InsertRow(entries[2].get(), kImageUnmarked);  // an entry twice: the first row counts
    check("appended");
    list.DeleteRow(0);
    check("first row deleted");
    list.Reorder({8, 7, 6, 5, 4, 3, 2, 1, 0});
    check("reversed");
    list.Reorder({0, 0, 1, 2, 3, 4, 5, 6, 7});  // not a permutation: ignored
    check("a bad order changes nothing");
    list.InsertRow(entries[8].get(), kImageUnmarked);
    check("appended after a sort");
    list.DeleteRows({1, 3, 5, 42});
    check("scattered rows deleted");
    list.Reorder({6, 0, 5, 1, 4, 2, 3});
    check("shuffled");
    list.DeleteAllRows();
    check("emptied");
    list.InsertRow(entries[11].get(), kImageMarked);
    check("filled again");
}

}  // namespace
}  // namespace wp
