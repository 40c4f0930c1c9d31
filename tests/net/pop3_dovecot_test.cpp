// The POP3 session against a real Dovecot.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "session_fixture.h"
#include "support/dovecot.h"

namespace wp {
namespace {

using test::SessionFixture;

const std::vector<std::string> kMails = {
    "From: a@example.jp\nSubject: first\n\nbody one\n",
    "From: b@example.jp\nSubject: second\n\n.dot line\nbody two\n",
};

class Pop3SessionDovecot : public test::DovecotMailboxTest {
protected:
    void SetUp() override {
        test::DovecotMailboxTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(test::FillMailbox(user_.name(), kMails));
    }
};

TEST_F(Pop3SessionDovecot, LogsInWithUserPassAndWithApop) {
    for (int apop : {0, 1}) {
        SCOPED_TRACE(apop ? "APOP" : "USER/PASS");
        SessionFixture f;
        f.Begin(server_.host.c_str(), server_.port, user_.name().c_str(), user_.password().c_str(), apop);
        ASSERT_EQ(f.session.Login(), kLoginOk);
        EXPECT_EQ(f.session.Stat(), 1);
        std::string stat = f.session.reply;
        std::size_t total = test::ToCrlf(kMails[0]).size() + test::ToCrlf(kMails[1]).size();
        EXPECT_EQ(stat, "+OK 2 " + std::to_string(total) + "\r\n");
        EXPECT_EQ(f.session.Quit(true), 1);
        std::vector<int> expected = {IDS_STATUS_CONNECTING, IDS_STATUS_LOGGING_IN};
        if (!apop) {
            expected.push_back(IDS_STATUS_SENDING_PASSWORD);
        }
        EXPECT_EQ(f.Statuses(), expected);
    }
}

TEST_F(Pop3SessionDovecot, RepliesReachTheirDestinationsExactly) {
    SessionFixture f;
    f.Begin(server_.host.c_str(), server_.port, user_.name().c_str(), user_.password().c_str());
    ASSERT_EQ(f.session.Login(), kLoginOk);

    ASSERT_EQ(f.session.List(), 1);
    std::string list = test::ReadFile(f.host.responsePath);
    EXPECT_EQ(list.substr(0, 3), "+OK");
    EXPECT_NE(list.find("\r\n1 " + std::to_string(test::ToCrlf(kMails[0]).size()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(list.substr(list.size() - 5), "\r\n.\r\n");

    ASSERT_EQ(f.session.Uidl(), 1);
    std::string uidl = test::ReadFile(f.host.responsePath);
    EXPECT_NE(uidl.find("\r\n2 "), std::string::npos);
    EXPECT_EQ(uidl.substr(uidl.size() - 5), "\r\n.\r\n");

    int top = f.session.Top(1);
    EXPECT_EQ(top, static_cast<int>(f.host.capture.size()));
    EXPECT_EQ(f.host.capture.substr(0, 5), "+OK\r\n");
    EXPECT_NE(f.host.capture.find("Subject: first\r\n\r\n.\r\n"), std::string::npos);
    EXPECT_EQ(f.host.capture.find("body one"), std::string::npos);

    f.host.capture.clear();
    ASSERT_GT(f.session.Retr(2), 0);
    EXPECT_NE(f.host.capture.find("\r\n..dot line\r\nbody two\r\n.\r\n"), std::string::npos)
        << "dot-stuffed and terminated as on the wire";
    EXPECT_EQ(f.host.viewer, f.host.capture);
    f.session.Quit(true);
}

TEST_F(Pop3SessionDovecot, DeleThenQuitDeletes) {
    SessionFixture f;
    f.Begin(server_.host.c_str(), server_.port, user_.name().c_str(), user_.password().c_str());
    ASSERT_EQ(f.session.Login(), kLoginOk);
    EXPECT_GT(f.session.Dele(1), 0);
    EXPECT_EQ(f.session.Quit(true), 1);
    EXPECT_TRUE(test::PumpUntil([&] { return test::MailboxCount(user_.name()) == 1; }));
}

TEST_F(Pop3SessionDovecot, WrongPasswordIsRefused) {
    for (int apop : {0, 1}) {
        SessionFixture f;
        f.Begin(server_.host.c_str(), server_.port, user_.name().c_str(), "not-the-password", apop);
        int code = f.session.Login();
        EXPECT_TRUE(code == kLoginUserRefused || code == kLoginPassRefused) << code;
        EXPECT_EQ(f.Statuses().back(), IDS_LOGIN_REFUSED);
        EXPECT_EQ(f.socket.sock, -1);
    }
}

TEST_F(Pop3SessionDovecot, ClosedPortAndUnknownHostFailToConnect) {
    std::uint16_t closedPort = 0;
    {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        closedPort = ntohs(a.sin_port);
        close(fd);
    }
    struct Case {
        const char* host;
        std::uint16_t port;
        int error;
    } cases[] = {{"127.0.0.1", closedPort, wsa::WSAECONNREFUSED},
                 {"no-such-host.invalid", 110, wsa::WSAHOST_NOT_FOUND}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        SessionFixture f;
        f.Begin(c.host, c.port, "x", "y");
        EXPECT_EQ(f.session.Login(), kLoginFailed);
        EXPECT_EQ(f.socket.lastError, c.error);
        EXPECT_EQ(f.Statuses().back(), IDS_STATUS_CONNECT_FAILED);
    }
}

TEST_F(Pop3SessionDovecot, ServerClosingAnIdleLoginIsReportedOnTheUserInterfaceThread) {
    SessionFixture f;
    f.Begin(server_.host.c_str(), server_.port, user_.name().c_str(), user_.password().c_str());
    ASSERT_EQ(f.session.Login(), kLoginOk);
    f.session.SetIdleWatch(true);
    // The server ends the idle connection; here we make it do so by
    // shutting down our sending side, which Dovecot answers by closing.
    shutdown(f.socket.sock, SHUT_WR);
    ASSERT_TRUE(test::PumpUntil([&] { return f.window.Count(UM_OPERATIONDONE, 0) == 1; }));
    f.session.SetIdleWatch(false);
    f.session.Quit(false);
}

}  // namespace
}  // namespace wp
