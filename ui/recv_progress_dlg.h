#pragma once
// The receive progress dialog "ﾒｰﾙ受信状況" of the save command and the drag:
// which mail of how many is being received, a bar that follows the bytes
// against the size of the selection, one line of text and "中断". It runs
// while the retrieval works on this thread; every call lets pending events
// through, so the window is painted and the stop button answers.

#include <QDialog>
#include <cstdint>
#include <string>

#include "engine/frame_view.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace wp {

class CRecvProgressDlg final : public QDialog, public ProgressHooks {
public:
    explicit CRecvProgressDlg(QWidget* parent);
    ~CRecvProgressDlg() override;

    // Disables the owner (when it is enabled), shows the window and sets the
    // range and the counter. False when it cannot be shown; the owner is
    // then as it was.
    bool ShowProgress(int first, int last, int unit, int total);
    void SetRange(int first, int last);

    // ProgressHooks.
    void AddBytes(int count) override;
    void SetInfoText(const std::string& text) override;
    void SetMessageIndex(int index) override;
    bool TakeCancel() override;

    // Enables the owner again when this dialog disabled it, and hides.
    void DestroyProgress();

    // What the controls show, for whoever checks.
    QString CounterText() const;
    QString InfoText() const;
    int ProgressPos() const { return progressPos; }
    QProgressBar* Bar() const { return bar_; }
    QPushButton* StopButton() const { return stop_; }

    // Esc and "中断" record a stop request; the window stays.
    void reject() override;
    // Enter does nothing.
    void accept() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void DispatchMessages();

    QWidget* parent_;
    int firstIndex = 0;
    int lastIndex = 100;
    int step = 1;
    std::uint16_t sizeUnit = 0;
    std::int32_t sizeTotal = 0;
    std::int32_t progressPos = 0;
    std::int32_t cancelRequested = 0;
    std::int32_t ownerDisabled = 0;

    QLabel* counter_ = nullptr;
    QLabel* info_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* stop_ = nullptr;
};

}  // namespace wp
