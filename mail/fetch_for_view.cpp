#include "mail/fetch_for_view.h"

#include <fcntl.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <utility>

#include "mail/add_mail_to_list.h"
#include "mail/arriving_mail.h"
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

// The session's targets during the fetch: the scratch response file, the
// RETR reply (made ready for showing and stored as it arrives), and the
// viewer's live text.
class FetchHost final : public SessionHost {
public:
    FetchHost(FetchViewer& viewer, std::string responsePath)
        : viewer_(viewer), responsePath_(std::move(responsePath)) {}

    std::string ResponseFilePath() override { return responsePath_; }
    void AppendCapture(const char* data, std::size_t length) override {
        if (mail_ && data != nullptr && length > 0) {
            received_ += length;
            mail_->Append(std::string_view(data, length));
            if (file_) {
                file_->Append(std::string_view(data, length));
            }
        }
    }
    void ProgressAddBytes(int) override {}
    void ClearViewerText() override {
        pending_.clear();
        viewer_.ClearMailText();
    }
    void AppendViewerText(const char* data, std::size_t length, int bytesReceived) override {
        if (pending_.capacity() < kLiveBatch) {
            pending_.reserve(kLiveBatch + CMailSocket::kBufferSize);
        }
        pending_.append(data, length);
        bytesReceived_ = bytesReceived;
        const Clock::time_point now = Clock::now();
        if (pending_.size() >= kLiveBatch || !flushed_ || now - lastFlush_ >= kLiveInterval) {
            Flush();
            lastFlush_ = now;
            flushed_ = true;
        }
    }

    // The reply of the RETR that follows; `storePath` receives it whole.
    void BeginCapture(std::int32_t code, std::size_t expected, const std::string& storePath) {
        mail_.emplace(code, false, expected);
        file_.emplace(storePath);
        received_ = 0;
    }
    std::size_t Received() const { return received_; }
    // The reply is whole: stored, and its view for the code choice now.
    std::optional<StoredMail> Store() { return file_ ? file_->Commit() : std::nullopt; }
    MailView View(std::int32_t code, const InvalidCharReport& report, const std::optional<StoredMail>& stored) {
        MailView view = mail_->Finish(code, report, [&stored]() -> std::optional<std::string> {
            return stored ? stored->Read() : std::nullopt;
        });
        mail_.reset();
        return view;
    }
    // What is still held back of the live text.
    void Flush() {
        if (pending_.size() >= kLiveBatch / 2) {
            // A full batch goes as it is; a few bytes are copied, so that no
            // batch-sized buffer waits in the queue for each of them.
            viewer_.HandOverReceivedText(std::move(pending_), bytesReceived_);
            pending_ = std::string();
        } else if (!pending_.empty()) {
            viewer_.AppendReceivedText(pending_.data(), pending_.size(), bytesReceived_);
            pending_.clear();
        }
    }

private:
    FetchViewer& viewer_;
    std::string responsePath_;
    std::optional<ArrivingMail> mail_;
    std::optional<StoredMailWriter> file_;
    std::size_t received_ = 0;
    std::string pending_;
    int bytesReceived_ = 0;
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

    // The code choice as the reply starts lets it be converted on the way;
    // the choice once it is in decides what is shown.
    host.BeginCapture(sourceCode ? sourceCode() : -1, static_cast<std::size_t>(std::max(found.size, 0)),
                      mailbox.emlPath);
    const int rawLength = session.Retr(found.msgNo, &host, found.size);
    host.Flush();
    if (rawLength == 0 || host.Received() == 0) {
        return -1;
    }
    // A message file that cannot be written still leaves the mail to read;
    // only the code choice and the save, which read it again, stay off.
    std::optional<StoredMail> stored = host.Store();

    viewer.SetWaitCursor(true);
    const std::int32_t code = sourceCode ? sourceCode() : -1;
    // The source view is rare: the viewer makes it from the stored mail when asked.
    MailView view = host.View(code, InvalidCharBox(ctx.prompt), stored);
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
