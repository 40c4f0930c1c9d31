#pragma once
// The folder chooser of the save command: a tree of the file system's
// folders with an edit box above it that shows the chosen path and takes a
// typed one. OK checks the path and offers to create a folder that is not
// there; its messages are English, as they always were.

#include <QDialog>
#include <string>

class QDialogButtonBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QTreeView;

namespace wp {

class Prompt;

// Whether a typed path may name a folder: an absolute path whose names are
// not empty, neither begin nor end with a tab, a blank or a period, and hold
// none of " * : < > ? \ |; "/" alone is the root, any other path ending with
// "/" holds an empty name.
bool IsValidFolderPath(const QString& path);

// Creates the folders of an absolute path from the root down; an existing
// folder is fine. False when one cannot be created (those before it stay).
bool CreateFolderPath(const QString& path);

class CFolderChooser final : public QDialog {
public:
    // caption: the window's title (empty: the default); instruction: the text
    // above the tree; startFolder: selected at first (empty: the current
    // directory); owner: nullptr for the application's main window.
    CFolderChooser(const QString& caption, const QString& instruction, const QString& startFolder,
                   Prompt& prompt, QWidget* owner = nullptr);

    // Shows the dialog modally: 1 when a folder that passed the check was
    // confirmed, otherwise -1.
    int Run();
    // The confirmed path, exactly as the edit box held it (UTF-8).
    std::string GetPath() const;

    QLineEdit* Edit() const { return edit_; }
    QTreeView* Tree() const { return tree_; }
    QDialogButtonBox* Buttons() const { return buttons_; }
    // What OK does; public for whoever drives the dialog without a click.
    void OnOk();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnSelectionChanged();
    void OnEditChanged(const QString& text);
    void Tell(const char* format, bool question);
    bool Ask(const char* format);

    Prompt& prompt_;
    QFileSystemModel* model_ = nullptr;
    QLabel* instruction_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QTreeView* tree_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
    QString path_;
    bool following_ = true;
    bool reselectPending_ = false;
    int confirmed = 0;
};

}  // namespace wp
