#include "platform/text.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <memory>
#include <stdexcept>

namespace wp {
namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// Invalid bytes show as U+FFFD so the user sees that something was there.
void ToUnicodeReplace(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                      UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) {
        return;
    }
    static const UChar kReplacement = 0xFFFD;
    *err = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, err);
}

UConverter* OpenConverter(bool stopOnUnmappable) {
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open("windows-31j", &err);
    if (U_FAILURE(err) || c == nullptr) {
        throw std::runtime_error("the CP932 converter is not available");
    }
    ucnv_setToUCallBack(c, ToUnicodeReplace, nullptr, nullptr, nullptr, &err);
    // Fallbacks let what Japanese input methods type (U+301C wave dash,
    // U+2212 minus, U+2016 double bar) take their CP932 look-alikes.
    ucnv_setFallback(c, true);
    if (stopOnUnmappable) {
        ucnv_setFromUCallBack(c, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    } else {
        const char question = '?';
        ucnv_setSubstChars(c, &question, 1, &err);
    }
    return c;
}

// ICU converters are not thread-safe; one pair per thread.
UConverter* Converter(bool stopOnUnmappable) {
    thread_local ConverterPtr strict(OpenConverter(true));
    thread_local ConverterPtr lossy(OpenConverter(false));
    UConverter* c = stopOnUnmappable ? strict.get() : lossy.get();
    ucnv_reset(c);
    return c;
}

// Characters Microsoft's best-fit table maps that the converter's fallbacks do not.
char16_t ExtraFallback(char16_t ch) {
    switch (ch) {
        case 0x00A2: return 0xFFE0;  // cent sign -> fullwidth cent
        case 0x00A3: return 0xFFE1;  // pound sign -> fullwidth pound
        case 0x00AC: return 0xFFE2;  // not sign -> fullwidth not
        case 0x2014: return 0x2015;  // em dash -> horizontal bar (0x815C)
        default: return ch;
    }
}

std::optional<std::string> FromUtf16(const char16_t* data, std::size_t length, bool strict) {
    std::u16string text(data, length);
    for (auto& ch : text) {
        ch = ExtraFallback(ch);
    }
    UConverter* c = Converter(strict);
    std::string out(text.size() * 2 + 4, '\0');
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(c, out.data(), static_cast<int32_t>(out.size()),
                                reinterpret_cast<const UChar*>(text.data()),
                                static_cast<int32_t>(text.size()), &err);
    if (U_FAILURE(err)) {
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(n));
    return out;
}

}  // namespace

QString Cp932ToQString(std::string_view cp932) {
    if (cp932.empty()) {
        return {};
    }
    UConverter* c = Converter(true);
    // One byte never gives more than one UTF-16 unit in CP932.
    QString out(static_cast<qsizetype>(cp932.size()) + 2, Qt::Uninitialized);
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(c, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                              cp932.data(), static_cast<int32_t>(cp932.size()), &err);
    if (U_FAILURE(err)) {
        return QString(QChar(0xFFFD));
    }
    out.truncate(n);
    return out;
}

std::string Cp932ToUtf8(std::string_view cp932) {
    return Cp932ToQString(cp932).toStdString();
}

std::optional<std::string> QStringToCp932(const QString& text) {
    return FromUtf16(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()),
                     true);
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    // Bytes that are not UTF-8 decode to U+FFFD, which CP932 cannot hold.
    return QStringToCp932(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

std::string QStringToCp932Lossy(const QString& text) {
    auto out = FromUtf16(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()),
                         false);
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
