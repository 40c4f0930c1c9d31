#pragma once
// The program's own images: the toolbar's two sets, the list rows and the
// application icon, drawn as SVG with transparent backgrounds.

#include <QIcon>

namespace wp {

// Toolbar buttons in order: receive, view, delete, account, exit.
inline constexpr int kToolbarImageCount = 5;

// One image of a toolbar set; the running set has the stop sign first.
// A null icon for an index outside the set.
QIcon ToolbarImage(int index, bool running);

// A row image by the list's numbers (kImageMarked, kImageUnmarked,
// kImagePlain, kImageParts); a null icon for any other.
QIcon RowImage(int image);

QIcon AppIcon();

// The icon of an attachment name in the viewer, 16 x 16.
QIcon AttachmentIcon();

}  // namespace wp
