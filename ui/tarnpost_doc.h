#pragma once
// The document of the main window. It holds no mail and stores nothing: only
// the title the window shows before the application's name.

#include <functional>
#include <string>

namespace wp {

class CTarnpostDoc {
public:
    // A new document: the program's title with its version.
    void OnNewDocument();

    // CP932.
    const std::string& GetTitle() const { return title_; }
    void SetTitle(std::string title);

    // Called after every title change.
    std::function<void()> titleChanged;

private:
    std::string title_;
};

}  // namespace wp
