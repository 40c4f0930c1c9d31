#include "cli/commands.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/terminal.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace wp::cli {
namespace {

constexpr OptionSpec kConvertOptions[] = {{"--from", true}, {"--to", true}, {"--detect", false}};
constexpr OptionSpec kAccountAddOptions[] = {
    {"--server", true}, {"--login", true}, {"--password", true},          {"--no-save-password", false},
    {"--apop", false},  {"--tls", true},   {"--trust-fingerprint", true}, {"--check-every", true}};
constexpr OptionSpec kAccountSetOptions[] = {{"--check-every", true}};
constexpr OptionSpec kListOptions[] = {{"--password", true}};
constexpr OptionSpec kViewOptions[] = {
    {"--code", true}, {"--header", false}, {"--source", false}, {"--password", true}};
constexpr OptionSpec kDeleteOptions[] = {{"--password", true}};
constexpr OptionSpec kSaveOptions[] = {{"--to", true}, {"--password", true}};

constexpr CommandSpec kCommands[] = {
    {"", "convert", "[--from auto|sjis|jis|euc|utf8] [--to sjis|jis|euc|utf8] [--detect] FILE",
     kConvertOptions, 1, RunConvert},
    {"", "headers", "FILE", {}, 1, RunHeaders},
    {"account", "add",
     "NAME --server HOST[:PORT] --login ID [--password PW] [--no-save-password] [--apop] "
     "[--tls none|starttls|tls] [--trust-fingerprint HEX] [--check-every MIN]",
     kAccountAddOptions, 1, RunAccountAdd},
    {"account", "set", "NAME --check-every MIN", kAccountSetOptions, 1, RunAccountSet},
    {"account", "list", "", {}, 0, RunAccountList},
    {"account", "remove", "NAME", {}, 1, RunAccountRemove},
    {"", "list", "NAME [--password PW]", kListOptions, 1, RunList},
    {"", "cached", "NAME", {}, 1, RunCached},
    {"", "check", "[NAME...]", {}, 0, RunCheck, true},
    {"", "view", "NAME INDEX [--code auto|jis|sjis|euc|utf8] [--header] [--source] [--password PW]",
     kViewOptions, 2, RunView},
    {"", "delete", "NAME INDEX... [--password PW]", kDeleteOptions, 2, RunDelete, true},
    {"", "save", "NAME INDEX... --to DIR [--password PW]", kSaveOptions, 2, RunSave, true},
};

int BadArguments(std::string_view message) {
    if (!message.empty()) {
        Complain(message);
    }
    std::string usage = UsageText();
    std::fwrite(usage.data(), 1, usage.size(), stderr);
    std::fflush(stderr);
    return kExitUsage;
}

// Makes DIR (when given, else the program's default) the current directory,
// creating it, and prepares the data folder under it, as the program does.
std::optional<std::string> EnterDataFolder(std::optional<std::string> dir, bool userData) {
    if (!dir) {
        dir = DefaultDataDir(userData);
    }
    if (dir) {
        std::error_code ec;
        std::filesystem::create_directories(*dir, ec);
        if (ec) {
            Complain("データフォルダを作れません: " + *dir + " (" + ec.message() + ")");
            return std::nullopt;
        }
        if (chdir(dir->c_str()) != 0) {
            Complain("データフォルダに移れません: " + *dir + " (" + std::strerror(errno) + ")");
            return std::nullopt;
        }
    }
    std::optional<std::string> folder = PrepareDataFolder();
    if (!folder) {
        Complain("データフォルダ Mail を用意できません");
    }
    return folder;
}

}  // namespace

const std::string& CommandContext::DataFolder() {
    if (!dataFolder_) {
        dataFolder_ = EnterDataFolder(dataDir, userData);
        if (!dataFolder_) {
            throw CommandFailed{};
        }
    }
    return *dataFolder_;
}

std::string CommandContext::Option(std::string_view name, std::string_view fallback) const {
    std::optional<std::string> value = args.Value(name);
    return value ? *value : std::string(fallback);
}

std::string CommandContext::Required(std::string_view name) const {
    std::optional<std::string> value = args.Value(name);
    if (!value) {
        throw UsageError{std::string(name) + " を指定してください"};
    }
    return *value;
}

std::span<const CommandSpec> Commands() {
    return kCommands;
}

std::string UsageText() {
    std::string text = "使い方:\n";
    for (const CommandSpec& command : Commands()) {
        text += "  wrenpost-cli [--data-dir DIR] ";
        if (!command.group.empty()) {
            text += std::string(command.group) + " ";
        }
        text += command.name;
        if (!command.synopsis.empty()) {
            text += " " + std::string(command.synopsis);
        }
        text += "\n";
    }
    text += "  wrenpost-cli --help\n";
    text +=
        "\n"
        "  --data-dir DIR  DIR に Mail フォルダーと AccData.dat を置く (ないときは作る)\n"
        "  --user-data     $XDG_DATA_HOME/wrenpost (~/.local/share/wrenpost) に置く\n"
        "                  どちらもないとき: "
        "ホームフォルダーで実行すればこちら、ほかではカレントフォルダー\n";
    return text;
}

std::string Cp932Argument(std::string_view what, std::string_view utf8, std::size_t maxBytes) {
    // A line break would end the text in the accounts file, or turn a login
    // id or password into a second POP3 command.
    for (char ch : utf8) {
        const auto code = static_cast<unsigned char>(ch);
        if (code < 0x20 || code == 0x7F) {
            throw UsageError{std::string(what) + " に改行などの制御文字は使えません"};
        }
    }
    std::optional<std::string> text = Utf8ToCp932(utf8);
    if (!text) {
        throw UsageError{std::string(what) + " に Shift_JIS で表せない文字があります: " + std::string(utf8)};
    }
    if (text->size() > maxBytes) {
        throw UsageError{std::string(what) + " が長すぎます (Shift_JIS で " + std::to_string(maxBytes) +
                         " バイトまで)"};
    }
    return *text;
}

int RunCommandLine(const std::vector<std::string>& words) {
    std::size_t at = 0;
    std::optional<std::string> dataDir;
    bool userData = false;
    // Options before the command.
    while (at < words.size() && words[at].starts_with("-")) {
        const std::string& word = words[at];
        if (word == "--help" || word == "-h") {
            std::string usage = UsageText();
            WriteOut(usage);
            return kExitOk;
        }
        if (word == "--user-data") {
            userData = true;
            ++at;
            continue;
        }
        if (word == "--data-dir" || word.starts_with("--data-dir=")) {
            if (dataDir) {
                return BadArguments("--data-dir が二度指定されています");
            }
            if (word == "--data-dir") {
                if (at + 1 >= words.size()) {
                    return BadArguments("--data-dir には値が必要です");
                }
                dataDir = words[++at];
            } else {
                dataDir = word.substr(std::strlen("--data-dir="));
            }
            if (dataDir->empty()) {
                return BadArguments("--data-dir のフォルダ名が空です");
            }
            ++at;
            continue;
        }
        return BadArguments("不明なオプションです: " + word);
    }
    if (dataDir && userData) {
        return BadArguments("--data-dir と --user-data は一緒に指定できません");
    }
    if (at >= words.size()) {
        return BadArguments("コマンドを指定してください");
    }

    // The command: one word, or a group and a word.
    const CommandSpec* command = nullptr;
    bool isGroup = false;
    for (const CommandSpec& spec : Commands()) {
        if (spec.group.empty() && spec.name == words[at]) {
            command = &spec;
        }
        isGroup = isGroup || spec.group == words[at];
    }
    if (command == nullptr && isGroup) {
        if (at + 1 >= words.size()) {
            return BadArguments(words[at] + " のあとにコマンドを指定してください");
        }
        for (const CommandSpec& spec : Commands()) {
            if (spec.group == words[at] && spec.name == words[at + 1]) {
                command = &spec;
            }
        }
        if (command == nullptr) {
            return BadArguments("不明なコマンドです: " + words[at] + " " + words[at + 1]);
        }
        ++at;
    } else if (command == nullptr) {
        return BadArguments("不明なコマンドです: " + words[at]);
    }
    ++at;

    ParsedArguments args;
    std::span<const std::string> rest(words.data() + at, words.size() - at);
    if (std::string problem = ParseArguments(rest, command->options, args); !problem.empty()) {
        return BadArguments(problem);
    }
    if (args.positionals.size() < command->positionals) {
        return BadArguments("引数が足りません");
    }
    if (args.positionals.size() > command->positionals && !command->morePositionals) {
        return BadArguments("余分な引数があります: " + args.positionals[command->positionals]);
    }

    CommandContext context(args, dataDir);
    context.userData = userData;
    int status = kExitFailed;
    try {
        status = command->run(context);
    } catch (const UsageError& error) {
        return BadArguments(error.message);
    } catch (const CommandFailed&) {
        status = kExitFailed;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Complain("標準出力に書けませんでした");
        return kExitFailed;
    }
    return status;
}

}  // namespace wp::cli
