#pragma once
// The raw text of the mail a viewer shows: the account's message file, kept
// open by the viewer that stored it. Another window or wrenpost-cli on the
// same data folder may store its own mail under the same name meanwhile;
// the file is always replaced, never rewritten in place, so what this viewer
// reads again (code choice, save) is still its own mail, and it deletes the
// file at the end only while the name still holds that mail.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace wp {

class StoredMail {
public:
    // No mail: what a viewer holds until a fetch has stored one.
    StoredMail() = default;

    // Replaces the file at `path` with `raw`: a private sibling is written
    // whole first and then renamed over it. nullopt (errno set) when that
    // fails; the old file then stays.
    static std::optional<StoredMail> Write(const std::string& path, std::string_view raw);

    bool Empty() const { return file_ == nullptr; }
    // The same stored file (copies of one Write), or both empty.
    bool SameAs(const StoredMail& other) const { return file_ == other.file_; }
    // The file's path; empty for no mail.
    const std::string& Path() const;
    // The whole stored mail; nullopt for no mail or when it cannot be read.
    std::optional<std::string> Read() const;
    // Deletes the file when its name still holds this mail, and forgets it.
    void Remove();

private:
    friend class StoredMailWriter;
    struct File;
    std::shared_ptr<const File> file_;
};

// The same replace as StoredMail::Write for a reply that arrives in pieces:
// each piece goes to the private sibling as it comes, so the whole reply is
// never held for the file. The sibling is deleted unless Commit renames it.
class StoredMailWriter {
public:
    explicit StoredMailWriter(std::string path);
    ~StoredMailWriter();
    StoredMailWriter(const StoredMailWriter&) = delete;
    StoredMailWriter& operator=(const StoredMailWriter&) = delete;

    // After a failure the rest is dropped; Commit then fails.
    void Append(std::string_view bytes);
    // The whole reply is in: the file at `path` is replaced. nullopt (errno
    // set) when any step failed; the old file then stays.
    std::optional<StoredMail> Commit();

private:
    bool Put(std::string_view bytes);
    bool Flush();

    std::string path_;
    std::string sibling_;
    int fd_ = -1;
    bool failed_ = false;
    int error_ = 0;
    std::int64_t written_ = 0;
    std::string pending_;
};

}  // namespace wp
