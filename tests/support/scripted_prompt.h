#pragma once
// A message box for tests: it records every box asked and answers from a
// script of the boxes the test expects. A box nobody expected, or one whose
// text differs, fails the running test; so does an expected box that never
// came. Any thread may ask.

#include "platform/prompt.h"

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wp::test {

class ScriptedPrompt : public Prompt {
public:
    ScriptedPrompt() = default;
    // Fails the running test for expected boxes that were never asked.
    ~ScriptedPrompt() override;
    ScriptedPrompt(const ScriptedPrompt&) = delete;
    ScriptedPrompt& operator=(const ScriptedPrompt&) = delete;

    // The next box shows text (CP932) and gets this answer.
    void Expect(std::string text, PromptAnswer answer = PromptAnswer::Ok);
    // The next box is exactly this one: text, caption, buttons, icon and
    // default button.
    void Expect(const PromptRequest& request, PromptAnswer answer);

    PromptAnswer Ask(const PromptRequest& request) override;

    // Every box asked so far, in order.
    std::vector<PromptRequest> Requests() const;
    std::size_t Count() const;
    // Expected boxes not asked yet.
    std::size_t Pending() const;
    // Fails the running test for expected boxes not asked yet and forgets them.
    void VerifyAndClear();

private:
    struct Expected {
        std::string text;
        std::optional<PromptRequest> whole;
        PromptAnswer answer;
    };

    mutable std::mutex mutex_;
    std::deque<Expected> expected_;
    std::vector<PromptRequest> requests_;
};

// Readable form of a box for failure messages (texts as UTF-8).
std::string Describe(const PromptRequest& request);

}  // namespace wp::test
