#pragma once

// The Dovecot server that tests/support/dovecot-ctl starts once per test run
// (the CTest fixture "dovecot"), seen from a test:
//
//   auto server = wp::test::FindDovecot();
//   ASSERT_TRUE(server) << server.error;
//   auto user = wp::test::LeaseUser();            // a tNN no other test holds
//   ASSERT_TRUE(user) << user.error();
//   ASSERT_TRUE(wp::test::FillMailbox(user.name(), {"Subject: a\n\nbody\n"}));
//   ... log in at server.host:server.port as user.name()/user.password() ...
//   EXPECT_EQ(wp::test::MailboxCount(user.name()), 1u);
//
// Tests that change a mailbox must lease its user first: tests run in
// parallel processes (ctest -j) against the one server.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wp::test {

struct DovecotServer {
    std::string dir;  // the fixture's folder (config, logs, mail, leases)
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;     // plain POP3, offering STLS
    std::uint16_t tlsPort = 0;  // POP3S on 127.0.0.1, .2 and .3 (see dovecot-ctl)
    std::string caFile;         // the test CA that signed the certificates
    uid_t uid = 0;  // owner of the mail files
    gid_t gid = 0;
    std::string error;  // why the server cannot be used; empty when it can

    explicit operator bool() const { return error.empty(); }
};

// The fixture's folder: $WRENPOST_DOVECOT_DIR when set, else the build's.
std::string DovecotDir();

// Reads the port and mail owner the fixture wrote and makes sure the server
// answers there; `error` says what is missing and how to start it.
DovecotServer FindDovecot();

struct DovecotUser {
    std::string name;
    std::string password;
};

// The fixture's users: "t01".."t60" (password "pw-tNN"), "alice"
// ("wonderland") and "bob" ("builder"). Empty for any other name.
DovecotUser DovecotCredentials(std::string_view name);

// Exclusive use of one user's mailbox across threads and processes, until
// the lease is destroyed or released.
class DovecotUserLease {
public:
    DovecotUserLease() = default;
    DovecotUserLease(DovecotUserLease&& other) noexcept;
    DovecotUserLease& operator=(DovecotUserLease&& other) noexcept;
    DovecotUserLease(const DovecotUserLease&) = delete;
    DovecotUserLease& operator=(const DovecotUserLease&) = delete;
    ~DovecotUserLease();

    explicit operator bool() const { return fd_ >= 0; }
    const std::string& name() const { return user_.name; }
    const std::string& password() const { return user_.password; }
    const std::string& error() const { return error_; }
    void Release();

private:
    friend DovecotUserLease LeaseUser(std::chrono::milliseconds bound);
    friend DovecotUserLease LeaseNamedUser(std::string_view name, std::chrono::milliseconds bound);
    static bool TryLock(const std::string& name, DovecotUserLease& lease);

    int fd_ = -1;
    DovecotUser user_;
    std::string error_;
};

// The first of t01..t60 that nobody holds; waits up to `bound` while all are
// taken.
DovecotUserLease LeaseUser(std::chrono::milliseconds bound = std::chrono::seconds(60));
// That user, waiting up to `bound` while another test holds it.
DovecotUserLease LeaseNamedUser(std::string_view name,
                                std::chrono::milliseconds bound = std::chrono::seconds(60));

// A mail as it is stored: bare LF line ends become CR LF, everything else
// (CR LF, a lone CR, 8-bit bytes) stays as given.
std::string ToCrlf(std::string_view mail);

// Replaces everything in the user's mailbox with `mails`, which the next
// login sees as messages 1..n in this order, with LIST sizes equal to the
// stored (CR LF) sizes. Waits (bounded) for a session of the user that is
// still ending. Unique ids never repeat those of an earlier fill.
testing::AssertionResult FillMailbox(std::string_view user, const std::vector<std::string>& mails);

// Adds `mails` behind those the mailbox holds, as a delivery does: the next
// login sees them as new messages after the others, with new unique ids.
testing::AssertionResult DeliverMail(std::string_view user, const std::vector<std::string>& mails);

// The user's stored mails, in the order they were filled (deleted ones gone).
std::vector<std::string> MailboxMails(std::string_view user);
// How many mails the user's mailbox holds.
std::size_t MailboxCount(std::string_view user);

// A test that owns one leased mailbox of the running server.
class DovecotMailboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = FindDovecot();
        ASSERT_TRUE(server_) << server_.error;
        user_ = LeaseUser();
        ASSERT_TRUE(user_) << user_.error();
    }
    // "host:port", as an account's server field holds it.
    std::string ServerText() const { return server_.host + ":" + std::to_string(server_.port); }

    DovecotServer server_;
    DovecotUserLease user_;
};

}  // namespace wp::test
