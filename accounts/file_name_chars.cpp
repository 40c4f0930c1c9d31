#include "accounts/file_name_chars.h"

#include <algorithm>

namespace wp {
namespace {

bool NeedsReplacing(unsigned char ch) {
    return (ch >= 1 && ch <= 31) || IsForbiddenFileNameChar(ch);
}

}  // namespace

bool IsForbiddenFileNameChar(unsigned char ch) {
    switch (ch) {
        case '\\':
        case '/':
        case ':':
        case ',':
        case ';':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
            return true;
        default:
            return false;
    }
}

int StripFileNameChars(char* text) {
    if (text == nullptr) {
        return 1;
    }
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        if (!IsForbiddenFileNameChar(static_cast<unsigned char>(*in))) {
            *out++ = *in;
        }
    }
    *out = '\0';
    return 1;
}

std::string StripFileNameChars(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        if (!IsForbiddenFileNameChar(static_cast<unsigned char>(ch))) {
            out += ch;
        }
    }
    return out;
}

int ReplaceFileNameChars(char* text) {
    if (text == nullptr) {
        return 1;
    }
    for (char* p = text; *p != '\0'; ++p) {
        if (NeedsReplacing(static_cast<unsigned char>(*p))) {
            *p = '_';
        }
    }
    return 1;
}

std::string ReplaceFileNameChars(std::string_view text) {
    std::string out(text);
    std::replace_if(
        out.begin(), out.end(), [](char ch) { return NeedsReplacing(static_cast<unsigned char>(ch)); }, '_');
    return out;
}

}  // namespace wp
