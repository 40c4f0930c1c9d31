#include "engine/viewer_forwarder.h"

#include <memory>
#include <utility>

namespace wp {

void ViewerForwarder::SetStatusText(const std::string& text) {
    engine_.PostViewerCall([text](ViewerHooks& viewer) { viewer.SetStatusText(text); });
}

void ViewerForwarder::ClearMailText() {
    engine_.PostViewerCall([](ViewerHooks& viewer) { viewer.ClearMailText(); });
}

void ViewerForwarder::AppendReceivedText(const char* data, std::size_t length, int bytesReceived) {
    engine_.PostViewerCall([chunk = std::string(data, length), bytesReceived](ViewerHooks& viewer) {
        viewer.AppendReceivedText(chunk.data(), chunk.size(), bytesReceived);
    });
}

void ViewerForwarder::HandOverReceivedText(std::string&& text, int bytesReceived) {
    engine_.PostViewerCall([chunk = std::move(text), bytesReceived](ViewerHooks& viewer) {
        viewer.AppendReceivedText(chunk.data(), chunk.size(), bytesReceived);
    });
}

void ViewerForwarder::SetMailFile(const StoredMail& mail) {
    // A viewer closed before the mail reached it leaves no message file behind.
    engine_.PostViewerCall([mail](ViewerHooks& viewer) { viewer.SetMailFile(mail); },
                           [stored = mail]() mutable { stored.Remove(); });
}

void ViewerForwarder::SetWaitCursor(bool on) {
    engine_.PostViewerCall([on](ViewerHooks& viewer) { viewer.SetWaitCursor(on); });
}

void ViewerForwarder::ClearAttachments() {
    engine_.PostViewerCall([](ViewerHooks& viewer) { viewer.ClearAttachments(); });
}

void ViewerForwarder::AddAttachment(const std::string& name) {
    engine_.PostViewerCall([name](ViewerHooks& viewer) { viewer.AddAttachment(name); });
}

void ViewerForwarder::ShowMailText(MailView view) {
    // Megabytes of text are moved, not copied, on their way.
    auto shared = std::make_shared<MailView>(std::move(view));
    engine_.PostViewerCall([shared](ViewerHooks& viewer) { viewer.ShowMailText(std::move(*shared)); });
}

}  // namespace wp
