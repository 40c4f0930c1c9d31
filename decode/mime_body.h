#pragma once
// Reading a mail the way its MIME structure says: transfer encodings,
// declared charsets, the part that holds the text, the names of the rest.
// Plain C++; the text comes out as UTF-8, names as CP932 like the list's.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/header_fields.h"

namespace wp {

// An unfolded field of a header part (up to its first empty line), found by
// name in any case at the start of a line; nullopt when it is missing.
std::optional<std::string> MimeField(std::string_view header, std::string_view name);

// A parameter of a structured value ("text/plain; charset=...",
// "attachment; filename=..."): a token or a quoted string, or the RFC 2231
// form with its sections ("name*0*=", "name*1=") joined and its
// percent-escapes undone. charset (optional) receives the charset the
// RFC 2231 form names; empty for the plain form.
std::optional<std::string> MimeParameter(std::string_view value, std::string_view name,
                                         std::string* charset = nullptr);

// A part's file name from its Content-Disposition value, else the name of
// its Content-Type value, decoded to CP932 (encoded words as header text,
// RFC 2231 charsets through the charset layer). Empty when it has none.
std::string MimeFileName(std::string_view disposition, std::string_view contentType,
                         const InvalidCharReport& report = {});

// True when the mail's own header asks for the MIME reading: multipart,
// message or HTML content, a base64 or quoted-printable body, a declared
// charset beyond the Japanese three; with the automatic choice also a body
// in UTF-8, and with the UTF-8 choice always. A mail without any of these
// reads exactly as it always has.
bool NeedsMimeReading(std::string_view mail, std::int32_t code);

struct MimeReading {
    std::string body;                      // UTF-8, CR LF line ends
    std::vector<std::string> attachments;  // CP932, in the mail's order
};

// The mail's text: its first text/plain part that is no attachment (nested
// multiparts walked, of multipart/related only the start), or else the
// first such text/html part with its markup removed; forwarded mails
// (message/rfc822) are read when the mail has no text of its own. Every
// other part with a name, or that is no text, is listed by name. mail
// holds header and body, without a status line.
MimeReading ReadMimeBody(std::string_view mail, std::int32_t code, const InvalidCharReport& report = {});

// HTML as plain text: tags removed, script and style dropped, block ends
// and <br> as line breaks, character references decoded. Nothing is fetched.
std::string HtmlToText(std::string_view html);

// Transfer decodings. Characters outside the base64 alphabet are skipped,
// as a broken line would otherwise lose the rest of the part.
std::string DecodeBase64Body(std::string_view text);
std::string DecodeQuotedPrintableBody(std::string_view text);

}  // namespace wp
