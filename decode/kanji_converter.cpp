#include "decode/kanji_converter.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "decode/jis_sjis.h"

namespace wp {

const std::array<std::uint16_t, 64> kanaToJis = {
    0x2121, 0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521,  // A0-A7
    0x2523, 0x2525, 0x2527, 0x2529, 0x2563, 0x2565, 0x2567, 0x2543,  // A8-AF
    0x213C, 0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B, 0x252D,  // B0-B7
    0x252F, 0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D,  // B8-BF
    0x253F, 0x2541, 0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C,  // C0-C7
    0x254D, 0x254E, 0x254F, 0x2552, 0x2555, 0x2558, 0x255B, 0x255E,  // C8-CF
    0x255F, 0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569,  // D0-D7
    0x256A, 0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C,  // D8-DF
};

namespace {

using Byte = unsigned char;
constexpr Byte kEsc = 0x1B;
constexpr int kNoKana = -1;  // a katakana step that only flushes

enum class Out { kSjis, kJis, kEuc };

// Bytes one source byte can make at most, per output; a routine stops when
// fewer are left in its chunk.
template <Out T>
constexpr std::size_t kPerByte = T == Out::kJis ? 9 : 3;
constexpr std::size_t kPerByteFromJis = 4;  // at most 3, one spare
constexpr std::size_t kPerByteFromEuc = 4;  // a flushed katakana, a lone lead and the byte

// What a routine changes per byte, held in locals while it runs: writes through
// the byte pointer could alias the state and force reloads of every field.
struct Cursor {
    Byte* p;
    std::int32_t jisMode;
    Byte pendingKana;
    bool widen;
};

inline void Put2(Cursor& c, unsigned code) {
    c.p[0] = static_cast<Byte>(code >> 8);
    c.p[1] = static_cast<Byte>(code);
    c.p += 2;
}

inline void Put3(Cursor& c, Byte a, Byte b, Byte d) {
    c.p[0] = a;
    c.p[1] = b;
    c.p[2] = d;
    c.p += 3;
}

inline void JisSwitch(Cursor& c, std::int32_t mode) {
    if (c.jisMode == mode) {
        return;
    }
    c.jisMode = mode;
    switch (mode) {
        case 1:
            Put3(c, kEsc, '$', 'B');
            break;
        case 2:
            Put3(c, kEsc, '(', 'I');
            break;
        default:
            Put3(c, kEsc, '(', 'B');
            break;
    }
}

// A widened katakana (its table code) merged with a sound mark by offset.
template <Out T>
inline void PutWide(Cursor& c, unsigned jis, int offset) {
    if constexpr (T == Out::kSjis) {
        Put2(c, JisToSjisCode(static_cast<std::uint16_t>(jis)) + static_cast<unsigned>(offset));
    } else if constexpr (T == Out::kEuc) {
        Put2(c, (jis + static_cast<unsigned>(offset)) | 0x8080);
    } else {
        JisSwitch(c, 1);
        Put2(c, jis + static_cast<unsigned>(offset));
    }
}

template <Out T>
inline void PutNarrow(Cursor& c, Byte kana) {
    if constexpr (T == Out::kSjis) {
        *c.p++ = kana;
    } else if constexpr (T == Out::kEuc) {
        c.p[0] = 0x8E;
        c.p[1] = kana;
        c.p += 2;
    } else {
        JisSwitch(c, 2);
        *c.p++ = static_cast<Byte>(kana - 0x80);
    }
}

// One half-width katakana (0xA0-0xDF), or kNoKana to write out a held one.
template <Out T>
inline void Kana(Cursor& c, int k) {
    if (!c.widen) {
        if (k != kNoKana) {
            PutNarrow<T>(c, static_cast<Byte>(k));
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
    PutWide<T>(c, kanaToJis[held - 0xA0], offset);
    c.pendingKana = (offset != 0 || k == kNoKana) ? 0 : static_cast<Byte>(k);
}

template <Out T>
inline void FlushHeld(Cursor& c) {
    if (c.pendingKana != 0) {
        Kana<T>(c, kNoKana);
    }
}

// The flushKana routine of each output: writes from the start of dst.
template <Out T>
void FlushKanaRoutine(KanjiConvState& st) {
    Cursor c{st.dst, st.jisMode, st.pendingKana, st.widenKana != 0};
    FlushHeld<T>(c);
    st.dstUsed = c.p - st.dst;
    st.jisMode = c.jisMode;
    st.pendingKana = c.pendingKana;
}

// The first position at which fewer than need bytes are left in the chunk.
inline Byte* ChunkLimit(const KanjiConvState& st, std::size_t need) {
    return st.dstSize >= need ? st.dst + (st.dstSize - need + 1) : st.dst;
}

// Shift_JIS bytes of all JIS X 0208 cells, from the arithmetic, in the order
// they are written: a run of kanji then costs one load and one store per
// character instead of unpredictable branches.
using SjisBytes = std::array<Byte, 2>;
constexpr std::array<SjisBytes, 94 * 94> kSjisOfCell = [] {
    std::array<SjisBytes, 94 * 94> table{};
    for (unsigned hi = 0; hi < 94; ++hi) {
        for (unsigned lo = 0; lo < 94; ++lo) {
            const unsigned code = JisToSjisCode(static_cast<std::uint16_t>((hi + 0x21) << 8 | (lo + 0x21)));
            table[hi * 94 + lo] = {static_cast<Byte>(code >> 8), static_cast<Byte>(code)};
        }
    }
    return table;
}();

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHigh = kOnes * 0x80;

// Eight bytes with the first in the low bits, whatever the machine's order.
inline std::uint64_t LoadWord(const Byte* s) {
    std::uint64_t word = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, s, 8);
    } else {
        for (int i = 7; i >= 0; --i) {
            word = word << 8 | s[i];
        }
    }
    return word;
}

// How many bytes come before the first one whose top bit is set in flags
// (8 for none). Carries from a flagged byte only reach the bytes after it, so
// the first flag is exact even where later ones are not.
inline int BytesBeforeFlag(std::uint64_t flags) {
    return std::countr_zero(flags) / 8;
}

// Whole pairs of JIS X 0208 (bytes from base + 0x21 to base + 0x7E) to
// Shift_JIS, while there is room; stops before anything else. Only for the
// moments when nothing is held, where a pair has no other reading. Eight
// source bytes are checked at a time: the end of a run costs one branch, not
// one per pair.
template <unsigned Base>
inline void PairRun(const Byte*& s, const Byte* end, Byte*& p, const Byte* limit) {
    const std::ptrdiff_t pairs = std::min(end - s, limit - p + 1) / 2;
    const Byte* const stop = s + 2 * std::max(pairs, std::ptrdiff_t{0});
    while (stop - s >= 8) {
        // A byte below base borrows, which sets its own top bit.
        const std::uint64_t word = LoadWord(s) - kOnes * Base;
        const std::uint64_t outside = (word | (word + kOnes) | ~(word + kOnes * (0x80 - 0x21))) & kHigh;
        const int good = BytesBeforeFlag(outside) & ~1;
        for (int i = 0; i < good; i += 2) {
            std::memcpy(p + i, kSjisOfCell[(s[i] - (Base + 0x21u)) * 94 + (s[i + 1] - (Base + 0x21u))].data(), 2);
        }
        s += good;
        p += good;
        if (good < 8) {
            return;
        }
    }
    while (s < stop) {
        const unsigned hi = s[0] - (Base + 0x21u);
        const unsigned lo = s[1] - (Base + 0x21u);
        if (hi >= 94 || lo >= 94) {
            break;
        }
        std::memcpy(p, kSjisOfCell[hi * 94 + lo].data(), 2);
        p += 2;
        s += 2;
    }
}

// Roman bytes up to the next ESC pass as they are, eight at a time while
// there are eight on both sides: a line's few words cost no call. Output past
// the ESC is scratch within the chunk.
inline void RomanRun(const Byte*& s, const Byte* end, Byte*& p, const Byte* limit) {
    while (end - s >= 8 && limit - p >= 8) {
        const std::uint64_t x = LoadWord(s) ^ (kOnes * kEsc);
        const int n = BytesBeforeFlag((x - kOnes) & ~x & kHigh);
        std::memcpy(p, s, 8);
        s += n;
        p += n;
        if (n < 8) {
            return;
        }
    }
    while (s < end && p < limit && *s != kEsc) {
        *p++ = *s++;
    }
}

// The mode a designation selects: 0 roman, 1 kanji, 2 half-width katakana;
// -1 for a set we do not know.
inline int DesignatedMode(Byte intermediate, Byte final) {
    if (intermediate == '$') {
        return final == 'B' || final == '@' ? 1 : -1;
    }
    if (intermediate == '(') {
        if (final == 'B' || final == 'J' || final == 'H') {
            return 0;
        }
        return final == 'I' ? 2 : -1;
    }
    return -1;
}

// Runs of pairs or roman bytes and the whole designations between them, for as
// long as nothing is held; a run ends where the next designation most likely
// starts, so that is looked at first.
inline void JisRuns(const Byte*& s, const Byte* end, Byte*& p, const Byte* limit, std::int32_t& mode) {
    for (;;) {
        if (mode == 1) {
            PairRun<0>(s, end, p, limit);
        } else if (mode == 0) {
            RomanRun(s, end, p, limit);
        }
        if (end - s < 3 || s[0] != kEsc) {
            return;
        }
        const int next = DesignatedMode(s[1], s[2]);
        if (next < 0) {
            return;
        }
        mode = next;
        s += 3;
    }
}

// 7-bit bytes pass as they are, one byte of room each.
inline void AsciiRun(const Byte*& s, const Byte* end, Byte*& p, const Byte* limit) {
    const std::size_t n = std::min(static_cast<std::size_t>(end - s),
                                   static_cast<std::size_t>(std::max(limit - p, std::ptrdiff_t{0})));
    const Byte* const stop = s + n;
    while (stop - s >= 8) {
        // As a roman run: the bytes past the first 8-bit one are scratch.
        const int k = BytesBeforeFlag(LoadWord(s) & kHigh);
        std::memcpy(p, s, 8);
        s += k;
        p += k;
        if (k < 8) {
            return;
        }
    }
    while (s < stop && *s < 0x80) {
        *p++ = *s++;
    }
}

// An ESC that designates kanji or katakana, anywhere in the text.
bool HasJisEscape(const Byte* text, std::size_t length) {
    return FindJisDesignation(std::string_view(reinterpret_cast<const char*>(text), length)) !=
           std::string_view::npos;
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

// Shift_JIS score of one line: 100, 50 or 0.
int SjisLineScore(const Byte* p, const Byte* end) {
    int score = 100;
    bool second = false;
    for (; p < end; ++p) {
        const Byte b = *p;
        if (second) {
            if (b < 0x40 || b > 0xFC) {
                return 0;
            }
            second = false;
        } else if ((b >= 0x81 && b <= 0x9F) || b >= 0xE0) {
            if (b >= 0xEB) {
                score -= 50;
                if (score == 0) {
                    return 0;
                }
            }
            second = true;
        }
    }
    return second ? 0 : score;
}

// EUC-JP score of one line: 100 or 0.
int EucLineScore(const Byte* p, const Byte* end) {
    enum { kSingle, kSecond, kAfterSs2 } state = kSingle;
    for (; p < end; ++p) {
        const Byte b = *p;
        switch (state) {
            case kSecond:
                if (b < 0xA1 || b > 0xFE) {
                    return 0;
                }
                state = kSingle;
                break;
            case kAfterSs2:
                if (b < 0xA0 || b > 0xDF) {
                    return 0;
                }
                state = kSingle;
                break;
            case kSingle:
                if (b == 0x8E) {
                    state = kAfterSs2;
                } else if (b >= 0xA1 && b <= 0xFE) {
                    state = kSecond;
                }
                break;
        }
    }
    return state == kSingle ? 100 : 0;
}

// Both scores are 100 over a run of 7-bit bytes, so a line is only scored from
// its first 8-bit byte on.
const Byte* FirstHighByte(const Byte* p, const Byte* end) {
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ULL) {
            break;
        }
        p += 8;
    }
    while (p < end && *p < 0x80) {
        ++p;
    }
    return p;
}

void SaveCursor(KanjiConvState& st, const Cursor& c) {
    st.dstUsed = c.p - st.dst;
    st.jisMode = c.jisMode;
    st.pendingKana = c.pendingKana;
}

template <Out T>
int SjisOut(KanjiConvState& st) {
    st.flushKana = &FlushKanaRoutine<T>;
    const Byte* s = st.src;
    const Byte* const end = s + st.srcLeft;
    Byte* const limit = ChunkLimit(st, kPerByte<T>);
    Cursor c{st.dst, st.jisMode, st.pendingKana, st.widenKana != 0};
    Byte lead = st.pendingLead;
    int result = 0;
    while (s < end) {
        if (c.p >= limit) {
            result = 1;
            break;
        }
        const Byte b = *s++;
        if (lead == 0) {
            if ((b >= 0x81 && b <= 0x9F) || b >= 0xE0) {
                FlushHeld<T>(c);
                lead = b;
            } else if (b >= 0xA0) {
                Kana<T>(c, b);
            } else {
                FlushHeld<T>(c);
                if constexpr (T == Out::kJis) {
                    JisSwitch(c, 0);
                }
                *c.p++ = b;
            }
            continue;
        }
        const unsigned jis = b < 0x40 ? 0 : SjisToJisCode(static_cast<std::uint16_t>(lead << 8 | b));
        if (jis == 0) {
            // A control byte after a lead, or a pair that is no Shift_JIS: both
            // bytes pass as they are.
            if constexpr (T == Out::kJis) {
                JisSwitch(c, 0);
            }
            c.p[0] = lead;
            c.p[1] = b;
            c.p += 2;
        } else if constexpr (T == Out::kJis) {
            JisSwitch(c, 1);
            Put2(c, jis);
        } else {
            Put2(c, jis | 0x8080);
        }
        lead = 0;
    }
    st.src = s;
    st.srcLeft = end - s;
    st.pendingLead = lead;
    SaveCursor(st, c);
    return result;
}

}  // namespace

int CKanjiConverter::JisToSjis(KanjiConvState& st) {
    if (st.flushKana == nullptr) {
        // First call: a body whose escapes are quoted-printable is unwrapped once.
        st.flushKana = &FlushKanaRoutine<Out::kSjis>;
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
        if (esc == 0 && lead == 0 && c.pendingKana == 0) {
            // Nothing held: a whole designation, a run of pairs or of roman
            // bytes has one reading, so the state machine is only needed at
            // the chunk ends, for held bytes and for unknown sequences.
            const Byte* const before = s;
            JisRuns(s, end, c.p, limit, c.jisMode);
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
            FlushHeld<Out::kSjis>(c);
            esc = 1;
        } else if (esc == 0) {
            if (c.jisMode == 1) {
                FlushHeld<Out::kSjis>(c);
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
                    Kana<Out::kSjis>(c, b + 0x80);
                } else {
                    FlushHeld<Out::kSjis>(c);
                    *c.p++ = b;
                }
            } else {
                // Roman: everything up to the next ESC passes as it is.
                FlushHeld<Out::kSjis>(c);
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
            if (const int mode = DesignatedMode(intermediate, b); mode >= 0) {
                c.jisMode = mode;
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

int CKanjiConverter::EucToSjis(KanjiConvState& st) {
    st.flushKana = &FlushKanaRoutine<Out::kSjis>;
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
            FlushHeld<Out::kSjis>(c);
            if (lead != 0) {
                *c.p++ = lead;
                lead = 0;
            }
            *c.p++ = b;
        } else if (lead == 0) {
            lead = b;  // a held katakana waits: the next pair may be its sound mark
        } else if (lead == 0x8E && b >= 0xA0 && b <= 0xDF) {
            Kana<Out::kSjis>(c, b);
            lead = 0;
        } else {
            // Also SS2 before a byte that is no katakana: an invalid pair.
            FlushHeld<Out::kSjis>(c);
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

int CKanjiConverter::SjisToJis(KanjiConvState& st) {
    return SjisOut<Out::kJis>(st);
}

int CKanjiConverter::SjisToEuc(KanjiConvState& st) {
    return SjisOut<Out::kEuc>(st);
}

std::int32_t CKanjiConverter::DetectCode(const char* text, std::size_t length) {
    if (length < 2) {
        return KANJI_SJIS;
    }
    const Byte* const t = reinterpret_cast<const Byte*>(text);
    if (HasJisEscape(t, length) || QuotedJisBody(t, length) != 0) {
        return KANJI_JIS;
    }
    const Byte* const end = t + length;
    const Byte* line = t;
    while (line < end) {
        const void* lf = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
        const Byte* const lineEnd = lf ? static_cast<const Byte*>(lf) : end;
        const Byte* const from = FirstHighByte(line, lineEnd);
        if (from != lineEnd) {
            const int sjis = SjisLineScore(from, lineEnd);
            const int euc = EucLineScore(from, lineEnd);
            if (sjis != euc) {
                return sjis > euc ? KANJI_SJIS : KANJI_EUC;
            }
        }
        line = lineEnd + 1;
    }
    return KANJI_SJIS;
}

namespace {

using Routine = int (*)(KanjiConvState&);

// One leg: the routine over the whole source, chunk by chunk, written straight
// into the output's tail so that nothing is copied twice.
std::string RunLeg(Routine routine, const Byte* src, std::size_t length, bool widen, std::size_t chunk) {
    // The input length + 3, as a rule, but never so small that JIS output
    // (up to 9 bytes from one source byte) could not progress.
    const std::size_t size = std::max(chunk != 0 ? std::min(chunk, length + 3) : length + 3, kKanjiMinChunk);
    KanjiConvState st;
    st.src = src;
    st.srcLeft = static_cast<std::ptrdiff_t>(length);
    st.widenKana = widen ? 1 : 0;
    std::string out;
    out.reserve(size + kKanjiMinChunk);  // room for the final flush without moving a one-chunk result
    std::size_t used = 0;
    auto provide = [&](std::size_t need) {
        out.resize(used + need);
        st.dst = reinterpret_cast<Byte*>(out.data()) + used;
        st.dstSize = need;
    };
    int more;
    do {
        provide(size);
        more = routine(st);
        used += static_cast<std::size_t>(st.dstUsed);
    } while (more != 0);
    if (st.flushKana != nullptr) {
        provide(kKanjiMinChunk);
        st.flushKana(st);
        used += static_cast<std::size_t>(st.dstUsed);
    }
    out.resize(used);
    return out;
}

}  // namespace

std::string CKanjiConverter::Convert(const char* text, std::size_t length, std::int32_t sourceCode,
                                     std::int32_t targetCode, std::int32_t* usedCode) {
    return ConvertInChunks(text, length, sourceCode, targetCode, usedCode, 0);
}

std::string CKanjiConverter::ConvertInChunks(const char* text, std::size_t length, std::int32_t sourceCode,
                                             std::int32_t targetCode, std::int32_t* usedCode,
                                             std::size_t chunkSize) {
    if (text == nullptr) {
        length = 0;
    }
    if (sourceCode < KANJI_AUTO || sourceCode > KANJI_EUC) {
        sourceCode = KANJI_AUTO;
    }
    if (targetCode < KANJI_SJIS || targetCode > KANJI_EUC) {
        targetCode = KANJI_SJIS;
    }
    if (sourceCode == KANJI_AUTO) {
        sourceCode = DetectCode(text, length);
    }
    if (usedCode != nullptr) {
        *usedCode = sourceCode;
    }
    if (length == 0) {
        return {};
    }
    if (sourceCode == targetCode) {
        return std::string(text, length);
    }
    const Byte* const src = reinterpret_cast<const Byte*>(text);
    Routine toSjis = sourceCode == KANJI_JIS ? &JisToSjis : &EucToSjis;
    Routine fromSjis = targetCode == KANJI_JIS ? &SjisToJis : &SjisToEuc;
    if (sourceCode == KANJI_SJIS) {
        return RunLeg(fromSjis, src, length, true, chunkSize);
    }
    std::string sjis = RunLeg(toSjis, src, length, true, chunkSize);
    if (targetCode == KANJI_SJIS) {
        return sjis;
    }
    // The first leg has widened every half-width katakana already.
    return RunLeg(fromSjis, reinterpret_cast<const Byte*>(sjis.data()), sjis.size(), false, chunkSize);
}

bool CKanjiConverter::ConvertToFile(const char* text, std::size_t length, const std::string& fileName,
                                    std::int32_t sourceCode, std::int32_t targetCode,
                                    std::int32_t* usedCode) {
    if (text != nullptr) {
        const void* zero = std::memchr(text, 0, length);
        if (zero != nullptr) {
            length = static_cast<std::size_t>(static_cast<const char*>(zero) - text);
        }
    }
    const std::string out = Convert(text, length, sourceCode, targetCode, usedCode);
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool ok = out.empty() || std::fwrite(out.data(), 1, out.size(), file) == out.size();
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

bool IsJisDesignation(unsigned char intermediate, unsigned char final) {
    return (intermediate == '$' && (final == 'B' || final == '@')) || (intermediate == '(' && final == 'I');
}

std::size_t FindJisDesignation(std::string_view text, std::size_t from) {
    // An ESC in the last two bytes has no room for its two.
    while (text.size() >= 3 && from < text.size() - 2) {
        const void* hit = std::memchr(text.data() + from, kEsc, text.size() - 2 - from);
        if (hit == nullptr) {
            return std::string_view::npos;
        }
        from = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        if (IsJisDesignation(static_cast<Byte>(text[from + 1]), static_cast<Byte>(text[from + 2]))) {
            return from;
        }
        ++from;
    }
    return std::string_view::npos;
}

}  // namespace wp
