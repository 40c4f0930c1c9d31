#pragma once
// The session's view of one account's cache object: LIST and UIDL replies go
// to its response file, TOP and RETR replies into its capture. The progress
// and viewer hooks are optional. Tests and wrenpost-cli use it; the engine
// has a host of its own that follows the current account.

#include <cstddef>
#include <functional>
#include <string>

#include "mail/mailbox_files.h"
#include "net/session_host.h"

namespace wp {

class MailboxSessionHost : public SessionHost {
public:
    explicit MailboxSessionHost(CMailboxFiles* mailbox = nullptr) : mailbox_(mailbox) {}

    void SetMailbox(CMailboxFiles* mailbox) { mailbox_ = mailbox; }
    CMailboxFiles* Mailbox() const { return mailbox_; }

    std::string ResponseFilePath() override;
    void AppendCapture(const char* data, std::size_t length) override;
    void ProgressAddBytes(int count) override;
    void ClearViewerText() override;
    void AppendViewerText(const char* data, std::size_t length, int bytesReceived) override;

    std::function<void(int count)> progressAddBytes;
    std::function<void()> clearViewerText;
    std::function<void(const char* data, std::size_t length, int bytesReceived)> appendViewerText;

private:
    CMailboxFiles* mailbox_;
};

}  // namespace wp
