#include "tests/support/dovecot.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/blocking_pop3.h"

namespace wp::test {
namespace {

using namespace std::chrono_literals;

// Logged in as a leased user whose mailbox holds `mails`.
class DovecotSession : public testing::Test {
protected:
    void SetUp() override {
        server_ = FindDovecot();
        ASSERT_TRUE(server_) << server_.error;
        user_ = LeaseUser();
        ASSERT_TRUE(user_) << user_.error();
    }

    void Login(const std::vector<std::string>& mails) {
        ASSERT_TRUE(FillMailbox(user_.name(), mails));
        ASSERT_TRUE(pop_.Connect(server_.host, server_.port)) << pop_.error();
        ASSERT_TRUE(pop_.LoginUser(user_.name(), user_.password())) << pop_.error();
    }

    // The multi-line reply's lines between status and terminator.
    static std::vector<std::string> BodyLines(const std::string& reply) {
        std::vector<std::string> lines;
        std::size_t at = reply.find("\r\n") + 2;
        while (at < reply.size()) {
            std::size_t eol = reply.find("\r\n", at);
            std::string line = reply.substr(at, eol - at);
            if (line == ".") {
                break;
            }
            lines.push_back(line);
            at = eol + 2;
        }
        return lines;
    }

    static std::string DotStuffed(const std::string& crlf) {
        std::string out;
        bool line_start = true;
        for (char c : crlf) {
            if (line_start && c == '.') {
                out += '.';
            }
            out += c;
            line_start = c == '\n';
        }
        return out;
    }

    DovecotServer server_;
    DovecotUserLease user_;
    BlockingPop3 pop_;
};

// Mails whose bytes a careless copy would change: 8-bit Japanese text, a
// line starting with a dot, LF and CR LF line ends, a lone CR.
std::vector<std::string> SampleMails() {
    std::vector<std::string> mails = {
        "From: a@example.jp\nSubject: plain\n\nbody one\n",
        "From: b@example.jp\r\nSubject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n\r\n\x1b$B%F%9%H\x1b(B\r\n",
        "From: c@example.jp\nSubject: sjis\nContent-Type: text/plain; charset=Shift_JIS\n\n"
        "\x83\x65\x83\x58\x83\x67\x5c\x95\x5c\n.leading dot\n..two dots\n",
        "From: d@example.jp\nSubject: euc\n\n\xa5\xc6\xa5\xb9\xa5\xc8 lone\rcr\n",
    };
    for (int i = 5; i <= 12; ++i) {
        mails.push_back("From: n" + std::to_string(i) + "@example.jp\nSubject: number " + std::to_string(i) +
                        "\n\n" + std::string(static_cast<std::size_t>(i * 37), 'x') + "\n");
    }
    return mails;
}

TEST_F(DovecotSession, UserPassLoginSeesEmptyMailbox) {
    Login({});
    EXPECT_EQ(pop_.Command("STAT"), "+OK 0 0\r\n");
}

TEST_F(DovecotSession, ApopLoginWithGreetingTimestamp) {
    const std::string mail = "Subject: one\n\nx\n";
    ASSERT_TRUE(FillMailbox(user_.name(), {mail}));
    ASSERT_TRUE(pop_.Connect(server_.host, server_.port)) << pop_.error();
    ASSERT_FALSE(ApopTimestamp(pop_.greeting()).empty()) << pop_.greeting();
    ASSERT_TRUE(pop_.LoginApop(user_.name(), user_.password())) << pop_.error();
    EXPECT_EQ(pop_.Command("STAT"), "+OK 1 " + std::to_string(ToCrlf(mail).size()) + "\r\n");
}

TEST_F(DovecotSession, WrongPasswordIsRefused) {
    struct Case {
        const char* name;
        bool apop;
    };
    for (const Case& c : {Case{"USER/PASS", false}, Case{"APOP", true}}) {
        BlockingPop3 pop;
        ASSERT_TRUE(pop.Connect(server_.host, server_.port)) << pop.error();
        bool ok = c.apop ? pop.LoginApop(user_.name(), "not-" + user_.password())
                         : pop.LoginUser(user_.name(), "not-" + user_.password());
        EXPECT_FALSE(ok) << c.name;
        EXPECT_NE(pop.error().find("-ERR"), std::string::npos) << c.name << ": " << pop.error();
    }
}

TEST_F(DovecotSession, StatCountsMailsAndTheirStoredSizes) {
    const auto mails = SampleMails();
    Login(mails);
    std::size_t total = 0;
    for (const auto& mail : mails) {
        total += ToCrlf(mail).size();
    }
    EXPECT_EQ(pop_.Command("STAT"),
              "+OK " + std::to_string(mails.size()) + " " + std::to_string(total) + "\r\n");
}

TEST_F(DovecotSession, ListUidlTopRetrGiveTheWrittenBytesInOrder) {
    const auto mails = SampleMails();
    Login(mails);

    auto list = BodyLines(pop_.MultiLine("LIST"));
    ASSERT_EQ(list.size(), mails.size());
    for (std::size_t i = 0; i < mails.size(); ++i) {
        EXPECT_EQ(list[i], std::to_string(i + 1) + " " + std::to_string(ToCrlf(mails[i]).size()));
    }

    auto uidl = BodyLines(pop_.MultiLine("UIDL"));
    ASSERT_EQ(uidl.size(), mails.size());
    std::set<std::string> ids;
    const std::regex line("([0-9]+) ([0-9a-f]+)");
    for (std::size_t i = 0; i < uidl.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(uidl[i], m, line)) << uidl[i];
        EXPECT_EQ(m[1], std::to_string(i + 1));
        ids.insert(m[2]);
    }
    EXPECT_EQ(ids.size(), mails.size());

    for (std::size_t i = 0; i < mails.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        const std::string stored = ToCrlf(mails[i]);
        const std::string header = stored.substr(0, stored.find("\r\n\r\n") + 4);
        std::string top = pop_.MultiLine("TOP " + n + " 0");
        ASSERT_TRUE(IsOk(top)) << top;
        EXPECT_EQ(top.substr(top.find("\r\n") + 2), DotStuffed(header) + ".\r\n") << "TOP " << n;
        std::string retr = pop_.MultiLine("RETR " + n);
        ASSERT_TRUE(IsOk(retr)) << retr;
        EXPECT_EQ(retr.substr(retr.find("\r\n") + 2), DotStuffed(stored) + ".\r\n") << "RETR " << n;
    }
}

TEST_F(DovecotSession, DeletionShowsInTheMailbox) {
    const std::vector<std::string> mails = {"Subject: 1\n\na\n", "Subject: 2\n\nb\n", "Subject: 3\n\nc\n"};
    Login(mails);
    EXPECT_EQ(MailboxCount(user_.name()), 3u);
    EXPECT_TRUE(IsOk(pop_.Command("DELE 2")));
    EXPECT_TRUE(IsOk(pop_.Command("QUIT")));
    pop_.Close();
    EXPECT_EQ(MailboxCount(user_.name()), 2u);
    EXPECT_EQ(MailboxMails(user_.name()), (std::vector<std::string>{ToCrlf(mails[0]), ToCrlf(mails[2])}));
}

TEST_F(DovecotSession, RefilledMailboxNeverRepeatsUniqueIds) {
    const std::vector<std::string> mails = {"Subject: same\n\nsame\n"};
    std::string first;
    for (int round = 0; round < 2; ++round) {
        Login(mails);
        std::string uidl = pop_.MultiLine("UIDL");
        ASSERT_TRUE(IsOk(uidl)) << uidl;
        EXPECT_TRUE(IsOk(pop_.Command("QUIT")));
        pop_.Close();
        if (round == 0) {
            first = uidl;
        } else {
            EXPECT_NE(uidl, first);
        }
    }
}

TEST_F(DovecotSession, RefillWaitsForALingeringSession) {
    // A session dropped without QUIT may still be closing when the next fill
    // starts; the fill must win.
    Login({"Subject: old\n\nold\n", "Subject: old2\n\nold\n"});
    EXPECT_TRUE(IsOk(pop_.MultiLine("UIDL")));
    pop_.Close();
    const std::string mail = "Subject: new\n\nnew\n";
    Login({mail});
    EXPECT_EQ(pop_.Command("STAT"), "+OK 1 " + std::to_string(ToCrlf(mail).size()) + "\r\n");
}

TEST(DovecotLease, HoldersNeverShareAUser) {
    auto a = LeaseUser();
    auto b = LeaseUser();
    ASSERT_TRUE(a) << a.error();
    ASSERT_TRUE(b) << b.error();
    EXPECT_NE(a.name(), b.name());
    EXPECT_EQ(b.password(), "pw-" + b.name());

    // Another process sees both as taken, and its own lease blocks ours.
    int to_parent[2];
    int to_child[2];
    ASSERT_EQ(pipe(to_parent), 0);
    ASSERT_EQ(pipe(to_child), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(to_parent[0]);
        close(to_child[1]);
        auto theirs = LeaseUser(1s);
        std::string name = theirs ? theirs.name() : "?";
        [[maybe_unused]] auto n = write(to_parent[1], name.data(), name.size());
        close(to_parent[1]);
        char c;
        [[maybe_unused]] auto m = read(to_child[0], &c, 1);  // hold until the parent closes
        _exit(0);
    }
    close(to_parent[1]);
    close(to_child[0]);
    char buffer[16] = {};
    ssize_t n = read(to_parent[0], buffer, sizeof buffer - 1);
    close(to_parent[0]);
    const std::string theirs(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    EXPECT_TRUE(theirs.size() == 3 && theirs[0] == 't') << theirs;
    EXPECT_NE(theirs, a.name());
    EXPECT_NE(theirs, b.name());
    EXPECT_FALSE(LeaseNamedUser(theirs, 0ms)) << "a user held by another process was leased again";

    close(to_child[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(LeaseNamedUser(theirs, 30s)) << "a lease outlived its process";

    a.Release();
    auto again = LeaseNamedUser(a.name(), 0ms);
    EXPECT_TRUE(again) << again.error();
}

TEST(DovecotLease, UnknownUsersAreRefused) {
    for (const char* name : {"t00", "t61", "carol", "", "../t01"}) {
        auto lease = LeaseNamedUser(name, 0ms);
        EXPECT_FALSE(lease) << name;
        EXPECT_FALSE(lease.error().empty()) << name;
        EXPECT_FALSE(FillMailbox(name, {})) << name;
    }
}

TEST(PeerSetup, MissingServerIsReportedClearly) {
    const char* saved = std::getenv("WRENPOST_DOVECOT_DIR");
    const std::string keep = saved ? saved : "";
    setenv("WRENPOST_DOVECOT_DIR", "/nonexistent/wrenpost-dovecot", 1);
    auto server = FindDovecot();
    auto fill = FillMailbox("t01", {"x\n"});
    if (saved) {
        setenv("WRENPOST_DOVECOT_DIR", keep.c_str(), 1);
    } else {
        unsetenv("WRENPOST_DOVECOT_DIR");
    }
    EXPECT_FALSE(server);
    EXPECT_NE(server.error.find("Dovecot is not running"), std::string::npos) << server.error;
    EXPECT_NE(server.error.find("dovecot-ctl start /nonexistent/wrenpost-dovecot"), std::string::npos)
        << server.error;
    EXPECT_FALSE(fill);
}

}  // namespace
}  // namespace wp::test
