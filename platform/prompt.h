#pragma once
// The one seam through which every message box goes.

#include <string>

namespace wp {

enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class PromptIcon { None, Information, Exclamation, Question, Error };
// Values of the original platform's IDOK, IDCANCEL, IDYES, IDNO.
enum class PromptAnswer { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

struct PromptRequest {
    std::string text;     // CP932
    std::string caption;  // CP932
    PromptButtons buttons = PromptButtons::Ok;
    PromptIcon icon = PromptIcon::None;
    PromptAnswer defaultAnswer = PromptAnswer::Ok;
};

class Prompt {
public:
    virtual ~Prompt() = default;
    // May be called from any thread; the box itself is shown on the
    // user-interface thread and the caller waits for the answer.
    virtual PromptAnswer Ask(const PromptRequest& request) = 0;
};

}  // namespace wp
