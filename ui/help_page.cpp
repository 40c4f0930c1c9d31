#include "ui/help_page.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace wp {

QString HelpPagePath() {
    QStringList candidates;
    if (QCoreApplication::instance() != nullptr) {
        const QString dir = QCoreApplication::applicationDirPath();
        candidates << dir + QStringLiteral("/help/index.html")
                   << dir + QStringLiteral("/../share/wrenpost/help/index.html");
    }
#ifdef WRENPOST_SOURCE_HELP_DIR
    candidates << QStringLiteral(WRENPOST_SOURCE_HELP_DIR "/index.html");
#endif
    for (const QString& path : candidates) {
        QFileInfo info(path);
        if (info.isFile() && info.isReadable()) {
            return info.canonicalFilePath();
        }
    }
    return {};
}

bool OpenHelpPage() {
    const QString path = HelpPagePath();
    return !path.isEmpty() && QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace wp
