// The code converter: detection, every direction, and the promise that the
// chunk size never changes a result; the CP932/UTF-8 edge as well.

#include "decode/kanji_converter.h"
#include "platform/text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const std::int32_t source = static_cast<std::int32_t>(data[0] % 4) - 1;  // -1 detects
    const std::int32_t target = data[1] % 3;
    const std::size_t chunk = data[2];
    const char* text = reinterpret_cast<const char*>(data + 3);
    const std::size_t length = size - 3;

    (void)wp::CKanjiConverter::DetectCode(text, length);
    std::int32_t used = 0;
    const std::string whole = wp::CKanjiConverter::Convert(text, length, source, target, &used);
    std::int32_t usedChunked = 0;
    const std::string chunked =
        wp::CKanjiConverter::ConvertInChunks(text, length, source, target, &usedChunked, chunk);
    if (whole != chunked || used != usedChunked) {
        std::abort();  // the result must not depend on how the text was cut
    }
    const std::string utf8 = wp::Cp932ToUtf8(std::string_view(text, length));
    if (std::optional<std::string> back = wp::Utf8ToCp932(utf8)) {
        (void)wp::Cp932ToUtf8(*back);
    }
    (void)wp::Utf8ToCp932(std::string_view(text, length));
    (void)wp::TruncateUtf8(std::string_view(text, length), chunk);
    return 0;
}
