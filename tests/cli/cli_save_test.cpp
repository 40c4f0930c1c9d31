// save through the real program against Dovecot: one line per file written,
// the names of the save command, a folder typed without its "/", the exit
// statuses, and the arguments it refuses.

#include <gtest/gtest.h>

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

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class CliSaveDovecot : public test::DovecotMailboxTest {
protected:
    void AddAndList(CliRunner& cli) {
        CliResult r = cli.Run({"account", "add", "受信箱", "--server", ServerText(), "--login", user_.name(),
                               "--password", user_.password()});
        ASSERT_EQ(r.status, 0) << r.err;
        r = cli.Run({"list", "受信箱"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
};

TEST_F(CliSaveDovecot, WritesOneFilePerMailAndPrintsItsPath) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: Re: hello\n\none\n..\n", "Subject: skip\n\nx\n",
                                                 "Subject: Re: hello\n\nthree\n"}));
    CliRunner cli;
    AddAndList(cli);
    const std::string folder = cli.File("saved");
    std::filesystem::create_directories(folder);

    CliResult r = cli.Run({"save", "受信箱", "1", "3", "--to", folder});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, folder + "/Re_ hello.eml\n" + folder + "/Re_ hello(1).eml\n");
    // The server sent that line as "...": the file holds the mail itself.
    EXPECT_EQ(Read(folder + "/Re_ hello.eml"), "Subject: Re: hello\r\n\r\none\r\n..\r\n");

    // Again into the same folder: nothing is replaced.
    r = cli.Run({"save", "受信箱", "1", "--to", folder + "/"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, folder + "/Re_ hello(2).eml\n");
    EXPECT_EQ(Read(folder + "/Re_ hello(1).eml"), "Subject: Re: hello\r\n\r\nthree\r\n");
}

TEST_F(CliSaveDovecot, AMailGoneFromTheServerEndsWithThreeAndIsNamed) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: gone\n\nbody\n"}));
    CliRunner cli;
    AddAndList(cli);
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: another\n\nbody\n"}));
    const std::string folder = cli.File("saved");
    std::filesystem::create_directories(folder);
    CliResult r = cli.Run({"save", "受信箱", "1", "--to", folder});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(test::Contains(r.err, "gone.eml")) << r.err;
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST(CliSave, RefusesBadArguments) {
    CliRunner cli;
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"save", "acc", "1"}, 64},                                   // no --to
        {{"save", "acc", "--to", "/tmp"}, 64},                         // no INDEX
        {{"save", "acc", "0", "--to", "/tmp"}, 64},                    // rows count from 1
        {{"save", "acc", "1", "--to", cli.File("no-such-folder")}, 1},  // a folder that is not there
        {{"save", "nobody", "1", "--to", "/tmp"}, 1},                  // no such account
    };
    for (const Case& c : cases) {
        CliResult r = cli.Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[2] << ": " << r.err;
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
}  // namespace wp
