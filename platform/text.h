#pragma once
// The one boundary between the system's code page 932 bytes and Unicode.
// Mapping is Microsoft's CP932: 0x5C and 0x7E stay ASCII, 0x8160 is U+FF5E,
// 0x815F is U+FF3C, NEC row 13 and the IBM extensions decode.

#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace wp {

// Invalid or truncated sequences become U+FFFD; never fails.
QString Cp932ToQString(std::string_view cp932);
std::string Cp932ToUtf8(std::string_view cp932);

// Text a user typed: nullopt when a character has no CP932 form (invisible
// format characters such as U+200B included), so the caller can refuse it
// instead of storing a mangled value. Look-alikes that Japanese input methods
// type (U+301C, U+2212, U+2016, U+00A2 ...) take their CP932 forms.
std::optional<std::string> QStringToCp932(const QString& text);
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

// For text that must go through whatever it holds (mail text turned back into
// bytes); characters without a CP932 form become '?', invisible format
// characters are dropped.
std::string QStringToCp932Lossy(const QString& text);

// Cuts UTF-8 text to at most maxBytes without splitting a character.
std::string TruncateUtf8(std::string_view utf8, std::size_t maxBytes);

}  // namespace wp
