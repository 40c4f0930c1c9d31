#pragma once
// A plain message list for the main window until the real list view takes
// its place: the six columns, the row images, marks and selection, nothing
// more (no sorting, dragging or stored layout). The frame reaches it only
// through MailList and as a widget.

#include <QTreeWidget>
#include <cstdint>
#include <functional>

#include "mail/mail_list.h"

namespace wp {

class PlaceholderList : public QTreeWidget, public MailList {
public:
    explicit PlaceholderList(QWidget* parent = nullptr);

    int RowCount() const override;
    MailEntry* RowEntry(int row) const override;
    int FindRow(const MailEntry* entry) const override;

    int InsertRow(MailEntry* entry, int markImage) override;
    void UpdateRow(int row) override;
    void DeleteRow(int row) override;
    void DeleteAllRows() override;
    void ReserveRows(int count) override;

    int MarkImage(int row) const override;
    void SetMarkImage(int row, int image) override;

    bool IsSelected(int row) const override;
    void SetSelected(int row, bool selected) override;
    int CurrentRow() const override;

    void EnsureVisible(int row) override;
    void ClearSortIndicator() override;

    // The mark commands on the selected rows: image 1 and mark 1, or image 2
    // and mark 2.
    void MarkSelected(bool marked);
    // The selected rows' count and size as the selection pane shows them.
    int SelectedCount() const;
    std::uint32_t SelectedSize() const;

    // Called when a row became selected, with the selection's count and size.
    std::function<void(int count, std::uint32_t size)> selectionChanged;

private:
    void ShowEntry(QTreeWidgetItem* item) const;
    void NoteSelection();

    int currentRow_ = -1;
};

}  // namespace wp
