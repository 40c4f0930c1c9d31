#pragma once
// One listed mail. Owned by the current account's cache object; list rows
// point to it through their item data.

#include <cstdint>
#include <string>

namespace wp {

struct MailEntry {
    std::uint32_t id = 0;       // 1-based position of its record in the index file
    std::int16_t hasParts = 0;  // more than plain text
    std::string from;           // CP932
    std::int16_t mark = 0;      // 0 never set, 1 marked, 2 unmarked (the row's image rules)
    std::string subject;        // CP932
    std::string date;           // display form
    std::uint32_t size = 0;     // octets from LIST
    // The unique id as its record held it when the entry was made. The record
    // at `id` is this mail's only while it still holds the same usable id:
    // another process may have rewritten the index file since (see
    // mail/entry_record.h).
    std::string uid;
};

// Images of the row image list.
inline constexpr int kImageMarked = 1;
inline constexpr int kImageUnmarked = 2;
inline constexpr int kImagePlain = 3;
inline constexpr int kImageParts = 4;

}  // namespace wp
