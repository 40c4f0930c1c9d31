#include "decode/charset.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "decode/kanji_converter.h"
#include "decode/kanji_stream.h"

namespace wp {

namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// ICU takes lengths as int32_t: long input goes through in pieces.
constexpr std::size_t kPiece = 1 << 16;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerName(std::string_view name) {
    std::string lower;
    for (char c : name) {
        if (c != ' ' && c != '"' && c != '\t') {
            lower += Lower(c);
        }
    }
    return lower;
}

// Converts from `from` to `to` a piece at a time, appending to `out`; the
// text may come in several calls, the last one flushing.
class PieceConverter {
public:
    PieceConverter(UConverter* to, UConverter* from) : to_(to), from_(from) {}

    // False at a failure, with what converted before it kept.
    bool Put(std::string_view bytes, bool last, std::string& out) {
        const char* src = bytes.data();
        const char* const end = src + bytes.size();
        if (src == end && !last) {
            return true;
        }
        for (;;) {
            const char* pieceEnd = src + std::min<std::size_t>(static_cast<std::size_t>(end - src), kPiece);
            const bool flush = last && pieceEnd == end;
            char* target = buffer_.data();
            UErrorCode err = U_ZERO_ERROR;
            ucnv_convertEx(to_, from_, &target, buffer_.data() + buffer_.size(), &src, pieceEnd, pivot_.data(),
                           &pivotSource_, &pivotTarget_, pivot_.data() + pivot_.size(), reset_, flush, &err);
            reset_ = false;
            out.append(buffer_.data(), static_cast<std::size_t>(target - buffer_.data()));
            if (err == U_BUFFER_OVERFLOW_ERROR) {
                continue;
            }
            if (U_FAILURE(err)) {
                return false;
            }
            if (src == end && (flush || !last)) {
                return true;
            }
        }
    }

private:
    UConverter* to_;
    UConverter* from_;
    std::array<UChar, 4096> pivot_{};
    UChar* pivotSource_ = pivot_.data();
    UChar* pivotTarget_ = pivot_.data();
    std::array<char, 16384> buffer_{};
    bool reset_ = true;
};

bool ConvertPieces(UConverter* to, UConverter* from, std::string_view bytes, std::string& out) {
    return PieceConverter(to, from).Put(bytes, true, out);
}

// Bytes to UTF-8 through an opened converter; nullopt at the first byte
// that is no character in it, unless lenient (then U+FFFD).
std::optional<std::string> Decode(UConverter* c, std::string_view bytes, bool lenient) {
    UErrorCode err = U_ZERO_ERROR;
    if (lenient) {
        ucnv_setToUCallBack(c, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &err);
    } else {
        ucnv_setToUCallBack(c, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    }
    ConverterPtr utf8Holder;
    UConverter* utf8 = nullptr;
    {
        UErrorCode e = U_ZERO_ERROR;
        utf8Holder.reset(ucnv_open("UTF-8", &e));
        utf8 = utf8Holder.get();
        if (U_FAILURE(e) || utf8 == nullptr) {
            return std::nullopt;
        }
    }
    std::string out;
    // Room for the usual growth (two bytes of a kanji become three) at once:
    // growing by doubling would hold two copies of megabytes on the way.
    out.reserve(bytes.size() + bytes.size() / 2 + 16);
    if (!ConvertPieces(utf8, c, bytes, out)) {
        return std::nullopt;
    }
    return out;
}

ConverterPtr Open(const char* name) {
    UErrorCode err = U_ZERO_ERROR;
    ConverterPtr c(ucnv_open(name, &err));
    if (U_FAILURE(err)) {
        c.reset();
    }
    return c;
}

// The Japanese three (code -1 detects) to UTF-8 by way of Shift_JIS, the
// same as Cp932TextToUtf8 of the kanji converter's text, a piece at a time:
// a part of megabytes is not held a third time in between.
std::string JapaneseToUtf8(std::string_view bytes, std::int32_t code) {
    if (code < KANJI_SJIS || code > KANJI_EUC) {
        code = CKanjiConverter::DetectCode(bytes.data(), bytes.size());
    }
    if (code == KANJI_SJIS) {
        return Cp932TextToUtf8(bytes);
    }
    ConverterPtr from = Open("windows-31j");
    ConverterPtr to = Open("UTF-8");
    // Quoted-printable escapes are undone over the whole text at once.
    if (!from || !to || (code == KANJI_JIS && FindJisDesignation(bytes) == std::string_view::npos)) {
        return Cp932TextToUtf8(CKanjiConverter::Convert(bytes.data(), bytes.size(), code, KANJI_SJIS));
    }
    UErrorCode err = U_ZERO_ERROR;
    ucnv_setToUCallBack(from.get(), UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &err);
    KanjiStreamConverter kanji(code, KANJI_SJIS);
    PieceConverter unicode(to.get(), from.get());
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2 + 16);
    std::string sjis;
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        sjis.clear();
        kanji.Feed(bytes.data() + at, std::min(kPiece, bytes.size() - at), sjis);
        if (!unicode.Put(sjis, false, out)) {
            return {};
        }
    }
    sjis.clear();
    kanji.Finish(sjis);
    if (!unicode.Put(sjis, true, out)) {
        return {};
    }
    return out;
}

}  // namespace

std::int32_t KanjiCodeOfCharset(std::string_view charset) {
    const std::string name = LowerName(charset);
    if (name == "iso-2022-jp" || name == "csiso2022jp" || name == "jis" || name == "iso-2022-jp-1" ||
        name == "iso-2022-jp-3") {
        return KANJI_JIS;
    }
    if (name == "shift_jis" || name == "shift-jis" || name == "sjis" || name == "x-sjis" ||
        name == "cp932" || name == "windows-31j" || name == "ms_kanji" || name == "csshiftjis" ||
        name == "x-ms-cp932") {
        return KANJI_SJIS;
    }
    if (name == "euc-jp" || name == "x-euc-jp" || name == "eucjp" || name == "x-euc" ||
        name == "cseucpkdfmtjapanese") {
        return KANJI_EUC;
    }
    return -2;
}

std::optional<std::string> CharsetToUtf8(std::string_view bytes, std::string_view charset) {
    const std::int32_t kanji = KanjiCodeOfCharset(charset);
    if (kanji >= KANJI_SJIS) {
        return JapaneseToUtf8(bytes, kanji);
    }
    std::string name = LowerName(charset);
    if (name.empty() || name.size() > 64) {
        return std::nullopt;
    }
    if (name == "us-ascii" || name == "ascii") {
        name = "utf-8";  // a superset: 8-bit bytes in an "ASCII" text are mostly UTF-8
    }
    if (name == "utf-8" || name == "utf8") {
        if (!LooksLikeUtf8(bytes) && std::any_of(bytes.begin(), bytes.end(), [](char b) {
                return static_cast<unsigned char>(b) >= 0x80;
            })) {
            return std::nullopt;
        }
        return std::string(bytes);
    }
    // The names mailers write for what is really a wider Windows code page.
    if (name == "gb2312" || name == "euc-cn" || name == "x-gbk") {
        name = "gbk";
    } else if (name == "ks_c_5601-1987" || name == "euc-kr" || name == "korean") {
        name = "windows-949";
    } else if (name == "iso-8859-1" || name == "latin1" || name == "us-ascii") {
        name = "windows-1252";
    }
    ConverterPtr c = Open(name.c_str());
    if (!c) {
        return std::nullopt;
    }
    return Decode(c.get(), bytes, false);
}

std::string Cp932TextToUtf8(std::string_view cp932) {
    ConverterPtr c = Open("windows-31j");
    if (!c) {
        return std::string(cp932);
    }
    return Decode(c.get(), cp932, true).value_or(std::string());
}

std::string Utf8ToCp932Geta(std::string_view utf8) {
    ConverterPtr from = Open("UTF-8");
    ConverterPtr to = Open("windows-31j");
    if (!from || !to) {
        return {};
    }
    UErrorCode err = U_ZERO_ERROR;
    static const char kGeta[] = "\x81\xAC";
    ucnv_setSubstChars(to.get(), kGeta, 2, &err);
    ucnv_setFromUCallBack(to.get(), UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &err);
    // A byte that is no UTF-8 becomes U+FFFD first, and that becomes 〓.
    ucnv_setToUCallBack(from.get(), UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &err);
    // Look-alikes CP932 holds (wave dash, minus) rather than 〓.
    ucnv_setFallback(to.get(), true);
    std::string out;
    ConvertPieces(to.get(), from.get(), utf8, out);  // what converted before a failure stays
    return out;
}

bool LooksLikeUtf8(std::string_view bytes) {
    bool multi = false;
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        // Mail text is mostly ASCII: eight bytes at a time through it.
        while (n - i >= 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes.data() + i, 8);
            if ((word & 0x8080808080808080u) != 0) {
                break;
            }
            i += 8;
        }
        if (i >= n) {
            break;
        }
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t more = 0;
        std::uint32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + more >= n) {
            return false;
        }
        for (std::size_t k = 1; k <= more; ++k) {
            const auto t = static_cast<unsigned char>(bytes[i + k]);
            if ((t & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (t & 0x3F);
        }
        // Over-long forms, surrogates and what lies beyond U+10FFFF.
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        multi = true;
        i += more + 1;
    }
    return multi;
}

std::string TextToUtf8(std::string_view bytes, std::string_view declared, std::int32_t code) {
    if (code == KANJI_UTF8) {
        ConverterPtr c = Open("UTF-8");
        return c ? Decode(c.get(), bytes, true).value_or(std::string()) : std::string(bytes);
    }
    if (code >= KANJI_SJIS && code <= KANJI_EUC) {
        return JapaneseToUtf8(bytes, code);
    }
    if (!declared.empty()) {
        if (std::optional<std::string> text = CharsetToUtf8(bytes, declared)) {
            return std::move(*text);
        }
    }
    if (LooksLikeUtf8(bytes)) {
        return std::string(bytes);
    }
    return JapaneseToUtf8(bytes, KANJI_AUTO);
}

}  // namespace wp
