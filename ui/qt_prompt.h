#pragma once
// Message boxes of the program: a QMessageBox on the user-interface thread,
// whichever thread asks.

#include "platform/prompt.h"

#include <QPointer>
#include <QWidget>

namespace wp {

class QtPrompt : public Prompt {
public:
    // parent: the window that owns the boxes (the main frame); may be null,
    // and may go away before a box is asked.
    explicit QtPrompt(QWidget* parent = nullptr);

    // Call on the user-interface thread.
    void SetParent(QWidget* parent);

    // Blocks the calling thread until the user answers. A box closed without
    // a button (Escape, the window's close button) gives the cautious answer:
    // Cancel where there is one, else No, else OK. Without a widget
    // application no box can be shown and that answer comes at once.
    PromptAnswer Ask(const PromptRequest& request) override;

private:
    PromptAnswer Show(const PromptRequest& request);

    QPointer<QWidget> parent_;
};

// The answer a box gives when it is closed without a button.
PromptAnswer CautiousAnswer(PromptButtons buttons);

}  // namespace wp
