#pragma once
// The program's own help: a Japanese HTML page opened in the user's browser.

#include <QString>

namespace wp {

// index.html of the help folder: beside the program ("help/"), in the data
// folder of an installation ("../share/wrenpost/help/"), or in the source
// tree the program was built from. Empty when there is none.
QString HelpPagePath();

// Opens the page in the browser; false when there is no page or no browser.
bool OpenHelpPage();

}  // namespace wp
