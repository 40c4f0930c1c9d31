#include "cli/cli_frame.h"

#include "cli/terminal.h"
#include "platform/string_table.h"

namespace wp::cli {

void CliFrame::StatusShown(const std::string& text) {
    PrintError(TerminalText(text, true));
}

void PrintRows(const MemoryList& list) {
    for (int row = 0; row < list.RowCount(); ++row) {
        const MailEntry* entry = list.RowEntry(row);
        std::string line = std::to_string(list.MarkImage(row));
        line += '\t';
        line += std::to_string(entry != nullptr ? entry->hasParts : 0);
        for (int column : {kColumnFrom, kColumnSubject, kColumnDate}) {
            line += '\t';
            line += TerminalText(list.Text(row, column));
        }
        line += '\t';
        line += std::to_string(entry != nullptr ? entry->size : 0);
        PrintLine(line);
    }
}

int ListingExitStatus(const std::string& lastStatus) {
    if (lastStatus == LoadString(IDS_STATUS_LIST_DONE) || lastStatus == LoadString(IDS_STATUS_NO_MESSAGES)) {
        return kExitOk;
    }
    // The listing stopped part-way, or the login was stopped before it began.
    if (lastStatus == LoadString(IDS_STATUS_LIST_PARTIAL) || lastStatus == LoadString(IDS_STATUS_CANCELLED)) {
        return kExitInterrupted;
    }
    return kExitFailed;
}

}  // namespace wp::cli
