#pragma once
// Account names and mail text turned into something a file name may hold.
// Both work byte by byte: a trail byte of a double-byte character that equals
// a forbidden character is treated like that character, so that the file
// stems of existing cache files stay what they always were.

#include <string>
#include <string_view>

namespace wp {

// The eleven characters file names may not hold: \ / : , ; * ? " < > |
bool IsForbiddenFileNameChar(unsigned char ch);

// Removes every forbidden byte and closes the gap; control bytes stay.
// The result is an account's file stem. The in-place form returns 1.
int StripFileNameChars(char* text);
std::string StripFileNameChars(std::string_view text);

// Replaces every forbidden byte and every byte from 1 to 31 with '_';
// bytes from 128 up are never touched. The in-place form returns 1.
int ReplaceFileNameChars(char* text);
std::string ReplaceFileNameChars(std::string_view text);

// The same for names made from mail text, character by character: the
// second byte of a double-byte character (0x5C in ソ and 表, 0x7C in 杏)
// is part of that character and stays.
std::string ReplaceFileNameCharsPerCharacter(std::string_view text);

}  // namespace wp
