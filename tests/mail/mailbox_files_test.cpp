// The account's cache object: the record layout, the file names, the index
// written from LIST and UIDL replies, the lookups by unique id, the account
// switch, the cache clear and the replacement of the header/index pair.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mail/index_file.h"
#include "mailbox_fixture.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "support/scripted_prompt.h"

namespace wp {
namespace {

using test::DataFolder;
using test::Exists;
using test::IndexBytes;
using test::LenientPrompt;
using test::ReadIndex;
using test::Record;
using test::Slurp;
using test::Spit;

TEST(IndexRecord, IsStoredLittleEndianWithTheUidNulPadded) {
    IndexRecord r = Record(3, 0x01020304, -2, 812, "uid-7");
    IndexRecordBytes b = EncodeIndexRecord(r);
    const unsigned char head[16] = {3, 0, 0, 0, 4, 3, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF, 0x2C, 0x03, 0, 0};
    EXPECT_EQ(std::memcmp(b.data(), head, sizeof head), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()) + 16, 72), "uid-7" + std::string(67, '\0'));
    IndexRecord back = DecodeIndexRecord(b.data());
    EXPECT_EQ(std::memcmp(&back, &r, sizeof r), 0);
}

TEST(IndexRecord, UidIsCutTo71BytesAndReadWithinItsField) {
    IndexRecord r;
    SetUid(r, std::string(200, 'u'));
    EXPECT_EQ(UidOf(r), std::string(71, 'u'));
    EXPECT_EQ(r.uid[71], '\0');
    // A damaged file may hold no terminating zero: the id ends with the field.
    unsigned char raw[kIndexRecordSize];
    std::memset(raw, 'x', sizeof raw);
    EXPECT_EQ(UidOf(DecodeIndexRecord(raw)).size(), 72u);
}

TEST(MailboxFiles, FileNamesComeFromTheAccountName) {
    struct Case {
        std::string account;  // CP932
        std::string stem;     // UTF-8
    } cases[] = {
        {"a/b:c", "abc"},
        {"x\\/:,;*?\"<>|y", "xy"},
        {Sjis("受信箱"), "受信箱"},
        // A trail byte equal to '\' goes, as it always did: the lead byte pairs
        // with what follows.
        {std::string("\x83\x5C", 2) + "z", "ホ"},
        {"name\0hidden", "name"},
    };
    DataFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stem);
        CMailboxFiles files(c.account, folder.path());
        std::string base = folder.path() + "/" + c.stem;
        EXPECT_EQ(files.kvtPath, base + ".kvt");
        EXPECT_EQ(files.lstPath, base + ".lst");
        EXPECT_EQ(files.emlPath, base + ".eml");
        EXPECT_EQ(files.sidPath, base + ".sid");
        EXPECT_EQ(files.ResponsePath(), base + ".lst_");
        EXPECT_EQ(files.NewIndexPath(), base + ".sid_");
        EXPECT_EQ(files.NewHeaderPath(), base + ".kvt_");
    }
}

TEST(MailboxFiles, LongAccountNamesStillMakeFileNamesTheSystemAccepts) {
    // 255 half-width katakana: one byte each in CP932, three in UTF-8.
    std::string account(255, '\xB1');
    std::string stem = MailboxFileStem(account);
    EXPECT_LE(stem.size() + 5, 255u);
    EXPECT_EQ(stem.size() % 3, 0u) << "cut between characters";
    EXPECT_EQ(Cp932ToUtf8(Utf8ToCp932(stem).value_or("")), stem);

    DataFolder folder;
    CMailboxFiles files(account, folder.path());
    Spit(files.NewIndexPath(), "x");
    EXPECT_TRUE(Exists(files.NewIndexPath())) << std::strerror(errno);
}

TEST(MailboxFiles, CaptureCollectsOnlyWhileOpen) {
    DataFolder folder;
    CMailboxFiles files("a", folder.path());
    files.AppendCapture("lost", 4);
    EXPECT_FALSE(files.Capturing());
    EXPECT_EQ(files.DetachCapture(), "");
    files.BeginCapture();
    files.AppendCapture("+OK\r\n", 5);
    files.AppendCapture(".\r\n", 3);
    EXPECT_EQ(files.DetachCapture(), "+OK\r\n.\r\n");
    EXPECT_EQ(files.DetachCapture(), "") << "detached bytes belong to the caller";
    files.EndCapture();
    files.AppendCapture("late", 4);
    EXPECT_FALSE(files.Capturing());
    EXPECT_EQ(files.DetachCapture(), "");
}

// --- the index from the LIST and UIDL replies --------------------------------

struct IndexCase {
    const char* name;
    std::string list;
    std::string uidl;
    bool ok;
    std::vector<IndexRecord> records;
};

TEST(MailboxFiles, IndexFollowsListAndUidlReplies) {
    const std::string longId(200, 'i');
    const IndexCase cases[] = {
        {"plain",
         "+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n",
         "+OK\r\n1 aaa\r\n2 bbb\r\n.\r\n",
         true,
         {Record(1, 1, 120, 0, "aaa"), Record(2, 2, 200, 0, "bbb")}},
        {"UIDL shorter than LIST",
         "+OK\r\n1 10\r\n2 20\r\n3 30\r\n.\r\n",
         "+OK\r\n1 a\r\n2 b\r\n.\r\n",
         true,
         {Record(1, 1, 10, 0, "a"), Record(2, 2, 20, 0, "b"), Record(3, 3, 30, 0, "*")}},
        {"UIDL longer than LIST",
         "+OK\r\n1 10\r\n.\r\n",
         "+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n",
         true,
         {Record(1, 1, 10, 0, "a")}},
        {"UIDL numbers differ from LIST",
         "+OK\r\n4 10\r\n9 20\r\n.\r\n",
         "+OK\r\n7 x\r\n2 y\r\n.\r\n",
         true,
         {Record(1, 4, 10, 0, "x"), Record(2, 9, 20, 0, "y")}},
        {"no UIDL lines",
         "+OK\r\n1 10\r\n2 20\r\n.\r\n",
         "+OK\r\n.\r\n",
         true,
         {Record(1, 1, 10, 0, "*"), Record(2, 2, 20, 0, "*")}},
        {"missing size and id",
         "+OK\r\n1\r\n2 20\r\n.\r\n",
         "+OK\r\n1\r\n2 b\r\n.\r\n",
         true,
         {Record(1, 1, 0, 0, "*"), Record(2, 2, 20, 0, "b")}},
        {"a line without tokens ends the listing",
         "+OK\r\n1 10\r\n \r\n2 20\r\n.\r\n",
         "+OK\r\n1 a\r\n.\r\n",
         true,
         {Record(1, 1, 10, 0, "a")}},
        {"numbers beyond 32 bits saturate",
         "+OK\r\n99999999999 -99999999999\r\n.\r\n",
         "+OK\r\n1 a\r\n.\r\n",
         true,
         {Record(1, 2147483647, -2147483647 - 1, 0, "a")}},
        {"an id of 200 bytes is cut to 71",
         "+OK\r\n1 10\r\n.\r\n",
         "+OK\r\n1 " + longId + "\r\n.\r\n",
         true,
         {Record(1, 1, 10, 0, longId.substr(0, 71))}},
        {"bare LF line ends",
         "+OK\n1 10\n2 20\n.\n",
         "+OK\n1 a\n2 b\n.\n",
         true,
         {Record(1, 1, 10, 0, "a"), Record(2, 2, 20, 0, "b")}},
        {"no terminating line", "+OK\r\n1 10\r\n", "+OK\r\n1 a\r\n", true, {Record(1, 1, 10, 0, "a")}},
        {"a LIST line of 5,000 bytes",
         "+OK\r\n1 10\r\n2 " + std::string(4996, '7') + "\r\n.\r\n",
         "+OK\r\n1 a\r\n.\r\n",
         false,
         {}},
        {"a UIDL line of 5,000 bytes",
         "+OK\r\n1 10\r\n.\r\n",
         "+OK\r\n1 " + std::string(4996, 'u') + "\r\n.\r\n",
         false,
         {}},
        {"a line of exactly 1024 bytes with its LF",
         "+OK\r\n1 " + std::string(1018, '0') + "5\r\n.\r\n",
         "+OK\r\n1 a\r\n.\r\n",
         true,
         {Record(1, 1, 5, 0, "a")}},
        {"a status line of 5,000 bytes is skipped whole",
         "+OK " + std::string(4996, 's') + "\r\n1 10\r\n.\r\n",
         "+OK\r\n1 a\r\n.\r\n",
         true,
         {Record(1, 1, 10, 0, "a")}},
    };
    DataFolder folder;
    for (const IndexCase& c : cases) {
        SCOPED_TRACE(c.name);
        CMailboxFiles files("acct", folder.path());
        Spit(files.ResponsePath(), c.list);
        bool ok = files.WriteListIndex();
        Spit(files.ResponsePath(), c.uidl);
        ok = ok && files.WriteUidIndex();
        EXPECT_EQ(ok, c.ok);
        if (c.ok) {
            EXPECT_EQ(Slurp(files.NewIndexPath()), IndexBytes(c.records));
        }
    }
}

TEST(MailboxFiles, TheListIndexStopsAtTheCountedMails) {
    // A listing of a million lines where STAT counted two: nothing past the
    // count is written, and the index is refused.
    DataFolder folder;
    CMailboxFiles files("acct", folder.path());
    std::string listing = "+OK\r\n";
    for (int i = 1; i <= 100000; ++i) {
        listing += std::to_string(i) + " 10\r\n";
    }
    Spit(files.ResponsePath(), listing + ".\r\n");
    EXPECT_FALSE(files.WriteListIndex(2));
    EXPECT_LE(Slurp(files.NewIndexPath()).size(), 2 * kIndexRecordSize);
    Spit(files.ResponsePath(), "+OK\r\n1 10\r\n2 20\r\n.\r\n");
    EXPECT_TRUE(files.WriteListIndex(2));
    EXPECT_EQ(Slurp(files.NewIndexPath()).size(), 2 * kIndexRecordSize);
}

TEST(MailboxFiles, EachIdLandsInItsOwnRecordOfALongListing) {
    // Ids are filled in a block of records at a time: every mail across the
    // blocks' edges gets its own, and a line without one keeps the placeholder.
    DataFolder folder;
    CMailboxFiles files("acct", folder.path());
    const int mails = 1300;
    std::string list = "+OK\r\n";
    std::string uidl = "+OK\r\n";
    std::vector<IndexRecord> expected;
    for (int i = 1; i <= mails; ++i) {
        list += std::to_string(i) + " " + std::to_string(100 + i) + "\r\n";
        const bool withId = i % 97 != 0;
        uidl += std::to_string(i) + (withId ? " u" + std::to_string(i) : std::string()) + "\r\n";
        IndexRecord record = ListedRecord(i, i, 100 + i);
        if (withId) {
            SetUid(record, "u" + std::to_string(i));
        }
        expected.push_back(record);
    }
    Spit(files.ResponsePath(), list + ".\r\n");
    ASSERT_TRUE(files.WriteListIndex(mails));
    Spit(files.ResponsePath(), uidl + ".\r\n");
    ASSERT_TRUE(files.WriteUidIndex());
    EXPECT_TRUE(Slurp(files.NewIndexPath()) == IndexBytes(expected));
}

TEST(MailboxFiles, IndexWritingFailsWithoutAResponseFile) {
    DataFolder folder;
    CMailboxFiles files("acct", folder.path());
    EXPECT_FALSE(files.WriteListIndex());
    EXPECT_FALSE(files.WriteUidIndex());
}

// --- lookups by unique id ----------------------------------------------------

// The lookup as a scan from the first record, the reference answers.
int ScanCached(const std::vector<IndexRecord>& file, const IndexRecord& fresh, std::int64_t* offset) {
    std::int64_t at = 0;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (UidOf(file[i]) == UidOf(fresh)) {
            *offset = at;
            return file[i].seq != 0 ? static_cast<int>(i) + 1 : -1;
        }
        at += file[i].headerLength;
    }
    return -1;
}

TEST(IndexLookup, FindCachedRecordAnswersAsAScanFromTheStart) {
    const std::vector<IndexRecord> file = {
        Record(1, 1, 10, 100, "a"), Record(2, 2, 20, 0, "b"),  Record(0, 3, 30, 50, "c"),
        Record(4, 4, 40, 70, "a"),  Record(5, 5, 50, 80, "*"), Record(6, 6, 60, 90, ""),
        Record(7, 7, 70, 25, "d"),  Record(8, 8, 80, 10, "c"),
    };
    IndexFile index(file);
    struct Case {
        const char* uid;
        int position;
        std::int64_t offset;
    } cases[] = {
        {"a", 1, 0},                    // the first of two wins
        {"b", 2, 100},                  // block of length 0
        {"c", -1, 100},                 // first match has seq 0: -1, not the later live record
        {"d", 7, 390},                  // offset sums every earlier block, seq 0 ones included
        {"zz", -1, -1}, {"*", -1, -1},  // the placeholder names no mail
        {"", -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uid);
        IndexRecord found;
        std::int64_t offset = -1;
        int position = FindCachedRecord(Record(1, 1, 1, 0, c.uid), index, &found, &offset);
        EXPECT_EQ(position, c.position);
        if (c.position > 0) {
            EXPECT_EQ(offset, c.offset);
            EXPECT_EQ(UidOf(found), c.uid);
            EXPECT_EQ(found.seq, c.position);
        }
    }
}

TEST(IndexLookup, AgreesWithTheScanOnRandomIndexes) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<IndexRecord> file;
        int n = static_cast<int>(random() % 40);
        for (int i = 0; i < n; ++i) {
            file.push_back(Record(random() % 4 == 0 ? 0 : i + 1, i + 1, 10, static_cast<int>(random() % 300),
                                  "u" + std::to_string(random() % 25)));
        }
        IndexFile index(file);
        for (int u = 0; u < 30; ++u) {
            IndexRecord fresh = Record(1, 1, 1, 0, "u" + std::to_string(u));
            std::int64_t expectedOffset = 0;
            std::int64_t offset = 0;
            int expected = ScanCached(file, fresh, &expectedOffset);
            ASSERT_EQ(FindCachedRecord(fresh, index, nullptr, &offset), expected) << round << " u" << u;
            if (expected > 0) {
                ASSERT_EQ(offset, expectedOffset);
            }
        }
    }
}

TEST(IndexLookup, FindServerRecordGivesTheCurrentNumberOfTheFirstMatch) {
    IndexFile server({Record(1, 11, 10, 0, "a"), Record(2, 12, 10, 0, "*"), Record(3, 13, 10, 0, "a"),
                      Record(4, 14, 10, 0, "b")});
    struct Case {
        const char* uid;
        int seq;
        int msgNo;
    } cases[] = {{"a", 1, 11}, {"b", 4, 14}, {"c", -1, 0}, {"*", -1, 0}, {"", -1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uid);
        IndexRecord found;
        EXPECT_EQ(FindServerRecord(Record(9, 9, 9, 0, c.uid), server, &found), c.seq);
        if (c.seq > 0) {
            EXPECT_EQ(found.msgNo, c.msgNo);
        }
    }
}

// --- the account switch ------------------------------------------------------

const std::string kBlockA = "+OK\r\nFrom: a@example.jp\r\nSubject: first\r\n\r\n.\r\n";
const std::string kBlockB = "+OK\r\nFrom: b@example.jp\r\nSubject: second\r\n\r\n.\r\n";
const std::string kBlockC = "+OK\r\nFrom: c@example.jp\r\nSubject: third\r\n\r\n.\r\n";

int Len(const std::string& s) {
    return static_cast<int>(s.size());
}

struct LoadResult {
    std::vector<std::string> subjects;
    std::vector<std::uint32_t> ids;
    std::size_t entries = 0;
    std::vector<int> statuses;
    std::vector<std::pair<int, int>> ranges;
};

LoadResult Load(const std::string& folder, const std::string* index, const std::string* header) {
    CMailboxFiles files("acct", folder);
    ::unlink(files.sidPath.c_str());
    ::unlink(files.kvtPath.c_str());
    if (index != nullptr) {
        Spit(files.sidPath, *index);
    }
    if (header != nullptr) {
        Spit(files.kvtPath, *header);
    }
    MemoryList list;
    LenientPrompt prompt;
    LoadResult r;
    LoadCachedList(
        files, list, prompt, [&](int done, int total) { r.ranges.emplace_back(done, total); }, [](int) {},
        [&](int id) { r.statuses.push_back(id); });
    for (int row = 0; row < list.RowCount(); ++row) {
        r.subjects.push_back(list.Text(row, kColumnSubject));
        r.ids.push_back(list.RowEntry(row)->id);
    }
    r.entries = files.entries.size();
    EXPECT_TRUE(prompt.asked.empty());
    files.ClearList(list);
    return r;
}

TEST(LoadCachedList, ShowsTheCachedRowsOrNothing) {
    DataFolder folder;
    const std::string three =
        IndexBytes({Record(1, 1, 100, Len(kBlockA), "a"), Record(2, 2, 200, Len(kBlockB), "b"),
                    Record(3, 3, 300, Len(kBlockC), "c")});
    const std::string blocks = kBlockA + kBlockB + kBlockC;
    const std::string empty;
    const std::string odd = three.substr(0, 89);
    const std::vector<int> loaded = {IDS_STATUS_CACHE_LOADING, IDS_STATUS_CACHE_SHOWN};
    struct Case {
        const char* name;
        const std::string* index;
        const std::string* header;
        std::vector<std::string> subjects;
        std::vector<int> statuses;
    } cases[] = {
        {"both files", &three, &blocks, {"first", "second", "third"}, loaded},
        {"index of 0 bytes", &empty, &blocks, {}, loaded},
        {"index of 89 bytes", &odd, &blocks, {}, {}},
        {"no index file", nullptr, &blocks, {}, {}},
        {"no header file", &three, nullptr, {}, {}},
        {"header file cut short", &three, &kBlockA, {"first", "", ""}, loaded},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoadResult r = Load(folder.path(), c.index, c.header);
        EXPECT_EQ(r.subjects, c.subjects);
        EXPECT_EQ(r.statuses, c.statuses);
        EXPECT_EQ(r.entries, c.subjects.size());
    }
}

TEST(LoadCachedList, DeletedRecordKeepsItsPlaceWithoutARow) {
    DataFolder folder;
    const std::string index =
        IndexBytes({Record(1, 1, 100, Len(kBlockA), "a"), Record(0, 2, 200, Len(kBlockB), "b"),
                    Record(3, 3, 300, Len(kBlockC), "c")});
    const std::string header = kBlockA + kBlockB + kBlockC;
    CMailboxFiles files("acct", folder.path());
    Spit(files.sidPath, index);
    Spit(files.kvtPath, header);
    MemoryList list;
    LenientPrompt prompt;
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
    LoadCachedList(
        files, list, prompt, [&](int d, int t) { ranges.emplace_back(d, t); },
        [&](int p) { positions.push_back(p); }, [](int) {});
    ASSERT_EQ(list.RowCount(), 2);
    ASSERT_EQ(files.entries.size(), 3u);
    // The entry of record k is EntryAt(k - 1), rows or no rows.
    EXPECT_EQ(files.EntryAt(0), list.RowEntry(0));
    EXPECT_EQ(list.FindRow(files.EntryAt(1)), -1);
    EXPECT_EQ(files.EntryAt(2), list.RowEntry(1));
    EXPECT_EQ(list.Text(1, kColumnSubject), "third") << "the deleted mail's block was skipped";
    EXPECT_EQ(files.EntryAt(2)->id, 3u);
    EXPECT_EQ(files.EntryAt(2)->size, 300u);
    EXPECT_EQ(files.EntryAt(3), nullptr);
    EXPECT_EQ(ranges, (std::vector<std::pair<int, int>>{{0, 1}, {0, 2}}));
    EXPECT_EQ(positions, (std::vector<int>{1, 2}));
    files.ClearList(list);
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_TRUE(files.entries.empty());
}

TEST(LoadCachedList, DamagedHeaderLengthsReadNoMoreThanTheFileHolds) {
    DataFolder folder;
    const std::string index = IndexBytes({Record(1, 1, 100, -40, "a"), Record(2, 2, 200, Len(kBlockB), "b"),
                                          Record(3, 3, 300, 2000000000, "c")});
    CMailboxFiles files("acct", folder.path());
    Spit(files.sidPath, index);
    Spit(files.kvtPath, kBlockB + kBlockC);
    MemoryList list;
    LenientPrompt prompt;
    LoadCachedList(files, list, prompt, {}, {}, {});
    ASSERT_EQ(list.RowCount(), 3);
    EXPECT_EQ(list.Text(0, kColumnSubject), "");
    EXPECT_EQ(list.Text(1, kColumnSubject), "second");
    EXPECT_EQ(list.Text(2, kColumnSubject), "third");
    files.ClearList(list);
}

// --- clearing the cache and deleting files -----------------------------------

TEST(ClearCache, AsksFirstAndDeletesHeaderAndIndexOnYes) {
    for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
        DataFolder folder;
        CMailboxFiles files("acct", folder.path());
        Spit(files.sidPath, IndexBytes({Record(1, 1, 1, 0, "a")}));
        Spit(files.kvtPath, "");
        Spit(files.emlPath, "mail");
        test::ScriptedPrompt prompt;
        PromptRequest question;
        question.text = Sjis("現在のｱｶｳﾝﾄの一時ﾌｧｲﾙをｸﾘｱします。");
        question.caption = "Wrenpost";
        question.buttons = PromptButtons::YesNo;
        question.icon = PromptIcon::Question;
        question.defaultAnswer = PromptAnswer::No;
        prompt.Expect(question, answer);
        bool yes = answer == PromptAnswer::Yes;
        EXPECT_EQ(ClearCache(files, prompt), yes);
        EXPECT_EQ(Exists(files.sidPath), !yes);
        EXPECT_EQ(Exists(files.kvtPath), !yes);
        EXPECT_TRUE(Exists(files.emlPath));
    }
}

TEST(DeleteIfExists, MissingIsFineAndAFailureShowsTheSystemText) {
    DataFolder folder;
    LenientPrompt prompt;
    std::string path = folder.path() + "/x.sid";
    EXPECT_TRUE(DeleteIfExists(path, prompt));
    Spit(path, "x");
    EXPECT_TRUE(DeleteIfExists(path, prompt));
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(prompt.asked.empty());

    // A folder where the file should be cannot be deleted as a file.
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    EXPECT_FALSE(DeleteIfExists(path, prompt));
    ASSERT_EQ(prompt.asked.size(), 1u);
    EXPECT_EQ(prompt.asked[0].text, std::strerror(EISDIR));
    EXPECT_EQ(prompt.asked[0].caption, "Error");
    EXPECT_EQ(prompt.asked[0].icon, PromptIcon::Information);
    EXPECT_EQ(prompt.asked[0].buttons, PromptButtons::Ok);
}

// --- replacing the header and index files ------------------------------------

// What a run stopped at each point between writing and renaming leaves, and
// what the next start makes of it: always the old pair or the new pair.
TEST(MailboxFiles, AStoppedReplacementLeavesTheOldPairOrTheNewPair) {
    const std::string oldIndex = IndexBytes({Record(1, 1, 10, Len(kBlockA), "a")});
    const std::string oldHeader = kBlockA;
    const std::string newIndex =
        IndexBytes({Record(1, 1, 20, Len(kBlockB), "b"), Record(2, 2, 30, Len(kBlockC), "c")});
    const std::string newHeader = kBlockB + kBlockC;
    struct Case {
        const char* name;
        bool oldPair;     // index and header file as the last run left them
        bool indexTemp;   // new index still under its temporary name
        bool headerTemp;  // new header still under its temporary name
        bool indexMoved;  // new index already renamed
        bool expectNew;
    } cases[] = {
        {"stopped while writing", true, true, true, false, false},
        {"stopped after the index was renamed", true, false, true, true, true},
        {"first listing stopped after the index was renamed", false, false, true, true, true},
        {"stopped after both were renamed", true, false, false, true, true},
        {"a scratch index of another operation", true, true, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataFolder folder;
        {
            CMailboxFiles files("acct", folder.path());
            if (c.oldPair) {
                Spit(files.sidPath, oldIndex);
                Spit(files.kvtPath, oldHeader);
            }
            if (c.indexTemp) {
                Spit(files.NewIndexPath(), newIndex);
            }
            if (c.indexMoved) {
                Spit(files.sidPath, newIndex);
            }
            if (c.headerTemp) {
                Spit(files.NewHeaderPath(), newHeader);
            } else if (c.indexMoved) {
                Spit(files.kvtPath, newHeader);
            }
        }
        CMailboxFiles files("acct", folder.path());
        EXPECT_FALSE(Exists(files.NewHeaderPath()));
        EXPECT_EQ(Slurp(files.sidPath), c.expectNew ? newIndex : oldIndex);
        EXPECT_EQ(Slurp(files.kvtPath), c.expectNew ? newHeader : oldHeader);
        EXPECT_TRUE(test::ConsistentPair(files));
    }
}

TEST(MailboxFiles, AReplacementThatFailsLeavesNoStaleIndex) {
    DataFolder folder;
    CMailboxFiles files("acct", folder.path());
    Spit(files.sidPath, IndexBytes({Record(1, 1, 10, Len(kBlockA), "a")}));
    // A folder at the header file's name: the second rename fails.
    ASSERT_EQ(::mkdir(files.kvtPath.c_str(), 0700), 0);
    Spit(files.kvtPath + "/inside", "x");
    Spit(files.NewIndexPath(), IndexBytes({Record(1, 1, 20, Len(kBlockB), "b")}));
    Spit(files.NewHeaderPath(), kBlockB);
    LenientPrompt prompt;
    EXPECT_FALSE(files.ReplaceHeaderAndIndex(prompt));
    EXPECT_FALSE(Exists(files.sidPath)) << "an index the entries no longer match";
    EXPECT_FALSE(Exists(files.NewIndexPath()));
    EXPECT_FALSE(Exists(files.NewHeaderPath()));
    ASSERT_EQ(prompt.asked.size(), 1u);
    EXPECT_EQ(prompt.asked[0].caption, "Error");
    ::unlink((files.kvtPath + "/inside").c_str());
    ::rmdir(files.kvtPath.c_str());
}

}  // namespace
}  // namespace wp
