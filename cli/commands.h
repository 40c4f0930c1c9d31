#pragma once
// The commands of wrenpost-cli and the table that names them. A command is
// one word ("list") or a group and a word ("account add"); adding one is an
// entry in the table (commands.cpp) and a function.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arguments.h"

namespace wp::cli {

// A bad argument found while a command runs: the message, then the usage
// text, go to standard error and the exit status is 64.
struct UsageError {
    std::string message;  // UTF-8
};

// A failure already told to the user: the exit status is 1.
struct CommandFailed {};

struct CommandContext {
    CommandContext(const ParsedArguments& parsed, std::optional<std::string> dir)
        : args(parsed), dataDir(std::move(dir)) {}

    const ParsedArguments& args;
    // --data-dir, when given.
    std::optional<std::string> dataDir;
    // --user-data: the per-user folder wherever the command runs.
    bool userData = false;

    // The data folder ("Mail" under DIR, the per-user folder or the current
    // directory, as DefaultDataDir chooses), prepared
    // on first use as the program prepares it; commands check their arguments
    // first, so a bad one leaves nothing behind. CommandFailed when it cannot
    // be had.
    const std::string& DataFolder();

    // The value of an option, or fallback.
    std::string Option(std::string_view name, std::string_view fallback = {}) const;
    // A required option; UsageError when it is missing.
    std::string Required(std::string_view name) const;

private:
    std::optional<std::string> dataFolder_;
};

struct CommandSpec {
    std::string_view group;  // "" for a command of one word
    std::string_view name;
    std::string_view synopsis;  // what follows the name in the usage text
    std::span<const OptionSpec> options;
    std::size_t positionals;  // exactly this many (at least, with morePositionals)
    int (*run)(CommandContext& context);
    bool morePositionals = false;  // at least that many
};

std::span<const CommandSpec> Commands();

// The usage text, one line per command.
std::string UsageText();

// Runs a command line (the words after the program name, UTF-8) and returns
// the exit status. Needs a QCoreApplication for the commands that reach a
// server.
int RunCommandLine(const std::vector<std::string>& words);

// Text an argument gives for the system (CP932): UsageError when it holds a
// character CP932 cannot hold or is longer than maxBytes once converted.
std::string Cp932Argument(std::string_view what, std::string_view utf8, std::size_t maxBytes);

// The commands.
int RunConvert(CommandContext& context);
int RunHeaders(CommandContext& context);
int RunAccountAdd(CommandContext& context);
int RunAccountList(CommandContext& context);
int RunAccountRemove(CommandContext& context);
int RunAccountSet(CommandContext& context);
int RunCheck(CommandContext& context);
int RunList(CommandContext& context);
int RunCached(CommandContext& context);
int RunView(CommandContext& context);
int RunDelete(CommandContext& context);
int RunSave(CommandContext& context);

}  // namespace wp::cli
