#pragma once
// The version dialog of the Help menu.

#include <QDialog>

class QLabel;
class QPushButton;

namespace wp {

class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QLabel* IconLabel() const { return icon_; }
    QLabel* TextLabel() const { return text_; }
    QPushButton* OkButton() const { return ok_; }

private:
    QLabel* icon_;
    QLabel* text_;
    QPushButton* ok_;
};

}  // namespace wp
