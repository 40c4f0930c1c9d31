#include "decode/mime_body.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>

#include "decode/charset.h"
#include "decode/kanji_converter.h"

namespace wp {

namespace {

constexpr std::string_view::size_type npos = std::string_view::npos;
// Deeper nesting than any mailer writes is someone's attack on the stack.
constexpr int kDepthMax = 16;
constexpr std::size_t kPartsMax = 1000;
constexpr std::size_t kSectionsMax = 100;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerText(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), Lower);
    return out;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (IsBlank(text.front()) || text.front() == '\r' || text.front() == '\n')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// A part split at its first empty line. A part that starts with a line
// end has no header; one without an empty line is all header.
struct Entity {
    std::string_view header;
    std::string_view body;
};

Entity SplitEntity(std::string_view part) {
    if (part.starts_with("\r\n")) {
        return {{}, part.substr(2)};
    }
    if (part.starts_with("\n")) {
        return {{}, part.substr(1)};
    }
    const std::size_t crlf = part.find("\r\n\r\n");
    // Only a bare empty line before the CR LF one matters: the body of a
    // large mail is not searched again.
    const std::size_t lf = part.substr(0, crlf == npos ? npos : crlf + 2).find("\n\n");
    if (crlf != npos && (lf == npos || crlf + 1 <= lf)) {
        return {part.substr(0, crlf + 2), part.substr(crlf + 4)};
    }
    if (lf != npos) {
        return {part.substr(0, lf + 1), part.substr(lf + 2)};
    }
    return {part, {}};
}

// "type/subtype" in lower case; text/plain when missing or malformed.
std::string MediaType(const std::optional<std::string>& contentType) {
    if (!contentType) {
        return "text/plain";
    }
    std::string type = LowerText(Trim(std::string_view(*contentType).substr(0, contentType->find(';'))));
    if (type.find('/') == std::string::npos) {
        return "text/plain";
    }
    type.erase(std::remove_if(type.begin(), type.end(), IsBlank), type.end());
    return type;
}

struct Parameter {
    std::string value;
    bool extended = false;
};

// The parameters of a structured value, names in lower case.
std::map<std::string, Parameter, std::less<>> Parameters(std::string_view value) {
    std::map<std::string, Parameter, std::less<>> params;
    std::size_t pos = value.find(';');
    while (pos != npos && pos < value.size() && params.size() < 4 * kSectionsMax) {
        ++pos;
        const std::size_t eq = value.find('=', pos);
        if (eq == npos) {
            break;
        }
        std::string name = LowerText(Trim(value.substr(pos, eq - pos)));
        std::size_t at = eq + 1;
        while (at < value.size() && (IsBlank(value[at]) || value[at] == '\r' || value[at] == '\n')) {
            ++at;
        }
        std::string text;
        if (at < value.size() && value[at] == '"') {
            ++at;
            while (at < value.size() && value[at] != '"') {
                if (value[at] == '\\' && at + 1 < value.size()) {
                    ++at;
                }
                text += value[at];
                ++at;
            }
            pos = value.find(';', at);
        } else {
            const std::size_t end = value.find(';', at);
            text = std::string(Trim(value.substr(at, (end == npos ? value.size() : end) - at)));
            pos = end;
        }
        // RFC 2231: "name*" and "name*0*" carry a charset and percent-escapes.
        const bool extended = !name.empty() && name.back() == '*';
        if (!name.empty() && params.find(name) == params.end()) {
            params.emplace(std::move(name), Parameter{std::move(text), extended});
        }
    }
    return params;
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && Hex(text[i + 1]) >= 0 &&
            Hex(text[i + 2]) >= 0) {
            out += static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// "charset'language'text" of an RFC 2231 value: charset out, text kept.
std::string_view SplitCharset(std::string_view text, std::string* charset) {
    const std::size_t first = text.find('\'');
    const std::size_t second = first == npos ? npos : text.find('\'', first + 1);
    if (second == npos) {
        return text;
    }
    if (charset != nullptr) {
        *charset = std::string(text.substr(0, first));
    }
    return text.substr(second + 1);
}

// CP932 of bytes in a named charset: the Japanese three through the kanji
// converter, the rest through Unicode with 〓 for what CP932 lacks.
std::string CharsetToCp932(std::string_view bytes, std::string_view charset) {
    const std::int32_t kanji = KanjiCodeOfCharset(charset);
    if (kanji >= KANJI_SJIS) {
        return CKanjiConverter::Convert(bytes.data(), bytes.size(), kanji, KANJI_SJIS);
    }
    return Utf8ToCp932Geta(TextToUtf8(bytes, charset, KANJI_AUTO));
}

// True when every CR and LF of the text is part of a CR LF.
bool AllCrLf(std::string_view text) {
    const char* const data = text.data();
    std::size_t at = 0;
    while (at < text.size()) {
        const void* lf = std::memchr(data + at, '\n', text.size() - at);
        const std::size_t end =
            lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : text.size();
        const std::size_t lineEnd = lf != nullptr ? end - 1 : end;
        if (lf != nullptr && (end == at || data[end - 1] != '\r')) {
            return false;
        }
        if (lineEnd > at && std::memchr(data + at, '\r', lineEnd - at) != nullptr) {
            return false;
        }
        at = end + 1;
    }
    return true;
}

// Every line end as CR LF: a lone CR or LF becomes CR LF. Megabytes of a
// decoded body go line by line, not byte by byte, and are kept as they are
// when their line ends are CR LF already.
std::string NormalizeLineEnds(std::string text) {
    if (AllCrLf(text)) {
        return text;
    }
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    const char* const data = text.data();
    std::size_t i = 0;
    while (i < text.size()) {
        const void* lf = std::memchr(data + i, '\n', text.size() - i);
        const std::size_t end = lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - data)
                                              : text.size();
        // The CR of a CR LF goes with its LF; any other CR ends a line itself.
        const std::size_t lineEnd = (lf != nullptr && end > i && data[end - 1] == '\r') ? end - 1 : end;
        std::size_t at = i;
        while (at < lineEnd) {
            const void* cr = std::memchr(data + at, '\r', lineEnd - at);
            const std::size_t stop =
                cr != nullptr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : lineEnd;
            out.append(data + at, stop - at);
            if (cr == nullptr) {
                break;
            }
            out += "\r\n";
            at = stop + 1;
        }
        if (lf != nullptr) {
            out += "\r\n";
        }
        i = lf != nullptr ? end + 1 : text.size();
    }
    return out;
}

struct Leaf {
    std::string type;
    std::string charset;
    std::string transfer;
    std::string name;  // CP932
    bool attachment = false;
    bool forwarded = false;  // inside a message/rfc822
    bool candidate = false;  // may be the body
    std::string_view body;
};

struct Walk {
    const InvalidCharReport& report;
    std::vector<Leaf> leaves;
};

std::string_view LineAt(std::string_view text, std::size_t at, std::size_t* next) {
    std::size_t end = text.find('\n', at);
    *next = end == npos ? text.size() : end + 1;
    std::string_view line = text.substr(at, (end == npos ? text.size() : end) - at);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// The parts between the delimiter lines of a multipart body.
std::vector<std::string_view> SplitMultipart(std::string_view body, std::string_view boundary) {
    std::vector<std::string_view> parts;
    const std::string delimiter = "--" + std::string(boundary);
    std::size_t at = 0;
    std::optional<std::size_t> partStart;
    while (at < body.size() && parts.size() < kPartsMax) {
        std::size_t next = 0;
        std::string_view line = LineAt(body, at, &next);
        if (line.starts_with(delimiter)) {
            std::string_view rest = Trim(line.substr(delimiter.size()));
            const bool close = rest.starts_with("--");
            if (rest.empty() || close) {
                if (partStart) {
                    // The line end before a delimiter belongs to it.
                    std::size_t end = at;
                    if (end > *partStart && body[end - 1] == '\n') {
                        --end;
                        if (end > *partStart && body[end - 1] == '\r') {
                            --end;
                        }
                    }
                    parts.push_back(body.substr(*partStart, end - *partStart));
                }
                if (close) {
                    return parts;
                }
                partStart = next;
            }
        }
        at = next;
    }
    // A multipart cut short still shows what came.
    if (partStart && *partStart < body.size() && parts.size() < kPartsMax) {
        parts.push_back(body.substr(*partStart));
    }
    return parts;
}

void WalkEntity(Walk& walk, std::string_view entity, int depth, bool candidate, bool forwarded,
                std::string_view defaultType) {
    if (walk.leaves.size() >= kPartsMax) {
        return;
    }
    const Entity split = SplitEntity(entity);
    const std::optional<std::string> contentType = MimeField(split.header, "Content-Type");
    const std::optional<std::string> disposition = MimeField(split.header, "Content-Disposition");
    std::string type = contentType ? MediaType(contentType) : std::string(defaultType);
    const auto params = contentType ? Parameters(*contentType) : decltype(Parameters({})){};
    const bool attachment =
        disposition && LowerText(Trim(std::string_view(*disposition).substr(0, disposition->find(';')))) ==
                           "attachment";

    if (type.starts_with("multipart/") && depth < kDepthMax) {
        auto boundary = params.find("boundary");
        if (boundary != params.end() && !boundary->second.value.empty()) {
            const std::vector<std::string_view> parts = SplitMultipart(split.body, boundary->second.value);
            const bool related = type == "multipart/related";
            const std::string_view childDefault = type == "multipart/digest" ? "message/rfc822" : "text/plain";
            // Of a related whole only the start can be the text; the rest
            // are its pictures and such.
            std::size_t start = 0;
            if (related) {
                if (auto wanted = params.find("start"); wanted != params.end()) {
                    for (std::size_t i = 0; i < parts.size(); ++i) {
                        const Entity child = SplitEntity(parts[i]);
                        std::optional<std::string> id = MimeField(child.header, "Content-ID");
                        if (id && Trim(*id) == Trim(wanted->second.value)) {
                            start = i;
                            break;
                        }
                    }
                }
            }
            for (std::size_t i = 0; i < parts.size(); ++i) {
                WalkEntity(walk, parts[i], depth + 1, candidate && !attachment && (!related || i == start),
                           forwarded, childDefault);
            }
            return;
        }
        type = "text/plain";  // a multipart without a boundary is read as text
    }
    Leaf leaf;
    leaf.type = type;
    if (auto charset = params.find("charset"); charset != params.end()) {
        leaf.charset = charset->second.value;
    }
    if (std::optional<std::string> transfer = MimeField(split.header, "Content-Transfer-Encoding")) {
        leaf.transfer = LowerText(Trim(*transfer));
    }
    leaf.name = MimeFileName(disposition.value_or(std::string()), contentType.value_or(std::string()),
                             walk.report);
    leaf.attachment = attachment;
    leaf.forwarded = forwarded;
    leaf.candidate = candidate && !attachment && (type == "text/plain" || type == "text/html");
    leaf.body = split.body;
    const bool message = type == "message/rfc822" || type == "message/global";
    if (message && !attachment && depth < kDepthMax) {
        // Listed as itself, read as a mail of its own.
        walk.leaves.push_back(leaf);
        walk.leaves.back().candidate = false;
        WalkEntity(walk, split.body, depth + 1, candidate, true, "text/plain");
        return;
    }
    walk.leaves.push_back(std::move(leaf));
}

std::string LeafText(const Leaf& leaf, std::int32_t code) {
    std::string decoded;
    std::string_view bytes = leaf.body;  // 7bit, 8bit, binary: read where it lies
    if (leaf.transfer == "base64") {
        decoded = DecodeBase64Body(leaf.body);
        bytes = decoded;
    } else if (leaf.transfer == "quoted-printable") {
        decoded = DecodeQuotedPrintableBody(leaf.body);
        bytes = decoded;
    }
    std::string text = TextToUtf8(bytes, leaf.charset, code);
    std::string().swap(decoded);
    if (leaf.type == "text/html") {
        text = HtmlToText(text);
    }
    return NormalizeLineEnds(std::move(text));
}

// --- HTML ---------------------------------------------------------------------

struct Entity16 {
    std::string_view name;
    char32_t code;
};
constexpr Entity16 kEntities[] = {
    {"amp", '&'},       {"lt", '<'},         {"gt", '>'},        {"quot", '"'},       {"apos", '\''},
    {"nbsp", 0xA0},     {"copy", 0xA9},      {"reg", 0xAE},      {"trade", 0x2122},   {"hellip", 0x2026},
    {"mdash", 0x2014},  {"ndash", 0x2013},   {"laquo", 0xAB},    {"raquo", 0xBB},     {"yen", 0xA5},
    {"middot", 0xB7},   {"times", 0xD7},     {"lsquo", 0x2018},  {"rsquo", 0x2019},   {"ldquo", 0x201C},
    {"rdquo", 0x201D},  {"bull", 0x2022},    {"euro", 0x20AC},   {"deg", 0xB0},       {"shy", 0xAD},
    {"zwj", 0x200D},    {"zwnj", 0x200C},    {"ensp", 0x2002},   {"emsp", 0x2003},    {"thinsp", 0x2009},
};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A character reference at html[at] ('&'); false (nothing consumed) when
// it is none.
bool DecodeReference(std::string_view html, std::size_t& at, std::string& out) {
    const std::size_t semi = html.find(';', at + 1);
    if (semi == npos || semi - at > 12) {
        return false;
    }
    std::string_view name = html.substr(at + 1, semi - at - 1);
    if (name.starts_with("#")) {
        char32_t cp = 0;
        const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
        std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) {
            return false;
        }
        for (char c : digits) {
            const int v = hex ? Hex(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
            if (v < 0) {
                return false;
            }
            // Held just above the range, so that no length of digits overflows.
            cp = std::min<char32_t>(cp * (hex ? 16 : 10) + static_cast<char32_t>(v), 0x110000);
        }
        AppendUtf8(out, cp);
        at = semi + 1;
        return true;
    }
    for (const Entity16& entity : kEntities) {
        if (entity.name == name) {
            AppendUtf8(out, entity.code);
            at = semi + 1;
            return true;
        }
    }
    return false;
}

bool IsBlockTag(std::string_view tag) {
    static constexpr std::string_view kBlocks[] = {"p",  "div", "tr", "li", "h1", "h2", "h3",  "h4", "h5",
                                                   "h6", "table", "ul", "ol", "blockquote", "hr", "pre",
                                                   "section", "article", "header", "footer", "dd", "dt",
                                                   "center", "form", "title"};
    return std::find(std::begin(kBlocks), std::end(kBlocks), tag) != std::end(kBlocks);
}

}  // namespace

std::optional<std::string> MimeField(std::string_view header, std::string_view name) {
    std::size_t at = 0;
    while (at < header.size()) {
        std::size_t next = 0;
        std::string_view line = LineAt(header, at, &next);
        if (line.empty()) {
            return std::nullopt;
        }
        if (line.size() > name.size() && line[name.size()] == ':' &&
            LowerText(line.substr(0, name.size())) == LowerText(name)) {
            std::string value(Trim(line.substr(name.size() + 1)));
            // Folded lines continue with a blank.
            while (next < header.size() && IsBlank(header[next])) {
                std::string_view more = LineAt(header, next, &next);
                value += ' ';
                value += Trim(more);
            }
            return value;
        }
        at = next;
    }
    return std::nullopt;
}

std::optional<std::string> MimeParameter(std::string_view value, std::string_view name, std::string* charset) {
    const auto params = Parameters(value);
    const std::string key = LowerText(name);
    if (charset != nullptr) {
        charset->clear();
    }
    // The RFC 2231 forms win over the plain one, which older readers take.
    if (auto whole = params.find(key + "*"); whole != params.end()) {
        return PercentDecode(SplitCharset(whole->second.value, charset));
    }
    // Sections name*0, name*1 ... joined in order; a gap ends them.
    std::string joined;
    bool any = false;
    for (std::size_t i = 0; i < kSectionsMax; ++i) {
        const std::string section0 = key + "*" + std::to_string(i);
        auto section = params.find(section0 + "*");
        if (section == params.end()) {
            section = params.find(section0);
        }
        if (section == params.end()) {
            break;
        }
        any = true;
        std::string_view text = section->second.value;
        if (section->second.extended) {
            if (i == 0) {
                text = SplitCharset(text, charset);
            }
            joined += PercentDecode(text);
        } else {
            joined += text;
        }
    }
    if (any) {
        return joined;
    }
    if (auto plain = params.find(key); plain != params.end()) {
        return plain->second.value;
    }
    return std::nullopt;
}

std::string MimeFileName(std::string_view disposition, std::string_view contentType,
                         const InvalidCharReport& report) {
    for (auto [value, key] : {std::pair{disposition, std::string_view("filename")},
                              std::pair{contentType, std::string_view("name")}}) {
        if (value.empty()) {
            continue;
        }
        std::string charset;
        std::optional<std::string> name = MimeParameter(value, key, &charset);
        if (!name || name->empty()) {
            continue;
        }
        if (!charset.empty()) {
            return CharsetToCp932(*name, charset);
        }
        // Mailers put encoded words inside the quotes, and raw text too.
        if (LooksLikeUtf8(*name)) {
            return Utf8ToCp932Geta(*name);
        }
        return DecodeHeaderText(*name, report);
    }
    return {};
}

bool NeedsMimeReading(std::string_view mail, std::int32_t code) {
    if (code == KANJI_UTF8) {
        return true;
    }
    const Entity split = SplitEntity(mail);
    const std::optional<std::string> contentType = MimeField(split.header, "Content-Type");
    if (contentType) {
        const std::string type = MediaType(contentType);
        if (type != "text/plain") {
            return true;
        }
        std::string charset = MimeParameter(*contentType, "charset").value_or(std::string());
        const std::string lower = LowerText(charset);
        if (!charset.empty() && KanjiCodeOfCharset(charset) < KANJI_SJIS && lower != "us-ascii" &&
            lower != "ascii") {
            return true;
        }
    }
    if (std::optional<std::string> transfer = MimeField(split.header, "Content-Transfer-Encoding")) {
        const std::string lower = LowerText(Trim(*transfer));
        if (lower == "base64" || lower == "quoted-printable") {
            return true;
        }
    }
    return code == KANJI_AUTO && LooksLikeUtf8(split.body);
}

MimeReading ReadMimeBody(std::string_view mail, std::int32_t code, const InvalidCharReport& report) {
    Walk walk{report, {}};
    WalkEntity(walk, mail, 0, true, false, "text/plain");
    // The first plain text, else the first HTML; a forwarded mail's only
    // when the mail itself has neither.
    const Leaf* body = nullptr;
    for (bool forwarded : {false, true}) {
        for (std::string_view type : {"text/plain", "text/html"}) {
            for (const Leaf& leaf : walk.leaves) {
                if (leaf.candidate && leaf.forwarded == forwarded && leaf.type == type) {
                    body = &leaf;
                    break;
                }
            }
            if (body != nullptr) {
                break;
            }
        }
        if (body != nullptr) {
            break;
        }
    }
    MimeReading reading;
    if (body != nullptr) {
        reading.body = LeafText(*body, code);
    }
    for (const Leaf& leaf : walk.leaves) {
        if (&leaf == body) {
            continue;
        }
        if (!leaf.name.empty()) {
            reading.attachments.push_back(leaf.name);
        } else if (!leaf.type.starts_with("text/") && !leaf.type.starts_with("message/")) {
            reading.attachments.push_back(leaf.type);
        }
    }
    return reading;
}

std::string HtmlToText(std::string_view html) {
    std::string out;
    out.reserve(html.size());
    bool space = false;  // a blank is pending
    // A block starts on a line of its own; <br> always breaks, but a run of
    // them leaves at most one empty line.
    auto lineBreak = [&](bool always) {
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
        const std::size_t n = out.size();
        if (n > 0 && (always ? !(n >= 2 && out[n - 1] == '\n' && out[n - 2] == '\n') : out[n - 1] != '\n')) {
            out += '\n';
        }
        space = false;
    };
    std::size_t i = 0;
    int preformatted = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            if (html.compare(i, 4, "<!--") == 0) {
                const std::size_t end = html.find("-->", i + 4);
                i = end == npos ? html.size() : end + 3;
                continue;
            }
            const std::size_t end = html.find('>', i + 1);
            if (end == npos) {
                break;
            }
            std::string_view inside = html.substr(i + 1, end - i - 1);
            const bool closing = inside.starts_with("/");
            if (closing) {
                inside.remove_prefix(1);
            }
            std::size_t nameEnd = 0;
            while (nameEnd < inside.size() && inside[nameEnd] != ' ' && inside[nameEnd] != '\t' &&
                   inside[nameEnd] != '\r' && inside[nameEnd] != '\n' && inside[nameEnd] != '/') {
                ++nameEnd;
            }
            const std::string tag = LowerText(inside.substr(0, nameEnd));
            i = end + 1;
            if (!closing && (tag == "script" || tag == "style" || tag == "head")) {
                // Their content is never text.
                const std::string close = "</" + tag;
                std::size_t at = i;
                while (at < html.size()) {
                    at = html.find("</", at);
                    if (at == npos || LowerText(html.substr(at, close.size())) == close) {
                        break;
                    }
                    at += 2;
                }
                if (at == npos) {
                    i = html.size();
                } else {
                    const std::size_t gt = html.find('>', at);
                    i = gt == npos ? html.size() : gt + 1;
                }
                continue;
            }
            if (tag == "pre") {
                preformatted += closing ? -1 : 1;
                preformatted = std::max(preformatted, 0);
            }
            if (tag == "br" || IsBlockTag(tag)) {
                lineBreak(tag == "br");
            } else if (tag == "td" || tag == "th") {
                space = !out.empty() && out.back() != '\n';
            }
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (preformatted > 0) {
                if (c == '\n') {
                    out += '\n';
                } else if (c != '\r') {
                    out += c;
                }
            } else {
                space = !out.empty() && out.back() != '\n';
            }
            ++i;
            continue;
        }
        if (space) {
            out += ' ';
            space = false;
        }
        if (c == '&' && DecodeReference(html, i, out)) {
            continue;
        }
        out += c;
        ++i;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) {
        out.pop_back();
    }
    if (!out.empty()) {
        out += '\n';
    }
    return out;
}

std::string DecodeBase64Body(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t group = 0;
    int count = 0;
    for (char c : text) {
        int v = -1;
        if (c >= 'A' && c <= 'Z') {
            v = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            v = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            v = c - '0' + 52;
        } else if (c == '+') {
            v = 62;
        } else if (c == '/') {
            v = 63;
        } else if (c == '=') {
            // Padding ends a group early; what follows may be the next one.
            if (count == 2) {
                out += static_cast<char>(group >> 4);
            } else if (count == 3) {
                out += static_cast<char>(group >> 10);
                out += static_cast<char>((group >> 2) & 0xFF);
            }
            group = 0;
            count = 0;
            continue;
        }
        if (v < 0) {
            continue;
        }
        group = (group << 6) | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            out += static_cast<char>((group >> 16) & 0xFF);
            out += static_cast<char>((group >> 8) & 0xFF);
            out += static_cast<char>(group & 0xFF);
            group = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out += static_cast<char>(group >> 4);
    } else if (count == 3) {
        out += static_cast<char>(group >> 10);
        out += static_cast<char>((group >> 2) & 0xFF);
    }
    return out;
}

std::string DecodeQuotedPrintableBody(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c != '=') {
            out += c;
            ++i;
            continue;
        }
        // A soft line break: "=", maybe blanks, then the line end.
        std::size_t j = i + 1;
        while (j < text.size() && IsBlank(text[j])) {
            ++j;
        }
        if (j < text.size() && (text[j] == '\r' || text[j] == '\n')) {
            i = j + ((text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') ? 2 : 1);
            continue;
        }
        if (j == text.size()) {
            break;
        }
        if (i + 2 < text.size() && Hex(text[i + 1]) >= 0 && Hex(text[i + 2]) >= 0) {
            out += static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
            i += 3;
            continue;
        }
        out += c;  // a stray "=" stays, as readers show it
        ++i;
    }
    return out;
}

}  // namespace wp
