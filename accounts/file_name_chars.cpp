#include "accounts/file_name_chars.h"

#include <algorithm>

#include "decode/jis_sjis.h"

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

std::string ReplaceFileNameCharsPerCharacter(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto ch = static_cast<unsigned char>(out[i]);
        const auto next = i + 1 < out.size() ? static_cast<unsigned char>(out[i + 1]) : 0;
        if (IsSjisLeadByte(ch) && next >= 0x40 && next <= 0xFC && next != 0x7F) {
            ++i;  // the pair is one character, whatever its second byte
        } else if (NeedsReplacing(ch)) {
            out[i] = '_';
        }
    }
    return out;
}

}  // namespace wp
