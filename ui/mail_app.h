#pragma once
// The application object: fixes where settings are kept, prepares the data
// folder of the cache files, creates the main window and answers the About
// command.

#include <memory>
#include <optional>
#include <string>

namespace wp {

class CMainFrame;
class Profile;
class Prompt;

class CMailApp {
public:
    // prompt: where start-up failures are told; profile: the settings.
    CMailApp(Prompt& prompt, Profile& profile);
    ~CMailApp();
    CMailApp(const CMailApp&) = delete;
    CMailApp& operator=(const CMailApp&) = delete;

    // Start-up in the current directory. False when the program must end
    // now; the reason has been told through the prompt.
    bool InitInstance();

    // The data folder ("Mail" under the current directory at start-up).
    const std::string& DataFolder() const { return dataFolder; }
    // nullptr before a successful start-up.
    CMainFrame* MainFrame() const { return frame_.get(); }

    void OnAppAbout();

    std::string dataFolder;

private:
    Prompt& prompt_;
    Profile& profile_;
    std::unique_ptr<CMainFrame> frame_;
};

// The data folder's failure message (CP932).
const std::string& DataFolderFailureText();

// The --data-dir folder: made (with its parents) when missing, then the
// current directory. A reason (UTF-8) when that fails.
std::optional<std::string> EnterDataDir(const std::string& dir);

// The organisation and application under which the profile is kept, and the
// program's font and icon.
void SetApplicationIdentity();

// The whole program: options, start-up and the event loop. Needs no
// application object; makes its own.
int RunWrenpost(int argc, char** argv);

}  // namespace wp
