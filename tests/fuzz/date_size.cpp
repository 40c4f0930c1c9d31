// The date and size texts of the list's columns and the status bar.

#include "decode/date_size_text.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint32_t numbers[3] = {};
    std::memcpy(numbers, data, size < sizeof numbers ? size : sizeof numbers);
    std::string date(reinterpret_cast<const char*>(data), size);
    wp::FormatDateText(date);
    const std::string current = wp::SizeColumnText(numbers[0]);
    (void)wp::MailSizeText(numbers[1]);
    (void)wp::ReceivedSizeText(numbers[2], numbers[1], current);
    (void)wp::ReceivedSizeText(numbers[2], numbers[1], std::string_view(reinterpret_cast<const char*>(data), size));
    const std::uint32_t code = wp::SelectionSizeCode(numbers[0]);
    (void)wp::SelectionStatusText(static_cast<int>(numbers[1]), code);
    (void)wp::SelectionStatusText(static_cast<int>(numbers[1]), numbers[2]);
    (void)wp::ProgressStatusText(static_cast<int>(numbers[0]), static_cast<int>(numbers[2]));
    return 0;
}
