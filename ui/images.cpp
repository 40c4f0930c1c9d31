#include "ui/images.h"

#include <QString>

#include "mail/mail_entry.h"

// Resources of a static library are registered by hand, or the linker drops them.
static void RegisterImages() {
    Q_INIT_RESOURCE(wrenpost);
}

namespace wp {
namespace {

QIcon Load(const char* name) {
    static const bool registered = (RegisterImages(), true);
    (void)registered;
    return QIcon(QStringLiteral(":/images/") + QString::fromLatin1(name));
}

}  // namespace

QIcon ToolbarImage(int index, bool running) {
    static const char* const kNames[kToolbarImageCount] = {"receive.svg", "view.svg", "delete.svg",
                                                           "account.svg", "exit.svg"};
    if (index < 0 || index >= kToolbarImageCount) {
        return {};
    }
    if (running && index == 0) {
        return Load("stop.svg");
    }
    return Load(kNames[index]);
}

QIcon RowImage(int image) {
    switch (image) {
        case kImageMarked:
            return Load("row_marked.svg");
        case kImageUnmarked:
            return Load("row_unmarked.svg");
        case kImagePlain:
            return Load("row_mail.svg");
        case kImageParts:
            return Load("row_parts.svg");
        default:
            return {};
    }
}

QIcon AppIcon() {
    return Load("wrenpost.svg");
}

QIcon AttachmentIcon() {
    return Load("attachment.svg");
}

}  // namespace wp
