#include "decode/header_summary.h"

#include <string_view>

#include "decode/date_size_text.h"

namespace wp {

bool HasParts(std::string_view contentType) {
    if (contentType.empty()) {
        return false;
    }
    return contentType.find("text/plain") == std::string_view::npos &&
           contentType.find("Text/Plain") == std::string_view::npos;
}

HeaderSummary SummarizeHeader(const char* block, std::size_t length, std::uint32_t size, std::uint32_t id,
                              const InvalidCharReport& report) {
    HeaderSummary summary;
    summary.id = id;
    summary.size = size;
    if (block == nullptr || length == 0) {
        return summary;
    }
    std::string_view text(block, length);
    text = text.substr(0, text.find('\0'));

    summary.subject = DecodeHeaderText(GetSubject(text), report);
    summary.from = DecodeHeaderText(GetFrom(text), report);
    summary.date = GetDate(text);
    FormatDateText(summary.date);
    summary.hasParts = HasParts(GetContentType(text)) ? 1 : 0;
    return summary;
}

}  // namespace wp
