#include "platform/profile.h"

#include "test_folder.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace wp {
namespace {

using test::TestFolder;

std::vector<std::uint8_t> Bytes(std::string_view s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

// A copy of the file read by a fresh object proves the value is on disk,
// not only in this process's cache of the file.
Profile ReopenedCopy(const TestFolder& folder, const Profile& profile) {
    static int copies = 0;
    std::string copy = folder.Sub("copy" + std::to_string(++copies) + ".ini");
    std::filesystem::copy_file(profile.Path(), copy);
    return Profile(copy);
}

struct StringCase {
    const char* what;
    std::string value;
};

const StringCase kStrings[] = {
    {"empty", ""},
    {"plain", "C:\\Mail\\save"},
    {"Japanese", "\x8E\xF3\x90\x4D\x83\x74\x83\x48\x83\x8B\x83\x5F"},
    {"trail byte 0x5C", "\x95\x5C\x8E\xA6"},  // 表示
    {"half-width katakana", "\xBB\xB0\xCA\xDE"},
    {"blanks at both ends", "  a b  "},
    {"list separator", "a, b,c"},
    {"INI syntax", "[x]\nk=v ; c # d \"q\""},
    {"line ends", "one\r\ntwo\n"},
    {"looks like a QSettings type", "@ByteArray(abc)"},
    {"at sign", "@"},
    {"looks like a number", "0012"},
    {"zero byte inside", std::string("a\0b", 3)},
    {"not CP932: lone high bytes", "\x80\xFF\xA0"},
    {"not CP932: cut lead byte", "abc\x82"},
    {"a code with a twin that must not turn into it", "\xEE\xEF\xED\x40"},
    {"user-defined area", "\xF0\x40"},
};

TEST(Profile, StringValuesRoundTripByteForByte) {
    TestFolder folder;
    Profile profile(folder.Sub("p.ini"));
    for (const auto& c : kStrings) {
        EXPECT_TRUE(profile.SetString("Strings", c.what, c.value)) << c.what;
    }
    Profile same(profile.Path());
    Profile disk = ReopenedCopy(folder, profile);
    for (const auto& c : kStrings) {
        EXPECT_EQ(profile.GetString("Strings", c.what, "default"), c.value) << c.what;
        EXPECT_EQ(same.GetString("Strings", c.what, "default"), c.value) << c.what;
        EXPECT_EQ(disk.GetString("Strings", c.what, "default"), c.value) << c.what;
    }
}

TEST(Profile, IntegerAndBinaryValuesRoundTrip) {
    TestFolder folder;
    Profile profile(folder.Sub("p.ini"));
    const int ints[] = {0, 1, -1, 110, INT_MAX, INT_MIN};
    for (int v : ints) {
        EXPECT_TRUE(profile.SetInt("Ints", std::to_string(v), v));
    }
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    std::string password(80, '\0');
    password.replace(0, 3, "\x6A\xA1\x37");
    const std::vector<std::pair<std::string, std::string>> blobs = {
        {"empty", ""}, {"every byte", all}, {"80-byte block", password}};
    for (const auto& [name, bytes] : blobs) {
        EXPECT_TRUE(profile.SetBinary("Account", name, Bytes(bytes))) << name;
    }
    Profile disk = ReopenedCopy(folder, profile);
    for (int v : ints) {
        EXPECT_EQ(disk.GetInt("Ints", std::to_string(v), 12345), v);
    }
    for (const auto& [name, bytes] : blobs) {
        auto got = disk.GetBinary("Account", name);
        ASSERT_TRUE(got.has_value()) << name;
        EXPECT_EQ(*got, Bytes(bytes)) << name;
    }
}

TEST(Profile, MissingValuesGiveTheDefaults) {
    TestFolder folder;
    Profile profile(folder.Sub("missing/p.ini"));
    EXPECT_EQ(profile.GetInt("Settings", "Width", 640), 640);
    EXPECT_EQ(profile.GetString("Settings", "Folder", "C:\\"), "C:\\");
    EXPECT_EQ(profile.GetString("Settings", "Folder"), "");
    EXPECT_FALSE(profile.GetBinary("Account", "someone").has_value());
    EXPECT_FALSE(profile.HasValue("Settings", "Width"));
    // A value that is not a number does not read as 0.
    ASSERT_TRUE(profile.SetString("Settings", "Width", "wide"));
    EXPECT_EQ(profile.GetInt("Settings", "Width", 640), 640);
    // An empty binary value exists and is empty.
    ASSERT_TRUE(profile.SetBinary("Account", "empty", {}));
    ASSERT_TRUE(profile.GetBinary("Account", "empty").has_value());
    EXPECT_TRUE(profile.GetBinary("Account", "empty")->empty());
}

// Account names become value names, so every one of these must be a value of
// its own: no two may collide and none may be cut or nested.
TEST(Profile, AnyValueNameIsAValueOfItsOwn) {
    const std::vector<std::string> names = {
        "a/b",      "a\\b",     "a=b",       "[a]",     "a b",         " lead",    "trail ",
        "",         "_",        "_5F",       "A",       "a",           "General",  "%General",
        "#x",       ";x",       "a\"b",      "a,b",     "..",          "a\tb",     "\x95\x5C",
        "\x95\x5C/", "\xBB\xB0", "\x82\xA0\x82\xA2", std::string("z\0z", 3), std::string(255, '\xE0'),
    };
    TestFolder folder;
    Profile profile(folder.Sub("p.ini"));
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(profile.SetInt("Account", names[i], static_cast<int>(i) + 100));
    }
    Profile disk = ReopenedCopy(folder, profile);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(disk.GetInt("Account", names[i], -1), static_cast<int>(i) + 100) << "name #" << i;
    }
    // Nothing leaked into other sections.
    QSettings raw(QString::fromStdString(profile.Path()), QSettings::IniFormat);
    EXPECT_EQ(raw.childGroups(), QStringList{"Account"});
    raw.beginGroup("Account");
    EXPECT_TRUE(raw.childGroups().isEmpty());
    EXPECT_EQ(raw.childKeys().size(), static_cast<qsizetype>(names.size()));
}

// The file is the user's to edit: what a person writes there must read as
// the text it looks like.
TEST(Profile, HandEditedValuesReadAsWritten) {
    TestFolder folder;
    const std::string path = folder.Sub("edited.ini");
    std::ofstream(path) << "[Settings]\nSaveFolder=/home/me/mail, old\nName=\xE8\xA1\xA8\xE7\xA4\xBA\nWidth=640\n";
    Profile profile(path);
    EXPECT_EQ(profile.GetString("Settings", "SaveFolder"), "/home/me/mail, old");
    EXPECT_EQ(profile.GetString("Settings", "Name"), "\x95\x5C\x8E\xA6");  // UTF-8 in the file, CP932 inside
    EXPECT_EQ(profile.GetInt("Settings", "Width", 0), 640);
}

TEST(Profile, SectionsNestAtBackslashes) {
    TestFolder folder;
    Profile profile(folder.Sub("p.ini"));
    ASSERT_TRUE(profile.SetInt("WinPosition\\WinRect", "Left", 10));
    ASSERT_TRUE(profile.SetInt("WinPosition", "WinRect", 7));
    ASSERT_TRUE(profile.SetInt("WinPosition", "Left", 20));
    EXPECT_EQ(profile.GetInt("WinPosition\\WinRect", "Left", 0), 10);
    EXPECT_EQ(profile.GetInt("WinPosition", "Left", 0), 20);
    EXPECT_EQ(profile.GetInt("WinPosition", "WinRect", 0), 7);
    // A section name is not a value name: "WinPosition\\WinRect" is not the
    // value "WinRect\\Left" of "WinPosition".
    EXPECT_FALSE(profile.HasValue("WinPosition", "WinRect\\Left"));

    QSettings raw(QString::fromStdString(profile.Path()), QSettings::IniFormat);
    raw.beginGroup("WinPosition");
    EXPECT_EQ(raw.childGroups(), QStringList{"WinRect"});
}

TEST(Profile, DeletingAValueLeavesEverythingElse) {
    TestFolder folder;
    Profile profile(folder.Sub("p.ini"));
    ASSERT_TRUE(profile.SetBinary("Account", "alice", Bytes("x")));
    ASSERT_TRUE(profile.SetBinary("Account", "bob", Bytes("y")));
    ASSERT_TRUE(profile.SetInt("", "Account", 3));  // a value named like a section
    ASSERT_TRUE(profile.SetInt("WinPosition\\WinRect", "Top", 5));
    ASSERT_TRUE(profile.SetInt("WinPosition", "WinRect", 1));

    EXPECT_TRUE(profile.DeleteValue("Account", "alice"));
    EXPECT_FALSE(profile.HasValue("Account", "alice"));
    EXPECT_TRUE(profile.HasValue("Account", "bob"));

    // Deleting the value must not take the section of the same name with it.
    EXPECT_TRUE(profile.DeleteValue("", "Account"));
    EXPECT_FALSE(profile.HasValue("", "Account"));
    EXPECT_EQ(profile.GetBinary("Account", "bob"), Bytes("y"));
    EXPECT_TRUE(profile.DeleteValue("WinPosition", "WinRect"));
    EXPECT_EQ(profile.GetInt("WinPosition\\WinRect", "Top", 0), 5);

    // Deleting what is not there is no error.
    EXPECT_TRUE(profile.DeleteValue("Account", "nobody"));
    EXPECT_TRUE(profile.DeleteValue("Nowhere", "nobody"));
    Profile disk = ReopenedCopy(folder, profile);
    EXPECT_FALSE(disk.HasValue("Account", "alice"));
    EXPECT_TRUE(disk.HasValue("Account", "bob"));
}

// The main window and the account dialog hold separate objects; the worker
// thread may write too. Each must see the others' values at once, and
// writers at the same time must not lose each other's values.
TEST(Profile, SeparateObjectsAndThreadsShareTheFile) {
    TestFolder folder;
    const std::string path = folder.Sub("shared.ini");
    Profile window(path);
    Profile dialog(path);
    ASSERT_TRUE(dialog.SetBinary("Account", "alice", Bytes("secret")));
    EXPECT_EQ(window.GetBinary("Account", "alice"), Bytes("secret"));
    ASSERT_TRUE(window.DeleteValue("Account", "alice"));
    EXPECT_FALSE(dialog.HasValue("Account", "alice"));

    constexpr int kEach = 40;
    std::vector<int> failures(2, 0);
    std::vector<std::thread> writers;
    for (int t = 0; t < 2; ++t) {
        writers.emplace_back([t, &path, &failures] {
            Profile own(path);
            for (int i = 0; i < kEach; ++i) {
                std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
                if (!own.SetInt("Threads", name, i) || own.GetInt("Threads", name, -1) != i) {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& w : writers) {
        w.join();
    }
    EXPECT_EQ(failures, std::vector<int>(2, 0));
    Profile disk = ReopenedCopy(folder, window);
    for (int t = 0; t < 2; ++t) {
        for (int i = 0; i < kEach; ++i) {
            std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
            EXPECT_EQ(disk.GetInt("Threads", name, -1), i) << name;
        }
    }
}

// A profile that cannot be written says so instead of pretending.
TEST(Profile, UnwritableFileIsReported) {
    TestFolder folder;
    std::ofstream(folder.Sub("file")) << "in the way";
    Profile profile(folder.Sub("file/p.ini"));
    EXPECT_FALSE(profile.SetInt("Settings", "Width", 1));
    EXPECT_FALSE(profile.SetString("Settings", "Name", "x"));
    EXPECT_EQ(profile.GetInt("Settings", "Width", 9), 9);
}

TEST(Profile, TheUsersProfileLivesUnderTheConfigFolder) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config == nullptr) {
        GTEST_SKIP() << "XDG_CONFIG_HOME is not set; the test would touch the real profile";
    }
    Profile profile;
    EXPECT_EQ(profile.Path(), std::string(config) + "/Moorfield/Wrenpost.ini");
}

}  // namespace
}  // namespace wp
