#pragma once
// The viewer as the fetch for viewing sees it on the worker thread: every
// call is posted to the frame and reaches the viewer on the user-interface
// thread, in order, if one is open by then.

#include "engine/frame_engine.h"
#include "mail/fetch_viewer.h"

namespace wp {

class ViewerForwarder final : public FetchViewer {
public:
    explicit ViewerForwarder(FrameEngine& engine) : engine_(engine) {}

    void SetStatusText(const std::string& text) override;
    void ClearMailText() override;
    void AppendReceivedText(const char* data, std::size_t length, int bytesReceived) override;
    void HandOverReceivedText(std::string&& text, int bytesReceived) override;
    void SetMailFile(const StoredMail& mail) override;
    void SetWaitCursor(bool on) override;
    void ClearAttachments() override;
    void AddAttachment(const std::string& name) override;
    void ShowMailText(MailView view) override;

private:
    FrameEngine& engine_;
};

}  // namespace wp
