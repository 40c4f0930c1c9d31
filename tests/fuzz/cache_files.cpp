// The cache files as another process or a damaged disk may leave them: the
// index (.sid), the header file (.kvt) and the LIST/UIDL response file,
// read by the listing at an account switch and by a listing run.

#include "fuzz_files.h"
#include "mail/index_file.h"
#include "mail/mailbox_files.h"
#include "mail/memory_list.h"
#include "platform/prompt.h"

#include <QCoreApplication>

#include <cstdint>
#include <string>

namespace {

class SilentPrompt : public wp::Prompt {
public:
    wp::PromptAnswer Ask(const wp::PromptRequest& request) override { return request.defaultAnswer; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view pieces[3];
    wp::fuzz::Split(std::string_view(reinterpret_cast<const char*>(data), size), pieces);
    const std::string folder = wp::fuzz::ScratchFolder() + "/Mail";
    wp::CMailboxFiles mailbox("fuzz", folder);
    wp::fuzz::WriteBytes(mailbox.sidPath, pieces[0]);
    wp::fuzz::WriteBytes(mailbox.kvtPath, pieces[1]);
    wp::fuzz::WriteBytes(mailbox.ResponsePath(), pieces[2]);

    SilentPrompt prompt;
    wp::MemoryList list;
    wp::LoadCachedList(mailbox, list, prompt, {}, {}, {});
    if (std::optional<wp::IndexFile> cache = wp::IndexFile::Read(mailbox.sidPath)) {
        for (int i = 0; i < cache->Count(); ++i) {
            (void)cache->HeaderOffset(i);
            wp::IndexRecord cached;
            std::int64_t offset = 0;
            (void)wp::FindCachedRecord(cache->Records()[static_cast<std::size_t>(i)], *cache, &cached, &offset);
        }
    }
    // The response file read as a listing of up to 64 mails, then as its ids.
    if (mailbox.WriteListIndex(64)) {
        (void)mailbox.WriteUidIndex();
        (void)wp::IndexFile::ReadRecords(mailbox.NewIndexPath());
    }
    mailbox.ClearList(list);
    return 0;
}
