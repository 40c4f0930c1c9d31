#include "platform/text.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace wp {
namespace {

// ICU takes lengths as int32_t; long input goes through in pieces so that no
// length is ever cut.
constexpr std::size_t kChunk = 1 << 16;

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// Invalid bytes show as U+FFFD so the user sees that something was there
// (ICU's own choice for a single bad byte is U+001A, which shows nothing).
void ToUnicodeReplace(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                      UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) {
        return;
    }
    static const UChar kReplacement = 0xFFFD;
    *err = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, err);
}

// Look-alikes that Microsoft's best-fit table has and ICU's fallbacks lack:
// the Latin-1 cent, pound and not signs that JIS-based input produces.
const char* ExtraFallback(UChar32 cp) {
    switch (cp) {
        case 0x00A2: return "\x81\x91";
        case 0x00A3: return "\x81\x92";
        case 0x00AC: return "\x81\xCA";
        default: return nullptr;
    }
}

// context is non-null for the strict converter, which stops at anything it
// cannot hold, invisible characters included (ICU's own stop callback drops
// those silently); the lossy one writes '?' (and drops invisible ones).
void FromUnicodeCallback(const void* context, UConverterFromUnicodeArgs* args, const UChar* units,
                         int32_t length, UChar32 cp, UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) {
        return;
    }
    if (reason == UCNV_UNASSIGNED) {
        if (const char* bytes = ExtraFallback(cp)) {
            *err = U_ZERO_ERROR;
            ucnv_cbFromUWriteBytes(args, bytes, 2, 0, err);
            return;
        }
    }
    if (context != nullptr) {
        return;  // leaves the error set: the conversion stops
    }
    UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, cp, reason, err);
}

UConverter* OpenConverter(bool strict) {
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open("windows-31j", &err);
    if (U_FAILURE(err) || c == nullptr) {
        throw std::runtime_error("the CP932 converter is not available");
    }
    ucnv_setToUCallBack(c, ToUnicodeReplace, nullptr, nullptr, nullptr, &err);
    // Fallbacks let what Japanese input methods type (U+301C wave dash,
    // U+2212 minus, U+2016 double bar) take their CP932 look-alikes.
    ucnv_setFallback(c, true);
    static const int kStrictMarker = 1;
    ucnv_setFromUCallBack(c, FromUnicodeCallback, strict ? &kStrictMarker : nullptr, nullptr, nullptr,
                          &err);
    const char question = '?';
    ucnv_setSubstChars(c, &question, 1, &err);
    if (U_FAILURE(err)) {
        ucnv_close(c);
        throw std::runtime_error("the CP932 converter cannot be set up");
    }
    return c;
}

// ICU converters are not thread-safe; one pair per thread.
UConverter* Converter(bool strict) {
    thread_local ConverterPtr strictConverter(OpenConverter(true));
    thread_local ConverterPtr lossyConverter(OpenConverter(false));
    UConverter* c = strict ? strictConverter.get() : lossyConverter.get();
    ucnv_reset(c);
    return c;
}

std::optional<std::string> FromUtf16(const char16_t* data, std::size_t length, bool strict) {
    std::string out;
    if (length == 0) {
        return out;
    }
    UConverter* c = Converter(strict);
    const UChar* src = reinterpret_cast<const UChar*>(data);
    const UChar* end = src + length;
    std::size_t used = 0;
    for (;;) {
        const UChar* chunkEnd = src + std::min<std::size_t>(static_cast<std::size_t>(end - src), kChunk);
        const bool flush = chunkEnd == end;
        // A UTF-16 unit never gives more than two bytes; a little more room
        // takes what the converter held back from the last piece.
        const std::size_t room = 2 * static_cast<std::size_t>(chunkEnd - src) + 16;
        out.resize(used + room);
        char* target = out.data() + used;
        UErrorCode err = U_ZERO_ERROR;
        ucnv_fromUnicode(c, &target, target + room, &src, chunkEnd, nullptr, flush, &err);
        used = static_cast<std::size_t>(target - out.data());
        if (err == U_BUFFER_OVERFLOW_ERROR) {
            continue;
        }
        if (U_FAILURE(err)) {
            return std::nullopt;
        }
        if (flush && src == end) {
            break;
        }
    }
    out.resize(used);
    return out;
}

const char16_t* Utf16(const QString& text) {
    return reinterpret_cast<const char16_t*>(text.utf16());
}

}  // namespace

QString Cp932ToQString(std::string_view cp932) {
    QString out;
    if (cp932.empty()) {
        return out;
    }
    UConverter* c = Converter(true);
    const char* src = cp932.data();
    const char* end = src + cp932.size();
    qsizetype used = 0;
    for (;;) {
        const char* chunkEnd = src + std::min<std::size_t>(static_cast<std::size_t>(end - src), kChunk);
        const bool flush = chunkEnd == end;
        // One byte never gives more than one UTF-16 unit; the spare room
        // takes a replacement for a sequence cut off by the end.
        const qsizetype room = (chunkEnd - src) + 16;
        out.resize(used + room);
        UChar* base = reinterpret_cast<UChar*>(out.data());
        UChar* target = base + used;
        UErrorCode err = U_ZERO_ERROR;
        ucnv_toUnicode(c, &target, target + room, &src, chunkEnd, nullptr, flush, &err);
        used = target - base;
        if (err == U_BUFFER_OVERFLOW_ERROR) {
            continue;
        }
        if (U_FAILURE(err)) {
            // Not reached with the replacing callback; still, show that text is missing.
            out.resize(used);
            out.append(QChar(0xFFFD));
            return out;
        }
        if (flush && src == end) {
            break;
        }
    }
    out.resize(used);
    return out;
}

std::string Cp932ToUtf8(std::string_view cp932) {
    return Cp932ToQString(cp932).toStdString();
}

std::optional<std::string> QStringToCp932(const QString& text) {
    return FromUtf16(Utf16(text), static_cast<std::size_t>(text.size()), true);
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    // Bytes that are not UTF-8 decode to U+FFFD, which CP932 cannot hold.
    return QStringToCp932(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

std::string QStringToCp932Lossy(const QString& text) {
    auto out = FromUtf16(Utf16(text), static_cast<std::size_t>(text.size()), false);
    return out ? *out : std::string();
}

std::string TruncateUtf8(std::string_view utf8, std::size_t maxBytes) {
    if (utf8.size() <= maxBytes) {
        return std::string(utf8);
    }
    std::size_t cut = maxBytes;
    // Step back over continuation bytes so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(utf8.substr(0, cut));
}

}  // namespace wp
