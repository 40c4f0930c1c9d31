#include "mail/add_mail_to_list.h"

#include <string>

#include "decode/header_summary.h"
#include "platform/strings.h"

namespace wp {

InvalidCharReport InvalidCharBox(Prompt& prompt) {
    return [&prompt](char c) {
        PromptRequest request;
        request.text = Sjis("不正な文字[%c]を検出しました");
        if (std::size_t at = request.text.find("%c"); at != std::string::npos) {
            request.text.replace(at, 2, 1, c);
        }
        request.caption = "Error";
        request.buttons = PromptButtons::Ok;
        request.icon = PromptIcon::None;
        prompt.Ask(request);
    };
}

MailEntry* AddMailToList(MailList& list, const char* block, std::size_t length, std::uint32_t size,
                         std::uint32_t id, MailEntry* update, Prompt& prompt) {
    HeaderSummary summary = SummarizeHeader(block, length, size, id, InvalidCharBox(prompt));
    return PutEntryRow(list, summary, update);
}

}  // namespace wp
