// The header readers, the encoded-word decoder and the summary of a TOP block.

#include "decode/header_fields.h"
#include "decode/header_summary.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)wp::GetSubject(text);
    (void)wp::GetFrom(text);
    (void)wp::GetDate(text);
    const std::string type = wp::GetContentType(text);
    (void)wp::HasParts(type);
    std::size_t fieldStart = 0;
    (void)wp::GetContentDisposition(text, &fieldStart);
    int reports = 0;
    (void)wp::DecodeHeaderText(text, [&](char) { ++reports; });
    (void)wp::JisHeaderToSjis(text);
    const std::uint32_t listed = size >= 4 ? static_cast<std::uint32_t>(data[0]) << 24 | data[1] << 16 : 0;
    (void)wp::SummarizeHeader(text.data(), text.size(), listed, 1, [&](char) { ++reports; });
    return 0;
}
