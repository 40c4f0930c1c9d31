#include "engine/account_check.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <unordered_set>

#include "engine/frame_engine.h"
#include "engine/memory_frame.h"
#include "mail/memory_list.h"
#include "platform/prompt.h"
#include "platform/string_table.h"

namespace wp {
namespace {

// A unique id that names one mail: the placeholder and an id cut to fit
// its record name none.
bool Countable(const std::string& uid) {
    return !uid.empty() && uid != "*";
}

// Boxes nobody sees: the first text is kept as the failure, every question
// gets its safe answer (no certificate is trusted unasked).
class QuietPrompt final : public Prompt {
public:
    PromptAnswer Ask(const PromptRequest& request) override {
        if (firstText.empty()) {
            firstText = request.text;
        }
        switch (request.buttons) {
            case PromptButtons::YesNo:
            case PromptButtons::YesNoCancel:
                return PromptAnswer::No;
            case PromptButtons::OkCancel:
                return PromptAnswer::Cancel;
            case PromptButtons::Ok:
                break;
        }
        return PromptAnswer::Ok;
    }
    std::string firstText;
};

}  // namespace

struct AccountCheck::Parts {
    Parts(std::string dataFolder, const AccountInfo& account, std::string password)
        : name(account.Name()),
          frame(account, std::move(password)),
          engine(frame, prompt, std::move(dataFolder)) {}
    std::string name;
    MemoryFrame frame;
    QuietPrompt prompt;
    FrameEngine engine;  // last: it goes first, while the frame it writes to is still there
    std::unordered_set<std::string> before;
};

AccountCheck::AccountCheck(std::string dataFolder, const AccountInfo& account, std::string password,
                           Done done)
    : parts_(std::make_unique<Parts>(std::move(dataFolder), account, std::move(password))),
      done_(std::move(done)),
      alive_(std::make_shared<bool>(true)) {}

AccountCheck::~AccountCheck() {
    *alive_ = false;
}

const std::string& AccountCheck::Name() const {
    return parts_->name;
}

void AccountCheck::Start() {
    if (running_) {
        return;
    }
    running_ = true;
    Parts& p = *parts_;
    p.engine.SwitchAccount(p.name);
    p.prompt.firstText.clear();  // a cache complaint is no reason for a failed listing
    for (int row = 0; row < p.frame.Rows().RowCount(); ++row) {
        if (const MailEntry* entry = p.frame.Rows().RowEntry(row); entry != nullptr && Countable(entry->uid)) {
            p.before.insert(entry->uid);
        }
    }
    p.engine.StartOperation(kOperationList);
    // The status texts the engine posted come before this one, so the
    // result reads the listing's last word.
    auto alive = alive_;
    p.engine.WhenIdle([this, alive] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, alive] {
                if (*alive) {
                    Finish();
                }
            },
            Qt::QueuedConnection);
    });
}

void AccountCheck::Cancel() {
    if (running_) {
        cancelled_ = true;
        parts_->engine.CancelOperation();
    }
}

void AccountCheck::Finish() {
    Parts& p = *parts_;
    running_ = false;
    CheckResult result;
    result.name = p.name;
    const std::string& status = p.frame.LastStatus();
    result.ok = status == LoadString(IDS_STATUS_LIST_DONE) || status == LoadString(IDS_STATUS_NO_MESSAGES);
    result.stopped = !result.ok && (cancelled_ || status == LoadString(IDS_STATUS_LIST_PARTIAL) ||
                                    status == LoadString(IDS_STATUS_CANCELLED));
    result.total = p.frame.Rows().RowCount();
    if (result.ok) {
        for (int row = 0; row < result.total; ++row) {
            const MailEntry* entry = p.frame.Rows().RowEntry(row);
            if (entry != nullptr && Countable(entry->uid) && !p.before.contains(entry->uid)) {
                ++result.newCount;
                result.newMails.push_back(
                    {p.frame.Rows().Text(row, kColumnFrom), p.frame.Rows().Text(row, kColumnSubject)});
            }
        }
    } else {
        result.failure = !p.prompt.firstText.empty() ? p.prompt.firstText : status;
    }
    Done done = done_;
    if (done) {
        done(result);  // may destroy this object: nothing after it
    }
}

}  // namespace wp
