#include "ui/list_drag.h"

#include <stdlib.h>
#include <unistd.h>

#include <QFile>
#include <QList>

#include "platform/paths.h"

namespace wp {
namespace {

const QString kUriList = QStringLiteral("text/uri-list");

}  // namespace

MailDragData::MailDragData(std::string folder, std::vector<std::string> files, std::function<bool()> write)
    : folder_(std::move(folder)), files_(std::move(files)), write_(std::move(write)) {}

QStringList MailDragData::formats() const {
    return {kUriList};
}

bool MailDragData::hasFormat(const QString& mimeType) const {
    return mimeType == kUriList;
}

QVariant MailDragData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType != kUriList) {
        return QVariant();
    }
    if (!requested_) {
        requested_ = true;
        written_ = write_ && write_();
    }
    if (!written_) {
        // What was not written is not offered: the drop has nothing to take.
        return QVariant();
    }
    QList<QUrl> urls;
    for (const std::string& file : files_) {
        const std::string path = folder_ + file;
        urls.push_back(QUrl::fromLocalFile(QFile::decodeName(QByteArray(path.data(), qsizetype(path.size())))));
    }
    if (type.id() == QMetaType::QByteArray || type.id() == QMetaType::QString) {
        QByteArray text;
        for (const QUrl& url : urls) {
            text += url.toEncoded() + "\r\n";
        }
        return type.id() == QMetaType::QString ? QVariant(QString::fromUtf8(text)) : QVariant(text);
    }
    QVariantList list;
    for (const QUrl& url : urls) {
        list.push_back(url);
    }
    return list;
}

std::string MakeDragFolder() {
    std::optional<std::string> base = PrivateTempFolder();
    if (!base) {
        return std::string();
    }
    std::string pattern = JoinPath(*base, "drag-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
        return std::string();
    }
    return pattern + "/";
}

void RemoveDragFolder(const std::string& folder, const std::vector<std::string>& files) {
    if (folder.empty()) {
        return;
    }
    for (const std::string& file : files) {
        ::unlink((folder + file).c_str());
    }
    // Sibling files of a write that failed halfway are the drag's own too.
    ::rmdir(folder.c_str());
}

}  // namespace wp
