#include "ui/status_panes.h"

#include <QLabel>
#include <QResizeEvent>

namespace wp {

StatusPanes::StatusPanes(QWidget* parent) : QWidget(parent) {
    for (int i = 0; i < kPaneCount; ++i) {
        auto* label = new QLabel(this);
        label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        label->setTextFormat(Qt::PlainText);
        label->setContentsMargins(2, 0, 2, 0);
        label->setMinimumWidth(0);
        labels_[static_cast<std::size_t>(i)] = label;
    }
}

void StatusPanes::SetWidths(const std::array<int, kPaneCount>& widths) {
    if (widths == widths_) {
        return;
    }
    widths_ = widths;
    Place();
}

int StatusPanes::Width(int pane) const {
    return pane >= 0 && pane < kPaneCount ? widths_[static_cast<std::size_t>(pane)] : 0;
}

QRect StatusPanes::PaneRect(int pane) const {
    if (pane < 0 || pane >= kPaneCount) {
        return {};
    }
    int x = 0;
    for (int i = 0; i < pane; ++i) {
        x += std::max(0, widths_[static_cast<std::size_t>(i)]);
    }
    QRect rect(x, 0, std::max(0, widths_[static_cast<std::size_t>(pane)]), height());
    return rect.intersected(QRect(QPoint(0, 0), size()));
}

void StatusPanes::SetText(int pane, const QString& text) {
    if (pane >= 0 && pane < kPaneCount) {
        labels_[static_cast<std::size_t>(pane)]->setText(text);
    }
}

QString StatusPanes::Text(int pane) const {
    return pane >= 0 && pane < kPaneCount ? labels_[static_cast<std::size_t>(pane)]->text() : QString();
}

QProgressBar* StatusPanes::EnsureProgress() {
    if (!progress_) {
        progress_ = new QProgressBar(this);
        progress_->setTextVisible(false);
        progress_->setRange(0, 1);
        progress_->setValue(0);
        PlaceProgress();
        progress_->show();
    }
    return progress_;
}

QSize StatusPanes::sizeHint() const {
    return {100, labels_[0]->sizeHint().height()};
}

QSize StatusPanes::minimumSizeHint() const {
    return {0, labels_[0]->minimumSizeHint().height()};
}

void StatusPanes::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Place();
}

void StatusPanes::Place() {
    int x = 0;
    for (int i = 0; i < kPaneCount; ++i) {
        int w = std::max(0, widths_[static_cast<std::size_t>(i)]);
        labels_[static_cast<std::size_t>(i)]->setGeometry(x, 0, w, height());
        x += w;
    }
    PlaceProgress();
}

void StatusPanes::PlaceProgress() {
    if (!progress_) {
        return;
    }
    QRect rect = PaneRect(2).adjusted(1, 2, -1, -2);
    if (rect.width() <= 0 || rect.height() <= 0) {
        // Out of sight: a sliver just beyond the right edge.
        rect = QRect(width(), 0, 1, height());
    }
    progress_->setGeometry(rect);
}

}  // namespace wp
