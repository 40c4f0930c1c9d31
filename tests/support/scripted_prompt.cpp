#include "support/scripted_prompt.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <utility>

namespace wp::test {
namespace {

const char* Name(PromptButtons b) {
    switch (b) {
        case PromptButtons::Ok: return "Ok";
        case PromptButtons::OkCancel: return "OkCancel";
        case PromptButtons::YesNo: return "YesNo";
        case PromptButtons::YesNoCancel: return "YesNoCancel";
    }
    return "?";
}

const char* Name(PromptIcon i) {
    switch (i) {
        case PromptIcon::None: return "None";
        case PromptIcon::Information: return "Information";
        case PromptIcon::Exclamation: return "Exclamation";
        case PromptIcon::Question: return "Question";
        case PromptIcon::Error: return "Error";
    }
    return "?";
}

const char* Name(PromptAnswer a) {
    switch (a) {
        case PromptAnswer::Ok: return "Ok";
        case PromptAnswer::Cancel: return "Cancel";
        case PromptAnswer::Yes: return "Yes";
        case PromptAnswer::No: return "No";
    }
    return "?";
}

bool Same(const PromptRequest& a, const PromptRequest& b) {
    return a.text == b.text && a.caption == b.caption && a.buttons == b.buttons && a.icon == b.icon &&
           a.defaultAnswer == b.defaultAnswer;
}

}  // namespace

std::string Describe(const PromptRequest& request) {
    return "\"" + Cp932ToUtf8(request.text) + "\" caption \"" + Cp932ToUtf8(request.caption) + "\" buttons " +
           Name(request.buttons) + " icon " + Name(request.icon) + " default " + Name(request.defaultAnswer);
}

ScriptedPrompt::~ScriptedPrompt() {
    VerifyAndClear();
}

void ScriptedPrompt::Expect(std::string text, PromptAnswer answer) {
    std::lock_guard lock(mutex_);
    expected_.push_back({std::move(text), std::nullopt, answer});
}

void ScriptedPrompt::Expect(const PromptRequest& request, PromptAnswer answer) {
    std::lock_guard lock(mutex_);
    expected_.push_back({request.text, request, answer});
}

PromptAnswer ScriptedPrompt::Ask(const PromptRequest& request) {
    std::optional<Expected> next;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        if (!expected_.empty()) {
            next = std::move(expected_.front());
            expected_.pop_front();
        }
    }
    // Failures are reported outside the lock: gtest may call back into us.
    if (!next) {
        ADD_FAILURE() << "unexpected message box " << Describe(request);
        return request.defaultAnswer;
    }
    if (next->whole) {
        if (!Same(*next->whole, request)) {
            ADD_FAILURE() << "message box " << Describe(request) << "\n  expected " << Describe(*next->whole);
        }
    } else if (next->text != request.text) {
        ADD_FAILURE() << "message box \"" << Cp932ToUtf8(request.text) << "\"\n  expected \""
                      << Cp932ToUtf8(next->text) << "\"";
    }
    return next->answer;
}

std::vector<PromptRequest> ScriptedPrompt::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t ScriptedPrompt::Count() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

std::size_t ScriptedPrompt::Pending() const {
    std::lock_guard lock(mutex_);
    return expected_.size();
}

void ScriptedPrompt::VerifyAndClear() {
    std::deque<Expected> missed;
    {
        std::lock_guard lock(mutex_);
        missed.swap(expected_);
    }
    for (const auto& e : missed) {
        ADD_FAILURE() << "expected message box never shown: \"" << Cp932ToUtf8(e.text) << "\"";
    }
}

}  // namespace wp::test
