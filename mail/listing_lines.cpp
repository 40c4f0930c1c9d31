#include "mail/listing_lines.h"

#include <cctype>
#include <limits>

namespace wp {

void ListingLineReader::SkipLine() {
    int c;
    while ((c = getc_unlocked(file_)) != EOF && c != '\n') {
    }
}

ListingLineReader::Result ListingLineReader::Next(std::string_view* line) {
    std::size_t n = 0;
    bool any = false;
    int c;
    while ((c = getc_unlocked(file_)) != EOF) {
        any = true;
        if (c == '\n') {
            break;
        }
        if (n < kMaxListingLine) {
            buffer_[n] = static_cast<char>(c);
        }
        ++n;
        if (n > kMaxListingLine + 1) {
            n = kMaxListingLine + 1;  // only "too long" matters from here on
        }
    }
    if (!any) {
        return Result::kEnd;
    }
    *line = std::string_view(buffer_, n < kMaxListingLine ? n : kMaxListingLine);
    // n counts the line without its LF; with it the line may take kMaxListingLine bytes.
    return n + 1 > kMaxListingLine ? Result::kTooLong : Result::kLine;
}

ListingTokens SplitListingLine(std::string_view line) {
    ListingTokens tokens;
    std::size_t i = 0;
    auto delimiter = [](char c) { return c == ' ' || c == '\r'; };
    while (tokens.count < 2) {
        while (i < line.size() && delimiter(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::size_t start = i;
        while (i < line.size() && !delimiter(line[i])) {
            ++i;
        }
        (tokens.count == 0 ? tokens.first : tokens.second) = line.substr(start, i - start);
        ++tokens.count;
    }
    return tokens;
}

bool IsListingEnd(std::string_view line) {
    return line == "." || (line.size() >= 2 && line[0] == '.' && line[1] == '\r');
}

namespace {

std::size_t SkipSpace(std::string_view token) {
    std::size_t i = 0;
    while (i < token.size() && std::isspace(static_cast<unsigned char>(token[i]))) {
        ++i;
    }
    return i;
}

// Digits from i on, saturated at max; i moves past them.
std::int64_t Digits(std::string_view token, std::size_t& i, std::int64_t max) {
    std::int64_t value = 0;
    while (i < token.size() && token[i] >= '0' && token[i] <= '9') {
        value = value * 10 + (token[i] - '0');
        if (value > max) {
            value = max;
        }
        ++i;
    }
    return value;
}

}  // namespace

std::int32_t ParseDecimal(std::string_view token) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::size_t i = SkipSpace(token);
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
        negative = token[i] == '-';
        ++i;
    }
    std::int64_t value = Digits(token, i, kMax + 1);
    if (negative) {
        return static_cast<std::int32_t>(-value);
    }
    return static_cast<std::int32_t>(value > kMax ? kMax : value);
}

std::optional<std::int32_t> ParseCount(std::string_view token) {
    std::size_t i = SkipSpace(token);
    std::size_t start = i;
    std::int64_t value = Digits(token, i, std::numeric_limits<std::int32_t>::max());
    if (i == start) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> StatCount(const char* reply) {
    std::string_view line(reply);
    line = line.substr(0, line.find('\n'));
    ListingTokens tokens = SplitListingLine(line);
    if (tokens.count < 2) {
        return std::nullopt;
    }
    return ParseCount(tokens.second);
}

}  // namespace wp
