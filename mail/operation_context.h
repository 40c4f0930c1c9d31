#pragma once
// What a mail operation reaches besides the session, the cache object and
// the list: the frame's liveness check, its progress and status messages and
// the message-box seam. The engine fills it for the program and wrenpost-cli;
// tests fill it with recorders.

#include <functional>

#include "mail/mail_list.h"
#include "platform/prompt.h"

namespace wp {

class CPop3Session;

struct OperationContext {
    CPop3Session& session;
    MailList& list;
    Prompt& prompt;
    // The frame's check that a logged-in connection answers.
    std::function<bool()> checkConnection;
    // UM_PROGRESSRANGE (sent): done of total; shown as "%d/%d件中" or "%d件".
    std::function<void(int done, int total)> progressRange;
    // UM_PROGRESSPOS (sent).
    std::function<void(int position)> progressPos;
    // UM_STATUSTEXT (posted): a string id for the status pane.
    std::function<void(int id)> postStatus;
    // Whether the account the operation started with still exists as it was
    // (another window or wrenpost-cli may have deleted it meanwhile); asked
    // before the operation keeps anything. Empty: it does.
    std::function<bool()> accountStillValid;
};

}  // namespace wp
