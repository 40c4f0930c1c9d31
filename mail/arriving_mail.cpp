#include "mail/arriving_mail.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "decode/charset.h"
#include "decode/kanji_converter.h"
#include "decode/mime_body.h"

namespace wp {

namespace {

constexpr std::string_view::size_type npos = std::string_view::npos;
// What a listed size may make us reserve in advance.
constexpr std::size_t kReserveLimit = 64u * 1024 * 1024;

std::int32_t LegacyCode(std::int32_t code) {
    if (code == KANJI_UTF8 || code < KANJI_SJIS || code > KANJI_EUC) {
        return KANJI_AUTO;
    }
    return code;
}

bool HasHighByte(std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if ((word & 0x8080808080808080u) != 0) {
            return true;
        }
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            return true;
        }
    }
    return false;
}

}  // namespace

ArrivingMail::ArrivingMail(std::int32_t code, bool withSource, std::size_t expected)
    : code_(code), withSource_(withSource) {
    const std::size_t room = std::min(expected, kReserveLimit);
    text_.reserve(room + 4096);
}

void ArrivingMail::Unstuffed(std::string_view part) {
    if (cut_ || part.empty()) {
        return;
    }
    if (const void* zero = std::memchr(part.data(), 0, part.size())) {
        part = part.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - part.data()));
        cut_ = true;
    }
    if (dropped_ > 0) {
        // Past the header and converted along: straight to the converter.
        highByte_ = highByte_ || HasHighByte(part);
        converter_->Feed(part.data(), part.size(), legacy_);
        dropped_ += part.size();
        return;
    }
    text_.append(part);
}

void ArrivingMail::Append(std::string_view piece) {
    while (!piece.empty()) {
        if (!statusDone_) {
            const std::size_t eol = piece.find('\n');
            const std::size_t take = eol == npos ? piece.size() : eol + 1;
            Unstuffed(piece.substr(0, take));
            piece.remove_prefix(take);
            if (eol != npos) {
                statusDone_ = true;
                lineStart_ = true;
            }
            continue;
        }
        if (dotHeld_) {
            // The terminating line is ".", ".\r", ".\n" or ".\r\n" with
            // nothing after it; anything else makes the "." a stuffed one.
            const std::string next = held_ + piece.front();
            if (next == "\r" || next == "\n" || next == "\r\n") {
                held_ = next;
                piece.remove_prefix(1);
                continue;
            }
            dotHeld_ = false;
            std::string released;
            released.swap(held_);
            if (!released.empty()) {
                Unstuffed(released);
                lineStart_ = released.back() == '\n';
            }
            continue;
        }
        if (lineStart_ && piece.front() == '.') {
            dotHeld_ = true;
            lineStart_ = false;
            piece.remove_prefix(1);
            continue;
        }
        const std::size_t dotLine = FindDotLine(piece, 0);
        const std::size_t take = dotLine == npos ? piece.size() : dotLine + 1;
        Unstuffed(piece.substr(0, take));
        lineStart_ = piece[take - 1] == '\n';
        piece.remove_prefix(take);
    }
    Convert();
}

void ArrivingMail::Convert() {
    if (legacyState_ == Legacy::kHeader) {
        if (!statusDone_) {
            return;
        }
        const std::size_t status = text_.find('\n');
        if (status == npos) {
            return;  // cut at a zero byte in the status line
        }
        const std::string_view mail = std::string_view(text_).substr(status + 1);
        // The header ends at its first empty line, as the MIME reading splits it.
        std::size_t headerEnd = npos;
        if (mail.starts_with("\r\n")) {
            headerEnd = 2;
        } else if (mail.starts_with("\n")) {
            headerEnd = 1;
        }
        std::size_t at = headerLooked_;
        while (headerEnd == npos && at + 2 < mail.size()) {
            const void* lf = std::memchr(mail.data() + at, '\n', mail.size() - 2 - at);
            if (lf == nullptr) {
                at = mail.size() - 2;
                break;
            }
            at = static_cast<std::size_t>(static_cast<const char*>(lf) - mail.data());
            if (at > 0 && mail[at - 1] == '\r' && mail[at + 1] == '\r' && mail[at + 2] == '\n') {
                headerEnd = at + 3;
            } else if (mail[at + 1] == '\n') {
                headerEnd = at + 2;
            }
            ++at;
        }
        headerLooked_ = at;
        if (headerEnd == npos) {
            return;
        }
        const std::int32_t legacyCode = LegacyCode(code_);
        // A mail the header already marks for the MIME reading needs its
        // converted text only for the source; one in Shift_JIS needs none.
        if ((!withSource_ && NeedsMimeReading(mail.substr(0, headerEnd), code_)) ||
            legacyCode == KANJI_SJIS) {
            legacyState_ = Legacy::kNone;
            return;
        }
        bodyStart_ = status + 1 + headerEnd;
        legacyState_ = legacyCode == KANJI_EUC ? Legacy::kReady : Legacy::kDesignation;
        source_ = legacyCode == KANJI_EUC ? KANJI_EUC : KANJI_JIS;
    }
    if (legacyState_ == Legacy::kDesignation) {
        // Detection and the JIS reading both settle on a designation
        // written as it is; without one the whole text decides at the end.
        if (FindJisDesignation(text_, looked_) == npos) {
            // An ESC in the last two bytes is looked at again with more.
            looked_ = std::max(looked_, text_.size() >= 2 ? text_.size() - 2 : 0);
            return;
        }
        legacyState_ = Legacy::kReady;
    }
    if (legacyState_ == Legacy::kReady) {
        converter_ = std::make_unique<KanjiStreamConverter>(source_, KANJI_SJIS);
        legacy_.reserve(text_.capacity());
        legacyState_ = Legacy::kConverting;
    }
    if (legacyState_ == Legacy::kConverting) {
        converter_->Feed(text_.data() + converted_, text_.size() - converted_, legacy_);
        converted_ = text_.size();
        if (!withSource_) {
            // Converted, the text is needed no more: megabytes are not held twice.
            const std::size_t from =
                bodyStart_ > dropped_ ? std::min(bodyStart_ - dropped_, text_.size()) : 0;
            highByte_ = highByte_ || HasHighByte(std::string_view(text_).substr(from));
            dropped_ += text_.size();
            text_.clear();
            converted_ = 0;
        }
    }
}

MailView ArrivingMail::Finish(std::int32_t code, const InvalidCharReport& report, const ReplyAgain& reply) {
    // A "." line held at the end is the terminating line: it goes.
    dotHeld_ = false;
    held_.clear();
    if (dropped_ > 0) {
        // The header asked for no MIME reading and the body, without an
        // 8-bit byte, is no UTF-8: the converted text is the whole view.
        if (code != code_ || highByte_) {
            if (std::optional<std::string> again = reply ? reply() : std::nullopt) {
                converter_.reset();
                std::string().swap(legacy_);
                return ViewOfMail(std::move(*again), code, report, withSource_);
            }
            // Without the reply again, the reading made on the way is what there is.
        }
        Convert();
        converter_->Finish(legacy_);
        converter_.reset();
        MailView view;
        view.legacy = std::move(legacy_);
        view.attachments = AttachmentNames(view.legacy, report);
        return view;
    }
    std::optional<std::string> legacy;
    if (legacyState_ == Legacy::kConverting && LegacyCode(code) == LegacyCode(code_)) {
        Convert();
        converter_->Finish(legacy_);
        legacy = std::move(legacy_);
    }
    converter_.reset();
    std::string().swap(legacy_);
    return ViewOfReplyText(std::move(text_), code, report, withSource_, std::move(legacy));
}

}  // namespace wp
