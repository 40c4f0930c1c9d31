#pragma once
// What the operation machinery needs of the main window. The Qt main frame
// implements it; tests and wrenpost-cli use headless versions. Everything
// here is called on the user-interface thread.

#include <cstddef>
#include <string>

#include "mail/fetch_viewer.h"
#include "mail/retrieve_selected.h"

namespace wp {

struct AccountInfo;
class MailList;

// The viewer window while a mail is fetched for it (operation kind 1): what
// the fetch shows (FetchViewer) and what the worker does around it.
class ViewerHooks : public FetchViewer {
public:
    // Receiving: navigation off, the cancel button on; and back.
    virtual void BeginReceive() = 0;
    virtual void EndReceive() = 0;
    // A failed login closes the viewer.
    virtual void PostClose() = 0;
};

// The receive progress dialog of operation kind 4.
using ProgressHooks = RetrieveProgress;

class FrameView {
public:
    virtual ~FrameView() = default;

    // The account bar: the selected account (nullptr when none) and what its
    // boxes hold (CP932).
    virtual const AccountInfo* SelectedAccount() = 0;
    virtual std::string AccountText() = 0;
    virtual std::string LoginIdText() = 0;
    virtual std::string PasswordText() = 0;

    // The status bar: panes 0 to 3, and the progress bar over pane 2.
    virtual void SetPaneText(int pane, const std::string& text) = 0;
    // Creates the progress bar when it is missing and sets it to 0.
    virtual void ResetProgress() = 0;
    // Range 0 to total, position 0 (creating the bar when it is missing).
    virtual void SetProgressRange(int total) = 0;
    virtual void SetProgressPos(int position) = 0;

    // The toolbar's second image set (with the stop sign) while running.
    virtual void SetRunningImages(bool running) = 0;
    // The document title (the account name once logged in).
    virtual void SetDocumentTitle(const std::string& title) = 0;
    virtual void FocusList() = 0;
    // Closes the main window for good (the last step of the exit).
    virtual void CloseWindow() = 0;

    // The message list.
    virtual MailList& List() = 0;
    // The viewer and the progress dialog while they exist; nullptr otherwise.
    virtual ViewerHooks* Viewer() { return nullptr; }
    virtual ProgressHooks* ProgressDialog() { return nullptr; }
    // Opens the receive progress dialog for messages 0 to lastIndex and a
    // selection of `figure` in `unit` (the last selection summary); the
    // frame cannot be used while it is open. nullptr when it cannot be
    // shown: the retrieval then runs without it.
    virtual ProgressHooks* OpenProgressDialog(int lastIndex, int unit, int figure) {
        (void)lastIndex, (void)unit, (void)figure;
        return nullptr;
    }
    // Closes it (the frame is usable again); nothing when none is open.
    virtual void CloseProgressDialog() {}
};

}  // namespace wp
