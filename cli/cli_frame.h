#pragma once
// The main window of wrenpost-cli: the account bar holds the named account,
// the status pane goes to standard error as it changes, and the message list
// lives in memory.

#include <string>

#include "engine/memory_frame.h"
#include "mail/memory_list.h"

namespace wp::cli {

class CliFrame final : public MemoryFrame {
public:
    using MemoryFrame::MemoryFrame;

protected:
    // Each status goes to standard error as it changes.
    void StatusShown(const std::string& text) override;
};

// One line per row in list order: mark image, hasParts, sender, subject,
// date text and size, separated by TABs.
void PrintRows(const MemoryList& list);

// The exit status of a listing, judged by the last status it showed:
// finished (with mails or none) 0, stopped by the user 2, anything else 1.
int ListingExitStatus(const std::string& lastStatus);

}  // namespace wp::cli
