// The text `view` prints for today's mail equals what Python's email
// package reads from the same mail (policy default, get_body plain then
// html): the corpus and Python's readings are in mime-corpus/, written by
// its make-corpus.py. Lines are compared without trailing blanks; an HTML
// body is compared on its words, as markup leaves blanks where it will.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "support/dovecot.h"

namespace wp {
namespace {

using test::CliResult;
using test::CliRunner;

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Trailing blanks of each line and empty lines at the end go.
std::string TrimLines(std::string_view text) {
    std::string out;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(at, end - at);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        out.append(line);
        out += '\n';
        at = end + 1;
    }
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

// The text without any blank, no-break spaces included.
std::string Words(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        }
        if (c == '\xC2' && i + 1 < text.size() && text[i + 1] == '\xA0') {
            ++i;
            continue;
        }
        out += c;
    }
    return out;
}

class CliMimeCorpusDovecot : public test::DovecotMailboxTest {};

TEST_F(CliMimeCorpusDovecot, ViewPrintsWhatPythonsEmailPackageReads) {
    const std::filesystem::path folder = std::filesystem::path(WRENPOST_SOURCE_DIR) / "tests/cli/mime-corpus";
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".eml") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 30u);
    std::vector<std::string> mails;
    for (const auto& file : files) {
        mails.push_back(ReadFile(file));
    }
    ASSERT_TRUE(test::FillMailbox(user_.name(), mails));

    CliRunner cli;
    CliResult r = cli.Run({"account", "add", "corpus", "--server", ServerText(), "--login", user_.name(),
                           "--password", user_.password()});
    ASSERT_EQ(r.status, 0) << r.err;
    r = cli.Run({"list", "corpus"});
    ASSERT_EQ(r.status, 0) << r.err;

    int equal = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].filename().string());
        std::filesystem::path expectedPath = files[i];
        expectedPath.replace_extension(".expected");
        const std::string expected = ReadFile(expectedPath);
        const std::size_t kindEnd = expected.find('\n');
        ASSERT_NE(kindEnd, std::string::npos);
        const std::string kind = expected.substr(0, kindEnd);
        const std::string text = expected.substr(kindEnd + 1);

        r = cli.Run({"view", "corpus", std::to_string(i + 1)});
        ASSERT_EQ(r.status, 0) << r.err;
        // The text, then "--" and the attachment names.
        const std::size_t names = r.out.rfind("--\n");
        ASSERT_NE(names, std::string::npos) << r.out;
        const std::string shown = r.out.substr(0, names);
        if (kind == "html") {
            EXPECT_EQ(Words(shown), Words(text));
            equal += Words(shown) == Words(text) ? 1 : 0;
        } else {
            EXPECT_EQ(TrimLines(shown), TrimLines(text));
            equal += TrimLines(shown) == TrimLines(text) ? 1 : 0;
        }
    }
    RecordProperty("equal", equal);
    EXPECT_EQ(equal, static_cast<int>(files.size()));
}

}  // namespace
}  // namespace wp
