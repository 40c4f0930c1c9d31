#include "mail/retrieve_selected.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

#include "mail/cache_io.h"
#include "mail/entry_record.h"
#include "mail/fetch_for_view.h"
#include "mail/index_file.h"
#include "mail/listing_lines.h"
#include "mail/mail_text.h"
#include "mail/scratch_folder.h"
#include "net/pop3_session.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/strings.h"

namespace wp {

namespace io = cache_io;

namespace {

constexpr int kAppTitleId = 57344;
// What a LIST size may make us reserve in advance.
constexpr std::size_t kReserveLimit = 64u * 1024 * 1024;
// Renumbering a name that another writer keeps taking gives up after this.
constexpr int kCreateAttempts = 1000;

// The session's targets: the scratch response file, the RETR capture, and
// the progress dialog's byte count.
class RetrieveHost final : public SessionHost {
public:
    RetrieveHost(std::string responsePath, RetrieveProgress* progress)
        : responsePath_(std::move(responsePath)), progress_(progress) {}

    std::string ResponseFilePath() override { return responsePath_; }
    void AppendCapture(const char* data, std::size_t length) override {
        if (capturing_ && data != nullptr) {
            capture_.append(data, length);
        }
    }
    void ProgressAddBytes(int count) override {
        if (progress_ != nullptr) {
            progress_->AddBytes(count);
        }
    }
    void ClearViewerText() override {}
    void AppendViewerText(const char*, std::size_t, int) override {}

    // One buffer serves every mail of the run: its capacity stays.
    void BeginCapture(std::size_t expected) {
        capture_.clear();
        capture_.reserve(std::min(expected, kReserveLimit) + 4096);
        capturing_ = true;
    }
    std::string& EndCapture() {
        capturing_ = false;
        return capture_;
    }

private:
    std::string responsePath_;
    RetrieveProgress* progress_;
    bool capturing_ = false;
    std::string capture_;
};

bool FolderHolds(const std::string& folder, const std::string& name) {
    return io::Exists(folder + DiskFileName(name));
}

// Creates the file of a save; never replaces one. 0 or the errno value;
// EEXIST when the name is taken.
int CreateNewFile(const std::string& path, std::string_view bytes) {
    io::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd) {
        return errno;
    }
    int failure = 0;
    if (!bytes.empty() && !io::WriteAt(fd.get(), bytes.data(), bytes.size(), 0)) {
        failure = errno != 0 ? errno : EIO;
    }
    if (!fd.Close() && failure == 0) {
        failure = errno;
    }
    if (failure != 0) {
        // Half a mail is no saved mail.
        ::unlink(path.c_str());
    }
    return failure;
}

// Writes one mail's file under the entry's name; for a save a taken name
// moves on to the next free one. The path written, or nullopt.
std::optional<std::string> WriteMailFile(RetrieveRun& run, const MailEntry* entry, std::string_view bytes) {
    if (run.forDrag) {
        // The drag's names were offered already: the file must have exactly
        // that name, and a link planted there is replaced, not followed.
        const std::string path = run.folder + DiskFileName(*run.names->Find(entry));
        int error = 0;
        if (!ReplaceFileWith(path, bytes, &error)) {
            return std::nullopt;
        }
        return path;
    }
    auto taken = [&run](const std::string& name) { return FolderHolds(run.folder, name); };
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const std::string path = run.folder + DiskFileName(*run.names->Find(entry));
        const int error = CreateNewFile(path, bytes);
        if (error == 0) {
            return path;
        }
        if (error != EEXIST) {
            return std::nullopt;
        }
        // Someone made a file of that name since it was chosen.
        run.names->Renumber(entry, taken);
        if (run.progress != nullptr) {
            run.progress->SetInfoText(*run.names->Find(entry));
        }
    }
    return std::nullopt;
}

// Sends the RETRs of the mails after the one being read while the server
// allows pipelining, so a save does not wait a round trip per mail. Each
// answer is read by the ordinary Retr of its mail; a mail skipped after all
// only costs the answers then read and dropped.
class RetrAhead {
public:
    using Locate = std::function<bool(const MailEntry*, IndexRecord*)>;
    RetrAhead(CPop3Session& session, const std::vector<const MailEntry*>& selected, Locate locate)
        : session_(session), selected_(selected), locate_(std::move(locate)) {}

    // `current` is the index of the mail about to be read.
    void From(std::size_t current) {
        next_ = std::max(next_, current);
        while (pipelined_ != 0 && next_ < selected_.size()) {
            if (pipelined_ < 0) {
                if (selected_.size() - current < 2) {
                    return;
                }
                pipelined_ = session_.Pipelines() ? 1 : 0;
                continue;
            }
            IndexRecord found;
            if (!locate_(selected_[next_], &found)) {
                ++next_;
                continue;
            }
            const auto expected = static_cast<std::uint64_t>(std::max(found.size, 0)) + 64;
            char text[64];
            const int n = std::snprintf(text, sizeof text, "RETR %d\r\n", found.msgNo);
            if (!session_.RoomAhead(expected) || !session_.SendAhead(text, n, expected)) {
                return;
            }
            ++next_;
        }
    }

private:
    CPop3Session& session_;
    const std::vector<const MailEntry*>& selected_;
    Locate locate_;
    std::size_t next_ = 0;
    int pipelined_ = -1;
};

bool AskStop(Prompt& prompt) {
    PromptRequest request;
    request.text = Sjis(kStopQuestion);
    request.caption = LoadString(kAppTitleId);
    request.buttons = PromptButtons::YesNo;
    request.icon = PromptIcon::Question;
    request.defaultAnswer = PromptAnswer::Yes;
    return prompt.Ask(request) == PromptAnswer::Yes;
}

std::string WithCount(int id, std::size_t count) {
    std::string text = LoadString(id);
    if (std::size_t at = text.find("%d"); at != std::string::npos) {
        text.replace(at, 2, std::to_string(count));
    }
    return text;
}

// A box names this many mails at most; the rest is "...".
constexpr std::size_t kBoxNamesMax = 20;

}  // namespace

std::string RetrieveReportText(const RetrieveRun& run) {
    const std::size_t failed = run.notSaved.size() - std::min<std::size_t>(run.notSaved.size(), run.notOnServer);
    if (failed > 0) {
        return WithCount(IDS_SAVE_NOT_WRITTEN, failed);
    }
    if (run.notOnServer > 0) {
        return WithCount(IDS_SAVE_NOT_ON_SERVER, static_cast<std::size_t>(run.notOnServer));
    }
    return std::string();
}

std::string NotSavedBoxText(const RetrieveRun& run) {
    if (run.notSaved.empty()) {
        return std::string();
    }
    std::string names;
    for (std::size_t i = 0; i < run.notSaved.size() && i < kBoxNamesMax; ++i) {
        names += run.notSaved[i] + kSavedMailExtension + "\n";
    }
    if (run.notSaved.size() > kBoxNamesMax) {
        names += "...\n";
    }
    std::string text = LoadString(IDS_SAVE_NOT_SAVED_BOX);
    if (std::size_t at = text.find("%s"); at != std::string::npos) {
        text.replace(at, 2, names);
    }
    return text;
}

void NameSelectedRows(const MailList& list, FileNameMap& names, const std::string& folder) {
    names.Clear();
    FileNameMap::Taken taken;
    if (!folder.empty()) {
        taken = [&folder](const std::string& name) { return FolderHolds(folder, name); };
    }
    for (int row = 0; row < list.RowCount(); ++row) {
        const MailEntry* entry = list.RowEntry(row);
        if (entry != nullptr && list.IsSelected(row)) {
            names.AddUniqueName(entry, SaveFileName(entry->subject), taken);
        }
    }
}

int RetrieveSelected(CMailboxFiles& mailbox, OperationContext& ctx, RetrieveRun& run) {
    CPop3Session& session = ctx.session;
    if (run.names == nullptr) {
        return -1;
    }
    if (session.Noop() <= 0 || session.Stat() <= 0) {
        return -1;
    }
    std::optional<std::int32_t> count = StatCount(session.reply);
    if (!count) {
        return -1;
    }

    ScratchFolder scratch("save");
    if (!scratch) {
        return -1;
    }
    CMailboxFiles listing("save", scratch.Path());
    RetrieveHost host(listing.ResponsePath(), run.progress);
    IndexFile server;
    if (*count != 0) {
        if (session.List(&host) <= 0 || !listing.WriteListIndex()) {
            return -1;
        }
        if (session.Uidl(&host) <= 0 || !listing.WriteUidIndex()) {
            return -1;
        }
        std::optional<IndexFile> read = IndexFile::Read(listing.NewIndexPath());
        if (!read) {
            return -1;
        }
        server = std::move(*read);
    }
    // Without the account's index (a cleared cache) no mail of the list can
    // be found again: each is reported like a mail gone from the server.
    // Opened once: every record read is still checked to be its entry's.
    io::Fd index(::open(mailbox.sidPath.c_str(), O_RDONLY | O_CLOEXEC));

    // The selected rows as the run begins; the list may be sorted while the
    // session pumps messages, so rows are not counted by position.
    std::vector<const MailEntry*> selected;
    for (int row = 0; row < ctx.list.RowCount(); ++row) {
        if (ctx.list.IsSelected(row) && ctx.list.RowEntry(row) != nullptr) {
            selected.push_back(ctx.list.RowEntry(row));
        }
    }

    RetrAhead ahead(session, selected, [&](const MailEntry* entry, IndexRecord* found) {
        IndexRecord cached;
        return run.names->Find(entry) != nullptr && ctx.list.FindRow(entry) >= 0 && index &&
               ReadEntryRecord(index.get(), *entry, &cached) == EntryRecord::kSame &&
               FindServerRecord(cached, server, found) >= 0;
    });

    int result = 0;
    int handled = 0;
    for (const MailEntry* entry : selected) {
        ++handled;
        const std::string* name = run.names->Find(entry);
        if (name != nullptr && ctx.list.FindRow(entry) >= 0) {
            const std::string current = *name;
            if (run.progress != nullptr) {
                run.progress->SetInfoText(current);
            }
            IndexRecord cached;
            IndexRecord found;
            if (!index || ReadEntryRecord(index.get(), *entry, &cached) != EntryRecord::kSame ||
                FindServerRecord(cached, server, &found) < 0) {
                ++run.notOnServer;
                run.notSaved.push_back(current);
                if (run.forDrag) {
                    if (std::optional<std::string> path = WriteMailFile(run, entry, {})) {
                        run.written.push_back(*path);
                    }
                }
            } else {
                ahead.From(static_cast<std::size_t>(handled - 1));
                host.BeginCapture(static_cast<std::size_t>(std::max(found.size, 0)));
                const int rawLength = session.Retr(found.msgNo, &host);
                std::string& raw = host.EndCapture();
                if (rawLength == 0 || raw.find('\n') == std::string::npos) {
                    result = -1;
                    run.notSaved.push_back(current);
                } else if (std::optional<std::string> path = WriteMailFile(run, entry, SavedMailView(raw))) {
                    run.written.push_back(*path);
                } else {
                    run.notSaved.push_back(*run.names->Find(entry));
                }
            }
        }
        if (run.progress != nullptr) {
            run.progress->SetMessageIndex(handled);
            if (run.progress->TakeCancel() && AskStop(ctx.prompt)) {
                return -2;
            }
        }
        if (session.cancel != 0) {
            // The session was told to stop (the exit command, Ctrl-C).
            return -2;
        }
    }
    return result;
}

}  // namespace wp
