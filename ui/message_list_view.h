#pragma once
// The list of server mails: one row per listed mail in six columns (kind of
// mail, sender, deletion mark, subject, date, size). It is the MailList the
// mail operations write to, and it owns the marks, the sort on a column
// click, the column layout kept in the profile, the context menu, its keys
// and the selection summary on the status bar.
//
// Rows live in a plain vector of (entry, images) so that tens of thousands
// of them fill and sort quickly; rows appended in a burst reach the widget
// together on a short timer (Flush), while the MailList side sees them at
// once.

#include <QHeaderView>
#include <QPixmap>
#include <QTimer>
#include <QTreeView>
#include <cstdint>
#include <functional>
#include <string>
#include <memory>
#include <vector>

#include "mail/mail_list.h"
#include "mail/save_names.h"
#include "ui/command_ids.h"

class QMenu;

namespace wp {

class FrameEngine;
class MailDragData;
class Profile;
class MessageListModel;

// Pictures of the column headers: 0 to 4 one per column, 5 the up arrow,
// 6 the down arrow. (The rows' pictures are those of ui/images.h.)
QPixmap HeaderImage(int index);
inline constexpr int kHeaderArrowUp = 5;
inline constexpr int kHeaderArrowDown = 6;

// The header: images centred over the two image columns, image and title
// over sender, subject and date, and the sort arrow.
class ListHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit ListHeader(QWidget* parent = nullptr);
    // column -1 shows no arrow.
    void SetSortArrow(int column, bool ascending);
    int ArrowColumn() const { return arrowColumn_; }
    bool ArrowUp() const { return arrowUp_; }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    int arrowColumn_ = -1;
    bool arrowUp_ = false;
};

class CTarnpostView : public QTreeView, public MailList {
    Q_OBJECT
public:
    // The column layout is read from the profile now and written back when
    // the view is destroyed: the profile must outlive the view.
    explicit CTarnpostView(Profile& profile, QWidget* parent = nullptr);
    ~CTarnpostView() override;

    // The frame's engine: F5 starts or stops the listing through it, and the
    // selection summary goes to its window. May be null (nothing is sent).
    void SetEngine(FrameEngine* engine) { engine_ = engine; }

    // Shared by every view of the program, like the original's globals:
    // the last sorted column and whether it went ascending (0 and 0 at start).
    static std::int32_t sortColumn;
    static std::int32_t sortAscending;

    // --- MailList ---
    int RowCount() const override;
    MailEntry* RowEntry(int row) const override;
    int FindRow(const MailEntry* entry) const override;
    int InsertRow(MailEntry* entry, int markImage) override;
    void UpdateRow(int row) override;
    void DeleteRow(int row) override;
    void DeleteRows(std::vector<int> rows) override;
    void DeleteAllRows() override;
    void ReserveRows(int count) override;
    int MarkImage(int row) const override;
    void SetMarkImage(int row, int image) override;
    bool IsSelected(int row) const override;
    void SetSelected(int row, bool selected) override;
    int CurrentRow() const override;
    void EnsureVisible(int row) override;
    void ClearSortIndicator() override;

    // Column 0's image of a row; -1 when the row does not exist.
    int PartsImage(int row) const;
    // What a text column (1, 3, 4, 5) of a row shows.
    QString Text(int row, int column) const;

    // Commands 32780, 32781 and 32787; false for any other id.
    bool OnCommand(int id);
    // 32791 (saving) needs a selected row; every other command is enabled.
    bool IsCommandEnabled(int id) const;
    // The sort on a click of that column.
    void SortByColumn(int column);
    // Hands rows appended since the last flush to the widget, and scrolls to
    // the row EnsureVisible asked for. Runs by itself on a short timer.
    void Flush();

    // The context menu as it would open now (tests look at it).
    std::unique_ptr<QMenu> MakeContextMenu();

    // The unique file names of the selected mails for one save or one drag.
    FileNameMap fileNames;
    // Writes the selected mails into a drag's folder at the drop; true when
    // the drop may go ahead. Without it no drag starts.
    std::function<bool(const std::string& folder)> dropRetrieval;
    // The data of a drag of the selected rows: names them, offers their
    // files in a fresh private folder and writes them when asked. nullptr
    // when no row is selected or no folder can be had.
    std::unique_ptr<MailDragData> MakeDragData();
    // Runs the drag of the selected rows, copy only; the files go afterwards.
    void RunDrag();

    ListHeader* Header() const { return header_; }
    // The layout as it is saved: "ColOrder" and the widths.
    void SaveLayout();

signals:
    // Commands the frame carries out: 32774 (view) and 32791 (save) from the
    // context menu.
    void frameCommand(int id);
    // F4: the account selector of the account bar wants the focus.
    void accountSelectorRequested();
    // The selection changed (the frame refreshes what depends on it).
    void selectionStateChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    void RestoreLayout();
    void ToggleMark(int row);
    void SetMark(int row, int image);
    void SendSelectionSummary();
    void ScheduleFlush();
    bool Valid(int row) const { return row >= 0 && row < RowCount(); }

    Profile& profile_;
    FrameEngine* engine_ = nullptr;
    MessageListModel* model_;
    ListHeader* header_;
    QTimer flushTimer_;
    int currentRow_ = -1;
    // Set from a Space or Enter press until a key is released: a held key
    // acts once.
    bool keyRepeatGuard_ = false;
    int pendingVisible_ = -1;
    // Where a left press that may start a drag happened.
    QPoint dragStart_;
    bool dragArmed_ = false;
};

}  // namespace wp
