#include "mail/mailbox_session_host.h"

namespace wp {

std::string MailboxSessionHost::ResponseFilePath() {
    return mailbox_ != nullptr ? mailbox_->ResponsePath() : std::string();
}

void MailboxSessionHost::AppendCapture(const char* data, std::size_t length) {
    if (mailbox_ != nullptr) {
        mailbox_->AppendCapture(data, length);
    }
}

void MailboxSessionHost::ProgressAddBytes(int count) {
    if (progressAddBytes) {
        progressAddBytes(count);
    }
}

void MailboxSessionHost::ClearViewerText() {
    if (clearViewerText) {
        clearViewerText();
    }
}

void MailboxSessionHost::AppendViewerText(const char* data, std::size_t length, int bytesReceived) {
    if (appendViewerText) {
        appendViewerText(data, length, bytesReceived);
    }
}

}  // namespace wp
