#pragma once
// A RETR reply made ready for the viewer while it arrives. The worker mostly
// waits for the server during a large RETR; what ViewOfMail would do after
// it (undo the framing, cut at the first zero byte, convert to Shift_JIS)
// is done here piece by piece in that time, so that showing the mail costs
// little once its last piece is in. The result is the same bytes as
// ViewOfMail of the whole reply.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "decode/header_fields.h"
#include "decode/kanji_stream.h"
#include "mail/mail_text.h"

namespace wp {

class ArrivingMail {
public:
    // code: the viewer's code choice as the reply starts (-1 automatic, 0-2
    // the Japanese three, 3 UTF-8); expected: the listed size, for room.
    ArrivingMail(std::int32_t code, bool withSource, std::size_t expected = 0);

    // The next piece of the reply, wherever it ends.
    void Append(std::string_view piece);

    // The view once the whole reply is in, for the code choice as it is now.
    // Without source, the text of a mail converted on the way is not kept
    // beside its converted form; should the choice have changed meanwhile,
    // or the body turn out to need the MIME reading, `reply` gives the whole
    // reply again (the stored file). Call once.
    using ReplyAgain = std::function<std::optional<std::string>()>;
    MailView Finish(std::int32_t code, const InvalidCharReport& report = {}, const ReplyAgain& reply = {});

private:
    void Unstuffed(std::string_view part);
    // Converts what has come so far, once the code is certain.
    void Convert();

    std::int32_t code_;
    bool withSource_;
    // The framing: the status line, a line start, a line-start "." held with
    // what follows it until it is known not to be the terminating line.
    bool statusDone_ = false;
    bool lineStart_ = false;
    bool dotHeld_ = false;
    std::string held_;
    // The text up to its first zero byte.
    std::string text_;
    bool cut_ = false;
    // The converted text, while it is made along.
    // the header's end, then (JIS or detected) a designation, then the
    // converter along the text; none when no converted text is wanted.
    enum class Legacy { kHeader, kDesignation, kReady, kConverting, kNone };
    Legacy legacyState_ = Legacy::kHeader;
    std::int32_t source_ = KANJI_AUTO;
    std::size_t headerLooked_ = 0;  // of the mail after the status line
    std::size_t looked_ = 0;        // text_ searched so far for a designation
    std::size_t converted_ = 0;     // text_ fed to the converter so far
    std::unique_ptr<KanjiStreamConverter> converter_;
    std::string legacy_;
    // The text given up once converted (without source): how much of it,
    // where its body starts, and whether the body has an 8-bit byte (which
    // may make it UTF-8 and so the MIME reading's).
    std::size_t dropped_ = 0;
    std::size_t bodyStart_ = 0;
    bool highByte_ = false;
};

}  // namespace wp
