#pragma once
// The text of a fetched mail as the viewer shows it: converted from the
// stored reply, split into header and body, the attachment names, the live
// text while the reply arrives, and the copy that the viewer saves. Plain
// C++ over CP932 bytes, so the viewer, wrenpost-cli and the tests share it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/header_fields.h"

namespace wp {

// Undoes the POP3 framing of a RETR reply in place: the terminating "."
// line goes and a line that begins with "." loses that "." (dot-stuffing);
// the status line stays first, line ends stay as received.
void UnstuffReply(std::string& reply);
// The offset of the first "\n." at or after `from`, else npos.
std::size_t FindDotLine(std::string_view text, std::size_t from);

// The text to show of a stored RETR reply: unstuffed, then converted from
// `code` (-1 detects it) to Shift_JIS up to its first zero byte, as
// ConvertToFile converts, status line still first. The one place that turns
// a stored mail into what is shown.
std::string MailTextToShow(std::string raw, std::int32_t code);

// Attachment names are cut to this many bytes before decoding.
inline constexpr std::size_t kAttachmentNameMax = 259;
// A list longer than this helps nobody, and every name costs a search
// through the rest of the mail.
inline constexpr std::size_t kAttachmentListMax = 256;

// The file names of the Content-Disposition fields after the status line of
// a converted mail, in order, decoded to CP932. A field without
// "filename=" (any case) adds nothing.
std::vector<std::string> AttachmentNames(std::string_view text, const InvalidCharReport& report = {});

// What the text control and the hidden header control hold.
struct MailTextParts {
    std::string header;    // the hidden header control
    std::string body;      // the text control
    bool unicode = false;  // both are UTF-8 (the MIME reading), else CP932
    // The body's text starts here: a split without a copy leaves what
    // came before in place rather than moving megabytes.
    std::size_t bodyFrom = 0;
};

// What the viewer can show of one stored mail.
struct MailView {
    // MailTextToShow of it: CP932, status line first. The source view, and
    // all there is for a mail that needs no MIME reading.
    std::string legacy;
    // The MIME reading applies (decode/mime_body.h).
    bool decoded = false;
    std::string header;  // UTF-8: the header as received, its empty line included
    std::string body;    // UTF-8: the text part, decoded
    std::vector<std::string> attachments;  // CP932, decoded names
};

// The view of a stored RETR reply with the code choice (-1 automatic,
// 0-2 the Japanese three, 3 UTF-8). Without source, a decoded view leaves
// `legacy` empty (the whole mail converted a second time for a view the
// user seldom asks for); the caller makes it from the stored reply when
// asked. A view without the MIME reading always has its legacy text.
MailView ViewOfMail(std::string raw, std::int32_t code, const InvalidCharReport& report = {},
                    bool withSource = true);
// The same for a reply already made text (unstuffed, up to its first zero
// byte: what MailTextToShow converts). `legacy`, when given, is that text
// converted already as MailTextToShow converts it for `code`.
MailView ViewOfReplyText(std::string text, std::int32_t code, const InvalidCharReport& report, bool withSource,
                         std::optional<std::string> legacy = std::nullopt);

// The controls' texts of a view: the decoded reading, or with source (or
// for a mail without MIME reading) the legacy text split as before.
MailTextParts PartsToShow(const MailView& view, bool headerShown, bool source);

// A converted mail without its status line: all of it in the body while the
// header is shown; otherwise the header part up to and including the first
// empty line, and the rest. Without an empty line all is header; without
// any line end nothing is shown at all.
MailTextParts SplitMailText(std::string_view text, bool headerShown);
// The header toggle: the header goes above the body, or back out of it.
void ShowHeaderPart(MailTextParts& parts);
void HideHeaderPart(MailTextParts& parts);

// The live text of a RETR reply while it arrives, split by the same rule as
// a finished mail: the status line is skipped, and with the header hidden
// the body starts after the first empty line. Chunks may end anywhere.
class LiveMailText {
public:
    explicit LiveMailText(bool headerShown = false) : headerShown_(headerShown) {}

    void Clear(bool headerShown);
    // The bytes to append to the text control for this chunk; the header
    // part (while hidden) is in Header(). Valid while the chunk is and until
    // the next call.
    std::string_view Append(std::string_view chunk);
    const std::string& Header() const { return header_; }
    // The header part is whole: its empty line has arrived.
    bool HeaderDone() const { return split_; }
    bool HeaderShown() const { return headerShown_; }

private:
    static constexpr std::size_t kStatusLineMax = 1024;

    bool headerShown_;
    bool statusDone_ = false;
    bool split_ = false;
    std::string status_;
    std::string header_;
    std::string out_;
};

// The file the viewer's save writes: the stored reply without its status
// line and its terminating "." line, with the dot-stuffing undone; line ends
// stay as received.
std::string SavedMailBytes(std::string_view stored);
// The same without a copy: `reply` is unstuffed in place and the result
// points into it.
std::string_view SavedMailView(std::string& reply);

// Writes `bytes` to `path` in full or not at all: a sibling is written and
// renamed over the file. False with the errno value in *error when it fails;
// an existing file then stays as it was.
bool ReplaceFileWith(const std::string& path, std::string_view bytes, int* error);

// SplitMailText of a converted mail with the header hidden, without a copy
// of the body: `text` becomes the body, which starts after its status line
// and its header part (`bodyFrom`). The header part followed by the body is
// what SplitMailText shows with the header.
MailTextParts TakeMailTextParts(std::string text);
// The same for a text without a status line.
MailTextParts TakeHeaderPart(std::string text);

}  // namespace wp
