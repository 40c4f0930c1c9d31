// Time of one listing's commands over POP3S through the project's session
// against the test Dovecot, beside the same commands through Python's
// poplib.POP3_SSL (bench/pop3s_listing.py).
//
//   bench_pop3s_listing [mails]      (default 10000)

#include "bench/bench_dovecot.h"
#include "net/pop3_session.h"

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
    host.responsePath = wp::test::DovecotDir() + "/bench-pop3s.lst_";
    auto start = Clock::now();
    session.Prepare(window.get(), &host);
    session.SetLogin("localhost", server.tlsPort, user.c_str(), password.c_str(), 0);
    session.SetSecurity(wp::TlsMode::kTls, wp::Fingerprint{});
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

double PoplibRun(const wp::test::DovecotServer& server, const std::string& user, const std::string& password,
                 int mails, std::size_t* bytes) {
    std::string command = std::string("python3 '") + WRENPOST_SOURCE_DIR + "/bench/pop3s_listing.py' localhost " +
                          std::to_string(server.tlsPort) + " " + user + " " + password + " '" + server.caFile +
                          "' " + std::to_string(mails);
    FILE* pipe = popen(command.c_str(), "r");
    double seconds = 0;
    if (pipe == nullptr || std::fscanf(pipe, "%lf %zu", &seconds, bytes) != 2 || pclose(pipe) != 0) {
        std::fprintf(stderr, "poplib run failed: %s\n", command.c_str());
        std::exit(1);
    }
    return seconds;
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
    setenv("SSL_CERT_FILE", server.caFile.c_str(), 1);
    double bestSession = 1e9, bestPoplib = 1e9;
    std::size_t sessionBytes = 0, poplibBytes = 0;
    for (int round = 0; round < 3; ++round) {
        bestPoplib = std::min(bestPoplib, PoplibRun(server, user.name(), user.password(), mails, &poplibBytes));
        bestSession = std::min(bestSession, SessionRun(server, user.name(), user.password(), mails, &sessionBytes));
    }
    std::printf("POP3S login, STAT, LIST, UIDL and TOP n 0 for %d mails (%zu bytes received, poplib %zu)\n", mails,
                sessionBytes, poplibBytes);
    std::printf("  CPop3Session      %8.3f s  (%.1f us per mail)\n", bestSession, bestSession * 1e6 / mails);
    std::printf("  poplib.POP3_SSL   %8.3f s  (%.1f us per mail)\n", bestPoplib, bestPoplib * 1e6 / mails);
    std::printf("  ratio             %8.2f\n", bestSession / bestPoplib);
    return 0;
}
