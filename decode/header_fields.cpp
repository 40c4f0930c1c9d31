#include "decode/header_fields.h"

#include <algorithm>
#include <array>
#include <optional>
#include <cstdint>

#include "decode/charset.h"
#include "decode/jis_sjis.h"
#include "decode/kanji_converter.h"

namespace wp {

namespace {

constexpr std::size_t kWorkLimit = kHeaderWorkBuffer - 1;
constexpr std::string_view::size_type npos = std::string_view::npos;

std::string_view UpToZero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithAnyCase(std::string_view text, std::string_view name) {
    if (text.size() < name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (AsciiLower(text[i]) != AsciiLower(name[i])) {
            return false;
        }
    }
    return true;
}

enum class Continuation { None, Unfolded };

struct FieldNames {
    std::string_view first;                // searched anywhere, after a CR LF
    std::string_view atStart;              // compared with the start of the text, any case
    std::array<std::string_view, 3> more;  // searched anywhere, in order
    bool skipOneAfterColon;
    Continuation continuation;
};

// Offset of the field's name in text, npos when none of the spellings occurs.
std::size_t FindField(std::string_view text, const FieldNames& field) {
    if (std::size_t at = text.find(field.first); at != npos) {
        return at + 2;
    }
    if (StartsWithAnyCase(text, field.atStart)) {
        return 0;
    }
    for (std::string_view name : field.more) {
        if (name.empty()) {
            continue;
        }
        if (std::size_t at = text.find(name); at != npos) {
            return at + 2;
        }
    }
    return npos;
}

// Appends the colon-free lines that follow the field's line. A line with a
// colon ends the value, and so does an empty line: the header ends there, so
// neither a body line nor the "." that closes a TOP response joins the value.
void AppendContinuation(std::string_view text, std::size_t pos, std::string& value) {
    while (pos < text.size()) {
        int breaks = 0;
        while (pos < text.size() && IsLineBreak(text[pos])) {
            if (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') {
                ++pos;
            }
            ++pos;
            ++breaks;
        }
        if (pos >= text.size() || breaks > 1) {
            return;
        }
        std::size_t end = pos;
        while (end < text.size() && !IsLineBreak(text[end])) {
            ++end;
        }
        std::string_view line = text.substr(pos, end - pos);
        if (line.find(':') != npos) {
            return;
        }
        value.append(line);
        pos = end;
    }
}

std::string ReadField(std::string_view rawText, const FieldNames& field, std::size_t* fieldStart) {
    std::string_view text = UpToZero(rawText);
    std::size_t name = FindField(text, field);
    if (fieldStart != nullptr) {
        *fieldStart = name;
    }
    if (name == npos) {
        return {};
    }
    // Every spelling of a field has the same length.
    std::size_t pos = name + field.atStart.size();
    std::size_t lineEnd = pos;
    while (lineEnd < text.size() && !IsLineBreak(text[lineEnd])) {
        ++lineEnd;
    }
    if (field.skipOneAfterColon && pos < lineEnd) {
        ++pos;
    }
    std::string value(text.substr(pos, lineEnd - pos));
    if (field.continuation == Continuation::Unfolded) {
        AppendContinuation(text, lineEnd, value);
    }
    return value;
}

const FieldNames kSubject{
    "\r\nSubject:", "Subject:", {"\r\nSUBJECT:", "\r\nsubject:", {}}, true, Continuation::Unfolded};
const FieldNames kFrom{"\r\nFrom:", "From:", {"\r\nFROM:", "\r\nfrom:", {}}, false, Continuation::None};
const FieldNames kDate{"\r\nDate:", "Date:", {"\r\nDATE:", "\r\ndate:", {}}, false, Continuation::None};
const FieldNames kContentType{"\r\nContent-Type:",
                             "Content-Type:",
                             {"\r\nCONTENT-TYPE:", "\r\ncontent-Type:", "\r\nContent-type:"},
                             true,
                             Continuation::Unfolded};
const FieldNames kContentDisposition{"\r\nContent-Disposition:",
                                    "Content-Disposition:",
                                    {"\r\nCONTENT-DISPOSITION:", "\r\ncontent-disposition:", {}},
                                    true,
                                    Continuation::Unfolded};

// --- decoding ---------------------------------------------------------------

constexpr char kEsc = '\x1B';
constexpr std::string_view kQOpenings[] = {"=?ISO-2022-JP?Q?", "=?iso-2022-jp?Q?", "=?iso-2022-jp?q?"};
constexpr std::size_t kQOpeningLength = 16;
constexpr std::string_view kBOpenings[] = {"?ISO-2022-JP?B?", "?iso-2022-jp?B?"};
constexpr std::size_t kBOpeningLength = 15;

bool IsSjisTrail(unsigned char c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

bool IsQOpening(std::string_view text, std::size_t at) {
    for (std::string_view opening : kQOpenings) {
        if (text.compare(at, opening.size(), opening) == 0) {
            return true;
        }
    }
    return false;
}

// Start of the next Q-encoded word at or after from, npos when none.
std::size_t FindQOpening(std::string_view text, std::size_t from) {
    for (std::size_t at = text.find("=?", from); at != npos; at = text.find("=?", at + 1)) {
        if (IsQOpening(text, at)) {
            return at;
        }
    }
    return npos;
}

std::string DecodeQ(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            bytes.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else if (c == '_') {
            bytes.push_back(' ');
        } else {
            bytes.push_back(c);
        }
    }
    return bytes;
}

// The padding was cut off as a separator; it is restored here. Characters
// outside the alphabet count as 0.
std::string DecodeB(std::string_view text, const std::function<void(char)>& invalid) {
    std::string padded(text);
    padded.append((4 - padded.size() % 4) % 4, '=');
    std::string bytes;
    for (std::size_t i = 0; i + 4 <= padded.size(); i += 4) {
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            char c = padded[i + k];
            int v = Base64Value(c);
            if (v < 0) {
                if (c != '=') {
                    invalid(c);
                }
                v = 0;
            }
            group = (group << 6) | static_cast<std::uint32_t>(v);
        }
        std::size_t count = padded[i + 2] == '=' ? 1 : (padded[i + 3] == '=' ? 2 : 3);
        for (std::size_t k = 0; k < count; ++k) {
            bytes.push_back(static_cast<char>((group >> (16 - 8 * k)) & 0xFF));
        }
    }
    return bytes;
}

// Every piece and word is limited where it is converted: its text is cut to
// the work buffer there, in whole characters.
void DecodePiece(std::string_view piece, std::string& out, const std::function<void(char)>& invalid) {
    for (std::string_view opening : kBOpenings) {
        if (piece.compare(0, opening.size(), opening) == 0) {
            std::string_view b64 = piece.substr(kBOpeningLength);
            if (!b64.empty() && b64.back() == '?') {
                b64.remove_suffix(1);
            }
            out += JisHeaderToSjis(DecodeB(b64, invalid));
            return;
        }
    }
    if (piece == "?") {
        return;
    }
    out += JisHeaderToSjis(piece);
}

bool IsSeparator(char c) {
    return c == '=' || c == '\r' || c == '\n' || c == '\t';
}

bool IsJisByte(char c) {
    return c >= 0x21 && c <= 0x7E;
}

// Inside a two-byte run of raw ISO-2022-JP, "=" (0x3D) is half of a kanji,
// not a separator; the run ends at the escape back to roman, a line end, or
// a byte that makes no pair.
std::size_t PieceEnd(std::string_view text, std::size_t pos) {
    bool kanji = false;
    std::size_t end = pos;
    while (end < text.size()) {
        const char c = text[end];
        if (kanji && IsJisByte(c)) {
            if (end + 1 < text.size() && IsJisByte(text[end + 1])) {
                end += 2;
                continue;
            }
            kanji = false;
        }
        if (c == kEsc && end + 2 < text.size()) {
            std::string_view seq = text.substr(end + 1, 2);
            if (seq == "$B" || seq == "$@" || seq[0] == '(') {
                kanji = seq[0] == '$';
                end += 3;
                continue;
            }
        }
        if (IsSeparator(c)) {
            break;
        }
        ++end;
    }
    return end;
}

void DecodePieces(std::string_view text, std::string& out, const std::function<void(char)>& invalid) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && IsSeparator(text[pos])) {
            ++pos;
        }
        std::size_t end = PieceEnd(text, pos);
        if (end > pos) {
            DecodePiece(text.substr(pos, end - pos), out, invalid);
        }
        pos = end;
    }
}

}  // namespace

std::string GetSubject(std::string_view text) {
    return ReadField(text, kSubject, nullptr);
}

std::string GetFrom(std::string_view text) {
    std::string value = ReadField(text, kFrom, nullptr);
    if (value.size() > kWorkLimit) {
        // Not inside a raw Shift_JIS character.
        std::size_t keep = 0;
        while (keep < kWorkLimit) {
            bool pair = IsSjisLeadByte(static_cast<unsigned char>(value[keep])) &&
                        IsSjisTrail(static_cast<unsigned char>(value[keep + 1]));
            std::size_t width = pair ? 2 : 1;
            if (keep + width > kWorkLimit) {
                break;
            }
            keep += width;
        }
        value.resize(keep);
    }
    return value;
}

std::string GetDate(std::string_view text) {
    return ReadField(text, kDate, nullptr);
}

std::string GetContentType(std::string_view text) {
    return ReadField(text, kContentType, nullptr);
}

std::string GetContentDisposition(std::string_view text, std::size_t* fieldStart) {
    return ReadField(text, kContentDisposition, fieldStart);
}

std::string JisHeaderToSjis(std::string_view jis) {
    std::string out;
    bool kanji = false;
    std::size_t i = 0;
    const std::size_t n = jis.size();
    while (i < n && jis[i] != '\0') {
        auto c = static_cast<unsigned char>(jis[i]);
        if (c == kEsc && i + 2 < n) {
            std::string_view seq = jis.substr(i + 1, 2);
            if (seq == "$B" || seq == "$@") {
                kanji = true;
                i += 3;
                continue;
            }
            if (seq == "(B" || seq == "(J") {
                kanji = false;
                i += 3;
                continue;
            }
        }
        if (kanji && c >= 0x21 && c <= 0x7E) {
            if (i + 1 >= n) {
                break;
            }
            auto c2 = static_cast<unsigned char>(jis[i + 1]);
            if (c2 < 0x21 || c2 > 0x7E || out.size() + 2 > kWorkLimit) {
                break;
            }
            std::uint16_t sjis = JisToSjisCode(static_cast<std::uint16_t>((c << 8) | c2));
            out.push_back(static_cast<char>(sjis >> 8));
            out.push_back(static_cast<char>(sjis & 0xFF));
            i += 2;
            continue;
        }
        // Raw Shift_JIS passes through; at the limit a character is kept whole or dropped.
        std::size_t width = 1;
        if (!kanji && IsSjisLeadByte(c) && i + 1 < n && IsSjisTrail(static_cast<unsigned char>(jis[i + 1]))) {
            width = 2;
        }
        if (out.size() + width > kWorkLimit) {
            break;
        }
        out.append(jis.substr(i, width));
        i += width;
    }
    return out;
}

namespace {

// The Q and B words the system always decoded, and everything around them.
void DecodeLegacy(std::string_view value, std::string& out, const std::function<void(char)>& invalid) {
    std::size_t pos = 0;
    while (pos < value.size()) {
        std::size_t open = FindQOpening(value, pos);
        std::size_t close = npos;
        if (open != npos) {
            // After the opening, so that a text starting with "=1B" is not taken for the close.
            close = value.find("?=", open + kQOpeningLength);
        }
        if (close == npos) {
            // No (complete) Q word remains: an unterminated one is plain text.
            DecodePieces(value.substr(pos), out, invalid);
            break;
        }
        DecodePieces(value.substr(pos, open - pos), out, invalid);
        std::size_t textStart = open + kQOpeningLength;
        out += JisHeaderToSjis(DecodeQ(value.substr(textStart, close - textStart)));
        pos = close + 2;
    }
}

// An encoded word in a charset or spelling the legacy decoding leaves alone.
struct NewWord {
    std::size_t begin = 0;
    std::size_t end = 0;  // past its "?="
    std::string_view charset;
    char letter = 0;  // 'B' or 'Q'
    std::string_view text;
};

bool IsLegacySpelling(std::string_view charset, char letter) {
    switch (letter) {
        case 'B':
        case 'Q':
            return charset == "ISO-2022-JP" || charset == "iso-2022-jp";
        case 'q':
            return charset == "iso-2022-jp";
        default:
            return false;
    }
}

bool IsWordBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The next encoded word at or after from that the legacy decoding does not
// take: "=?charset?B|Q?text?=", the letter in either case.
std::optional<NewWord> FindNewWord(std::string_view value, std::size_t from) {
    constexpr std::size_t kCharsetMax = 64;
    for (std::size_t at = value.find("=?", from); at != npos; at = value.find("=?", at + 1)) {
        const std::size_t charsetEnd = value.find('?', at + 2);
        if (charsetEnd == npos) {
            return std::nullopt;
        }
        std::string_view charset = value.substr(at + 2, charsetEnd - at - 2);
        if (charset.empty() || charset.size() > kCharsetMax ||
            std::any_of(charset.begin(), charset.end(), [](char c) {
                return IsWordBlank(c) || static_cast<unsigned char>(c) >= 0x80 || c == '=';
            })) {
            continue;
        }
        if (charsetEnd + 2 >= value.size() || value[charsetEnd + 2] != '?') {
            continue;
        }
        const char letter = value[charsetEnd + 1];
        if (letter != 'B' && letter != 'b' && letter != 'Q' && letter != 'q') {
            continue;
        }
        if (IsLegacySpelling(charset, letter)) {
            continue;
        }
        const std::size_t textStart = charsetEnd + 3;
        const std::size_t close = value.find("?=", textStart);
        if (close == npos) {
            return std::nullopt;
        }
        std::string_view text = value.substr(textStart, close - textStart);
        if (std::any_of(text.begin(), text.end(), [](char c) { return IsWordBlank(c) || c == '?'; })) {
            continue;
        }
        // RFC 2231 allows a language after the charset: "utf-8*ja".
        charset = charset.substr(0, charset.find('*'));
        const char upper = (letter == 'b' || letter == 'B') ? 'B' : 'Q';
        return NewWord{at, close + 2, charset, upper, text};
    }
    return std::nullopt;
}

// At most the work buffer, never half of a double-byte character.
void AppendWhole(std::string_view sjis, std::string& out) {
    std::size_t keep = 0;
    while (keep < sjis.size()) {
        const bool pair = IsSjisLeadByte(static_cast<unsigned char>(sjis[keep])) && keep + 1 < sjis.size();
        const std::size_t width = pair ? 2 : 1;
        if (keep + width > kWorkLimit) {
            break;
        }
        keep += width;
    }
    out.append(sjis.substr(0, keep));
}

void DecodeNewWord(const NewWord& word, std::string& out, const std::function<void(char)>& invalid) {
    std::string bytes;
    if (word.letter == 'B') {
        std::string_view b64 = word.text;
        while (!b64.empty() && b64.back() == '=') {
            b64.remove_suffix(1);
        }
        bytes = DecodeB(b64, invalid);
    } else {
        bytes = DecodeQ(word.text);
    }
    bytes.resize(std::min(bytes.find('\0'), bytes.size()));
    const std::int32_t kanji = KanjiCodeOfCharset(word.charset);
    if (kanji == KANJI_JIS) {
        out += JisHeaderToSjis(bytes);
        return;
    }
    if (kanji == KANJI_SJIS || kanji == KANJI_EUC) {
        AppendWhole(CKanjiConverter::Convert(bytes.data(), bytes.size(), kanji, KANJI_SJIS), out);
        return;
    }
    // An unknown or wrong charset: the text's own code decides.
    std::optional<std::string> utf8 = CharsetToUtf8(bytes, word.charset);
    if (!utf8 && LooksLikeUtf8(bytes)) {
        utf8 = bytes;
    }
    if (utf8) {
        AppendWhole(Utf8ToCp932Geta(*utf8), out);
    } else {
        AppendWhole(CKanjiConverter::Convert(bytes.data(), bytes.size(), KANJI_AUTO, KANJI_SJIS), out);
    }
}

}  // namespace

std::string DecodeHeaderText(std::string_view rawValue, const InvalidCharReport& report) {
    std::string_view value = UpToZero(rawValue);
    std::string out;
    out.reserve(value.size());
    // One box per value: a hostile header must not bury the user under them.
    bool reported = false;
    std::function<void(char)> invalid = [&](char c) {
        if (!reported) {
            reported = true;
            if (report) {
                report(c);
            }
        }
    };
    std::size_t pos = 0;
    bool afterWord = false;
    while (pos < value.size()) {
        std::optional<NewWord> word = FindNewWord(value, pos);
        std::string_view before = value.substr(pos, (word ? word->begin : value.size()) - pos);
        // Blanks between two encoded words are folding, not text.
        const bool blank = std::all_of(before.begin(), before.end(), IsWordBlank);
        if (!(word && blank && afterWord)) {
            DecodeLegacy(before, out, invalid);
        }
        if (!word) {
            break;
        }
        DecodeNewWord(*word, out, invalid);
        pos = word->end;
        afterWord = true;
    }
    return out;
}

}  // namespace wp
