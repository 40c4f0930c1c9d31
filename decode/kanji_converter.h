#pragma once
// Conversion of mail text among JIS (ISO-2022-JP), Shift_JIS and EUC-JP, with
// detection of the source code. The system shows Shift_JIS (code page 932).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace wp {

// Code numbers, signed 32-bit wherever they are passed or stored.
constexpr std::int32_t KANJI_AUTO = -1;  // detect (source only)
constexpr std::int32_t KANJI_SJIS = 0;
constexpr std::int32_t KANJI_JIS = 1;
constexpr std::int32_t KANJI_EUC = 2;

// The smallest chunk buffer in which every direction routine can always write
// what one source byte produces (JIS output: a widened katakana with its switch
// to kanji, then a single byte with its switch back), and the final flush.
constexpr std::size_t kKanjiMinChunk = 9;

struct KanjiConvState;
using KanjiFlushRoutine = void (*)(KanjiConvState&);

// One run of a direction routine over one source: one call of Convert, or one
// leg of a two-leg conversion. A fresh state starts in roman with nothing held.
struct KanjiConvState {
    const unsigned char* src = nullptr;     // next source byte
    std::ptrdiff_t srcLeft = 0;             // source bytes not yet consumed
    std::int32_t widenKana = 1;             // 1: half-width katakana become full-width
    unsigned char* dst = nullptr;           // chunk buffer, written from its start by every call
    std::size_t dstSize = 0;                // its capacity; at least kKanjiMinChunk
    std::ptrdiff_t dstUsed = 0;             // bytes the last call wrote
    std::int32_t jisMode = 0;               // 0 roman, 1 kanji, 2 half-width katakana
    std::int32_t escCount = 0;              // bytes of an escape sequence read so far
    unsigned char escBytes[2] = {0, 0};     // ESC and the intermediate byte
    unsigned char pendingLead = 0;          // first byte of an unfinished pair; 0 = none
    unsigned char pendingKana = 0;          // half-width katakana (0xA0-0xDF) held for a sound mark
    KanjiFlushRoutine flushKana = nullptr;  // writes out a held katakana; set by the routine
    std::string unwrapped;                  // owns the source once a quoted-printable JIS body is unwrapped
};

// Full-width JIS X 0208 codes of the bytes 0xA0-0xDF (JIS X 0201 katakana).
extern const std::array<std::uint16_t, 64> kanaToJis;

// 1 when next is the voiced mark and kana takes it (ka-to, ha-ho), 2 when next
// is the semi-voiced mark and kana is ha-ho, else 0.
constexpr int VoicedMarkOffset(unsigned kana, unsigned next) {
    if (next == 0xDE && ((kana >= 0xB6 && kana <= 0xC4) || (kana >= 0xCA && kana <= 0xCE))) {
        return 1;
    }
    if (next == 0xDF && kana >= 0xCA && kana <= 0xCE) {
        return 2;
    }
    return 0;
}

// ESC followed by these two designates kanji (ESC $ B, ESC $ @) or
// half-width katakana (ESC ( I): what detection and the JIS reading settle on.
bool IsJisDesignation(unsigned char intermediate, unsigned char final);
// The offset of the first such designation written as it is at or after
// `from` (its ESC), or npos; an ESC without two bytes after it is none yet.
std::size_t FindJisDesignation(std::string_view text, std::size_t from = 0);

class CKanjiConverter {
public:
    // Converts text[0, length) up to its first zero byte and replaces fileName
    // with the result. False when the file cannot be created or fully written.
    static bool ConvertToFile(const char* text, std::size_t length, const std::string& fileName,
                              std::int32_t sourceCode, std::int32_t targetCode,
                              std::int32_t* usedCode = nullptr);

    // Never fails: bytes that fit no rule pass unchanged. A source code outside
    // -1..2 is detected, a target outside 0..2 is Shift_JIS. usedCode (optional)
    // receives the source code in use.
    static std::string Convert(const char* text, std::size_t length, std::int32_t sourceCode,
                               std::int32_t targetCode, std::int32_t* usedCode = nullptr);

    // The same with a chosen chunk size (raised to kKanjiMinChunk); the result
    // does not depend on it. 0 sizes chunks by the input.
    static std::string ConvertInChunks(const char* text, std::size_t length, std::int32_t sourceCode,
                                       std::int32_t targetCode, std::int32_t* usedCode,
                                       std::size_t chunkSize);

    // 0 Shift_JIS, 1 JIS, 2 EUC-JP. Searches for the header/body boundary stop
    // at the first zero byte, as in a zero-terminated text.
    static std::int32_t DetectCode(const char* text, std::size_t length);

    // Convert from src into dst. 1: dst is full, call again with the same state;
    // 0: the source is exhausted (then call flushKana once). dstUsed says how
    // many bytes this call wrote; the rest of dst may have been used as scratch.
    static int JisToSjis(KanjiConvState& st);
    static int EucToSjis(KanjiConvState& st);
    static int SjisToJis(KanjiConvState& st);
    static int SjisToEuc(KanjiConvState& st);
};

}  // namespace wp
