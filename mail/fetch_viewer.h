#pragma once
// What the fetch for viewing shows in the viewer. The fetch runs on the
// worker thread and never holds the viewer itself: the engine hands it a
// forwarder that carries each call to the user-interface thread, where it
// reaches the viewer if one is still open. Tests and wrenpost-cli may pass a
// recorder directly.

#include <cstddef>
#include <string>

#include "mail/mail_text.h"
#include "mail/stored_mail.h"

namespace wp {

class FetchViewer {
public:
    virtual ~FetchViewer() = default;

    // The viewer's status line (its size box). An empty text puts the size
    // of the mail back.
    virtual void SetStatusText(const std::string& text) = 0;
    // The live text of a RETR reply as it arrives: the raw reply, status line
    // included, before any conversion.
    virtual void ClearMailText() = 0;
    virtual void AppendReceivedText(const char* data, std::size_t length, int bytesReceived) = 0;
    // The same with the bytes handed over: a forwarder keeps them without a copy.
    virtual void HandOverReceivedText(std::string&& text, int bytesReceived) {
        AppendReceivedText(text.data(), text.size(), bytesReceived);
    }

    // The stored mail that the code choice and the save read again; an empty
    // one until a mail has been fetched.
    virtual void SetMailFile(const StoredMail& mail) = 0;
    virtual void SetWaitCursor(bool on) = 0;
    virtual void ClearAttachments() = 0;
    // A decoded attachment name (CP932).
    virtual void AddAttachment(const std::string& name) = 0;
    // The mail as the viewer shows it (mail/mail_text.h); it replaces the
    // live text.
    virtual void ShowMailText(MailView view) = 0;
};

}  // namespace wp
