#include "mail/fetch_for_view.h"

#include <fcntl.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <utility>

#include "mail/add_mail_to_list.h"
#include "mail/cache_io.h"
#include "mail/entry_record.h"
#include "mail/index_file.h"
#include "mail/listing_lines.h"
#include "mail/mail_text.h"
#include "mail/scratch_folder.h"
#include "net/pop3_session.h"
#include "platform/paths.h"
#include "platform/strings.h"

namespace wp {

namespace io = cache_io;

namespace {

using Clock = std::chrono::steady_clock;

// Live text goes to the viewer in batches: a RETR of megabytes arrives in
// thousands of reads, and each hand-over costs the user-interface thread a
// repaint. Small or slow replies still show at once.
constexpr std::size_t kLiveBatch = 64 * 1024;
constexpr auto kLiveInterval = std::chrono::milliseconds(50);
// What a LIST size may make us reserve in advance; a bigger mail still fits,
// it only grows its buffer on the way.
constexpr std::size_t kReserveLimit = 64u * 1024 * 1024;

// The session's targets during the fetch: the scratch response file, the
// capture of the RETR reply, and the viewer's live text.
class FetchHost final : public SessionHost {
public:
    FetchHost(FetchViewer& viewer, std::string responsePath)
        : viewer_(viewer), responsePath_(std::move(responsePath)) {}

    std::string ResponseFilePath() override { return responsePath_; }
    void AppendCapture(const char* data, std::size_t length) override {
        if (capturing_ && data != nullptr) {
            capture_.append(data, length);
        }
    }
    void ProgressAddBytes(int) override {}
    void ClearViewerText() override {
        pending_.clear();
        viewer_.ClearMailText();
    }
    void AppendViewerText(const char* data, std::size_t length, int bytesReceived) override {
        pending_.append(data, length);
        received_ = bytesReceived;
        const Clock::time_point now = Clock::now();
        if (pending_.size() >= kLiveBatch || !flushed_ || now - lastFlush_ >= kLiveInterval) {
            Flush();
            lastFlush_ = now;
            flushed_ = true;
        }
    }

    void BeginCapture(std::size_t expected) {
        capture_.clear();
        capture_.reserve(std::min(expected, kReserveLimit) + 4096);
        capturing_ = true;
    }
    std::string TakeCapture() {
        capturing_ = false;
        return std::move(capture_);
    }
    // What is still held back of the live text.
    void Flush() {
        if (!pending_.empty()) {
            viewer_.AppendReceivedText(pending_.data(), pending_.size(), received_);
            pending_.clear();
        }
    }

private:
    FetchViewer& viewer_;
    std::string responsePath_;
    bool capturing_ = false;
    std::string capture_;
    std::string pending_;
    int received_ = 0;
    bool flushed_ = false;
    Clock::time_point lastFlush_{};
};

int NotOnServer(FetchViewer& viewer) {
    viewer.SetStatusText(Sjis(kNotOnServerText));
    return -2;
}

}  // namespace

std::optional<IndexRecord> ReadEntryRecord(const CMailboxFiles& mailbox, const MailEntry& entry) {
    // Only the entry's own record: another process may have rewritten the
    // index since the entry was made, and "*", empty or cut ids name no mail.
    IndexRecord record;
    if (ReadEntryRecord(mailbox.sidPath, entry, &record) != EntryRecord::kSame) {
        return std::nullopt;
    }
    return record;
}

int RunFetchForView(CMailboxFiles& mailbox, OperationContext& ctx, const MailEntry& entry,
                    FetchViewer& viewer, const std::function<std::int32_t()>& sourceCode) {
    CPop3Session& session = ctx.session;
    viewer.SetMailFile(StoredMail());

    if (session.Noop() <= 0 || session.Stat() <= 0) {
        return -1;
    }
    std::optional<std::int32_t> count = StatCount(session.reply);
    if (!count) {
        return -1;
    }
    // An empty mailbox holds no mail of ours: it is gone, not shown.
    if (*count == 0) {
        return NotOnServer(viewer);
    }

    ScratchFolder scratch("fetch");
    if (!scratch) {
        return -1;
    }
    CMailboxFiles listing("fetch", scratch.Path());
    FetchHost host(viewer, listing.ResponsePath());
    if (session.List(&host) <= 0 || !listing.WriteListIndex(*count)) {
        return -1;
    }
    if (session.Uidl(&host) <= 0 || !listing.WriteUidIndex()) {
        return -1;
    }
    std::optional<IndexFile> server = IndexFile::Read(listing.NewIndexPath());
    if (!server) {
        return -1;
    }

    // Without its record the mail's unique id is unknown, and no number on
    // the server can be trusted to be that mail.
    std::optional<IndexRecord> cached = ReadEntryRecord(mailbox, entry);
    IndexRecord found;
    if (!cached || FindServerRecord(*cached, *server, &found) < 0) {
        return NotOnServer(viewer);
    }

    host.BeginCapture(static_cast<std::size_t>(std::max(found.size, 0)));
    const int rawLength = session.Retr(found.msgNo, &host, found.size);
    host.Flush();
    std::string raw = host.TakeCapture();
    if (rawLength == 0 || raw.empty()) {
        return -1;
    }
    // A message file that cannot be written still leaves the mail to read;
    // only the code choice and the save, which read it again, stay off.
    std::optional<StoredMail> stored = StoredMail::Write(mailbox.emlPath, raw);

    viewer.SetWaitCursor(true);
    const std::int32_t code = sourceCode ? sourceCode() : -1;
    MailView view = ViewOfMail(std::move(raw), code, InvalidCharBox(ctx.prompt));
    viewer.ClearAttachments();
    for (std::string& name : view.attachments) {
        viewer.AddAttachment(name);
    }
    viewer.ShowMailText(std::move(view));
    if (stored) {
        viewer.SetMailFile(*stored);
    }
    viewer.SetWaitCursor(false);
    return 0;
}

}  // namespace wp
