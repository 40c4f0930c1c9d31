#pragma once
// The kanji converter over a text that comes in pieces (a file read in
// fixed-size chunks): the same detection and the same bytes as one call
// over the whole text, without holding it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/kanji_converter.h"

namespace wp {

// Fed the text piece by piece, answers what DetectCode answers for all of
// it, and whether it is UTF-8 (valid, with a multi-byte sequence).
class KanjiStreamDetector {
public:
    void Feed(const char* data, std::size_t length);
    // 0 Shift_JIS, 1 JIS, 2 EUC-JP, as DetectCode.
    std::int32_t Code() const;
    bool Utf8() const { return utf8Valid_ && utf8Multi_ && utf8Need_ == 0; }
    // JIS whose escapes are all quoted-printable after the header: the
    // converter unwraps the whole text first, so it cannot go in pieces.
    bool QuotedJis() const { return !jisEscape_ && quotedJis_; }
    // An escape that designates kanji or kana, written as it is.
    bool RawJis() const { return jisEscape_; }

private:
    std::uint64_t length_ = 0;
    // Raw designations: the last two bytes of the previous piece.
    unsigned char tail_[2] = {0, 0};
    std::size_t tailSize_ = 0;
    bool jisEscape_ = false;
    // The first empty line, then "=1B" and a designation after it.
    std::string blankTail_;
    bool blankFound_ = false;
    std::string quotedTail_;
    bool quotedJis_ = false;
    // Line scores of the first line that decides.
    std::int32_t lineCode_ = -1;
    int sjisScore_ = 100;
    bool sjisSecond_ = false;
    bool sjisDead_ = false;
    int eucState_ = 0;  // 0 single, 1 second, 2 after SS2
    bool eucDead_ = false;
    // UTF-8
    bool utf8Valid_ = true;
    bool utf8Multi_ = false;
    int utf8Need_ = 0;
    int utf8Length_ = 0;
    std::uint32_t utf8Code_ = 0;
};

// Converts among the Japanese three piece by piece; the output of all the
// pieces equals CKanjiConverter::Convert of the whole (except for the
// quoted JIS text above, which the caller converts whole).
class KanjiStreamConverter {
public:
    KanjiStreamConverter(std::int32_t sourceCode, std::int32_t targetCode, std::size_t chunk = 1 << 16);
    // Appends what this piece converts to.
    void Feed(const char* data, std::size_t length, std::string& out);
    // What is still held (a katakana waiting for its sound mark).
    void Finish(std::string& out);

private:
    using Routine = int (*)(KanjiConvState&);
    struct Leg {
        Routine routine = nullptr;
        KanjiConvState state;
    };
    void Run(Leg& leg, const char* data, std::size_t length, std::string& out);
    void Flush(Leg& leg, std::string& out);

    std::int32_t source_;
    std::int32_t target_;
    std::size_t chunk_;
    Leg first_;
    Leg second_;
    bool twoLegs_ = false;
    bool copy_ = false;
    std::string between_;
};

}  // namespace wp
