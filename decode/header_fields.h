#pragma once
// The header fields the list and the viewer show, taken raw out of a header
// text, and the decoding of ISO-2022-JP encoded words into CP932.
//
// A header text ends at its first zero byte, as the C string it is stored as.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace wp {

// Size of the work buffers, terminator included: the converted text of each
// piece and decoded word of a value, and the From line. What does not fit is
// cut off, in whole characters.
inline constexpr std::size_t kHeaderWorkBuffer = 1024;

// Told of a base64 character outside the alphabet. DecodeHeaderText calls it
// at most once per value, with the first such character.
using InvalidCharReport = std::function<void(char)>;

// Raw (undecoded) values; empty when the field is missing.
std::string GetSubject(std::string_view text);
std::string GetFrom(std::string_view text);
std::string GetDate(std::string_view text);
std::string GetContentType(std::string_view text);
// fieldStart (optional) receives the offset in text where the field's name
// starts, or std::string_view::npos when there is none. The next MIME part's
// field is found by searching again from two bytes after that offset.
std::string GetContentDisposition(std::string_view text, std::size_t* fieldStart);

// Decodes a raw field value (B and Q encoded words in ISO-2022-JP, plain text
// in JIS or raw Shift_JIS) into CP932. The result is never longer than value.
std::string DecodeHeaderText(std::string_view value, const InvalidCharReport& report = {});

// One piece or decoded word from ISO-2022-JP to CP932, starting in roman mode.
// Ends at the first zero byte, at an invalid kanji pair, and at 1023 bytes.
std::string JisHeaderToSjis(std::string_view jis);

}  // namespace wp
