#include "mail/mail_list.h"

namespace wp {

MailEntry* PutEntryRow(MailList& list, const HeaderSummary& summary, MailEntry* update) {
    const bool append = update == nullptr;
    const int row = append ? -1 : list.FindRow(update);
    if (!append && row < 0) {
        return nullptr;
    }
    MailEntry* entry = append ? new MailEntry : update;
    if (summary.id == 0) {
        // An entry without a row still keeps its place among the cached ones.
        return entry;
    }
    entry->hasParts = static_cast<std::int16_t>(summary.hasParts);
    entry->from = summary.from;
    entry->subject = summary.subject;
    entry->date = summary.date;
    entry->size = summary.size;
    if (append) {
        entry->id = summary.id;
        entry->mark = 0;
        list.InsertRow(entry, kImageUnmarked);
    } else {
        // The row's image is what the user last set; the entry follows it.
        entry->mark = static_cast<std::int16_t>(list.MarkImage(row));
        list.UpdateRow(row);
    }
    return entry;
}

}  // namespace wp
