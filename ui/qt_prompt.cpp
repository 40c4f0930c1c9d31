#include "ui/qt_prompt.h"

#include "platform/messages.h"
#include "platform/text.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace wp {
namespace {

QMessageBox::Icon IconOf(PromptIcon icon) {
    switch (icon) {
        case PromptIcon::Information: return QMessageBox::Information;
        case PromptIcon::Exclamation: return QMessageBox::Warning;
        case PromptIcon::Question: return QMessageBox::Question;
        case PromptIcon::Error: return QMessageBox::Critical;
        case PromptIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton ButtonOf(PromptAnswer answer) {
    switch (answer) {
        case PromptAnswer::Ok: return QMessageBox::Ok;
        case PromptAnswer::Cancel: return QMessageBox::Cancel;
        case PromptAnswer::Yes: return QMessageBox::Yes;
        case PromptAnswer::No: return QMessageBox::No;
    }
    return QMessageBox::NoButton;
}

// In the order the boxes of the original platform show them.
std::vector<PromptAnswer> AnswersOf(PromptButtons buttons) {
    switch (buttons) {
        case PromptButtons::Ok: return {PromptAnswer::Ok};
        case PromptButtons::OkCancel: return {PromptAnswer::Ok, PromptAnswer::Cancel};
        case PromptButtons::YesNo: return {PromptAnswer::Yes, PromptAnswer::No};
        case PromptButtons::YesNoCancel: return {PromptAnswer::Yes, PromptAnswer::No, PromptAnswer::Cancel};
    }
    return {PromptAnswer::Ok};
}

// The button captions of a Japanese desktop, whatever translation Qt loaded.
QString CaptionOf(PromptAnswer answer) {
    switch (answer) {
        case PromptAnswer::Ok: return QStringLiteral("OK");
        case PromptAnswer::Cancel: return QString::fromUtf8("キャンセル");
        case PromptAnswer::Yes: return QString::fromUtf8("はい(&Y)");
        case PromptAnswer::No: return QString::fromUtf8("いいえ(&N)");
    }
    return {};
}

}  // namespace

PromptAnswer CautiousAnswer(PromptButtons buttons) {
    switch (buttons) {
        case PromptButtons::Ok: return PromptAnswer::Ok;
        case PromptButtons::YesNo: return PromptAnswer::No;
        case PromptButtons::OkCancel:
        case PromptButtons::YesNoCancel: return PromptAnswer::Cancel;
    }
    return PromptAnswer::Cancel;
}

QtPrompt::QtPrompt(QWidget* parent) : parent_(parent) {}

void QtPrompt::SetParent(QWidget* parent) {
    parent_ = parent;
}

PromptAnswer QtPrompt::Ask(const PromptRequest& request) {
    PromptAnswer answer = CautiousAnswer(request.buttons);
    // Widgets live on the user-interface thread only; the worker waits here.
    RunOnUiThread([&] { answer = Show(request); });
    return answer;
}

PromptAnswer QtPrompt::Show(const PromptRequest& request) {
    const PromptAnswer cautious = CautiousAnswer(request.buttons);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return cautious;
    }
    QMessageBox box(parent_.data());
    box.setWindowTitle(Cp932ToQString(request.caption));
    // Texts may carry mail subjects or file names: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(Cp932ToQString(request.text));
    box.setIcon(IconOf(request.icon));

    const std::vector<PromptAnswer> answers = AnswersOf(request.buttons);
    // A default the buttons do not offer falls back to the first button.
    QPushButton* defaultButton = nullptr;
    for (PromptAnswer a : answers) {
        QPushButton* button = box.addButton(ButtonOf(a));
        button->setText(CaptionOf(a));
        if (a == request.defaultAnswer || defaultButton == nullptr) {
            defaultButton = button;
        }
    }
    box.setDefaultButton(defaultButton);
    box.setEscapeButton(box.button(ButtonOf(cautious)));

    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (PromptAnswer a : answers) {
        if (clicked != nullptr && clicked == box.button(ButtonOf(a))) {
            return a;
        }
    }
    return cautious;
}

}  // namespace wp
