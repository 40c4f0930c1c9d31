#pragma once
// Reading the LIST and UIDL replies that the session stored in the response
// file: bounded lines and atoi-like numbers that cannot overflow.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

namespace wp {

// The longest listing line, its LF included.
inline constexpr std::size_t kMaxListingLine = 1024;

class ListingLineReader {
public:
    enum class Result { kLine, kTooLong, kEnd };

    explicit ListingLineReader(FILE* file) : file_(file) {}

    // Skips one line whatever its length (the status line).
    void SkipLine();
    // The next line without its LF. kTooLong for a line longer than
    // kMaxListingLine; the reader is then past that whole line.
    Result Next(std::string_view* line);

private:
    FILE* file_;
    char buffer_[kMaxListingLine + 1];
};

// Up to two tokens of a line split at spaces and CRs; count says how many.
struct ListingTokens {
    std::string_view first;
    std::string_view second;
    int count = 0;
};
ListingTokens SplitListingLine(std::string_view line);

// The terminating line: "." and CR (or "." alone, for a server that ends
// lines with LF only).
bool IsListingEnd(std::string_view line);

// As atoi: leading white space, a sign, digits up to the first other
// character; 0 without digits. Saturates instead of overflowing.
std::int32_t ParseDecimal(std::string_view token);
// A count: digits required (after white space), no sign; nullopt otherwise.
std::optional<std::int32_t> ParseCount(std::string_view token);
// The count of a STAT reply "+OK count size"; nullopt when it has none.
std::optional<std::int32_t> StatCount(const char* reply);

}  // namespace wp
