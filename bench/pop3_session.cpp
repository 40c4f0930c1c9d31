// Time of one listing's commands through the project's session against the
// test Dovecot, beside the same commands through a plain blocking client.
//
//   bench_pop3_session [mails]      (default 10000)

#include "bench/bench_dovecot.h"
#include "net/pop3_session.h"
#include "support/blocking_pop3.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class NullWindow : public wp::MessageHandler {
public:
    wp::LResult HandleMessage(std::uint32_t, wp::WParam, wp::LParam) override { return 0; }
};

class CountingHost : public wp::SessionHost {
public:
    std::string ResponseFilePath() override { return responsePath; }
    void AppendCapture(const char*, std::size_t length) override { captured += length; }
    void ProgressAddBytes(int) override {}
    void ClearViewerText() override {}
    void AppendViewerText(const char*, std::size_t, int) override {}
    std::string responsePath;
    std::size_t captured = 0;
};

double SessionRun(const wp::test::DovecotServer& server, const std::string& user, const std::string& password,
                  int mails, std::size_t* bytes) {
    NullWindow handler;
    auto window = wp::MakeQtWindow(handler);
    wp::CMailSocket socket;
    wp::CPop3Session session(socket);
    CountingHost host;
    host.responsePath = wp::test::DovecotDir() + "/bench-session.lst_";
    auto start = Clock::now();
    session.Prepare(window.get(), &host);
    session.SetLogin(server.host.c_str(), server.port, user.c_str(), password.c_str(), 0);
    if (session.Login() != wp::kLoginOk || session.Stat() != 1 || session.List() != 1 || session.Uidl() != 1) {
        std::fprintf(stderr, "session: login or listing failed\n");
        std::exit(1);
    }
    for (int n = 1; n <= mails; ++n) {
        if (session.Top(n) == 0) {
            std::fprintf(stderr, "session: TOP %d failed\n", n);
            std::exit(1);
        }
    }
    session.Quit(true);
    *bytes = host.captured;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double BlockingRun(const wp::test::DovecotServer& server, const std::string& user, const std::string& password,
                   int mails, std::size_t* bytes) {
    wp::test::BlockingPop3 client;
    auto start = Clock::now();
    if (!client.Connect(server.host, server.port) || !client.LoginUser(user, password)) {
        std::fprintf(stderr, "blocking client: %s\n", client.error().c_str());
        std::exit(1);
    }
    std::string reply;
    client.Command("STAT");
    client.MultiLine("LIST", reply);
    client.MultiLine("UIDL", reply);
    std::size_t total = 0;
    for (int n = 1; n <= mails; ++n) {
        if (!client.MultiLine("TOP " + std::to_string(n) + " 0", reply)) {
            std::fprintf(stderr, "blocking client: TOP %d failed\n", n);
            std::exit(1);
        }
        total += reply.size();
    }
    client.Command("QUIT");
    *bytes = total;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int mails = argc > 1 ? std::atoi(argv[1]) : 10000;
    auto server = wp::bench::EnsureDovecot();
    auto user = wp::test::LeaseUser();
    if (!user) {
        std::fprintf(stderr, "%s\n", user.error().c_str());
        return 1;
    }
    std::vector<std::string> box;
    box.reserve(static_cast<std::size_t>(mails));
    for (int n = 0; n < mails; ++n) {
        box.push_back(wp::bench::SampleMail(n));
    }
    if (!wp::test::FillMailbox(user.name(), box)) {
        std::fprintf(stderr, "could not fill the mailbox\n");
        return 1;
    }
    // Alternate the two clients and keep the best of three each, so neither
    // pays alone for a cold server cache or a busy moment.
    double bestSession = 1e9, bestBlocking = 1e9;
    std::size_t sessionBytes = 0, blockingBytes = 0;
    for (int round = 0; round < 3; ++round) {
        bestBlocking = std::min(bestBlocking, BlockingRun(server, user.name(), user.password(), mails, &blockingBytes));
        bestSession = std::min(bestSession, SessionRun(server, user.name(), user.password(), mails, &sessionBytes));
    }
    if (sessionBytes != blockingBytes) {
        std::fprintf(stderr, "the two clients received different TOP bytes: %zu and %zu\n", sessionBytes,
                     blockingBytes);
        return 1;
    }
    std::printf("login, STAT, LIST, UIDL and TOP n 0 for %d mails (%zu bytes of headers)\n", mails, sessionBytes);
    std::printf("  CPop3Session     %8.3f s  (%.1f us per mail)\n", bestSession, bestSession * 1e6 / mails);
    std::printf("  blocking client  %8.3f s  (%.1f us per mail)\n", bestBlocking, bestBlocking * 1e6 / mails);
    std::printf("  ratio            %8.2f\n", bestSession / bestBlocking);
    return 0;
}
