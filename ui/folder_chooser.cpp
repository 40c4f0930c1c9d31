#include "ui/folder_chooser.h"

#include <sys/stat.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>

#include "platform/prompt.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace wp {
namespace {

constexpr int kAppTitleId = 57344;
// What the edit box takes: the longest path the system opens.
constexpr int kPathMax = 4095;

const char* const kInvalid = "The folder:\n\n%s\n\nis invalid. Please reenter.";
const char* const kCreate = "The folder:\n\n%s\n\ndoes not exist. Do you want the folder to be created?";
const char* const kCannotCreate = "The folder:\n\n%s\n\ncan not be created. Please double check.";

bool IsValidName(const QString& name) {
    if (name.isEmpty()) {
        return false;
    }
    auto edge = [](QChar ch) { return ch == u'\t' || ch == u' ' || ch == u'.'; };
    if (edge(name.front()) || edge(name.back())) {
        return false;
    }
    for (QChar ch : name) {
        if (QStringView(u"\"*/:<>?\\|").contains(ch)) {
            return false;
        }
    }
    return true;
}

QByteArray DiskPath(const QString& path) {
    return QFile::encodeName(path);
}

bool IsFolder(const QString& path) {
    struct stat st {};
    return ::stat(DiskPath(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool AnythingAt(const QString& path) {
    struct stat st {};
    return ::lstat(DiskPath(path).constData(), &st) == 0;
}

}  // namespace

bool IsValidFolderPath(const QString& path) {
    if (!path.startsWith(u'/')) {
        return false;
    }
    if (path == QStringLiteral("/")) {
        return true;
    }
    const QStringList names = path.mid(1).split(u'/');
    for (const QString& name : names) {
        if (!IsValidName(name)) {
            return false;
        }
    }
    return true;
}

bool CreateFolderPath(const QString& path) {
    qsizetype at = 0;
    while (at >= 0) {
        at = path.indexOf(u'/', at + 1);
        const QString prefix = at < 0 ? path : path.left(at);
        if (!IsFolder(prefix)) {
            if (::mkdir(DiskPath(prefix).constData(), 0777) != 0 && errno != EEXIST) {
                return false;
            }
            if (!IsFolder(prefix)) {
                return false;
            }
        }
    }
    return true;
}

CFolderChooser::CFolderChooser(const QString& caption, const QString& instruction, const QString& startFolder,
                               Prompt& prompt, QWidget* owner)
    : QDialog(owner != nullptr ? owner : QApplication::activeWindow()), prompt_(prompt) {
    setObjectName(QStringLiteral("folderChooser"));
    if (!caption.isEmpty()) {
        setWindowTitle(caption);
    }
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    instruction_ = new QLabel(instruction, this);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("folderEdit"));
    edit_->setMaxLength(kPathMax);
    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    model_->setRootPath(QStringLiteral("/"));
    tree_ = new QTreeView(this);
    tree_->setModel(model_);
    tree_->setHeaderHidden(true);
    for (int column = 1; column < model_->columnCount(); ++column) {
        tree_->hideColumn(column);
    }
    tree_->setRootIndex(model_->index(QStringLiteral("/")).parent());
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(instruction_);
    layout->addWidget(edit_);
    layout->addWidget(tree_, 1);
    layout->addWidget(buttons_);
    resize(360, 420);

    connect(buttons_, &QDialogButtonBox::accepted, this, [this] { OnOk(); });
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(edit_, &QLineEdit::textChanged, this, [this](const QString& text) { OnEditChanged(text); });
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { OnSelectionChanged(); });

    const QString start = startFolder.isEmpty() ? QDir::currentPath() : startFolder;
    // The model reads folders on a thread of its own: the start folder is
    // selected again as the folders above it arrive, until its own has.
    auto select = [this, start] {
        const QModelIndex index = model_->index(start);
        if (index.isValid()) {
            tree_->setCurrentIndex(index);
            tree_->expand(index);
            // The scroll range must know the rows just read.
            tree_->doItemsLayout();
            tree_->scrollTo(index, QAbstractItemView::PositionAtCenter);
        }
    };
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this, select] {
        if (following_) {
            select();
        }
    });
    // Rows the model adds later (a folder's entries come in batches) push
    // the start folder down: it is brought back into view once they are in.
    auto reselect = [this, select] {
        if (following_ && !reselectPending_) {
            reselectPending_ = true;
            QTimer::singleShot(0, this, [this, select] {
                reselectPending_ = false;
                if (following_) {
                    select();
                }
            });
        }
    };
    connect(model_, &QAbstractItemModel::rowsInserted, this, reselect);
    connect(model_, &QAbstractItemModel::layoutChanged, this, reselect);
    // Once the user has the tree or the edit box, they lead.
    tree_->viewport()->installEventFilter(this);
    tree_->installEventFilter(this);
    edit_->installEventFilter(this);
    select();
    edit_->setText(start);
}

bool CFolderChooser::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress ||
        event->type() == QEvent::Wheel) {
        following_ = false;
    }
    return QDialog::eventFilter(watched, event);
}

int CFolderChooser::Run() {
    confirmed = 0;
    exec();
    return confirmed == 1 ? 1 : -1;
}

std::string CFolderChooser::GetPath() const {
    const QByteArray bytes = DiskPath(path_);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void CFolderChooser::OnSelectionChanged() {
    const QString path = model_->filePath(tree_->currentIndex());
    edit_->setText(path.startsWith(u'/') ? path : QString());
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(!edit_->text().isEmpty());
}

void CFolderChooser::OnEditChanged(const QString& text) {
    path_ = text;
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(!text.isEmpty());
}

void CFolderChooser::OnOk() {
    path_ = edit_->text();
    // Something at the path that is no folder can hold no mail either.
    if (!IsValidFolderPath(path_) || (AnythingAt(path_) && !IsFolder(path_))) {
        Tell(kInvalid, false);
        edit_->setFocus();
        return;
    }
    if (!AnythingAt(path_)) {
        if (!Ask(kCreate)) {
            edit_->setFocus();
            return;
        }
        if (!CreateFolderPath(path_)) {
            Tell(kCannotCreate, false);
            edit_->setFocus();
            return;
        }
    }
    confirmed = 1;
    QDialog::accept();
}

void CFolderChooser::Tell(const char* format, bool) {
    PromptRequest request;
    request.text = QStringToCp932Lossy(QString::fromUtf8(format).replace(QStringLiteral("%s"), path_));
    request.caption = LoadString(kAppTitleId);
    request.buttons = PromptButtons::Ok;
    request.icon = PromptIcon::Exclamation;
    prompt_.Ask(request);
}

bool CFolderChooser::Ask(const char* format) {
    PromptRequest request;
    request.text = QStringToCp932Lossy(QString::fromUtf8(format).replace(QStringLiteral("%s"), path_));
    request.caption = LoadString(kAppTitleId);
    request.buttons = PromptButtons::YesNo;
    request.icon = PromptIcon::Question;
    request.defaultAnswer = PromptAnswer::Yes;
    return prompt_.Ask(request) == PromptAnswer::Yes;
}

}  // namespace wp
