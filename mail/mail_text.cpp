#include "mail/mail_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decode/charset.h"
#include "decode/jis_sjis.h"
#include "decode/mime_body.h"
#include "decode/kanji_converter.h"
#include "mail/cache_io.h"

namespace wp {

namespace io = cache_io;

namespace {

constexpr std::string_view::size_type npos = std::string_view::npos;
constexpr std::string_view kEmptyLine = "\r\n\r\n";

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::size_t FindNoCase(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) {
        return npos;
    }
    for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < word.size() && AsciiLower(text[at + i]) == word[i]) {
            ++i;
        }
        if (i == word.size()) {
            return at;
        }
    }
    return npos;
}

// At most `limit` bytes, never half of a double-byte character.
std::string_view CutWhole(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t keep = 0;
    while (keep < limit) {
        std::size_t width = IsSjisLeadByte(static_cast<unsigned char>(text[keep])) ? 2 : 1;
        if (keep + width > limit) {
            break;
        }
        keep += width;
    }
    return text.substr(0, keep);
}

// False when the text holds no Content-Disposition field in any spelling
// the field reader knows: one fast scan for the colons, where the reader
// makes four slow ones through the rest of a large mail for every field it
// finds. Any case is let through; the reader decides.
bool MayHoldDisposition(std::string_view text) {
    static constexpr std::string_view kName = "content-disposition:";
    if (text.size() >= kName.size()) {
        bool atStart = true;
        for (std::size_t i = 0; i < kName.size() && atStart; ++i) {
            atStart = AsciiLower(text[i]) == kName[i];
        }
        if (atStart) {
            return true;
        }
    }
    static constexpr std::string_view kTail = "isposition";
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* p = begin + std::min(kTail.size(), text.size());
    while (p < end) {
        const char* colon = static_cast<const char*>(std::memchr(p, ':', static_cast<std::size_t>(end - p)));
        if (colon == nullptr) {
            return false;
        }
        const char* word = colon - kTail.size();
        std::size_t i = 0;
        while (i < kTail.size() && AsciiLower(word[i]) == kTail[i]) {
            ++i;
        }
        if (i == kTail.size()) {
            return true;
        }
        p = colon + 1;
    }
    return false;
}

// A sibling name no one else uses: the folder of `path`, a dot, random digits.
std::string SiblingName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937_64 random{std::random_device{}()};
    std::string::size_type slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    char name[64];
    std::snprintf(name, sizeof name, "/.wrenpost-%d-%u-%016llx", static_cast<int>(::getpid()), counter++,
                  static_cast<unsigned long long>(random()));
    return folder + name;
}

}  // namespace

// Megabytes of mail hold few line-start dots: sixteen bytes are looked at a time.
std::size_t FindDotLine(std::string_view text, std::size_t from) {
    const char* const p = text.data();
    const std::size_t size = text.size();
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i lineEnd = _mm_set1_epi8('\n');
    const __m128i dot = _mm_set1_epi8('.');
    while (i + 17 <= size) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
        const unsigned hits = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, lineEnd), _mm_cmpeq_epi8(next, dot))));
        if (hits != 0) {
            return i + static_cast<std::size_t>(__builtin_ctz(hits));
        }
        i += 16;
    }
#endif
    for (; i + 1 < size; ++i) {
        if (p[i] == '\n' && p[i + 1] == '.') {
            return i;
        }
    }
    return npos;
}

void UnstuffReply(std::string& reply) {
    std::size_t read = reply.find('\n');
    if (read == npos) {
        return;
    }
    // Only the lines that begin with "." change, and they are few: the text
    // between them moves as a whole.
    std::size_t write = read + 1;
    ++read;
    for (;;) {
        const std::size_t hit = FindDotLine(reply, read - 1);
        const std::size_t dot = hit == npos ? reply.size() : hit + 1;
        if (write != read) {
            std::memmove(reply.data() + write, reply.data() + read, dot - read);
        }
        write += dot - read;
        if (dot == reply.size()) {
            break;
        }
        // The terminating line belongs to the protocol, not to the mail.
        std::string_view line(reply.data() + dot, reply.size() - dot);
        if (line == ".\r\n" || line == ".\n" || line == "." || line == ".\r") {
            break;
        }
        read = dot + 1;
    }
    reply.resize(write);
}

namespace {

// A RETR reply as text: unstuffed, up to its first zero byte.
void ReplyToText(std::string& raw) {
    UnstuffReply(raw);
    if (const void* zero = std::memchr(raw.data(), 0, raw.size())) {
        raw.resize(static_cast<std::size_t>(static_cast<const char*>(zero) - raw.data()));
    }
}

// The converter ConvertToFile uses, without its file: that file would only
// be read back at once, and writing and reading it cost more than the
// conversion itself; two windows can never share it either.
std::string TextToShow(const std::string& text, std::int32_t code) {
    return CKanjiConverter::Convert(text.data(), text.size(), code, KANJI_SJIS);
}

}  // namespace

std::string MailTextToShow(std::string raw, std::int32_t code) {
    ReplyToText(raw);
    return TextToShow(raw, code);
}

std::vector<std::string> AttachmentNames(std::string_view text, const InvalidCharReport& report) {
    std::vector<std::string> names;
    text = text.substr(0, text.find('\0'));
    std::size_t pos = text.find('\n');
    if (pos == npos) {
        return names;
    }
    ++pos;
    constexpr std::string_view kFileName = "filename=";
    while (pos < text.size() && names.size() < kAttachmentListMax && MayHoldDisposition(text.substr(pos))) {
        std::size_t at = npos;
        std::string value = GetContentDisposition(text.substr(pos), &at);
        if (at == npos) {
            break;
        }
        pos += at + 2;
        // RFC 2231 ("filename*=UTF-8''...", "filename*0*=") wins, as the RFC says.
        if (FindNoCase(value, "filename*") != npos) {
            std::string name = MimeFileName(value, {}, report);
            if (!name.empty()) {
                names.push_back(std::string(CutWhole(name, kAttachmentNameMax)));
                continue;
            }
        }
        if (value.size() <= kFileName.size()) {
            continue;
        }
        std::size_t found = FindNoCase(value, kFileName);
        if (found == npos) {
            continue;
        }
        std::size_t begin = found + kFileName.size();
        while (begin < value.size() && value[begin] == '"') {
            ++begin;
        }
        const bool quoted = begin > found + kFileName.size();
        std::size_t end = begin;
        // A name without quotes is a token: the next parameter is not part of it.
        while (end < value.size() && value[end] != '"' && value[end] != '\r' && value[end] != '\n' &&
               (quoted || value[end] != ';')) {
            ++end;
        }
        std::string_view name(value.data() + begin, end - begin);
        if (!quoted) {
            while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) {
                name.remove_suffix(1);
            }
        }
        if (name.empty()) {
            continue;
        }
        names.push_back(DecodeHeaderText(CutWhole(name, kAttachmentNameMax), report));
    }
    return names;
}

MailView ViewOfMail(std::string raw, std::int32_t code, const InvalidCharReport& report, bool withSource) {
    // One reply of megabytes: unstuffed once, in place, and never copied.
    ReplyToText(raw);
    return ViewOfReplyText(std::move(raw), code, report, withSource);
}

MailView ViewOfReplyText(std::string text, std::int32_t code, const InvalidCharReport& report, bool withSource,
                         std::optional<std::string> legacy) {
    MailView view;
    const std::int32_t legacyCode = code == KANJI_UTF8 ? KANJI_AUTO : code;
    std::size_t status = text.find('\n');
    status = status == npos ? text.size() : status + 1;
    view.decoded = NeedsMimeReading(std::string_view(text).substr(status), code);
    if (!view.decoded || withSource) {
        std::int32_t source = legacyCode;
        if (!legacy && (source < KANJI_SJIS || source > KANJI_EUC)) {
            source = CKanjiConverter::DetectCode(text.data(), text.size());
        }
        if (legacy) {
            view.legacy = std::move(*legacy);
        } else if (source == KANJI_SJIS && !view.decoded) {
            // Shift_JIS shown as Shift_JIS: the text itself, not a copy of megabytes.
            view.legacy = std::move(text);
        } else {
            view.legacy = TextToShow(text, source);
        }
    }
    legacy.reset();
    if (!view.decoded) {
        // The raw text is no longer needed: its memory goes before the names are read.
        std::string().swap(text);
        view.attachments = AttachmentNames(view.legacy, report);
        return view;
    }
    std::string_view mail = std::string_view(text).substr(status);
    MimeReading reading = ReadMimeBody(mail, code, report);
    view.body = std::move(reading.body);
    view.attachments = std::move(reading.attachments);
    // The header as received: raw 8-bit header lines are UTF-8 from most
    // mailers today, else one of the Japanese three.
    std::size_t blank = mail.find(kEmptyLine);
    std::string_view header = mail.substr(0, blank == npos ? mail.size() : blank + kEmptyLine.size());
    if (LooksLikeUtf8(header)) {
        view.header.assign(header);
    } else {
        view.header = Cp932TextToUtf8(CKanjiConverter::Convert(header.data(), header.size(),
                                                               legacyCode, KANJI_SJIS));
    }
    if (blank == npos && !view.header.ends_with("\r\n")) {
        view.header += "\r\n";
    }
    return view;
}

MailTextParts PartsToShow(const MailView& view, bool headerShown, bool source) {
    if (!view.decoded || source) {
        return SplitMailText(view.legacy, headerShown);
    }
    MailTextParts parts;
    parts.unicode = true;
    if (headerShown) {
        parts.body = view.header + view.body;
    } else {
        parts.header = view.header;
        parts.body = view.body;
    }
    return parts;
}

namespace {

// Where the body of a converted mail starts: after the first empty line at
// or after `from`, the header part's end; npos when there is none.
std::size_t BodyStart(std::string_view text, std::size_t from) {
    const std::size_t blank = text.find(kEmptyLine, from);
    return blank == npos ? npos : blank + kEmptyLine.size();
}

}  // namespace

MailTextParts SplitMailText(std::string_view text, bool headerShown) {
    MailTextParts parts;
    std::size_t eol = text.find("\r\n");
    if (eol == npos) {
        return parts;
    }
    const std::size_t from = eol + 2;
    if (headerShown) {
        parts.body.assign(text.substr(from));
        return parts;
    }
    const std::size_t body = BodyStart(text, from);
    if (body == npos) {
        parts.header.assign(text.substr(from));
        return parts;
    }
    parts.header.assign(text.substr(from, body - from));
    parts.body.assign(text.substr(body));
    return parts;
}

void ShowHeaderPart(MailTextParts& parts) {
    parts.header += parts.body;
    parts.body.swap(parts.header);
    parts.header.clear();
}

void HideHeaderPart(MailTextParts& parts) {
    std::size_t blank = parts.body.find(kEmptyLine);
    if (blank == npos) {
        parts.header.swap(parts.body);
        parts.body.clear();
        return;
    }
    parts.header.assign(parts.body, 0, blank + kEmptyLine.size());
    parts.body.erase(0, blank + kEmptyLine.size());
}

void LiveMailText::Clear(bool headerShown) {
    headerShown_ = headerShown;
    statusDone_ = false;
    split_ = false;
    status_.clear();
    header_.clear();
    out_.clear();
}

std::string_view LiveMailText::Append(std::string_view chunk) {
    out_.clear();
    if (statusDone_ && (headerShown_ || split_)) {
        return chunk;  // all of it, and megabytes of it: not copied
    }
    auto feed = [this](std::string_view data) {
        if (data.empty()) {
            return;
        }
        if (headerShown_ || split_) {
            out_.append(data);
            return;
        }
        // The empty line may straddle two chunks.
        std::size_t from = header_.size() >= 3 ? header_.size() - 3 : 0;
        header_.append(data);
        std::size_t blank = header_.find(kEmptyLine, from);
        if (blank != npos) {
            split_ = true;
            out_.append(header_, blank + kEmptyLine.size());
            header_.resize(blank + kEmptyLine.size());
        }
    };
    if (!statusDone_) {
        std::size_t eol = chunk.find('\n');
        std::size_t take = eol == npos ? chunk.size() : eol + 1;
        status_.append(chunk.substr(0, take));
        chunk.remove_prefix(take);
        if (eol == npos && status_.size() < kStatusLineMax) {
            return {};
        }
        statusDone_ = true;
        // Only a status line is dropped; anything else is text.
        if (status_.compare(0, 3, "+OK") != 0) {
            feed(status_);
        }
        status_.clear();
        status_.shrink_to_fit();
    }
    feed(chunk);
    return out_;
}

std::string SavedMailBytes(std::string_view stored) {
    std::string mail(stored);
    return std::string(SavedMailView(mail));
}

std::string_view SavedMailView(std::string& reply) {
    UnstuffReply(reply);
    const std::size_t body = reply.find('\n');
    return body == npos ? std::string_view() : std::string_view(reply).substr(body + 1);
}

bool ReplaceFileWith(const std::string& path, std::string_view bytes, int* error) {
    std::string sibling;
    io::Fd fd;
    for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
        sibling = SiblingName(path);
        fd = io::Fd(::open(sibling.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd && errno != EEXIST) {
            break;
        }
    }
    if (!fd) {
        *error = errno;
        return false;
    }
    int failure = 0;
    if (!bytes.empty() && !io::WriteAt(fd.get(), bytes.data(), bytes.size(), 0)) {
        failure = errno != 0 ? errno : EIO;
    } else if (!io::SyncFile(fd.get())) {
        failure = errno;
    }
    if (!fd.Close() && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && ::rename(sibling.c_str(), path.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(sibling.c_str());
        *error = failure;
        return false;
    }
    return true;
}

namespace {

MailTextParts TakeHeaderPartFrom(std::string text, std::size_t from) {
    MailTextParts parts;
    const std::size_t body = BodyStart(text, from);
    if (body == npos) {
        text.erase(0, from);
        parts.header = std::move(text);
        return parts;
    }
    parts.header.assign(text, from, body - from);
    parts.bodyFrom = body;
    parts.body = std::move(text);
    return parts;
}

}  // namespace

MailTextParts TakeMailTextParts(std::string text) {
    const std::size_t eol = text.find("\r\n");
    if (eol == npos) {
        return {};
    }
    return TakeHeaderPartFrom(std::move(text), eol + 2);
}

MailTextParts TakeHeaderPart(std::string text) {
    return TakeHeaderPartFrom(std::move(text), 0);
}

}  // namespace wp
