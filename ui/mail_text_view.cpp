#include "ui/mail_text_view.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "decode/jis_sjis.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace wp {
namespace {

constexpr int kTabColumns = 8;
// Twenty refreshes a second look continuous; a RETR on a fast link brings
// far more chunks, each of which would repaint the scroll bars.
constexpr int kLiveRefreshMs = 50;
// The index holds 32-bit offsets; a mail is far smaller.
constexpr std::size_t kIndexMax = std::numeric_limits<std::uint32_t>::max() - 1;
// The pace of scrolling while a drag rests past an edge.
constexpr int kDragScrollMs = 50;
// What is indexed at a time to find the lines a live text keeps.
constexpr std::size_t kDropStep = 64 * 1024;

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

bool EndsOrTabs(char c) {
    return c == '\n' || c == '\r' || c == '\t';
}

// The first line end or tab in [from, to), or `to`. A mail is mostly short
// lines: one pass eight bytes at a time, where a search per byte value
// would cost three calls a line.
const char* FindEndOrTab(const char* from, const char* to) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighs = 0x8080808080808080u;
    while (to - from >= 8) {
        std::uint64_t word;
        std::memcpy(&word, from, 8);
        // A byte below 0x0E marks the word; the three are among them.
        if (((word - kOnes * 0x0E) & ~word & kHighs) != 0) {
            for (int i = 0; i < 8; ++i) {
                if (EndsOrTabs(from[i])) {
                    return from + i;
                }
            }
        }
        from += 8;
    }
    while (from < to && !EndsOrTabs(*from)) {
        ++from;
    }
    return from;
}

// A UTF-8 sequence's length at `at`, 1 for a stray or cut byte.
std::size_t Utf8Length(std::string_view text, std::size_t at, char32_t* code) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
    if (length == 1 || at + length > text.size()) {
        *code = lead;
        return 1;
    }
    char32_t value = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            *code = lead;
            return 1;
        }
        value = (value << 6) | (next & 0x3F);
    }
    *code = value;
    return length;
}

// East Asian wide characters take two columns, as a double-byte character does.
bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

// 0 for a character cut off by the end of the text.
std::size_t CharLengthIn(std::string_view line, std::size_t at, bool unicode) {
    const auto lead = static_cast<unsigned char>(line[at]);
    if (lead < 0x80) {
        return 1;
    }
    if (unicode) {
        char32_t code = 0;
        const std::size_t length = Utf8Length(line, at, &code);
        if (length == 1 && lead >= 0xC2 && lead <= 0xF4) {
            // A sequence cut by the end waits; one broken inside is a byte.
            const std::size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            std::size_t have = 1;
            while (at + have < line.size() && have < want &&
                   (static_cast<unsigned char>(line[at + have]) & 0xC0) == 0x80) {
                ++have;
            }
            return at + have == line.size() && have < want ? 0 : 1;
        }
        return length;
    }
    if (IsSjisLeadByte(lead)) {
        return at + 1 < line.size() ? 2 : 0;
    }
    return 1;
}

int CharColumnsIn(std::string_view line, std::size_t at, int column, bool unicode) {
    const char c = line[at];
    if (c == '\t') {
        return kTabColumns - column % kTabColumns;
    }
    if (static_cast<unsigned char>(c) < 0x80) {
        return 1;
    }
    if (unicode) {
        char32_t code = 0;
        Utf8Length(line, at, &code);
        return IsWide(code) ? 2 : 1;
    }
    return IsSjisLeadByte(static_cast<unsigned char>(c)) && at + 1 < line.size() ? 2 : 1;
}

int ColumnsIn(std::string_view line, std::size_t offset, bool unicode) {
    int column = 0;
    for (std::size_t at = 0; at < offset && at < line.size();) {
        column += CharColumnsIn(line, at, column, unicode);
        at += std::max<std::size_t>(1, CharLengthIn(line, at, unicode));
    }
    return column;
}

// ColumnsIn of a whole UTF-8 line without tabs, as walking it would count
// them, with the common runs taken quickly: ASCII eight bytes at a time,
// and the kana and kanji (U+3000 to U+9FFF, wide but for U+303F) whole.
int Utf8LineColumns(std::string_view line) {
    constexpr std::uint64_t kHighs = 0x8080808080808080u;
    const std::size_t size = line.size();
    std::size_t columns = 0;
    std::size_t at = 0;
    while (at < size) {
        if (size - at >= 8) {
            std::uint64_t word;
            std::memcpy(&word, line.data() + at, 8);
            if ((word & kHighs) == 0) {
                columns += 8;
                at += 8;
                continue;
            }
        }
        const auto lead = static_cast<unsigned char>(line[at]);
        if (lead < 0x80) {
            ++columns;
            ++at;
            continue;
        }
        if (lead >= 0xE3 && lead <= 0xE9 && size - at >= 3) {
            const auto second = static_cast<unsigned char>(line[at + 1]);
            const auto third = static_cast<unsigned char>(line[at + 2]);
            if ((second & 0xC0) == 0x80 && (third & 0xC0) == 0x80) {
                const char32_t code = (lead & 0x0Fu) << 12 | (second & 0x3Fu) << 6 | (third & 0x3Fu);
                columns += code == 0x303F ? 1 : 2;
                at += 3;
                continue;
            }
        }
        columns += static_cast<std::size_t>(CharColumnsIn(line, at, 0, true));
        at += std::max<std::size_t>(1, CharLengthIn(line, at, true));
    }
    return static_cast<int>(std::min<std::size_t>(columns, INT32_MAX));
}

QString Ui(const char* utf8) {
    return Cp932ToQString(Sjis(utf8));
}

}  // namespace

// ---------------------------------------------------------------- the index

void CMailTextView::Segment::Reset() {
    bytes.clear();
    bytes.shrink_to_fit();
    starts.assign(1, 0);
    starts.shrink_to_fit();
    begin = 0;
    indexed = 0;
    wanted = 0;
    widest = 0;
    open = 0;
    tabs = 0;
}

void CMailTextView::Segment::Take(std::string text, std::size_t from) {
    Reset();
    bytes = std::move(text);
    begin = indexed = wanted = std::min(from, bytes.size());
    starts.assign(1, static_cast<std::uint32_t>(std::min(begin, kIndexMax)));
}

void CMailTextView::Segment::Index(std::size_t to, bool unicode) {
    to = std::min({to, bytes.size(), kIndexMax});
    const char* data = bytes.data();
    const char* end = data + to;
    const char* at = data + indexed;
    // A line is at most its bytes wide, a tab aside: only a line that may
    // be the widest is measured, and a line still open is not yet.
    auto measure = [&](const char* contentEnd, bool ended) {
        const std::string_view line(data + starts.back(), static_cast<std::size_t>(contentEnd - (data + starts.back())));
        const std::size_t bound = std::min<std::size_t>(
            line.size() + static_cast<std::size_t>(tabs) * (kTabColumns - 1), INT32_MAX);
        if (!ended) {
            open = static_cast<int>(bound);
            return;
        }
        open = 0;
        if (bound > static_cast<std::size_t>(widest)) {
            // In CP932 a byte is a column; UTF-8 has to be walked.
            const int columns = tabs != 0 ? ColumnsIn(line, line.size(), unicode)
                                : unicode ? Utf8LineColumns(line)
                                          : static_cast<int>(bound);
            widest = std::max(widest, columns);
        }
    };
    while (at < end) {
        const char* found = FindEndOrTab(at, end);
        if (found == end) {
            measure(end, false);
            break;
        }
        if (*found == '\t') {
            ++tabs;
            at = found + 1;
            if (at == end) {
                measure(end, false);
            }
            continue;
        }
        measure(found, true);
        const char* next = found + 1;
        if (*found == '\r' && next < end && *next == '\n') {
            ++next;
        }
        tabs = 0;
        starts.push_back(static_cast<std::uint32_t>(next - data));
        at = next;
    }
    indexed = std::max(indexed, to);
    wanted = std::max(wanted, indexed);
}

int CMailTextView::Segment::Lines() const {
    const std::size_t lines = starts.size() - (starts.back() == indexed ? 1 : 0);
    return static_cast<int>(std::min<std::size_t>(lines, INT32_MAX));
}

// ---------------------------------------------------------------- the widget

CMailTextView::CMailTextView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("mailTextMenu"));
    QAction* copyAction = menu_->addAction(Ui("コピー(&C)"));
    copyAction->setObjectName(QStringLiteral("copy"));
    menu_->addSeparator();
    QAction* all = menu_->addAction(Ui("すべて選択(&A)"));
    all->setObjectName(QStringLiteral("selectAll"));
    connect(copyAction, &QAction::triggered, this, [this] { copy(); });
    connect(all, &QAction::triggered, this, [this] { selectAll(); });
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    connect(refreshTimer_, &QTimer::timeout, this, [this] { RefreshNow(); });
    dragTimer_ = new QTimer(this);
    dragTimer_->setInterval(kDragScrollMs);
    connect(dragTimer_, &QTimer::timeout, this, [this] { DragScroll(); });
    FontChanged();
}

CMailTextView::~CMailTextView() = default;

void CMailTextView::SetText(std::string header, std::string body, bool unicode, std::size_t bodyFrom) {
    const bool wasEmpty = header_.bytes.empty() && body_.Text().empty();
    unicode_ = unicode;
    header_.Take(std::move(header), 0);
    body_.Take(std::move(body), bodyFrom);
    header_.Index(header_.bytes.size(), unicode_);
    body_.Index(body_.bytes.size(), unicode_);
    anchor_ = cursor_ = Position();
    // A text that arrives anew starts its pace afresh.
    lastRefresh_.invalidate();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    if (wasEmpty && header_.bytes.empty() && body_.Text().empty()) {
        return;  // cleared again as a receive starts: nothing to redraw
    }
    UpdateScrollBars();
    viewport()->update();
}

void CMailTextView::Clear() {
    SetText({}, {}, false);
}

void CMailTextView::SetHeaderShown(bool shown) {
    if (shown == headerShown_) {
        return;
    }
    headerShown_ = shown;
    anchor_ = cursor_ = Position();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    UpdateScrollBars();
    viewport()->update();
}

std::string CMailTextView::TakeBody() {
    std::string bytes = std::move(body_.bytes);
    bytes.erase(0, body_.begin);
    body_.Reset();
    UpdateScrollBars();
    viewport()->update();
    return bytes;
}

void CMailTextView::ReserveBody(std::size_t bytes) {
    body_.bytes.reserve(bytes);
}

void CMailTextView::AppendBody(std::string_view chunk) {
    if (chunk.empty()) {
        return;
    }
    body_.bytes.append(chunk);
    const std::string_view text(body_.bytes);
    // Characters are whole from a line's start on: no line end byte is part
    // of a character.
    std::size_t from = text.size();
    while (from > body_.wanted && !IsLineEnd(text[from - 1])) {
        --from;
    }
    std::size_t safe = from;
    while (safe < text.size()) {
        const std::size_t length = CharLength(text, safe);
        if (length == 0) {
            break;  // unfinished
        }
        safe += length;
    }
    // A CR may be the first half of a CR LF.
    if (safe > body_.wanted && text[safe - 1] == '\r') {
        --safe;
    }
    body_.wanted = std::max(body_.wanted, safe);
    // Lines below the ones in view need no paint, only the scroll bar.
    LiveRefresh(IndexedLines() <= FirstVisibleLine() + VisibleLines());
}

void CMailTextView::FinishAppending() {
    CatchUp();
    if (body_.indexed < body_.bytes.size()) {
        body_.Index(body_.bytes.size(), unicode_);
        paintPending_ = true;
    }
    if (paintPending_ || refreshTimer_->isActive()) {
        RefreshNow();
    }
}

void CMailTextView::LiveRefresh(bool paint) {
    paintPending_ = paintPending_ || paint;
    if (!lastRefresh_.isValid()) {
        // A new text shows a moment after it starts: one that is whole by
        // then (most mails on a fast link) is replaced by its converted
        // reading without a flash of the raw one, and no redraw slows it.
        lastRefresh_.start();
        refreshTimer_->start(kLiveRefreshMs);
    } else if (lastRefresh_.elapsed() >= kLiveRefreshMs) {
        RefreshNow();
    } else if (!refreshTimer_->isActive()) {
        refreshTimer_->start(kLiveRefreshMs - static_cast<int>(lastRefresh_.elapsed()));
    }
}

void CMailTextView::RefreshNow() {
    UpdateScrollBars();
    lastRefresh_.start();
}

void CMailTextView::DropBelowView() {
    const int lines = FirstVisibleLine() + VisibleLines() + 1;
    const int keep = std::max(0, lines - (headerShown_ ? header_.Lines() : 0));
    // Only as much is indexed as is kept.
    while (keep >= body_.Lines() && body_.indexed < body_.wanted) {
        std::size_t to = std::min((body_.indexed / kDropStep + 1) * kDropStep, body_.wanted);
        if (to < body_.wanted && body_.bytes[to - 1] == '\r') {
            ++to;  // a CR LF stays one line end
        }
        const std::size_t before = body_.indexed;
        body_.Index(to, unicode_);
        if (body_.indexed == before) {
            break;  // past what the index can hold
        }
    }
    if (keep >= body_.Lines()) {
        return;
    }
    const std::size_t end = body_.starts[static_cast<std::size_t>(keep)];
    body_.bytes.resize(end);
    body_.bytes.shrink_to_fit();
    body_.starts.resize(static_cast<std::size_t>(keep) + 1);
    body_.starts.shrink_to_fit();
    body_.indexed = end;
    body_.wanted = end;
    body_.tabs = 0;
    body_.open = 0;
    anchor_ = std::min(anchor_, EndPosition());
    cursor_ = std::min(cursor_, EndPosition());
    // What is in view is unchanged: no repaint, which would come between
    // this and the converted text and only delay it. The scroll bars
    // follow at their pace, if the converted text has not replaced it all.
    if (!refreshTimer_->isActive()) {
        refreshTimer_->start(kLiveRefreshMs);
    }
}

void CMailTextView::SetHeader(std::string header) {
    header_.Take(std::move(header), 0);
    header_.Index(header_.bytes.size(), unicode_);
    if (headerShown_) {
        UpdateScrollBars();
        viewport()->update();
    }
}

void CMailTextView::CatchUp() const {
    if (body_.indexed < body_.wanted) {
        body_.Index(body_.wanted, unicode_);
    }
}

int CMailTextView::IndexedLines() const {
    const long long lines = static_cast<long long>(body_.Lines()) + (headerShown_ ? header_.Lines() : 0);
    return static_cast<int>(std::min<long long>(lines, INT32_MAX));
}

int CMailTextView::LineCount() const {
    CatchUp();
    return IndexedLines();
}

int CMailTextView::WidthInColumns() const {
    CatchUp();
    return std::max(body_.Width(), headerShown_ ? header_.Width() : 0);
}

int CMailTextView::FirstVisibleLine() const {
    return verticalScrollBar()->value();
}

CMailTextView::Line CMailTextView::LineAt(int line) const {
    CatchUp();
    const Segment* segment = &body_;
    if (headerShown_) {
        if (line < header_.Lines()) {
            segment = &header_;
        } else {
            line -= header_.Lines();
        }
    }
    Line result;
    if (line < 0 || line >= segment->Lines()) {
        return result;
    }
    const auto index = static_cast<std::size_t>(line);
    const std::size_t begin = segment->starts[index];
    std::size_t end = index + 1 < segment->starts.size() ? segment->starts[index + 1] : segment->indexed;
    const std::string_view bytes(segment->bytes);
    if (end > begin && bytes[end - 1] == '\n') {
        --end;
        result.ended = true;
    }
    if (end > begin && bytes[end - 1] == '\r') {
        --end;
        result.ended = true;
    }
    result.text = bytes.substr(begin, end - begin);
    return result;
}

std::size_t CMailTextView::CharLength(std::string_view line, std::size_t at) const {
    return CharLengthIn(line, at, unicode_);
}

int CMailTextView::CharColumns(std::string_view line, std::size_t at, int column) const {
    return CharColumnsIn(line, at, column, unicode_);
}

int CMailTextView::ColumnOf(std::string_view line, std::size_t offset) const {
    return ColumnsIn(line, offset, unicode_);
}

std::size_t CMailTextView::OffsetAt(std::string_view line, int halfColumns) const {
    int at = 0;
    std::size_t offset = 0;
    while (offset < line.size()) {
        const int width = CharColumns(line, offset, at);
        if (halfColumns < 2 * at + width) {
            break;
        }
        at += width;
        offset += std::max<std::size_t>(1, CharLength(line, offset));
    }
    return offset;
}

QString CMailTextView::Convert(std::string_view bytes) const {
    if (unicode_) {
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    return Cp932ToQString(bytes);
}

// ---------------------------------------------------------------- text out

QString CMailTextView::TextBetween(Position from, Position to) const {
    std::string bytes;
    for (int line = from.line; line <= to.line && line < LineCount(); ++line) {
        const Line shown = LineAt(line);
        const std::size_t begin = line == from.line ? std::min(from.offset, shown.text.size()) : 0;
        const std::size_t end = line == to.line ? std::min(to.offset, shown.text.size()) : shown.text.size();
        if (end > begin) {
            bytes.append(shown.text.substr(begin, end - begin));
        }
        if (line < to.line) {
            bytes += '\n';
        }
    }
    return Convert(bytes);
}

CMailTextView::Position CMailTextView::EndPosition() const {
    const int lines = LineCount();
    if (lines == 0) {
        return {};
    }
    const Line last = LineAt(lines - 1);
    return last.ended ? Position{lines, 0} : Position{lines - 1, last.text.size()};
}

QString CMailTextView::toPlainText() const {
    return TextBetween(Position(), EndPosition());
}

QString CMailTextView::selectedText() const {
    return TextBetween(std::min(anchor_, cursor_), std::max(anchor_, cursor_));
}

bool CMailTextView::hasSelection() const {
    return anchor_ != cursor_;
}

void CMailTextView::selectAll() {
    anchor_ = Position();
    cursor_ = EndPosition();
    viewport()->update();
}

void CMailTextView::copy() const {
    if (hasSelection()) {
        QApplication::clipboard()->setText(selectedText());
    }
}

// ---------------------------------------------------------------- painting

void CMailTextView::FontChanged() {
    const QFontMetrics metrics(font());
    lineHeight_ = std::max(1, metrics.lineSpacing());
    ascent_ = metrics.ascent();
    charWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
    UpdateScrollBars();
    viewport()->update();
}

int CMailTextView::VisibleLines() const {
    return std::max(1, (viewport()->height() - kMargin) / lineHeight_);
}

int CMailTextView::VisibleColumns() const {
    return std::max(1, (viewport()->width() - kMargin) / charWidth_);
}

void CMailTextView::UpdateScrollBars() {
    refreshTimer_->stop();
    if (paintPending_) {
        paintPending_ = false;
        viewport()->update();
    }
    const int lines = VisibleLines();
    verticalScrollBar()->setRange(0, std::max(0, LineCount() - lines));
    verticalScrollBar()->setPageStep(lines);
    verticalScrollBar()->setSingleStep(1);
    const int columns = VisibleColumns();
    // One column more for the end of a selected line.
    horizontalScrollBar()->setRange(0, std::max(0, WidthInColumns() + 1 - columns));
    horizontalScrollBar()->setPageStep(columns);
    horizontalScrollBar()->setSingleStep(1);
}

void CMailTextView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette& colors = palette();
    const QColor text = colors.color(QPalette::Text);
    const QColor highlight = colors.color(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight);
    const QColor highlighted =
        colors.color(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::HighlightedText);
    const int first = FirstVisibleLine();
    const int left = horizontalScrollBar()->value();
    const int right = left + VisibleColumns() + 2;
    const Position low = std::min(anchor_, cursor_);
    const Position high = std::max(anchor_, cursor_);
    const int lines = LineCount();
    const int rows = (viewport()->height() - kMargin) / lineHeight_ + 1;
    std::string visible;
    for (int row = 0; row <= rows && first + row < lines; ++row) {
        const int index = first + row;
        const Line line = LineAt(index);
        const std::string_view bytes = line.text;
        // Only the part of the line in view is converted: a line of megabytes
        // costs a walk through its bytes, no more.
        int column = 0;
        std::size_t at = 0;
        while (at < bytes.size()) {
            const int width = CharColumns(bytes, at, column);
            if (column + width > left) {
                break;
            }
            column += width;
            at += std::max<std::size_t>(1, CharLength(bytes, at));
        }
        const int startColumn = column;
        visible.clear();
        while (at < bytes.size() && column < right) {
            const int width = CharColumns(bytes, at, column);
            const std::size_t length = std::max<std::size_t>(1, CharLength(bytes, at));
            if (bytes[at] == '\t') {
                visible.append(static_cast<std::size_t>(width), ' ');
            } else {
                visible.append(bytes.substr(at, length));
            }
            column += width;
            at += length;
        }
        const int y = kMargin + row * lineHeight_;
        const int x = kMargin + (startColumn - left) * charWidth_;
        const QString shown = Convert(visible);
        QRect selection;
        if (low != high && index >= low.line && index <= high.line) {
            const int from = index == low.line ? ColumnOf(bytes, low.offset) : 0;
            int to = index == high.line ? ColumnOf(bytes, high.offset) : ColumnOf(bytes, bytes.size()) + 1;
            selection = QRect(kMargin + (from - left) * charWidth_, y, (to - from) * charWidth_, lineHeight_);
            painter.fillRect(selection, highlight);
        }
        painter.setPen(text);
        painter.drawText(x, y + ascent_, shown);
        if (!selection.isEmpty()) {
            painter.save();
            painter.setClipRect(selection);
            painter.setPen(highlighted);
            painter.drawText(x, y + ascent_, shown);
            painter.restore();
        }
    }
}

void CMailTextView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void CMailTextView::scrollContentsBy(int, int) {
    viewport()->update();
}

void CMailTextView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        FontChanged();
    }
}

// ---------------------------------------------------------------- the mouse

CMailTextView::Position CMailTextView::PositionAt(const QPoint& point) const {
    const int lines = LineCount();
    if (lines == 0) {
        return {};
    }
    const int y = point.y() - kMargin;
    const int line = FirstVisibleLine() + (y < 0 ? -1 : y / lineHeight_);
    if (line < 0) {
        return {};
    }
    if (line >= lines) {
        return EndPosition();
    }
    const Line shown = LineAt(line);
    const int x = std::max(0, point.x() - kMargin + horizontalScrollBar()->value() * charWidth_);
    return {line, OffsetAt(shown.text, 2 * x / charWidth_)};
}

void CMailTextView::SelectTo(Position to) {
    if (to != cursor_) {
        cursor_ = to;
        viewport()->update();
    }
}

void CMailTextView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const Position at = PositionAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier)) {
        anchor_ = at;
    }
    cursor_ = at;
    selecting_ = true;
    viewport()->update();
}

void CMailTextView::mouseMoveEvent(QMouseEvent* event) {
    if (!selecting_ || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    dragPoint_ = event->position().toPoint();
    DragScroll();
}

void CMailTextView::DragScroll() {
    if (!selecting_) {
        dragTimer_->stop();
        return;
    }
    const QPoint point = dragPoint_;
    // Dragging past an edge scrolls the text.
    bool outside = false;
    if (point.y() < 0 || point.y() >= viewport()->height()) {
        verticalScrollBar()->triggerAction(point.y() < 0 ? QAbstractSlider::SliderSingleStepSub
                                                         : QAbstractSlider::SliderSingleStepAdd);
        outside = true;
    }
    if (point.x() < 0 || point.x() >= viewport()->width()) {
        horizontalScrollBar()->triggerAction(point.x() < 0 ? QAbstractSlider::SliderSingleStepSub
                                                           : QAbstractSlider::SliderSingleStepAdd);
        outside = true;
    }
    if (outside && !dragTimer_->isActive()) {
        dragTimer_->start();
    } else if (!outside) {
        dragTimer_->stop();
    }
    SelectTo(PositionAt(point));
}

void CMailTextView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        selecting_ = false;
        dragTimer_->stop();
        // What the mouse selected is what a middle click pastes elsewhere.
        QClipboard* clipboard = QApplication::clipboard();
        if (hasSelection() && clipboard->supportsSelection()) {
            clipboard->setText(selectedText(), QClipboard::Selection);
        }
    }
}

void CMailTextView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    SelectWordAt(PositionAt(event->position().toPoint()));
}

CMailTextView::Position CMailTextView::CharBefore(Position at) const {
    if (at.offset == 0) {
        return at.line == 0 ? at : Position{at.line - 1, LineAt(at.line - 1).text.size()};
    }
    // Double-byte characters are found from the line's start.
    const std::string_view text = LineAt(at.line).text;
    std::size_t start = 0;
    for (std::size_t next = 0; next < at.offset;) {
        start = next;
        next += std::max<std::size_t>(1, CharLength(text, next));
    }
    return {at.line, start};
}

CMailTextView::Position CMailTextView::CharAfter(Position at) const {
    const Line line = LineAt(at.line);
    if (at.offset < line.text.size()) {
        return {at.line, at.offset + std::max<std::size_t>(1, CharLength(line.text, at.offset))};
    }
    return line.ended ? Position{at.line + 1, 0} : at;
}

bool CMailTextView::ExtendSelection(int key, bool control) {
    const int lines = LineCount();
    Position to = cursor_;
    // Up and down keep the column, as near as the characters allow.
    auto sameColumn = [&](int line) {
        const int column = ColumnOf(LineAt(cursor_.line).text, cursor_.offset);
        return Position{line, OffsetAt(LineAt(line).text, 2 * column)};
    };
    switch (key) {
    case Qt::Key_Left:
        to = CharBefore(cursor_);
        break;
    case Qt::Key_Right:
        to = CharAfter(cursor_);
        break;
    case Qt::Key_Up:
        to = cursor_.line > 0 ? sameColumn(cursor_.line - 1) : Position();
        break;
    case Qt::Key_Down:
        to = cursor_.line + 1 < lines ? sameColumn(cursor_.line + 1) : EndPosition();
        break;
    case Qt::Key_PageUp:
        to = sameColumn(std::max(0, cursor_.line - VisibleLines()));
        break;
    case Qt::Key_PageDown:
        to = cursor_.line + VisibleLines() < lines ? sameColumn(cursor_.line + VisibleLines()) : EndPosition();
        break;
    case Qt::Key_Home:
        to = control ? Position() : Position{cursor_.line, 0};
        break;
    case Qt::Key_End:
        to = control || cursor_.line >= lines ? EndPosition()
                                              : Position{cursor_.line, LineAt(cursor_.line).text.size()};
        break;
    default:
        return false;
    }
    SelectTo(std::min(to, EndPosition()));
    ScrollToCursor();
    return true;
}

void CMailTextView::ScrollToCursor() {
    QScrollBar* vertical = verticalScrollBar();
    const int visible = VisibleLines();
    if (cursor_.line < vertical->value()) {
        vertical->setValue(cursor_.line);
    } else if (cursor_.line >= vertical->value() + visible) {
        vertical->setValue(cursor_.line - visible + 1);
    }
    QScrollBar* horizontal = horizontalScrollBar();
    const int column = ColumnOf(LineAt(cursor_.line).text, cursor_.offset);
    const int columns = VisibleColumns();
    if (column < horizontal->value()) {
        horizontal->setValue(column);
    } else if (column >= horizontal->value() + columns) {
        horizontal->setValue(column - columns + 1);
    }
}

void CMailTextView::SelectWordAt(Position at) {
    const Line line = LineAt(at.line);
    const std::string_view bytes = line.text;
    if (bytes.empty()) {
        return;
    }
    // A word is a run of one kind: letters and digits, wide characters,
    // blanks; any other character stands alone.
    auto kind = [&](std::size_t offset) {
        const auto c = static_cast<unsigned char>(bytes[offset]);
        if (c >= 0x80) {
            return 1;
        }
        if (std::isalnum(c) != 0 || c == '_') {
            return 2;
        }
        if (c == ' ' || c == '\t') {
            return 3;
        }
        return 4;
    };
    // One walk through the line, nothing kept per character: the line may
    // be megabytes long.
    std::size_t runStart = 0;
    int runKind = 0;
    std::size_t begin = 0;
    std::size_t end = bytes.size();
    int wanted = 0;
    for (std::size_t offset = 0; offset < bytes.size();) {
        const int here = kind(offset);
        if (here != runKind || here == 4) {
            if (wanted != 0) {
                end = offset;
                break;
            }
            runStart = offset;
            runKind = here;
        }
        const std::size_t next = offset + std::max<std::size_t>(1, CharLength(bytes, offset));
        if (wanted == 0 && (at.offset < next || next == bytes.size())) {
            wanted = here;
            begin = runStart;
        }
        offset = next;
    }
    anchor_ = {at.line, begin};
    cursor_ = {at.line, end};
    viewport()->update();
}

void CMailTextView::contextMenuEvent(QContextMenuEvent* event) {
    const QList<QAction*> actions = menu_->actions();
    actions.front()->setEnabled(hasSelection());
    menu_->popup(event->globalPos());
}

// ---------------------------------------------------------------- the keys

bool CMailTextView::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Copy is the text's own; select all stays the window's command.
        if (key == QKeySequence::Copy) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void CMailTextView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    QScrollBar* vertical = verticalScrollBar();
    QScrollBar* horizontal = horizontalScrollBar();
    const bool control = (event->modifiers() & Qt::ControlModifier) != 0;
    if ((event->modifiers() & Qt::ShiftModifier) != 0 && ExtendSelection(event->key(), control)) {
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up:
        vertical->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Down:
        vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    case Qt::Key_PageUp:
        vertical->triggerAction(QAbstractSlider::SliderPageStepSub);
        break;
    case Qt::Key_PageDown:
        vertical->triggerAction(QAbstractSlider::SliderPageStepAdd);
        break;
    case Qt::Key_Left:
        horizontal->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Right:
        horizontal->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    case Qt::Key_Home:
        horizontal->setValue(0);
        if (control) {
            vertical->setValue(0);
        }
        break;
    case Qt::Key_End:
        if (control) {
            vertical->setValue(vertical->maximum());
            horizontal->setValue(0);
        } else {
            horizontal->setValue(horizontal->maximum());
        }
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

}  // namespace wp
