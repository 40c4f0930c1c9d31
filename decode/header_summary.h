#pragma once
// What one mail's header block becomes for its row in the server list.

#include <cstdint>
#include <string>

namespace wp {

struct HeaderSummary {
    std::uint32_t id = 0;     // entry id; 0 makes no row
    std::int32_t hasParts = 0;
    std::string from;         // decoded, CP932
    std::string subject;      // decoded, CP932
    std::string date;         // display form
    std::uint32_t size = 0;   // octets, from LIST
};

}  // namespace wp
