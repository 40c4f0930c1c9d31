#pragma once
// The JIS X 0208 <-> Shift_JIS arithmetic of code page 932 (what the Microsoft
// runtime computes with _mbcjistojms and _mbcjmstojis). Codes are two bytes,
// first byte high; 0 means invalid.

#include <cstdint>

namespace wp {

// The first byte of a double-byte character in code page 932.
constexpr bool IsSjisLeadByte(unsigned char ch) {
    return (ch >= 0x81 && ch <= 0x9F) || (ch >= 0xE0 && ch <= 0xFC);
}

constexpr std::uint16_t JisToSjisCode(std::uint16_t jis) {
    unsigned hi = jis >> 8;
    unsigned lo = jis & 0xFF;
    if (hi < 0x21 || hi > 0x7E || lo < 0x21 || lo > 0x7E) {
        return 0;
    }
    if (hi & 1) {
        lo += (lo <= 0x5F) ? 0x1F : 0x20;
    } else {
        lo += 0x7E;
    }
    hi = ((hi - 0x21) >> 1) + 0x81;
    if (hi > 0x9F) {
        hi += 0x40;
    }
    return static_cast<std::uint16_t>((hi << 8) | lo);
}

constexpr std::uint16_t SjisToJisCode(std::uint16_t sjis) {
    unsigned hi = sjis >> 8;
    unsigned lo = sjis & 0xFF;
    bool leadOk = IsSjisLeadByte(static_cast<unsigned char>(hi));
    bool trailOk = (lo >= 0x40 && lo <= 0x7E) || (lo >= 0x80 && lo <= 0xFC);
    if (!leadOk || !trailOk) {
        return 0;
    }
    if (hi >= 0xE0) {
        hi -= 0x40;
    }
    hi = ((hi - 0x81) << 1) + 0x21;
    if (lo >= 0x9F) {
        hi += 1;
        lo -= 0x7E;
    } else {
        lo -= (lo >= 0x80) ? 0x20 : 0x1F;
    }
    return static_cast<std::uint16_t>((hi << 8) | lo);
}

static_assert(JisToSjisCode(0x2422) == 0x82A0);  // hiragana a
static_assert(JisToSjisCode(0x3021) == 0x889F);  // the first kanji of level 1
static_assert(SjisToJisCode(0x82A0) == 0x2422);
static_assert(SjisToJisCode(0x889F) == 0x3021);
static_assert(JisToSjisCode(0x7E7E) == 0xEFFC);
static_assert(JisToSjisCode(0x2080) == 0);
static_assert(SjisToJisCode(0xA040) == 0);

}  // namespace wp
