#include "accounts/file_name_chars.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wp {
namespace {

struct NameCase {
    const char* what;
    std::string input;
    std::string stripped;
    std::string replaced;
};

// The stripped form names an account's cache files, so it must match what
// existing cache files were named: byte by byte, trail bytes included.
TEST(FileNameChars, StripAndReplaceByteByByte) {
    const NameCase cases[] = {
        {"colon and slash", "a:b/c", "abc", "a_b_c"},
        {"all eleven", "\\/:,;*?\"<>|", "", "___________"},
        {"tab stays when stripping", "a\tb", "a\tb", "a_b"},
        {"control bytes", "\x01x\x1f", "\x01x\x1f", "_x_"},
        {"space, DEL and '=' are allowed", "a b\x7f=", "a b\x7f=", "a b\x7f="},
        {"plain kanji", "\x8a\xbf\x8e\x9a", "\x8a\xbf\x8e\x9a", "\x8a\xbf\x8e\x9a"},
        {"trail byte 0x5C of a double-byte character",
         "\x83\x5c"
         "x",
         "\x83x", "\x83_x"},
        {"trail byte 0x7C of a double-byte character", "\x83\x7c", "\x83", "\x83_"},
        {"high bytes never replaced", "\x80\xa0\xdf\xff", "\x80\xa0\xdf\xff", "\x80\xa0\xdf\xff"},
        {"empty", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(StripFileNameChars(c.input), c.stripped);
        EXPECT_EQ(ReplaceFileNameChars(c.input), c.replaced);

        std::vector<char> buffer(c.input.begin(), c.input.end());
        buffer.push_back('\0');
        EXPECT_EQ(StripFileNameChars(buffer.data()), 1);
        EXPECT_EQ(std::string(buffer.data()), c.stripped);

        buffer.assign(c.input.begin(), c.input.end());
        buffer.push_back('\0');
        EXPECT_EQ(ReplaceFileNameChars(buffer.data()), 1);
        EXPECT_EQ(std::string(buffer.data()), c.replaced);
    }
}

// Every single byte: exactly the eleven are forbidden, 1-31 are replaced too,
// and the in-place and string forms agree.
TEST(FileNameChars, EveryByteValue) {
    const std::string forbidden = "\\/:,;*?\"<>|";
    for (int value = 1; value < 256; ++value) {
        SCOPED_TRACE(value);
        char ch = static_cast<char>(value);
        bool isForbidden = forbidden.find(ch) != std::string::npos;
        EXPECT_EQ(IsForbiddenFileNameChar(static_cast<unsigned char>(value)), isForbidden);

        std::string one(1, ch);
        EXPECT_EQ(StripFileNameChars(one), isForbidden ? "" : one);
        bool replace = isForbidden || value < 32;
        EXPECT_EQ(ReplaceFileNameChars(one), replace ? "_" : one);

        char buffer[2] = {ch, '\0'};
        ReplaceFileNameChars(buffer);
        EXPECT_EQ(std::string(buffer), ReplaceFileNameChars(one));
    }
}

TEST(FileNameChars, NullPointerIsHarmless) {
    EXPECT_EQ(StripFileNameChars(static_cast<char*>(nullptr)), 1);
    EXPECT_EQ(ReplaceFileNameChars(static_cast<char*>(nullptr)), 1);
}

// Names made from mail text (the viewer's save) go character by character:
// a double-byte character whose second byte is 0x5C or 0x7C is one
// character, not a backslash or a bar.
TEST(FileNameChars, PerCharacterKeepsDoubleByteCharactersWhole) {
    const struct {
        const char* what;
        std::string input;
        std::string replaced;
    } cases[] = {
        {"ソフト/表 (both with trail byte 0x5C)", "\x83\x5c\x83\x74\x83\x67/\x95\x5c",
         "\x83\x5c\x83\x74\x83\x67_\x95\x5c"},
        {"trail byte 0x7C", "\x88\x7c|", "\x88\x7c_"},
        {"slash and colon", "Re: a/b", "Re_ a_b"},
        {"all eleven and control bytes", "\\/:,;*?\"<>|\x01\x1f", "_____________"},
        {"half-width kana are single bytes", "\xbf\\", "\xbf_"},
        {"a lead byte without its second byte at the end", "a\x83", "a\x83"},
        {"a lead byte before a forbidden byte that cannot be its second", "\x83/", "\x83_"},
        {"a lead byte before a control byte", "\x83\x09x", "\x83_x"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ReplaceFileNameCharsPerCharacter(c.input), c.replaced);
    }
}

}  // namespace
}  // namespace wp
