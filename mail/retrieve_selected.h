#pragma once
// The retrieval of the selected mails for saving or dragging: each selected
// row's mail, found on the server by its unique id, received with RETR and
// written as one ".eml" file under the name the file-name map gives it.

#include <string>
#include <vector>

#include "mail/mail_entry.h"
#include "mail/mailbox_files.h"
#include "mail/operation_context.h"
#include "mail/save_names.h"

namespace wp {

// The receive progress dialog as the retrieval drives it. Every call may
// run pending window messages.
class RetrieveProgress {
public:
    virtual ~RetrieveProgress() = default;
    // A chunk of a RETR reply arrived.
    virtual void AddBytes(int count) = 0;
    // The current file name (CP932).
    virtual void SetInfoText(const std::string& text) = 0;
    // How many selected mails were handled so far.
    virtual void SetMessageIndex(int index) = 0;
    // Whether the user asked to stop since the last call.
    virtual bool TakeCancel() = 0;
};

inline constexpr const char* kStopQuestion = "中断してもよろしいですか？";

struct RetrieveRun {
    // Where the files go, ending with "/".
    std::string folder;
    // A drag: the drop target expects every offered name to exist (a mail no
    // longer on the server leaves an empty file), the folder is the drag's
    // private one, and a file is written beside its name and renamed over it.
    // Otherwise a save: no file in the folder is ever replaced, a taken name
    // gets the next free "(n)".
    bool forDrag = false;
    // The names of the selected rows' entries; rows without one are skipped.
    FileNameMap* names = nullptr;
    RetrieveProgress* progress = nullptr;

    // What became of the mails, in list order.
    std::vector<std::string> written;    // paths of the files written
    std::vector<std::string> notSaved;   // names (CP932) of mails with no file
    int notOnServer = 0;                  // of those, mails the server no longer has
};

// Runs after the login on the thread that owns the list. Sends NOOP, STAT,
// LIST, UIDL and a RETR per selected mail still on the server. Returns 0
// when every selected mail was handled, -1 when NOOP, STAT, LIST or UIDL
// failed or a RETR brought no data (the other mails are still handled), -2
// when the user stopped it (after the question kStopQuestion); files written
// before stay. Saved files hold the mail as sent: no status line, no
// terminating line, no dot-stuffing.
int RetrieveSelected(CMailboxFiles& mailbox, OperationContext& ctx, RetrieveRun& run);

// The closing status of a run that did not save every mail (CP932): how
// many could not be written or received, else how many the server no longer
// has. Empty when every mail was saved.
std::string RetrieveReportText(const RetrieveRun& run);
// The warning of the save command naming the mails not saved; empty when
// every mail was saved.
std::string NotSavedBoxText(const RetrieveRun& run);

// Names every selected row of the list for a save into `folder` (CP932 names
// unique in the map and against the folder's files) or a drag (folder empty),
// in list order. The map is emptied first.
void NameSelectedRows(const MailList& list, FileNameMap& names, const std::string& folder);

}  // namespace wp
