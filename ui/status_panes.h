#pragma once
// The four panes of the main window's status bar with the progress bar over
// the third. Panes keep the widths they are given, whatever the window
// width: the last ones are cut at the edge, as on a narrow window, and the
// bar never holds the window wider than the user made it.

#include <QPointer>
#include <QProgressBar>
#include <QWidget>
#include <array>

class QLabel;

namespace wp {

class StatusPanes : public QWidget {
public:
    static constexpr int kPaneCount = 4;

    explicit StatusPanes(QWidget* parent = nullptr);

    void SetWidths(const std::array<int, kPaneCount>& widths);
    int Width(int pane) const;
    // In this widget's coordinates; empty for a pane out of sight.
    QRect PaneRect(int pane) const;

    void SetText(int pane, const QString& text);
    QString Text(int pane) const;

    // The progress bar over pane 2: made when missing, then returned.
    QProgressBar* EnsureProgress();
    // nullptr while there is none.
    QProgressBar* Progress() const { return progress_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Place();
    void PlaceProgress();

    std::array<QLabel*, kPaneCount> labels_{};
    std::array<int, kPaneCount> widths_{};
    QPointer<QProgressBar> progress_;
};

}  // namespace wp
