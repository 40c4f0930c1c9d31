#include "cli/terminal.h"

#include <cstdio>
#include <mutex>

#include "platform/text.h"

namespace wp::cli {
namespace {

std::mutex& ErrorMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

std::string TerminalText(std::string_view cp932, bool keepNewlines) {
    return TerminalUtf8(Cp932ToUtf8(cp932), keepNewlines);
}

std::string TerminalUtf8(std::string_view utf8, bool keepNewlines) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        auto ch = static_cast<unsigned char>(utf8[i]);
        if (ch == '\n' && keepNewlines) {
            out += '\n';
        } else if (ch < 0x20 || ch == 0x7F) {
            out += ' ';
        } else if (ch == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
            // U+0080 to U+009F: some terminals obey these as controls too.
            out += ' ';
            ++i;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out;
}

void WriteOut(std::string_view bytes) {
    if (!bytes.empty()) {
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    }
}

void PrintLine(std::string_view utf8) {
    WriteOut(utf8);
    std::fputc('\n', stdout);
}

void PrintError(std::string_view utf8) {
    std::lock_guard lock(ErrorMutex());
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void Complain(std::string_view utf8) {
    PrintError("wrenpost-cli: " + std::string(utf8));
}

PromptAnswer TerminalPrompt::Ask(const PromptRequest& request) {
    PrintError(TerminalText(request.text, true));
    PromptAnswer answer = request.defaultAnswer;
    // A default that is not among the box's buttons: the answer that changes nothing.
    switch (request.buttons) {
        case PromptButtons::Ok:
            return PromptAnswer::Ok;
        case PromptButtons::OkCancel:
            return answer == PromptAnswer::Ok ? answer : PromptAnswer::Cancel;
        case PromptButtons::YesNo:
            return answer == PromptAnswer::Yes ? answer : PromptAnswer::No;
        case PromptButtons::YesNoCancel:
            return answer == PromptAnswer::Yes || answer == PromptAnswer::No ? answer : PromptAnswer::Cancel;
    }
    return answer;
}

}  // namespace wp::cli
