// convert and headers: the viewer's code conversion and the list's header
// summary applied to files.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/commands.h"
#include "cli/terminal.h"
#include "decode/kanji_converter.h"
#include "mail/add_mail_to_list.h"
#include "mail/memory_list.h"
#include "platform/text.h"

namespace wp::cli {
namespace {

// The whole file; CommandFailed (with the reason told) when it cannot be read.
std::string ReadWholeFile(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        Complain("ファイルを開けません: " + path + " (" + std::strerror(errno) + ")");
        throw CommandFailed{};
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        text.append(buffer, got);
        if (got < sizeof buffer) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        Complain("ファイルを読めません: " + path + " (" + std::strerror(errno) + ")");
        throw CommandFailed{};
    }
    return text;
}

struct CodeName {
    std::string_view name;
    std::int32_t code;
};

constexpr std::int32_t kToUtf8 = 100;

constexpr CodeName kSourceCodes[] = {
    {"auto", KANJI_AUTO}, {"sjis", KANJI_SJIS}, {"jis", KANJI_JIS}, {"euc", KANJI_EUC}};
constexpr CodeName kTargetCodes[] = {
    {"sjis", KANJI_SJIS}, {"jis", KANJI_JIS}, {"euc", KANJI_EUC}, {"utf8", kToUtf8}};

std::int32_t CodeOption(const CommandContext& context, std::string_view option,
                        std::span<const CodeName> codes, std::string_view fallback) {
    std::string value = context.Option(option, fallback);
    for (const CodeName& code : codes) {
        if (code.name == value) {
            return code.code;
        }
    }
    throw UsageError{std::string(option) + " の値が正しくありません: " + value};
}

}  // namespace

int RunConvert(CommandContext& context) {
    const std::int32_t source = CodeOption(context, "--from", kSourceCodes, "auto");
    const std::int32_t target = CodeOption(context, "--to", kTargetCodes, "utf8");
    std::string text = ReadWholeFile(context.args.positionals[0]);
    // The viewer's rule: the mail text ends at its first zero byte.
    if (std::size_t zero = text.find('\0'); zero != std::string::npos) {
        text.resize(zero);
    }
    if (context.args.Has("--detect")) {
        PrintLine(std::to_string(CKanjiConverter::DetectCode(text.data(), text.size())));
        return kExitOk;
    }
    if (target == kToUtf8) {
        WriteOut(Cp932ToUtf8(CKanjiConverter::Convert(text.data(), text.size(), source, KANJI_SJIS)));
    } else {
        WriteOut(CKanjiConverter::Convert(text.data(), text.size(), source, target));
    }
    return kExitOk;
}

int RunHeaders(CommandContext& context) {
    const std::string block = ReadWholeFile(context.args.positionals[0]);
    // The row the list would get for this block, through the list's own writer.
    MemoryList list;
    TerminalPrompt prompt;
    std::unique_ptr<MailEntry> entry(AddMailToList(list, block.data(), block.size(), 0, 1, nullptr, prompt));
    PrintLine("from\t" + TerminalText(list.Text(0, kColumnFrom)));
    PrintLine("subject\t" + TerminalText(list.Text(0, kColumnSubject)));
    PrintLine("date\t" + TerminalText(list.Text(0, kColumnDate)));
    PrintLine("parts\t" + std::to_string(entry != nullptr ? entry->hasParts : 0));
    return kExitOk;
}

}  // namespace wp::cli
