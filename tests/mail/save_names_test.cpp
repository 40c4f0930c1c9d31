// The names of saved mails: unique within a run and against the target
// folder's files, cut to what a file name on disk may hold without ever
// becoming equal to another, and never broken inside a character.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "mail/save_names.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace wp {
namespace {

// Names the subjects in order, as a save names the selected rows.
std::vector<std::string> NamesOf(const std::vector<std::string>& subjects, const FileNameMap::Taken& taken = {}) {
    std::vector<std::unique_ptr<MailEntry>> entries;
    FileNameMap names;
    std::vector<std::string> out;
    for (const std::string& subject : subjects) {
        entries.push_back(std::make_unique<MailEntry>());
        out.push_back(DiskFileName(names.AddUniqueName(entries.back().get(), SaveFileName(subject), taken)));
    }
    return out;
}

struct NamingCase {
    const char* what;
    std::vector<std::string> subjects;  // CP932
    std::vector<std::string> files;     // UTF-8, on disk
};

TEST(SaveNames, NamesOfOneRun) {
    const NamingCase cases[] = {
        {"three equal subjects count up",
         {"Re: hello", "Re: hello", "Re: hello"},
         {"Re_ hello.eml", "Re_ hello(1).eml", "Re_ hello(2).eml"}},
        {"the counter starts again for every mail",
         {"a", "b", "a", "b"},
         {"a.eml", "b.eml", "a(1).eml", "b(1).eml"}},
        {"an empty subject is the extension alone", {"", ""}, {".eml", "(1).eml"}},
        {"a subject that looks like a counted name", {"x(1)", "x", "x"}, {"x(1).eml", "x.eml", "x(2).eml"}},
        {"a trail byte 0x5C or 0x7C stays in its character",
         {Sjis("ソフト/表"), Sjis("能力|杏")},
         {"ソフト_表.eml", "能力_杏.eml"}},
        {"control bytes and the rest of a zero byte go",
         {std::string("a\tb\0tail", 8)},
         {"a_b.eml"}},
    };
    for (const NamingCase& c : cases) {
        EXPECT_EQ(NamesOf(c.subjects), c.files) << c.what;
    }
}

TEST(SaveNames, LongSubjectsStayDistinctAfterTheCut) {
    const std::string ascii(300, 'S');
    std::vector<std::string> files = NamesOf({ascii, ascii, ascii});
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], std::string(251, 'S') + ".eml");
    EXPECT_EQ(files[1], std::string(248, 'S') + "(1).eml");
    EXPECT_EQ(files[2], std::string(248, 'S') + "(2).eml");

    // 150 kanji: 300 bytes inside, 450 on disk. Cut between characters so
    // the UTF-8 name with its extension fits, and still distinct.
    std::string kanji;
    for (int i = 0; i < 150; ++i) {
        kanji += Sjis("表");
    }
    files = NamesOf({kanji, kanji});
    EXPECT_EQ(files[0].size(), 83u * 3 + 4) << "83 whole characters and .eml";
    EXPECT_EQ(files[0], Cp932ToUtf8(kanji.substr(0, 166)) + ".eml");
    EXPECT_EQ(files[1], Cp932ToUtf8(kanji.substr(0, 164)) + "(1).eml");
    for (const std::string& file : files) {
        EXPECT_LE(file.size(), kSavedNameMax);
    }
}

TEST(SaveNames, ANameTakenOnDiskGetsTheNextFreeCounter) {
    const std::vector<std::string> onDisk = {"Re_ hello", "Re_ hello(1)", "note(1)"};
    auto taken = [&](const std::string& name) {
        return std::find(onDisk.begin(), onDisk.end(), name) != onDisk.end();
    };
    EXPECT_EQ(NamesOf({"Re: hello", "Re: hello", "note", "note"}, taken),
              (std::vector<std::string>{"Re_ hello(2).eml", "Re_ hello(3).eml", "note.eml", "note(2).eml"}));
}

TEST(SaveNames, AnEntryKeepsItsNameAndRenumberMovesOn) {
    MailEntry first;
    MailEntry second;
    FileNameMap names;
    EXPECT_EQ(names.AddUniqueName(&first, "a"), "a");
    EXPECT_EQ(names.AddUniqueName(&first, "other"), "a") << "named once per run";
    EXPECT_EQ(names.AddUniqueName(&second, "a"), "a(1)");
    // The file "a(1)" appeared meanwhile: the name moves past it, and the
    // freed name is free again for the map.
    auto taken = [](const std::string& name) { return name == "a(2)"; };
    EXPECT_EQ(names.Renumber(&second, taken), "a(3)");
    EXPECT_EQ(*names.Find(&second), "a(3)");
    EXPECT_EQ(names.Size(), 2u);
    names.Clear();
    EXPECT_EQ(names.Find(&first), nullptr);
}

}  // namespace
}  // namespace wp
