#pragma once
// The edge of wrenpost-cli: what it writes to the terminal. Text inside is
// CP932; everything printed is UTF-8.

#include <string>
#include <string_view>

#include "platform/prompt.h"

namespace wp::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitInterrupted = 2;
inline constexpr int kExitNotOnServer = 3;
inline constexpr int kExitUsage = 64;

// CP932 text as UTF-8 for the terminal. Control characters (C0, DEL, C1)
// become spaces, so that a TAB or line break in a mail header cannot shift
// the columns of a row and escape sequences from a server never reach the
// terminal; keepNewlines leaves line breaks of the system's own texts.
std::string TerminalText(std::string_view cp932, bool keepNewlines = false);
// The same for text that is UTF-8 already.
std::string TerminalUtf8(std::string_view utf8, bool keepNewlines = false);

// Bytes to standard output as they are.
void WriteOut(std::string_view bytes);
// A UTF-8 line to standard output.
void PrintLine(std::string_view utf8);
// A UTF-8 line to standard error. Safe from any thread.
void PrintError(std::string_view utf8);
// One of wrenpost-cli's own messages, "wrenpost-cli: " first.
void Complain(std::string_view utf8);

// Message boxes without a screen: the text goes to standard error and the
// box's default answer is taken.
class TerminalPrompt final : public Prompt {
public:
    PromptAnswer Ask(const PromptRequest& request) override;
};

}  // namespace wp::cli
