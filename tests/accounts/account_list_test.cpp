#include "accounts/account_list.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "store_fixture.h"

namespace wp::test {
namespace {

using AccountStore = StoreTest;

TEST_F(AccountStore, MissingFileIsCreatedEmpty) {
    auto store = Open(true);
    EXPECT_EQ(store->Size(), 0);
    EXPECT_EQ(store->Path(), DataPath());
    ASSERT_TRUE(std::filesystem::is_regular_file(DataPath()));
    EXPECT_EQ(std::filesystem::file_size(DataPath()), 0u);
    EXPECT_EQ(store->Lookup(0), nullptr);
    EXPECT_EQ(store->Lookup(1), nullptr);
}

// Numbers are slots: saved, blanked and appended accounts land where the
// other stores and the cached lists expect them, and the rewrite on close
// drops only the blanked slot.
TEST_F(AccountStore, SlotsThroughSaveClearAppendAndCompaction) {
    {
        auto store = Open(false);
        const char* names[] = {"first", "second", "third"};
        for (int i = 0; i < 3; ++i) {
            AccountRecord record = MakeRecord(names[i]);
            record.number = 0;
            EXPECT_TRUE(store->SaveAccount(record, "pw"));
            EXPECT_EQ(record.number, i + 1);
            EXPECT_EQ(Slot(i + 1), Encoded(record)) << "offset " << i * 636;
        }
        EXPECT_EQ(FileBytes().size(), 3 * 636u);

        EXPECT_TRUE(store->ClearAccount(2));
        EXPECT_EQ(Slot(2), std::vector<std::uint8_t>(636, 0));
        EXPECT_EQ(FileBytes().size(), 3 * 636u);
        EXPECT_EQ(store->Size(), 3);
        EXPECT_EQ(store->Lookup(1)->Name(), "first");
        EXPECT_EQ(store->Lookup(1)->Number(), 1);
        EXPECT_EQ(store->Lookup(3)->Name(), "third");
        EXPECT_EQ(store->Lookup(3)->Number(), 3);
        EXPECT_TRUE(store->Lookup(2)->IsBlank());
        EXPECT_EQ(store->Lookup(2)->Number(), 0);

        AccountRecord fourth = MakeRecord("fourth");
        fourth.number = -1;  // a fresh record is new as well
        EXPECT_TRUE(store->SaveAccount(fourth, ""));
        EXPECT_EQ(fourth.number, 4);
        EXPECT_EQ(Slot(4), Encoded(fourth)) << "offset 1908";
        EXPECT_EQ(FileBytes().size(), 4 * 636u);
    }
    EXPECT_EQ(FileBytes().size(), 3 * 636u);
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"first", "third", "fourth"}));

    auto reopened = Open(true);
    ASSERT_EQ(reopened->Size(), 3);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(reopened->Lookup(n)->Number(), n);
    }
    EXPECT_EQ(StoreNames(*reopened), (std::vector<std::string>{"first", "third", "fourth"}));
    EXPECT_EQ(reopened->Lookup(2)->Server(), "pop.example.jp");
}

TEST_F(AccountStore, SavingAnExistingNumberWritesInPlace) {
    std::vector<std::uint8_t> file;
    for (const char* name : {"a", "b", "c"}) {
        auto bytes = Encoded(MakeRecord(name));
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    WriteBytes(DataPath(), file);

    auto store = Open(false);
    AccountInfo changed;
    changed.Record() = *store->Lookup(2);
    changed.SetServer("mail.example.com:995");
    changed.SetUseApop(true);
    changed.SetPassword("new");
    EXPECT_TRUE(store->SaveAccount(changed));
    EXPECT_EQ(changed.Number(), 2);
    EXPECT_EQ(store->Size(), 3);
    EXPECT_EQ(store->Lookup(2)->Server(), "mail.example.com:995");
    EXPECT_EQ(store->Lookup(2)->Password(), "new");

    auto now = FileBytes();
    ASSERT_EQ(now.size(), file.size());
    EXPECT_TRUE(std::equal(now.begin(), now.begin() + 636, file.begin()));
    EXPECT_TRUE(std::equal(now.begin() + 1272, now.end(), file.begin() + 1272));
    EXPECT_EQ(Slot(2), Encoded(changed));
}

TEST_F(AccountStore, BlankedSlotIsLoadedAndCounted) {
    std::vector<std::uint8_t> file = Encoded(MakeRecord("one"));
    file.resize(2 * 636, 0);
    auto third = Encoded(MakeRecord("three"));
    file.insert(file.end(), third.begin(), third.end());
    WriteBytes(DataPath(), file);

    auto store = Open(true);
    ASSERT_EQ(store->Size(), 3);
    EXPECT_TRUE(store->Lookup(2)->IsBlank());
    EXPECT_EQ(store->Lookup(2)->Number(), 2);  // numbered by position like the others
    EXPECT_EQ(store->Lookup(3)->Name(), "three");
}

TEST_F(AccountStore, StoredNumbersAreIgnored) {
    AccountRecord a = MakeRecord("a");
    a.number = 77;
    AccountRecord b = MakeRecord("b");
    b.number = -5;
    auto file = Encoded(a);
    auto second = Encoded(b);
    file.insert(file.end(), second.begin(), second.end());
    WriteBytes(DataPath(), file);

    auto store = Open(true);
    ASSERT_EQ(store->Size(), 2);
    EXPECT_EQ(store->Lookup(1)->Number(), 1);
    EXPECT_EQ(store->Lookup(2)->Number(), 2);
}

struct DamagedCase {
    const char* what;
    std::size_t size;
    bool garbage;  // random bytes instead of valid records
    int expected;
};

// Whatever the file holds, the store loads the whole records, reads every
// field within its bounds, and its rewrite keeps them.
TEST_F(AccountStore, DamagedFilesLoadWhatIsWhole) {
    const DamagedCase cases[] = {
        {"empty", 0, false, 0},
        {"shorter than one record", 635, false, 0},
        {"one record", 636, false, 1},
        {"two records and a partial one", 2 * 636 + 100, false, 2},
        {"one byte short of three", 3 * 636 - 1, false, 2},
        {"garbage, three records", 3 * 636, true, 3},
        {"garbage, partial", 2 * 636 + 17, true, 2},
    };
    std::mt19937 random(12345);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> file;
        while (file.size() < c.size) {
            if (c.garbage) {
                file.push_back(static_cast<std::uint8_t>(random() | 1));  // no terminators anywhere
            } else {
                AccountRecord record = MakeRecord("acct" + std::to_string(file.size() / 636));
                record.number = static_cast<std::int32_t>(file.size() / 636 + 1);
                auto bytes = Encoded(record);
                file.insert(file.end(), bytes.begin(), bytes.end());
            }
        }
        file.resize(c.size);
        WriteBytes(DataPath(), file);
        {
            auto store = Open(false);
            ASSERT_EQ(store->Size(), c.expected);
            for (int n = 1; n <= store->Size(); ++n) {
                const AccountInfo* account = store->Lookup(n);
                EXPECT_LE(account->Name().size(), kAccountNameMax);
                EXPECT_LE(account->LoginId().size(), kLoginIdMax);
                EXPECT_LE(account->Server().size(), kServerMax);
                EXPECT_LE(account->Password().size(), kPasswordMax);
                EXPECT_EQ(account->Number(), n);
            }
        }
        // The rewrite keeps every whole record and drops the partial tail.
        EXPECT_EQ(FileBytes().size(), static_cast<std::size_t>(c.expected) * 636);
        if (!c.garbage) {
            auto now = FileBytes();
            EXPECT_TRUE(std::equal(now.begin(), now.end(), file.begin()));
        }
        auto again = Open(true);
        EXPECT_EQ(again->Size(), c.expected);
    }
}

// A file with more slots than the store takes is loaded as far as it goes
// and never rewritten: writing the shorter list would lose the rest.
TEST_F(AccountStore, OversizedFileIsLoadedButNeverWritten) {
    const int count = CAccountList::kMaxAccounts + 1;
    std::vector<std::uint8_t> file;
    file.reserve(static_cast<std::size_t>(count) * 636);
    auto record = Encoded(MakeRecord("same"));
    for (int i = 0; i < count; ++i) {
        file.insert(file.end(), record.begin(), record.end());
    }
    WriteBytes(DataPath(), file);
    {
        auto store = Open(false);
        EXPECT_FALSE(store->Load());
        EXPECT_EQ(store->Size(), CAccountList::kMaxAccounts);
        AccountRecord added = MakeRecord("added");
        added.number = 0;
        EXPECT_FALSE(store->SaveAccount(added, ""));
        EXPECT_FALSE(store->ClearAccount(1));
    }
    EXPECT_EQ(FileBytes(), file);
}

// Something other than a plain file under the name: no hang, no crash, and
// nothing written over it.
TEST_F(AccountStore, NonPlainFileGivesAnEmptyReadOnlyView) {
    ASSERT_EQ(::mkfifo(DataPath().c_str(), 0600), 0);
    {
        auto store = Open(false);
        EXPECT_EQ(store->Size(), 0);
        AccountRecord record = MakeRecord("x");
        EXPECT_FALSE(store->SaveAccount(record, ""));
        EXPECT_EQ(store->Size(), 1);  // the list still takes it
    }
    EXPECT_TRUE(std::filesystem::is_fifo(DataPath()));

    std::filesystem::remove(DataPath());
    std::filesystem::create_directory(DataPath());
    {
        auto store = Open(false);
        EXPECT_EQ(store->Size(), 0);
    }
    EXPECT_TRUE(std::filesystem::is_directory(DataPath()));
}

TEST_F(AccountStore, UnreadableFileIsNotOverwritten) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    WriteBytes(DataPath(), Encoded(MakeRecord("kept")));
    ::chmod(DataPath().c_str(), 0);
    {
        auto store = Open(false);
        EXPECT_EQ(store->Size(), 0);
    }
    ::chmod(DataPath().c_str(), 0600);
    EXPECT_EQ(FileNames(), std::vector<std::string>{"kept"});
}

// The main window holds a read-only store while the account dialog works on
// a writable one; the first must neither see nor undo the second's writes
// until it is replaced.
TEST_F(AccountStore, ReadOnlyAndWritableStoresSideBySide) {
    {
        auto setup = Open(false);
        for (const char* name : {"alpha", "beta"}) {
            AccountRecord record = MakeRecord(name);
            setup->SaveAccount(record, "pw");
            setup->StorePassword(name, "pw");
        }
    }
    auto mainStore = Open(true);
    auto dialogStore = Open(false);
    ASSERT_EQ(mainStore->Size(), 2);
    ASSERT_EQ(dialogStore->Size(), 2);

    AccountRecord gamma = MakeRecord("gamma");
    gamma.number = 0;
    EXPECT_TRUE(dialogStore->SaveAccount(gamma, "g"));
    EXPECT_TRUE(dialogStore->ClearAccount(1));
    EXPECT_EQ(mainStore->Size(), 2);
    EXPECT_EQ(mainStore->Lookup(1)->Name(), "alpha");
    EXPECT_EQ(mainStore->Lookup(1)->Password(), "pw");

    // The dialog closes: the main window reloads first, then the dialog's
    // store goes and compacts the file.
    mainStore = Open(true);
    EXPECT_EQ(StoreNames(*mainStore), (std::vector<std::string>{"", "beta", "gamma"}));
    dialogStore.reset();
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"beta", "gamma"}));
    mainStore.reset();  // a read-only store writes nothing on its way out
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"beta", "gamma"}));

    auto next = Open(true);
    EXPECT_EQ(StoreNames(*next), (std::vector<std::string>{"beta", "gamma"}));
    EXPECT_EQ(next->Lookup(1)->Password(), "pw");
}

TEST_F(AccountStore, ReadOnlyStoreChangesNothingOnDisk) {
    {
        auto setup = Open(false);
        AccountRecord record = MakeRecord("only");
        setup->SaveAccount(record, "pw");
        setup->StorePassword("only", "pw");
    }
    auto before = FileBytes();
    {
        auto store = Open(true);
        AccountRecord record = MakeRecord("new");
        EXPECT_FALSE(store->SaveAccount(record, ""));
        EXPECT_FALSE(store->ClearAccount(1));
        EXPECT_TRUE(store->Lookup(1)->IsBlank());
        EXPECT_EQ(store->Size(), 2);
    }
    EXPECT_EQ(FileBytes(), before);
    EXPECT_TRUE(profile_->HasValue("Account", "only"));
}

TEST_F(AccountStore, ClearingANumberOutsideTheListChangesNothing) {
    {
        auto setup = Open(false);
        AccountRecord record = MakeRecord("a");
        setup->SaveAccount(record, "");
    }
    auto before = FileBytes();
    {
        auto store = Open(false);
        for (int number : {0, -1, 2, 1000}) {
            EXPECT_FALSE(store->ClearAccount(number)) << number;
            EXPECT_EQ(FileBytes(), before) << number;
        }
        EXPECT_EQ(store->Size(), 1);
    }
    EXPECT_EQ(FileNames(), std::vector<std::string>{"a"});
}

// A caller that fills the fields by hand, without terminators, must not make
// the stored record unreadable.
TEST_F(AccountStore, SaveTerminatesOverlongFields) {
    auto store = Open(false);
    AccountRecord record;
    std::memset(record.name, 'n', sizeof record.name);
    std::memset(record.loginId, 'l', sizeof record.loginId);
    std::memset(record.server, 's', sizeof record.server);
    record.number = 0;
    store->SaveAccount(record, std::string(70, 'p'));
    auto slot = Slot(1);
    ASSERT_EQ(slot.size(), 636u);
    EXPECT_EQ(slot[4 + 255], 0);
    EXPECT_EQ(slot[261 + 49], 0);
    EXPECT_EQ(slot[312 + 49], 0);
    EXPECT_EQ(store->Lookup(1)->Name(), std::string(255, 'n'));
    EXPECT_EQ(store->Lookup(1)->Password(), std::string(49, 'p'));
}

TEST_F(AccountStore, SaveWithTheFileGoneKeepsTheList) {
    auto store = Open(false);
    std::filesystem::remove(DataPath());
    AccountRecord record = MakeRecord("x");
    EXPECT_FALSE(store->SaveAccount(record, ""));
    EXPECT_EQ(store->Size(), 1);
    EXPECT_FALSE(std::filesystem::exists(DataPath()));
}

// A rewrite that cannot finish (here: the file-size limit, as a full disk
// would) leaves the old file whole and no half-written sibling behind.
TEST_F(AccountStore, FailedRewriteLeavesTheOldFile) {
    {
        auto setup = Open(false);
        for (const char* name : {"a", "b", "c", "d"}) {
            AccountRecord record = MakeRecord(name);
            setup->SaveAccount(record, "");
        }
        setup->ClearAccount(1);
        struct rlimit saved {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = 1000;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        setup.reset();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);
    }
    EXPECT_EQ(FileNames(), (std::vector<std::string>{"", "b", "c", "d"}));
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
        EXPECT_EQ(entry.path().filename().string().rfind("AccData.dat.", 0), std::string::npos)
            << "left behind: " << entry.path();
    }
}

TEST_F(AccountStore, RewriteKeepsALinkedFileALink) {
    std::string real = root_ + "/elsewhere.dat";
    {
        auto setup = Open(false);
        for (const char* name : {"a", "b"}) {
            AccountRecord record = MakeRecord(name);
            setup->SaveAccount(record, "");
        }
    }
    std::filesystem::rename(DataPath(), real);
    std::filesystem::create_symlink(real, DataPath());
    ::chmod(real.c_str(), 0640);
    {
        auto store = Open(false);
        store->ClearAccount(1);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(DataPath()));
    EXPECT_EQ(FileNames(), std::vector<std::string>{"b"});
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Two writers of AccData.dat at once (a second window's dialog,
// wrenpost-cli) would write slots the other's numbers point to, and the
// last one to close would compact away the other's work.
TEST_F(AccountStore, OnlyOneWritableStoreWritesAtATime) {
    {
        auto setup = Open(false);
        AccountRecord record = MakeRecord("first");
        setup->SaveAccount(record, "pw");
        setup->StorePassword("first", "pw");
    }
    auto dialog = Open(false);
    ASSERT_TRUE(dialog->Writable());
    EXPECT_EQ(dialog->Lock(), CAccountList::LockState::kHeld);
    const auto before = FileBytes();
    {
        auto second = Open(false);
        EXPECT_FALSE(second->Writable());
        EXPECT_EQ(second->Lock(), CAccountList::LockState::kBusy);
        EXPECT_EQ(StoreNames(*second), std::vector<std::string>{"first"}) << "it still reads";
        AccountRecord record = MakeRecord("second");
        record.number = 0;
        EXPECT_FALSE(second->SaveAccount(record, ""));
        EXPECT_FALSE(second->ClearAccount(1));
    }
    EXPECT_EQ(FileBytes(), before) << "nor does its end rewrite the file";
    EXPECT_TRUE(profile_->HasValue(kPasswordSection, "first"));
    EXPECT_EQ(Open(true)->Lock(), CAccountList::LockState::kNone) << "readers take no lock";

    dialog.reset();
    auto next = Open(false);
    EXPECT_TRUE(next->Writable());
}

// A rewrite killed between writing its sibling and renaming it leaves the
// sibling; the next writable store removes it, and nothing else.
TEST_F(AccountStore, AWritableOpenRemovesWhatAKilledRewriteLeft) {
    const std::string leftover = root_ + "/AccData.dat.Ab3dE9";
    const std::vector<std::string> others = {root_ + "/AccData.dat.keep1", root_ + "/AccData.dat.Ab3dE9x",
                                             root_ + "/AccData.datXAb3dE", root_ + "/other.dat.Ab3dE9"};
    for (const std::string& path : others) {
        WriteBytes(path, Bytes("x"));
    }
    WriteBytes(leftover, Bytes("half a rewrite"));
    const std::string folderLike = root_ + "/AccData.dat.Zz9Zz9";
    std::filesystem::create_directory(folderLike);

    Open(true);
    EXPECT_TRUE(std::filesystem::exists(leftover)) << "a reader may be beside a rewrite in progress";
    Open(false);
    EXPECT_FALSE(std::filesystem::exists(leftover));
    for (const std::string& path : others) {
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    }
    EXPECT_TRUE(std::filesystem::is_directory(folderLike));
}

}  // namespace
}  // namespace wp::test
