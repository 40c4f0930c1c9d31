#include "ui/about_dialog.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include "platform/strings.h"
#include "platform/text.h"
#include "ui/images.h"

namespace wp {
namespace {

// Dialog units of the dialog's font: a quarter of the average character
// width across, an eighth of the line height down.
QRect Dlu(const QFontMetrics& fm, int x, int y, int w, int h) {
    const int bx = std::max(1, fm.averageCharWidth());
    const int by = std::max(1, fm.height());
    return {x * bx / 4, y * by / 8, w * bx / 4, h * by / 8};
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Cp932ToQString(Sjis("レンポストのﾊﾞｰｼﾞｮﾝ情報")));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    const QFontMetrics fm(font());
    setFixedSize(Dlu(fm, 0, 0, 203, 90).size());

    icon_ = new QLabel(this);
    icon_->setPixmap(AppIcon().pixmap(32, 32));
    QRect iconRect = Dlu(fm, 11, 17, 0, 0);
    icon_->setGeometry(iconRect.x(), iconRect.y(), 32, 32);

    text_ = new QLabel(Cp932ToQString(Sjis("レンポスト Version 2.2")), this);
    text_->setTextFormat(Qt::PlainText);
    QRect textRect = Dlu(fm, 40, 17, 100, 8);
    text_->setGeometry(textRect.x(), textRect.y(), std::max(textRect.width(), text_->sizeHint().width()),
                       std::max(textRect.height(), text_->sizeHint().height()));

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setGeometry(Dlu(fm, 146, 7, 50, 14));
    ok_->setDefault(true);
    ok_->setAutoDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace wp
