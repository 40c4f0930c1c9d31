#include "mail/mail_list.h"

#include <algorithm>
#include <functional>

namespace wp {

void MailList::DeleteRows(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows) {
        if (row >= 0 && row < RowCount()) {
            DeleteRow(row);
        }
    }
}

}  // namespace wp
