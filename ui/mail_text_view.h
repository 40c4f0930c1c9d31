#pragma once
// The viewer's text: read-only mail text shown straight from its bytes. A
// mail of megabytes is one line-start index beside the bytes; only the lines
// painted or copied are converted to Unicode. The text is a header and a
// body, shown as header then body, or the body alone.

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QMenu;
class QTimer;

namespace wp {

class CMailTextView : public QAbstractScrollArea {
public:
    // The blank between the frame and the text, left and top, in pixels.
    static constexpr int kMargin = 3;

    explicit CMailTextView(QWidget* parent = nullptr);
    ~CMailTextView() override;

    // The bytes are CP932, or UTF-8 when `unicode`; line ends CR LF, LF or a
    // lone CR. Both are taken over, never copied; the body's text starts at
    // `bodyFrom` (what comes before is left over from a split).
    void SetText(std::string header, std::string body, bool unicode, std::size_t bodyFrom = 0);
    void Clear();
    void SetHeaderShown(bool shown);
    bool HeaderShown() const { return headerShown_; }
    bool Unicode() const { return unicode_; }
    std::string_view HeaderBytes() const { return header_.Text(); }
    std::string_view BodyBytes() const { return body_.Text(); }
    // The memory the body holds.
    std::size_t BodyCapacity() const { return body_.bytes.capacity(); }
    // Hands the body's bytes back; the body is empty then.
    std::string TakeBody();

    // Text that arrives in chunks (CP932): appended to the body. A chunk may
    // end inside a character or between CR and LF; that rest is held until
    // the next chunk completes it, or until FinishAppending. Lines are
    // indexed when they are looked at (painted, counted for the scroll bars
    // at their pace, asked for): most of a large live text is replaced
    // before anyone sees it.
    void ReserveBody(std::size_t bytes);
    void AppendBody(std::string_view chunk);
    void FinishAppending();
    // Lets go of the body below the lines in view, which stay as they are.
    void DropBelowView();
    // Replaces the header alone (the live text's header part, small).
    void SetHeader(std::string header);

    // The lines shown, and the columns the horizontal scroll bar covers.
    int LineCount() const;
    int WidthInColumns() const;
    int FirstVisibleLine() const;

    // What is shown, with "\n" line ends.
    QString toPlainText() const;
    QString selectedText() const;
    bool hasSelection() const;
    void selectAll();
    void copy() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // One of the two texts and its index: the start of every line, plus the
    // end of what is indexed when that follows a line end.
    struct Segment {
        std::string bytes;
        std::vector<std::uint32_t> starts{0};
        std::size_t begin = 0;    // the text starts here in `bytes`
        std::size_t indexed = 0;  // bytes [indexed, size) are held back
        std::size_t wanted = 0;   // [indexed, wanted) is whole, to be indexed
        int widest = 0;           // columns of the widest line ended
        int open = 0;             // columns of a line not ended, at most
        int tabs = 0;             // in that line so far

        void Reset();
        void Take(std::string text, std::size_t from);
        void Index(std::size_t to, bool unicode);
        int Lines() const;
        int Width() const { return std::max(widest, open); }
        std::string_view Text() const { return std::string_view(bytes).substr(begin); }
    };
    // A place in the text: a line shown and a byte offset in it, always at a
    // character's start, never past the line's end.
    struct Position {
        int line = 0;
        std::size_t offset = 0;
        auto operator<=>(const Position&) const = default;
    };
    struct Line {
        std::string_view text;  // without its line end
        bool ended = false;     // a line end follows
    };

    // Indexes the live text that has come since it was last looked at.
    void CatchUp() const;
    // The lines indexed so far, without catching up.
    int IndexedLines() const;
    Line LineAt(int line) const;
    // Columns from the line's start to byte `offset`.
    int ColumnOf(std::string_view line, std::size_t offset) const;
    // The character boundary nearest to a place given in half columns.
    std::size_t OffsetAt(std::string_view line, int halfColumns) const;
    std::size_t CharLength(std::string_view line, std::size_t at) const;
    int CharColumns(std::string_view line, std::size_t at, int column) const;
    QString Convert(std::string_view bytes) const;
    QString TextBetween(Position from, Position to) const;
    Position PositionAt(const QPoint& point) const;
    Position EndPosition() const;
    void SelectTo(Position to);
    // Shift with the arrow keys, Home and End moves the selection's end;
    // the view follows it.
    bool ExtendSelection(int key, bool control);
    Position CharBefore(Position at) const;
    Position CharAfter(Position at) const;
    void ScrollToCursor();
    // A drag held past an edge keeps scrolling while the mouse rests.
    void DragScroll();
    void SelectWordAt(Position at);
    void UpdateScrollBars();
    // Text arriving faster than a person reads is shown at a steady pace:
    // the scroll bars and the lines in view follow it a few times a second.
    void LiveRefresh(bool paint);
    void RefreshNow();
    int VisibleLines() const;
    int VisibleColumns() const;
    void FontChanged();

    Segment header_;
    // Mutable for the live text's index, made when a line is first asked for.
    mutable Segment body_;
    bool headerShown_ = false;
    bool unicode_ = false;
    Position anchor_;
    Position cursor_;
    bool selecting_ = false;
    QPoint dragPoint_;
    QTimer* dragTimer_ = nullptr;
    int lineHeight_ = 1;
    int ascent_ = 0;
    int charWidth_ = 1;
    QMenu* menu_ = nullptr;
    QTimer* refreshTimer_ = nullptr;
    QElapsedTimer lastRefresh_;
    bool paintPending_ = false;
};

}  // namespace wp
