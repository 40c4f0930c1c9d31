#pragma once
// Declared charsets: any text ICU knows, to Unicode (UTF-8) for the viewer
// and to CP932 for the list. The Japanese three keep going through the
// kanji converter, so they read exactly as they always have.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wp {

// The viewer's fifth code choice, kept in "Encode" like the other four.
constexpr std::int32_t KANJI_UTF8 = 3;

// The code of the kanji converter for a charset name of the Japanese three
// (any case, the usual aliases); -2 for any other name.
std::int32_t KanjiCodeOfCharset(std::string_view charset);

// Text in the named charset as UTF-8. nullopt when ICU does not know the
// name, or when the bytes are not valid in it (so the caller can detect
// the code instead of showing a wrong reading).
std::optional<std::string> CharsetToUtf8(std::string_view bytes, std::string_view charset);

// CP932 (Microsoft's mapping) to UTF-8; a byte that is no character becomes
// U+FFFD.
std::string Cp932TextToUtf8(std::string_view cp932);

// UTF-8 to CP932. A character CP932 cannot hold, and a byte that is no
// UTF-8, becomes 〓 (0x81AC): never "?", never a broken byte.
std::string Utf8ToCp932Geta(std::string_view utf8);

// Valid UTF-8 with at least one multi-byte sequence.
bool LooksLikeUtf8(std::string_view bytes);

// Any text to UTF-8 by the viewer's code choice: a declared charset first
// (when the choice is automatic and the bytes are valid in it), then UTF-8
// when the text is that, then the kanji converter's detection. A forced
// choice (JIS, S-JIS, EUC, UTF-8) is taken as it is.
std::string TextToUtf8(std::string_view bytes, std::string_view declared, std::int32_t code);

}  // namespace wp
