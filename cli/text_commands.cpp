// convert and headers: the viewer's code conversion and the list's header
// summary applied to files.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "cli/commands.h"
#include "cli/terminal.h"
#include "decode/charset.h"
#include "decode/jis_sjis.h"
#include "decode/kanji_converter.h"
#include "decode/kanji_stream.h"
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
    {"auto", KANJI_AUTO}, {"sjis", KANJI_SJIS}, {"jis", KANJI_JIS}, {"euc", KANJI_EUC}, {"utf8", KANJI_UTF8}};
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

// The file in fixed-size pieces, up to its first zero byte (the viewer's
// rule: the mail text ends there). CommandFailed when it cannot be read.
class PieceReader {
public:
    static constexpr std::size_t kPiece = 1 << 18;

    explicit PieceReader(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "rb"), &std::fclose) {
        if (!file_) {
            Complain("ファイルを開けません: " + path + " (" + std::strerror(errno) + ")");
            throw CommandFailed{};
        }
        buffer_.resize(kPiece);
    }
    // The next piece; empty at the end.
    std::string_view Next() {
        if (ended_) {
            return {};
        }
        const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
        if (got < buffer_.size()) {
            if (std::ferror(file_.get())) {
                Complain("ファイルを読めません: " + path_ + " (" + std::strerror(errno) + ")");
                throw CommandFailed{};
            }
            ended_ = true;
        }
        std::string_view piece(buffer_.data(), got);
        if (const void* zero = std::memchr(piece.data(), 0, piece.size())) {
            piece = piece.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - piece.data()));
            ended_ = true;
        }
        return piece;
    }
    void Rewind() {
        std::rewind(file_.get());
        ended_ = false;
    }

private:
    std::string path_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
    std::string buffer_;
    bool ended_ = false;
};

// How many bytes at the end of a piece start a character the next piece
// finishes: a Shift_JIS lead byte, or the first bytes of a UTF-8 sequence.
std::size_t SjisCarry(std::string_view sjis) {
    std::size_t i = 0;
    while (i < sjis.size()) {
        i += IsSjisLeadByte(static_cast<unsigned char>(sjis[i])) ? 2 : 1;
    }
    return i > sjis.size() ? 1 : 0;
}

std::size_t Utf8Carry(std::string_view utf8) {
    for (std::size_t back = 1; back <= 3 && back <= utf8.size(); ++back) {
        const auto b = static_cast<unsigned char>(utf8[utf8.size() - back]);
        if ((b & 0xC0) == 0x80) {
            continue;
        }
        const std::size_t need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        return need > back ? back : 0;
    }
    return 0;
}

// Writes converted text out as it comes, as UTF-8 when asked.
class Sink {
public:
    explicit Sink(bool utf8) : utf8_(utf8) {}
    void Put(std::string_view sjis) {
        if (!utf8_) {
            WriteOut(sjis);
            return;
        }
        carry_.append(sjis);
        const std::size_t keep = SjisCarry(carry_);
        WriteOut(Cp932ToUtf8(std::string_view(carry_).substr(0, carry_.size() - keep)));
        carry_.erase(0, carry_.size() - keep);
    }
    void End() {
        if (utf8_ && !carry_.empty()) {
            WriteOut(Cp932ToUtf8(carry_));
        }
        carry_.clear();
    }

private:
    bool utf8_;
    std::string carry_;
};

}  // namespace

int RunConvert(CommandContext& context) {
    std::int32_t source = CodeOption(context, "--from", kSourceCodes, "auto");
    const std::int32_t target = CodeOption(context, "--to", kTargetCodes, "utf8");
    const std::string& path = context.args.positionals[0];
    PieceReader reader(path);
    const bool detect = context.args.Has("--detect");

    // Detection reads the file once through; the conversion reads it again.
    std::optional<KanjiStreamDetector> detector;
    if (detect || source == KANJI_AUTO) {
        detector.emplace();
        for (std::string_view piece = reader.Next(); !piece.empty(); piece = reader.Next()) {
            detector->Feed(piece.data(), piece.size());
        }
        reader.Rewind();
        source = detector->Utf8() ? KANJI_UTF8 : detector->Code();
    }
    if (detect) {
        // The three legacy codes keep the numbers scripts already read.
        PrintLine(source == KANJI_UTF8 ? std::string("utf8") : std::to_string(source));
        return kExitOk;
    }

    if (source == KANJI_UTF8) {
        // What code page 932 lacks becomes 〓 on the way to the Japanese three.
        std::string carry;
        std::optional<KanjiStreamConverter> toTarget;
        if (target != kToUtf8 && target != KANJI_SJIS) {
            toTarget.emplace(KANJI_SJIS, target);
        }
        std::string out;
        auto put = [&](std::string_view utf8) {
            if (target == kToUtf8) {
                WriteOut(utf8);
                return;
            }
            const std::string sjis = Utf8ToCp932Geta(utf8);
            if (!toTarget) {
                WriteOut(sjis);
                return;
            }
            out.clear();
            toTarget->Feed(sjis.data(), sjis.size(), out);
            WriteOut(out);
        };
        for (std::string_view piece = reader.Next(); !piece.empty(); piece = reader.Next()) {
            carry.append(piece);
            const std::size_t keep = Utf8Carry(carry);
            put(std::string_view(carry).substr(0, carry.size() - keep));
            carry.erase(0, carry.size() - keep);
        }
        put(carry);
        if (toTarget) {
            out.clear();
            toTarget->Finish(out);
            WriteOut(out);
        }
        return kExitOk;
    }

    const std::int32_t kanjiTarget = target == kToUtf8 ? KANJI_SJIS : target;
    Sink sink(target == kToUtf8);
    std::string_view first = reader.Next();
    if (source == KANJI_JIS && source != kanjiTarget) {
        // Escapes that are all quoted-printable make the converter unwrap
        // the whole text first: that one text is read whole, as before.
        bool quoted = detector && detector->QuotedJis();
        if (!detector && !first.empty()) {
            KanjiStreamDetector look;
            look.Feed(first.data(), first.size());
            if (!look.RawJis()) {
                // No raw escape in the first piece: look at all of it.
                for (std::string_view piece = reader.Next(); !piece.empty(); piece = reader.Next()) {
                    look.Feed(piece.data(), piece.size());
                }
                reader.Rewind();
                first = reader.Next();
            }
            quoted = look.QuotedJis();
        }
        if (quoted) {
            std::string text(first);
            for (std::string_view piece = reader.Next(); !piece.empty(); piece = reader.Next()) {
                text.append(piece);
            }
            sink.Put(CKanjiConverter::Convert(text.data(), text.size(), KANJI_JIS, kanjiTarget));
            sink.End();
            return kExitOk;
        }
    }
    KanjiStreamConverter converter(source, kanjiTarget);
    std::string out;
    for (std::string_view piece = first; !piece.empty(); piece = reader.Next()) {
        out.clear();
        converter.Feed(piece.data(), piece.size(), out);
        sink.Put(out);
    }
    out.clear();
    converter.Finish(out);
    sink.Put(out);
    sink.End();
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
