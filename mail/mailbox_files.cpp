#include "mail/mailbox_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <new>
#include <thread>
#include <utility>

#include "accounts/account_files.h"
#include "mail/add_mail_to_list.h"
#include "mail/cache_io.h"
#include "mail/index_record.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace wp {

namespace io = cache_io;

namespace {

// The application title, the caption of the framework's own message boxes.
constexpr int kAppTitleId = 57344;
// Rows reserved at most in advance; more still fit, they just grow the list.
constexpr std::int64_t kReserveLimit = 100000;

void ShowSystemError(Prompt& prompt, int err) {
    PromptRequest request;
    request.text = io::SystemErrorText(err);
    request.caption = "Error";
    request.buttons = PromptButtons::Ok;
    request.icon = PromptIcon::Information;
    prompt.Ask(request);
}

}  // namespace

std::string MailboxFileStem(std::string_view accountName) {
    return AccountFileStem(accountName);
}

CMailboxFiles::CMailboxFiles(std::string_view accountName, std::string dataFolder) {
    AccountFilePaths files = AccountCacheFiles(accountName, dataFolder);
    kvtPath = std::move(files.header);
    lstPath = std::move(files.list);
    emlPath = std::move(files.message);
    sidPath = std::move(files.index);
    entries.reserve(10);
    FinishPendingReplace();
}

CMailboxFiles::~CMailboxFiles() = default;

void CMailboxFiles::BeginCapture() {
    capture_.clear();
    capture_.reserve(1024);
    capturing_ = true;
}

void CMailboxFiles::AppendCapture(const char* data, std::size_t length) {
    if (capturing_ && data != nullptr) {
        capture_.append(data, length);
    }
}

std::string CMailboxFiles::DetachCapture() {
    std::string bytes;
    bytes.swap(capture_);
    return bytes;
}

void CMailboxFiles::EndCapture() {
    capture_.clear();
    capture_.shrink_to_fit();
    capturing_ = false;
}

MailEntry* CMailboxFiles::EntryAt(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) {
        return nullptr;
    }
    return entries[static_cast<std::size_t>(index)].get();
}

void CMailboxFiles::ClearList(MailList& list) {
    // Rows first: no row may point to a released entry.
    list.DeleteAllRows();
    entries.clear();
}

bool CMailboxFiles::ReplaceHeaderAndIndex(Prompt& prompt) {
    const std::string newIndex = NewIndexPath();
    const std::string newHeader = NewHeaderPath();
    bool ok = io::Exists(newIndex) && io::Exists(newHeader);
    int err = 0;
    if (ok) {
        for (const std::string* path : {&newIndex, &newHeader}) {
            io::Fd fd(::open(path->c_str(), O_RDONLY | O_CLOEXEC));
            ok = ok && fd && io::SyncFile(fd.get());
        }
        if (!ok) {
            err = errno;
        }
    }
    if (ok && std::rename(newIndex.c_str(), sidPath.c_str()) != 0) {
        err = errno;
        ok = false;
    }
    // A stop here leaves the new header file alone under its temporary name,
    // which FinishPendingReplace takes for the second half of this step.
    if (ok && std::rename(newHeader.c_str(), kvtPath.c_str()) != 0) {
        err = errno;
        ok = false;
    }
    if (ok) {
        io::SyncFolderOf(sidPath);
        return true;
    }
    // The entries already carry the new positions: an index that does not
    // match them must not stay, or a later deletion would pick the wrong mail.
    DiscardHeaderAndIndex();
    if (err != 0) {
        ShowSystemError(prompt, err);
    }
    return false;
}

void CMailboxFiles::DiscardHeaderAndIndex() {
    for (const std::string& path : {sidPath, kvtPath, NewIndexPath(), NewHeaderPath()}) {
        ::unlink(path.c_str());
    }
}

void CMailboxFiles::FinishPendingReplace() {
    const std::string newIndex = NewIndexPath();
    const std::string newHeader = NewHeaderPath();
    // Only a file this program wrote; never a link or a folder put there.
    if (!io::IsRegularFile(newHeader)) {
        return;
    }
    if (io::Exists(newIndex)) {
        // A listing stopped before its files were complete: the old pair stays.
        ::unlink(newHeader.c_str());
        ::unlink(newIndex.c_str());
        return;
    }
    // The new index is in place; its header file follows it.
    if (std::rename(newHeader.c_str(), kvtPath.c_str()) != 0) {
        ::unlink(sidPath.c_str());
        ::unlink(newHeader.c_str());
    }
}

void LoadCachedList(CMailboxFiles& mailbox, MailList& list, Prompt& prompt,
                    const std::function<void(int done, int total)>& progressRange,
                    const std::function<void(int position)>& progressPos,
                    const std::function<void(int id)>& postStatus) {
    mailbox.ClearList(list);
    // The cache holds the server's order: no sort arrow may claim another.
    list.ClearSortIndicator();
    std::optional<std::int64_t> indexSize = io::RegularFileSize(mailbox.sidPath);
    std::optional<std::int64_t> headerSize = io::RegularFileSize(mailbox.kvtPath);
    if (!indexSize || !headerSize || *indexSize % static_cast<std::int64_t>(kIndexRecordSize) != 0) {
        return;
    }
    const std::int64_t records = *indexSize / static_cast<std::int64_t>(kIndexRecordSize);
    list.ReserveRows(static_cast<int>(std::min(records, kReserveLimit) + 10));
    if (postStatus) {
        postStatus(IDS_STATUS_CACHE_LOADING);
    }

    io::FilePtr index = io::Open(mailbox.sidPath, "rb");
    io::FilePtr header = io::Open(mailbox.kvtPath, "rb");
    // A header file that cannot be read gives empty blocks.
    std::int64_t headerLeft = header ? *headerSize : 0;
    try {
        mailbox.entries.reserve(static_cast<std::size_t>(records));
        std::string block;
        unsigned char bytes[kIndexRecordSize];
        int position = 0;
        int shown = 0;
        while (index && std::fread(bytes, 1, sizeof bytes, index.get()) == sizeof bytes) {
            YieldProcessor();
            ++position;
            IndexRecord record = DecodeIndexRecord(bytes);
            // Past the end of the header file a block is what could be read.
            std::int64_t want = std::clamp<std::int64_t>(record.headerLength, 0, headerLeft);
            block.resize(static_cast<std::size_t>(want));
            std::size_t got = want > 0 ? std::fread(block.data(), 1, block.size(), header.get()) : 0;
            block.resize(got);
            headerLeft -= static_cast<std::int64_t>(got);
            // The entry's id is its record's position, which is what seq
            // holds in every file this program writes.
            std::uint32_t id = record.seq != 0 ? static_cast<std::uint32_t>(position) : 0;
            MailEntry* entry = AddMailToList(list, block.data(), block.size(),
                                             static_cast<std::uint32_t>(record.size), id, -1, prompt);
            mailbox.entries.emplace_back(entry);
            if (id != 0) {
                ++shown;
                if (progressRange) {
                    progressRange(0, shown);
                }
                if (progressPos) {
                    progressPos(shown);
                }
            }
        }
    } catch (const std::bad_alloc& e) {
        // The rows loaded so far stay.
        PromptRequest request;
        request.text = e.what();
        request.caption = LoadString(kAppTitleId);
        request.buttons = PromptButtons::Ok;
        request.icon = PromptIcon::Exclamation;
        prompt.Ask(request);
        return;
    }
    if (postStatus) {
        postStatus(IDS_STATUS_CACHE_SHOWN);
    }
}

bool ClearCache(CMailboxFiles& mailbox, Prompt& prompt) {
    PromptRequest request;
    request.text = LoadString(IDS_CLEAR_CACHE_QUESTION);
    request.caption = LoadString(kAppTitleId);
    request.buttons = PromptButtons::YesNo;
    request.icon = PromptIcon::Question;
    request.defaultAnswer = PromptAnswer::No;
    if (prompt.Ask(request) != PromptAnswer::Yes) {
        return false;
    }
    // A cancelled operation gets a moment to let go of the files.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bool header = DeleteIfExists(mailbox.kvtPath, prompt);
    bool index = DeleteIfExists(mailbox.sidPath, prompt);
    return header && index;
}

bool DeleteIfExists(const std::string& path, Prompt& prompt) {
    if (!io::Exists(path)) {
        return true;
    }
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
        return true;
    }
    ShowSystemError(prompt, errno);
    return false;
}

}  // namespace wp
