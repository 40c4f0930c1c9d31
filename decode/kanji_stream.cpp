#include "decode/kanji_stream.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace wp {

namespace {

using Byte = unsigned char;
constexpr Byte kEsc = 0x1B;

}  // namespace

void KanjiStreamDetector::Feed(const char* data, std::size_t length) {
    if (length == 0) {
        return;
    }
    const auto* p = reinterpret_cast<const Byte*>(data);
    length_ += length;

    // Raw escapes: an ESC whose two following bytes designate kanji or kana,
    // also across the pieces.
    if (!jisEscape_) {
        Byte joined[4];
        std::size_t n = 0;
        for (std::size_t i = 0; i < tailSize_; ++i) {
            joined[n++] = tail_[i];
        }
        for (std::size_t i = 0; i < 2 && i < length; ++i) {
            joined[n++] = p[i];
        }
        for (std::size_t i = 0; i + 2 < n && i < tailSize_; ++i) {
            if (joined[i] == kEsc && IsJisDesignation(joined[i + 1], joined[i + 2])) {
                jisEscape_ = true;
            }
        }
        for (const Byte* at = p; !jisEscape_ && length >= 3 && at < p + length - 2;) {
            const void* hit = std::memchr(at, kEsc, static_cast<std::size_t>(p + length - 2 - at));
            if (hit == nullptr) {
                break;
            }
            at = static_cast<const Byte*>(hit);
            jisEscape_ = IsJisDesignation(at[1], at[2]);
            ++at;
        }
        // The last two bytes wait for the next piece.
        std::size_t keep = std::min<std::size_t>(2, tailSize_ + length);
        Byte last[4];
        std::size_t m = 0;
        for (std::size_t i = 0; i < tailSize_; ++i) {
            last[m++] = tail_[i];
        }
        for (std::size_t i = length > 2 ? length - 2 : 0; i < length; ++i) {
            last[m++] = p[i];
        }
        for (std::size_t i = 0; i < keep; ++i) {
            tail_[i] = last[m - keep + i];
        }
        tailSize_ = keep;
    }

    // Quoted escapes after the first empty line; moot once a raw one is seen.
    std::string_view piece(data, length);
    if (!quotedJis_ && !jisEscape_) {
        std::size_t from = length;
        if (!blankFound_) {
            const std::string edge = blankTail_ + std::string(piece.substr(0, std::min<std::size_t>(3, length)));
            if (std::size_t at = edge.find("\r\n\r\n"); at != std::string::npos) {
                blankFound_ = true;
                from = at + 4 - blankTail_.size();
            } else if (std::size_t inPiece = piece.find("\r\n\r\n"); inPiece != std::string_view::npos) {
                blankFound_ = true;
                from = inPiece + 4;
            } else {
                const std::string joined = blankTail_ + std::string(piece.substr(length > 3 ? length - 3 : 0));
                blankTail_ = joined.substr(joined.size() > 3 ? joined.size() - 3 : 0);
            }
        } else {
            from = 0;
        }
        if (blankFound_) {
            auto quotedAt = [](std::string_view text) {
                for (std::size_t at = text.find("=1B"); at != std::string_view::npos; at = text.find("=1B", at + 1)) {
                    if (at + 5 <= text.size() &&
                        IsJisDesignation(static_cast<Byte>(text[at + 3]), static_cast<Byte>(text[at + 4]))) {
                        return true;
                    }
                }
                return false;
            };
            std::string_view rest = piece.substr(std::min(from, length));
            const std::string edge = quotedTail_ + std::string(rest.substr(0, std::min<std::size_t>(4, rest.size())));
            quotedJis_ = quotedAt(edge) || quotedAt(rest);
            const std::string joined = quotedTail_ + std::string(rest.substr(rest.size() > 4 ? rest.size() - 4 : 0));
            quotedTail_ = joined.substr(joined.size() > 4 ? joined.size() - 4 : 0);
        }
    }

    // Line scores, as DetectCode's: the first line whose two scores differ.
    for (std::size_t i = 0; i < length && lineCode_ < 0 && !jisEscape_; ++i) {
        const Byte b = p[i];
        if (b == '\n') {
            const int sjis = (sjisDead_ || sjisSecond_) ? 0 : sjisScore_;
            const int euc = (eucDead_ || eucState_ != 0) ? 0 : 100;
            if (sjis != euc) {
                lineCode_ = sjis > euc ? KANJI_SJIS : KANJI_EUC;
            }
            sjisScore_ = 100;
            sjisSecond_ = false;
            sjisDead_ = false;
            eucState_ = 0;
            eucDead_ = false;
            continue;
        }
        if (!sjisDead_) {
            if (sjisSecond_) {
                if (b < 0x40 || b > 0xFC) {
                    sjisDead_ = true;
                }
                sjisSecond_ = false;
            } else if ((b >= 0x81 && b <= 0x9F) || b >= 0xE0) {
                if (b >= 0xEB) {
                    sjisScore_ -= 50;
                    if (sjisScore_ == 0) {
                        sjisDead_ = true;
                    }
                }
                sjisSecond_ = true;
            }
        }
        if (!eucDead_) {
            if (eucState_ == 1) {
                eucDead_ = b < 0xA1 || b > 0xFE;
                eucState_ = 0;
            } else if (eucState_ == 2) {
                eucDead_ = b < 0xA0 || b > 0xDF;
                eucState_ = 0;
            } else if (b == 0x8E) {
                eucState_ = 2;
            } else if (b >= 0xA1 && b <= 0xFE) {
                eucState_ = 1;
            }
        }
    }

    // UTF-8
    for (std::size_t i = 0; i < length && utf8Valid_; ++i) {
        const Byte b = p[i];
        if (utf8Need_ > 0) {
            if ((b & 0xC0) != 0x80) {
                utf8Valid_ = false;
                break;
            }
            utf8Code_ = (utf8Code_ << 6) | (b & 0x3F);
            if (--utf8Need_ == 0) {
                if ((utf8Length_ == 3 && utf8Code_ < 0x800) ||
                    (utf8Length_ == 4 && (utf8Code_ < 0x10000 || utf8Code_ > 0x10FFFF)) ||
                    (utf8Code_ >= 0xD800 && utf8Code_ <= 0xDFFF)) {
                    utf8Valid_ = false;
                }
                utf8Multi_ = true;
            }
            continue;
        }
        if (b < 0x80) {
            // Runs of 7-bit bytes are most of any text.
            while (i + 9 <= length) {
                std::uint64_t word;
                std::memcpy(&word, p + i + 1, 8);
                if (word & 0x8080808080808080ULL) {
                    break;
                }
                i += 8;
            }
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF) {
            utf8Need_ = 1;
            utf8Code_ = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            utf8Need_ = 2;
            utf8Code_ = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            utf8Need_ = 3;
            utf8Code_ = b & 0x07;
        } else {
            utf8Valid_ = false;
        }
        utf8Length_ = utf8Need_ + 1;
    }
}

std::int32_t KanjiStreamDetector::Code() const {
    if (length_ < 2) {
        return KANJI_SJIS;
    }
    if (jisEscape_ || quotedJis_) {
        return KANJI_JIS;
    }
    if (lineCode_ >= 0) {
        return lineCode_;
    }
    // The last line has no line end.
    const int sjis = (sjisDead_ || sjisSecond_) ? 0 : sjisScore_;
    const int euc = (eucDead_ || eucState_ != 0) ? 0 : 100;
    if (sjis != euc) {
        return sjis > euc ? KANJI_SJIS : KANJI_EUC;
    }
    return KANJI_SJIS;
}

KanjiStreamConverter::KanjiStreamConverter(std::int32_t sourceCode, std::int32_t targetCode, std::size_t chunk)
    : source_(sourceCode), target_(targetCode), chunk_(std::max(chunk, kKanjiMinChunk)) {
    if (source_ == target_) {
        copy_ = true;
        return;
    }
    Routine toSjis = source_ == KANJI_JIS ? &CKanjiConverter::JisToSjis : &CKanjiConverter::EucToSjis;
    Routine fromSjis = target_ == KANJI_JIS ? &CKanjiConverter::SjisToJis : &CKanjiConverter::SjisToEuc;
    if (source_ == KANJI_SJIS) {
        first_.routine = fromSjis;
    } else {
        first_.routine = toSjis;
        if (target_ != KANJI_SJIS) {
            twoLegs_ = true;
            second_.routine = fromSjis;
            // The first leg has widened every half-width katakana already.
            second_.state.widenKana = 0;
        }
    }
    if (first_.routine == &CKanjiConverter::JisToSjis) {
        // Its first call looks for quoted escapes in what it is given; a
        // piece is not the text, so that look is made with nothing.
        static const Byte kNothing = 0;
        first_.state.src = &kNothing;
        first_.state.srcLeft = 0;
        std::string ignored;
        Run(first_, nullptr, 0, ignored);
    }
}

void KanjiStreamConverter::Run(Leg& leg, const char* data, std::size_t length, std::string& out) {
    KanjiConvState& st = leg.state;
    if (data != nullptr) {
        st.src = reinterpret_cast<const Byte*>(data);
        st.srcLeft = static_cast<std::ptrdiff_t>(length);
    }
    const std::size_t size = std::max(std::min(chunk_, length + 3), kKanjiMinChunk);
    int more;
    do {
        const std::size_t used = out.size();
        out.resize(used + size);
        st.dst = reinterpret_cast<Byte*>(out.data()) + used;
        st.dstSize = size;
        more = leg.routine(st);
        out.resize(used + static_cast<std::size_t>(st.dstUsed));
    } while (more != 0);
}

void KanjiStreamConverter::Flush(Leg& leg, std::string& out) {
    KanjiConvState& st = leg.state;
    if (st.flushKana == nullptr) {
        return;
    }
    const std::size_t used = out.size();
    out.resize(used + kKanjiMinChunk);
    st.dst = reinterpret_cast<Byte*>(out.data()) + used;
    st.dstSize = kKanjiMinChunk;
    st.flushKana(st);
    out.resize(used + static_cast<std::size_t>(st.dstUsed));
}

void KanjiStreamConverter::Feed(const char* data, std::size_t length, std::string& out) {
    if (length == 0) {
        return;
    }
    if (copy_) {
        out.append(data, length);
        return;
    }
    if (!twoLegs_) {
        Run(first_, data, length, out);
        return;
    }
    between_.clear();
    Run(first_, data, length, between_);
    if (!between_.empty()) {
        Run(second_, between_.data(), between_.size(), out);
    }
}

void KanjiStreamConverter::Finish(std::string& out) {
    if (copy_) {
        return;
    }
    if (!twoLegs_) {
        Flush(first_, out);
        return;
    }
    between_.clear();
    Flush(first_, between_);
    if (!between_.empty()) {
        Run(second_, between_.data(), between_.size(), out);
    }
    Flush(second_, out);
}

}  // namespace wp
