#pragma once
// The fetch for viewing without a window: a viewer that records what the
// fetch shows, and an account cache whose index names the mails by id.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "listing_rig.h"
#include "mail/fetch_for_view.h"
#include "mail/fetch_viewer.h"
#include "mail/mail_text.h"
#include "platform/text.h"

namespace wp::test {

class RecordingFetchViewer final : public FetchViewer {
public:
    void SetStatusText(const std::string& text) override { statuses.push_back(Cp932ToUtf8(text)); }
    void ClearMailText() override {
        ++liveClears;
        live.clear();
    }
    void AppendReceivedText(const char* data, std::size_t length, int bytesReceived) override {
        live.append(data, length);
        received.push_back(bytesReceived);
        if (onLive) {
            onLive();
        }
    }
    void SetMailFile(const StoredMail& mail) override { mailFiles.push_back(mail); }
    void SetWaitCursor(bool on) override { cursor.push_back(on); }
    void ClearAttachments() override { attachments.clear(); }
    void AddAttachment(const std::string& name) override { attachments.push_back(Cp932ToUtf8(name)); }
    void ShowMailText(MailView view) override {
        shown = view.legacy;
        shownView = std::move(view);
    }

    std::vector<std::string> statuses;  // UTF-8
    int liveClears = 0;
    std::string live;
    std::vector<int> received;
    std::vector<StoredMail> mailFiles;
    std::vector<bool> cursor;
    std::vector<std::string> attachments;  // UTF-8
    MailView shownView;
    std::optional<std::string> shown;      // CP932
    std::function<void()> onLive;
};

// The account's index file as a listing would have left it: one record per
// mail with its unique id, positions from 1.
inline void WriteCache(const CMailboxFiles& mailbox, const std::vector<std::string>& uids) {
    std::vector<IndexRecord> records;
    for (std::size_t i = 0; i < uids.size(); ++i) {
        const int n = static_cast<int>(i + 1);
        records.push_back(Record(n, n, 100, 0, uids[i]));
    }
    Spit(mailbox.sidPath, IndexBytes(records));
    Spit(mailbox.kvtPath, "");
}

inline MailEntry EntryWithId(std::uint32_t id, std::uint32_t size = 100) {
    MailEntry entry;
    entry.id = id;
    entry.size = size;
    entry.subject = "subject";
    return entry;
}

// An entry as the account switch makes it from record `id` of the account's
// index file: with that record's unique id (none when there is no record).
inline MailEntry EntryWithId(std::uint32_t id, const CMailboxFiles& mailbox) {
    MailEntry entry = EntryWithId(id);
    std::vector<IndexRecord> records = ReadIndex(mailbox.sidPath);
    if (id >= 1 && id <= records.size()) {
        entry.uid = std::string(UidOf(records[id - 1]));
    }
    return entry;
}

// The files of a folder, by name.
inline std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Points the private temporary folder of this process at a folder of the
// test's own, so that what a fetch leaves there can be seen.
class PrivateTmp {
public:
    PrivateTmp() {
        const char* old = std::getenv("TMPDIR");
        if (old != nullptr) {
            saved_ = old;
        }
        ::setenv("TMPDIR", root_.path().c_str(), 1);
    }
    ~PrivateTmp() {
        if (saved_) {
            ::setenv("TMPDIR", saved_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }
    PrivateTmp(const PrivateTmp&) = delete;
    PrivateTmp& operator=(const PrivateTmp&) = delete;

    // Everything below the root, the private folder itself left out.
    std::vector<std::string> Left() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_.path())) {
            if (!entry.is_directory() || entry.path().parent_path() != root_.path()) {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }

private:
    DataFolder root_;
    std::optional<std::string> saved_;
};

inline std::string RetrReply(const std::string& mail) {
    return "+OK " + std::to_string(mail.size()) + " octets\r\n" + mail + ".\r\n";
}

}  // namespace wp::test
