#include "decode/date_size_text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>
#include <vector>

namespace wp {

namespace {

constexpr std::uint32_t kKilo = 1024;
constexpr std::uint32_t kMega = 1048576;
constexpr std::uint32_t kGiga = 1073741824;

// CP932 texts of the status bar.
constexpr std::string_view kSelectedMails =
    "\x8C\x8F\x82\xCC\xD2\xB0\xD9\x82\xF0\x91\x49\x91\xF0";  // 件のﾒｰﾙを選択
constexpr std::string_view kBytes = "\xCA\xDE\xB2\xC4";      // ﾊﾞｲﾄ
constexpr std::string_view kMailsOf = "\x8C\x8F\x92\x86";    // 件中
constexpr std::string_view kMails = "\x8C\x8F";              // 件

constexpr std::string_view kMonths = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";

// Limits of the date's pieces, in characters.
constexpr std::size_t kMaxAfterComma = 1023;
constexpr std::size_t kMaxDay = 3;
constexpr std::size_t kMaxYear = 7;
constexpr std::size_t kMaxTime = 19;
constexpr std::size_t kMaxZone = 9;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimLeadingBlanks(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    return text.substr(i);
}

// Locale-free "%.1f".
std::string Fixed1(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    return std::string(buffer, result.ptr);
}

// "%d"/"%.1f" followed by the unit names of the three larger units.
std::string UnitText(std::uint32_t size, std::string_view bytes, std::string_view kilo, std::string_view mega,
                     std::string_view giga) {
    if (size < kKilo) {
        return std::to_string(size).append(bytes);
    }
    if (size < kMega) {
        return Fixed1(size / static_cast<double>(kKilo)).append(kilo);
    }
    if (size < kGiga) {
        return Fixed1(size / static_cast<double>(kMega)).append(mega);
    }
    return Fixed1(size / static_cast<double>(kGiga)).append(giga);
}

}  // namespace

void FormatDateText(std::string& value) {
    std::string_view trimmed = TrimLeadingBlanks(value);
    if (trimmed.size() != value.size()) {
        value.erase(0, value.size() - trimmed.size());
    }
    std::string_view rest = value;
    if (std::size_t comma = rest.find(','); comma != std::string_view::npos) {
        rest.remove_prefix(comma + 1);
    }
    rest = TrimLeadingBlanks(rest.substr(0, kMaxAfterComma));

    std::vector<std::string_view> pieces;
    std::size_t pos = 0;
    while (pieces.size() < 5) {
        while (pos < rest.size() && IsBlank(rest[pos])) {
            ++pos;
        }
        if (pos >= rest.size()) {
            break;
        }
        std::size_t end = pos;
        while (end < rest.size() && !IsBlank(rest[end])) {
            ++end;
        }
        pieces.push_back(rest.substr(pos, end - pos));
        pos = end;
    }
    if (pieces.size() < 4) {
        return;
    }

    std::string day(pieces[0].substr(0, kMaxDay));
    if (day.size() == 1) {
        day.insert(0, 1, '0');
    }

    std::string month(pieces[1]);
    for (char& c : month) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    std::size_t at = kMonths.find(month);
    if (at == std::string_view::npos) {
        return;
    }
    int monthNumber = static_cast<int>(at / 3) + 1;

    std::string year(pieces[2].substr(0, kMaxYear));
    if (year.size() == 2) {
        bool digits = year[0] >= '0' && year[0] <= '9' && year[1] >= '0' && year[1] <= '9';
        bool nineteen = digits && (year[0] - '0') * 10 + (year[1] - '0') >= 70;
        year.insert(0, nineteen ? "19" : "20");
    }

    std::string_view time = pieces[3].substr(0, kMaxTime);
    std::string zone;
    if (pieces.size() > 4) {
        std::string_view token = pieces[4].substr(0, kMaxZone);
        if (token != "+0900") {
            zone.append("(").append(token).append(")");
        }
    }

    const char monthText[] = {static_cast<char>('0' + monthNumber / 10),
                              static_cast<char>('0' + monthNumber % 10), '\0'};
    std::string result;
    result.reserve(year.size() + day.size() + time.size() + zone.size() + 8);
    result.append(year).append("/").append(monthText).append("/").append(day);
    result.append(" ").append(time).append(" ").append(zone);
    value = std::move(result);
}

std::string SizeColumnText(std::uint32_t size) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%10u", size);
    return buffer;
}

std::string MailSizeText(std::uint32_t size) {
    return UnitText(size, "byte", "Kbyte", "Mbyte", "Gbyte");
}

ReceivedSizeView ReceivedSizeText(std::uint32_t received, std::uint32_t size, std::string_view currentText) {
    if (received > size) {
        received = size;
    }
    ReceivedSizeView view;
    view.text = UnitText(received, "", "KB", "MB", "GB");
    // The whole text is looked at: a total of twenty characters would
    // otherwise lose its last letter on the next update.
    if (std::size_t slash = currentText.find('/'); slash != std::string_view::npos) {
        view.text.append(currentText.substr(slash));
    } else {
        view.text.append("/").append(currentText);
    }
    std::uint32_t step = size / kReceiveSteps;
    view.position =
        step == 0 ? kReceiveSteps : static_cast<int>(std::min<std::uint32_t>(kReceiveSteps, received / step));
    return view;
}

std::uint32_t SelectionSizeCode(std::uint32_t totalBytes) {
    std::uint32_t unit = 0;
    std::uint64_t value = totalBytes;
    if (totalBytes >= kGiga) {
        unit = 3;
        value = value * 10 / kGiga;
    } else if (totalBytes >= kMega) {
        unit = 2;
        value = value * 10 / kMega;
    } else if (totalBytes >= kKilo) {
        unit = 1;
        value = value * 10 / kKilo;
    }
    return (unit << 16) | static_cast<std::uint32_t>(value & 0xFFFF);
}

std::string SelectionStatusText(int count, std::uint32_t sizeCode) {
    if (count == 0) {
        return {};
    }
    std::string text = std::to_string(count);
    text.append(kSelectedMails);
    std::uint32_t unit = sizeCode >> 16;
    std::uint32_t value = sizeCode & 0xFFFF;
    // " (%d ﾊﾞｲﾄ)", " (%.1f Kﾊﾞｲﾄ)", " (%.1f Mﾊﾞｲﾄ)", " (%.1f Gﾊﾞｲﾄ)"
    static constexpr std::string_view kUnits[] = {"", "K", "M", "G"};
    if (unit == 0) {
        text.append(" (").append(std::to_string(value)).append(" ").append(kBytes).append(")");
    } else if (unit <= 3) {
        text.append(" (").append(Fixed1(value / 10.0)).append(" ").append(kUnits[unit]);
        text.append(kBytes).append(")");
    }
    return text;
}

std::string ProgressStatusText(int done, int total) {
    if (done != 0) {
        return std::to_string(done).append("/").append(std::to_string(total)).append(kMailsOf);
    }
    if (total != 0) {
        return std::to_string(total).append(kMails);
    }
    return {};
}

}  // namespace wp
