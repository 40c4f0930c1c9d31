#include "ui/recv_progress_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace wp {
namespace {

constexpr int kTitleId = 115;

QString Text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

}  // namespace

CRecvProgressDlg::CRecvProgressDlg(QWidget* parent) : QDialog(parent), parent_(parent) {
    setObjectName(QStringLiteral("recvProgressDlg"));
    setWindowTitle(Cp932ToQString(LoadString(kTitleId)));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(false);

    counter_ = new QLabel(Text(" 0 %"), this);
    counter_->setAlignment(Qt::AlignCenter);
    bar_ = new QProgressBar(this);
    bar_->setTextVisible(false);
    info_ = new QLabel(this);
    info_->setTextFormat(Qt::PlainText);
    info_->setMinimumWidth(240);
    stop_ = new QPushButton(Text("中断"), this);
    stop_->setAutoDefault(false);
    connect(stop_, &QPushButton::clicked, this, [this] { reject(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(counter_);
    layout->addWidget(bar_);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(info_, 1);
    bottom->addWidget(stop_);
    layout->addLayout(bottom);

    bar_->setRange(firstIndex, std::max(firstIndex, sizeTotal));
    bar_->setValue(firstIndex);
    progressPos = firstIndex;
}

CRecvProgressDlg::~CRecvProgressDlg() {
    DestroyProgress();
}

bool CRecvProgressDlg::ShowProgress(int first, int last, int unit, int total) {
    QWidget* owner = parent_ != nullptr ? parent_->window() : nullptr;
    if (owner != nullptr && owner->isEnabled()) {
        owner->setEnabled(false);
        ownerDisabled = 1;
    }
    // A window of its own stays usable while its owner is not.
    setEnabled(true);
    show();
    if (!isVisible()) {
        DestroyProgress();
        return false;
    }
    sizeUnit = static_cast<std::uint16_t>(unit);
    sizeTotal = total;
    progressPos = first;
    SetRange(first, last);
    SetMessageIndex(0);
    return true;
}

void CRecvProgressDlg::SetRange(int first, int last) {
    firstIndex = first;
    lastIndex = last;
    bar_->setRange(firstIndex, std::max(firstIndex, sizeTotal));
    bar_->setValue(firstIndex);
}

void CRecvProgressDlg::SetMessageIndex(int index) {
    if (index <= lastIndex) {
        const QString text = Cp932ToQString(Sjis("ﾒｯｾｰｼﾞ ")) + QString::number(index + 1) + QStringLiteral(" / ") +
                             QString::number(lastIndex + 1) + Cp932ToQString(Sjis(" 受信中..."));
        if (counter_->text() != text) {
            counter_->setText(text);
        }
    }
    DispatchMessages();
}

void CRecvProgressDlg::SetInfoText(const std::string& text) {
    info_->setText(Cp932ToQString(text));
    DispatchMessages();
}

void CRecvProgressDlg::AddBytes(int count) {
    static constexpr double kUnitBytes[] = {1.0, 1024.0, 1048576.0, 1073741824.0};
    if (sizeUnit == 0) {
        progressPos += count;
    } else if (sizeUnit < 4) {
        progressPos += static_cast<std::int32_t>(std::trunc(count / kUnitBytes[sizeUnit] * 10.0));
    }
    DispatchMessages();
    // The bar shows what fits its range; the count itself goes on.
    bar_->setValue(std::clamp(progressPos, bar_->minimum(), bar_->maximum()));
}

bool CRecvProgressDlg::TakeCancel() {
    DispatchMessages();
    const bool requested = cancelRequested != 0;
    cancelRequested = 0;
    return requested;
}

void CRecvProgressDlg::DestroyProgress() {
    if (ownerDisabled != 0) {
        ownerDisabled = 0;
        if (QWidget* owner = parent_ != nullptr ? parent_->window() : nullptr) {
            owner->setEnabled(true);
        }
    }
    hide();
}

QString CRecvProgressDlg::CounterText() const {
    return counter_->text();
}

QString CRecvProgressDlg::InfoText() const {
    return info_->text();
}

void CRecvProgressDlg::reject() {
    cancelRequested = 1;
}

void CRecvProgressDlg::accept() {}

void CRecvProgressDlg::closeEvent(QCloseEvent* event) {
    // The close box asks to stop like "中断"; the retrieval closes the window.
    cancelRequested = 1;
    event->ignore();
}

void CRecvProgressDlg::DispatchMessages() {
    QCoreApplication::processEvents();
}

}  // namespace wp
