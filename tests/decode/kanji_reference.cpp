#include "tests/decode/kanji_reference.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "decode/jis_sjis.h"

namespace wp::kanji_test {

namespace {

using Byte = unsigned char;
constexpr Byte kEsc = 0x1B;
constexpr int kNoKana = -1;
constexpr std::size_t kPerByteFromJis = 4;
constexpr std::size_t kPerByteFromEuc = 4;

struct Cursor {
    Byte* p;
    std::int32_t jisMode;
    Byte pendingKana;
    bool widen;
};

void Put2(Cursor& c, unsigned code) {
    c.p[0] = static_cast<Byte>(code >> 8);
    c.p[1] = static_cast<Byte>(code);
    c.p += 2;
}

void Kana(Cursor& c, int k) {
    if (!c.widen) {
        if (k != kNoKana) {
            *c.p++ = static_cast<Byte>(k);
        }
        return;
    }
    const Byte held = c.pendingKana;
    if (held == 0) {
        if (k != kNoKana) {
            c.pendingKana = static_cast<Byte>(k);
        }
        return;
    }
    const int offset = k == kNoKana ? 0 : VoicedMarkOffset(held, static_cast<unsigned>(k));
    Put2(c, JisToSjisCode(kanaToJis[held - 0xA0]) + static_cast<unsigned>(offset));
    c.pendingKana = (offset != 0 || k == kNoKana) ? 0 : static_cast<Byte>(k);
}

void FlushHeld(Cursor& c) {
    if (c.pendingKana != 0) {
        Kana(c, kNoKana);
    }
}

void FlushKanaRoutine(KanjiConvState& st) {
    Cursor c{st.dst, st.jisMode, st.pendingKana, st.widenKana != 0};
    FlushHeld(c);
    st.dstUsed = c.p - st.dst;
    st.jisMode = c.jisMode;
    st.pendingKana = c.pendingKana;
}

Byte* ChunkLimit(const KanjiConvState& st, std::size_t need) {
    return st.dstSize >= need ? st.dst + (st.dstSize - need + 1) : st.dst;
}

template <unsigned Base = 0>
void PairRun(const Byte*& s, const Byte* end, Byte*& p, const Byte* limit) {
    while (end - s >= 2 && p < limit) {
        const unsigned hi = s[0] - Base;
        const unsigned lo = s[1] - Base;
        if (hi < 0x21 || hi > 0x7E || lo < 0x21 || lo > 0x7E) {
            break;
        }
        const unsigned code = JisToSjisCode(static_cast<std::uint16_t>(hi << 8 | lo));
        p[0] = static_cast<Byte>(code >> 8);
        p[1] = static_cast<Byte>(code);
        p += 2;
        s += 2;
    }
}

// 7-bit bytes pass as they are, one byte of room each.
void AsciiRun(const Byte*& s, const Byte* end, Byte*& p, const Byte* limit) {
    const std::size_t n = std::min(static_cast<std::size_t>(end - s),
                                   static_cast<std::size_t>(std::max(limit - p, std::ptrdiff_t{0})));
    const Byte* const stop = s + n;
    while (stop - s >= 8) {
        std::uint64_t word;
        std::memcpy(&word, s, 8);
        if (word & 0x8080808080808080ULL) {
            break;
        }
        std::memcpy(p, &word, 8);
        s += 8;
        p += 8;
    }
    while (s < stop && *s < 0x80) {
        *p++ = *s++;
    }
}

void SaveCursor(KanjiConvState& st, const Cursor& c) {
    st.dstUsed = c.p - st.dst;
    st.jisMode = c.jisMode;
    st.pendingKana = c.pendingKana;
}

bool IsJisDesignation(Byte intermediate, Byte final) {
    return (intermediate == '$' && (final == 'B' || final == '@')) || (intermediate == '(' && final == 'I');
}

// An ESC that designates kanji or katakana, anywhere in the text.
bool HasJisEscape(const Byte* text, std::size_t length) {
    if (length < 3) {
        return false;
    }
    const Byte* p = text;
    const Byte* const last = text + length - 2;  // an ESC here or later has no room for two bytes
    while (p < last) {
        const void* hit = std::memchr(p, kEsc, static_cast<std::size_t>(last - p));
        if (hit == nullptr) {
            return false;
        }
        p = static_cast<const Byte*>(hit);
        if (IsJisDesignation(p[1], p[2])) {
            return true;
        }
        ++p;
    }
    return false;
}

// The same designations written as quoted-printable ("=1B$B") after the first
// empty line. Both searches stop at the first zero byte, like string searches
// in a zero-terminated text. Returns the offset just past the empty line, or 0.
std::size_t QuotedJisBody(const Byte* text, std::size_t length) {
    std::string_view all(reinterpret_cast<const char*>(text), length);
    all = all.substr(0, all.find('\0'));
    const std::size_t blank = all.find("\r\n\r\n");
    if (blank == std::string_view::npos) {
        return 0;
    }
    for (std::size_t at = all.find("=1B", blank); at != std::string_view::npos;
         at = all.find("=1B", at + 1)) {
        if (at + 5 <= all.size() &&
            IsJisDesignation(static_cast<Byte>(all[at + 3]), static_cast<Byte>(all[at + 4]))) {
            return blank + 4;
        }
    }
    return 0;
}

int HexDigit(Byte b) {
    if (b >= '0' && b <= '9') {
        return b - '0';
    }
    if (b >= 'A' && b <= 'F') {
        return b - 'A' + 10;
    }
    return -1;
}

// Undoes quoted-printable (upper-case digits only) and dot-stuffing after the
// header, which is copied as it is.
std::string UnwrapQuotedBody(const Byte* text, std::size_t length, std::size_t bodyStart) {
    std::string out;
    out.reserve(length);
    out.append(reinterpret_cast<const char*>(text), bodyStart);
    std::size_t i = bodyStart;
    while (i < length) {
        const Byte b = text[i];
        if (b == '=') {
            if (i + 2 < length) {
                const int hi = HexDigit(text[i + 1]);
                const int lo = HexDigit(text[i + 2]);
                if (hi >= 0 && lo >= 0) {
                    out.push_back(static_cast<char>(hi * 16 + lo));
                }
            }
            i += 3;  // a soft line break or a malformed escape goes with its two bytes
            continue;
        }
        if (b == '.' && text[i - 1] == '\n' && i + 1 < length && text[i + 1] == '.') {
            ++i;
            continue;
        }
        out.push_back(static_cast<char>(b));
        ++i;
    }
    return out;
}


}  // namespace

int ReferenceJisToSjis(KanjiConvState& st) {
    if (st.flushKana == nullptr) {
        // First call: a body whose escapes are quoted-printable is unwrapped once.
        st.flushKana = &FlushKanaRoutine;
        const std::size_t length = static_cast<std::size_t>(std::max<std::ptrdiff_t>(st.srcLeft, 0));
        if (!HasJisEscape(st.src, length)) {
            const std::size_t body = QuotedJisBody(st.src, length);
            if (body != 0) {
                st.unwrapped = UnwrapQuotedBody(st.src, length, body);
                st.src = reinterpret_cast<const Byte*>(st.unwrapped.data());
                st.srcLeft = static_cast<std::ptrdiff_t>(st.unwrapped.size());
            }
        }
    }
    const Byte* s = st.src;
    const Byte* const end = s + st.srcLeft;
    Byte* const limit = ChunkLimit(st, kPerByteFromJis);
    Cursor c{st.dst, st.jisMode, st.pendingKana, st.widenKana != 0};
    Byte lead = st.pendingLead;
    int esc = st.escCount;
    Byte intermediate = st.escBytes[1];
    int result = 0;
    while (s < end) {
        if (c.p >= limit) {
            result = 1;
            break;
        }
        if (esc == 0 && c.jisMode == 1 && lead == 0 && c.pendingKana == 0) {
            const Byte* const before = s;
            PairRun(s, end, c.p, limit);
            if (s != before) {
                continue;
            }
        }
        const Byte b = *s;
        if (esc == 0 && b == kEsc) {
            if (lead != 0) {
                *c.p++ = lead;
                lead = 0;
            }
            FlushHeld(c);
            esc = 1;
        } else if (esc == 0) {
            if (c.jisMode == 1) {
                FlushHeld(c);
                if (b >= 0x21 && b <= 0x7E) {
                    if (lead == 0) {
                        lead = b;
                    } else {
                        Put2(c, JisToSjisCode(static_cast<std::uint16_t>(lead << 8 | b)));
                        lead = 0;
                    }
                } else {
                    if (lead != 0) {
                        *c.p++ = lead;
                        lead = 0;
                    }
                    *c.p++ = b;
                }
            } else if (c.jisMode == 2) {
                if (b >= 0x21 && b <= 0x5F) {
                    Kana(c, b + 0x80);
                } else {
                    FlushHeld(c);
                    *c.p++ = b;
                }
            } else {
                // Roman: everything up to the next ESC passes as it is.
                FlushHeld(c);
                const std::size_t room = static_cast<std::size_t>(limit - c.p);
                const std::size_t n = std::min(static_cast<std::size_t>(end - s), room);
                const void* hit = std::memchr(s, kEsc, n);
                const std::size_t run = hit ? static_cast<std::size_t>(static_cast<const Byte*>(hit) - s) : n;
                std::memcpy(c.p, s, run);
                c.p += run;
                s += run;
                continue;
            }
        } else if (esc == 1) {
            if (b == '$' || b == '(') {
                intermediate = b;
                esc = 2;
            } else {
                c.p[0] = kEsc;
                c.p[1] = b;
                c.p += 2;
                esc = 0;
            }
        } else {
            if (intermediate == '$' && (b == 'B' || b == '@')) {
                c.jisMode = 1;
            } else if (intermediate == '(' && b == 'I') {
                c.jisMode = 2;
            } else if (intermediate == '(' && (b == 'B' || b == 'J' || b == 'H')) {
                c.jisMode = 0;
            } else {
                // A set we do not know (JIS X 0212 and others): shown as it came.
                c.p[0] = kEsc;
                c.p[1] = intermediate;
                c.p += 2;
                if (c.jisMode == 1 && b >= 0x21 && b <= 0x7E) {
                    lead = b;
                } else {
                    *c.p++ = b;
                }
            }
            esc = 0;
        }
        ++s;
    }
    st.src = s;
    st.srcLeft = end - s;
    st.pendingLead = lead;
    st.escCount = esc;
    st.escBytes[0] = esc != 0 ? kEsc : 0;
    st.escBytes[1] = esc == 2 ? intermediate : 0;
    SaveCursor(st, c);
    return result;
}

int ReferenceEucToSjis(KanjiConvState& st) {
    st.flushKana = &FlushKanaRoutine;
    const Byte* s = st.src;
    const Byte* const end = s + st.srcLeft;
    Byte* const limit = ChunkLimit(st, kPerByteFromEuc);
    Cursor c{st.dst, st.jisMode, st.pendingKana, st.widenKana != 0};
    Byte lead = st.pendingLead;
    int result = 0;
    while (s < end) {
        if (c.p >= limit) {
            result = 1;
            break;
        }
        if (lead == 0 && c.pendingKana == 0) {
            const Byte* const before = s;
            AsciiRun(s, end, c.p, limit);
            PairRun<0x80>(s, end, c.p, limit);
            if (s != before) {
                continue;
            }
        }
        const Byte b = *s++;
        if (b < 0x80) {
            FlushHeld(c);
            if (lead != 0) {
                *c.p++ = lead;
                lead = 0;
            }
            *c.p++ = b;
        } else if (lead == 0) {
            lead = b;  // a held katakana waits: the next pair may be its sound mark
        } else if (lead == 0x8E && b >= 0xA0 && b <= 0xDF) {
            Kana(c, b);
            lead = 0;
        } else {
            // Also SS2 before a byte that is no katakana: an invalid pair.
            FlushHeld(c);
            const unsigned sjis = JisToSjisCode(static_cast<std::uint16_t>((lead & 0x7F) << 8 | (b & 0x7F)));
            if (sjis != 0) {
                Put2(c, sjis);
            } else {
                c.p[0] = lead;
                c.p[1] = b;
                c.p += 2;
            }
            lead = 0;
        }
    }
    st.src = s;
    st.srcLeft = end - s;
    st.pendingLead = lead;
    SaveCursor(st, c);
    return result;
}

}  // namespace wp::kanji_test
