#pragma once
// What one mail's header block becomes for its row in the server list.

#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/header_fields.h"

namespace wp {

struct HeaderSummary {
    std::uint32_t id = 0;  // entry id; 0 makes no row
    std::int32_t hasParts = 0;
    std::string from;        // decoded, CP932
    std::string subject;     // decoded, CP932
    std::string date;        // display form
    std::uint32_t size = 0;  // octets, from LIST
};

// Summarises a header block as TOP n 0 returned it (status and terminating
// lines included; not zero-terminated, and it ends at a zero byte inside).
// report hears of invalid base64 characters, once per decoded value at most.
HeaderSummary SummarizeHeader(const char* block, std::size_t length, std::uint32_t size, std::uint32_t id,
                              const InvalidCharReport& report = {});

// A Content-Type value that does not name plain text, or names it with
// capitals, means the mail carries more than plain text.
bool HasParts(std::string_view contentType);

}  // namespace wp
