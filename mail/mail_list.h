#pragma once
// What the mail operations need of the message list. The Qt list view
// implements it, and so does the in-memory list used by tests and by
// wrenpost-cli. Rows are 0-based; every row's item data is its MailEntry.

#include <vector>

#include "decode/header_summary.h"
#include "mail/mail_entry.h"

namespace wp {

class MailList {
public:
    virtual ~MailList() = default;

    virtual int RowCount() const = 0;
    // The row's item data; nullptr when the row does not exist.
    virtual MailEntry* RowEntry(int row) const = 0;
    // The first row whose item data is entry; -1 when none. Constant time:
    // the listing asks for every mail, and rows move under it (a sort, a
    // deletion) whenever it pumps messages.
    virtual int FindRow(const MailEntry* entry) const = 0;

    // Appends a row for entry (texts from its fields, column 0 from
    // hasParts, column 2 with the given mark image); returns its index.
    virtual int InsertRow(MailEntry* entry, int markImage) = 0;
    // Rewrites the texts and the column-0 image of a row from its entry;
    // the mark image stays.
    virtual void UpdateRow(int row) = 0;
    virtual void DeleteRow(int row) = 0;
    // Deletes these rows (in any order; repeats and rows that do not exist
    // are ignored); the others keep their order. This one goes row by row
    // from the last; a list that can do it in one pass should.
    virtual void DeleteRows(std::vector<int> rows);
    virtual void DeleteAllRows() = 0;
    virtual void ReserveRows(int count) = 0;

    // Image of column 2; -1 when the row does not exist.
    virtual int MarkImage(int row) const = 0;
    virtual void SetMarkImage(int row, int image) = 0;

    virtual bool IsSelected(int row) const = 0;
    virtual void SetSelected(int row, bool selected) = 0;
    // The row that most recently became selected; -1 when none yet.
    virtual int CurrentRow() const = 0;

    virtual void EnsureVisible(int row) = 0;
    // Removes the sort arrow from the header.
    virtual void ClearSortIndicator() = 0;
};

// The list's row writer. With no entry it appends: the entry is new and the
// caller owns it; id 0 also gives a new entry, with no row. Otherwise the
// row of that entry is updated in place, wherever it is now, and the entry
// is returned (nullptr when it has no row). Rows are found by entry at the
// moment of writing, never by an index taken earlier: a sort may have moved
// them meanwhile.
[[nodiscard]] MailEntry* PutEntryRow(MailList& list, const HeaderSummary& summary, MailEntry* update);

}  // namespace wp
