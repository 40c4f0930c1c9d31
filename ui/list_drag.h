#pragma once
// Dragging mails out of the message list: the drag offers file URLs of
// ".eml" files in a private folder of its own, and the files are written
// only when the drop target asks for them.

#include <QMimeData>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <string>

namespace wp {

class MailDragData final : public QMimeData {
public:
    // folder: the drag's private folder (ends with "/"); files: the names
    // offered in it (UTF-8); write: writes them, true when the drop may go
    // ahead. Asked at most once.
    MailDragData(std::string folder, std::vector<std::string> files, std::function<bool()> write);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;
    // Whether the files were asked for, and whether writing them worked.
    bool Requested() const { return requested_; }
    bool Written() const { return written_; }
    const std::string& Folder() const { return folder_; }
    const std::vector<std::string>& Files() const { return files_; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    std::string folder_;
    std::vector<std::string> files_;
    std::function<bool()> write_;
    mutable bool requested_ = false;
    mutable bool written_ = false;
};

// A fresh private folder for one drag ("drag-XXXXXX" in the private
// temporary folder), ending with "/"; empty when none can be made.
std::string MakeDragFolder();
// Removes the drag's files (only those it offered) and its folder.
void RemoveDragFolder(const std::string& folder, const std::vector<std::string>& files);

}  // namespace wp
