// The encrypted login against scripted peers: what a server that cannot or
// will not do TLS properly gets, and that no password reaches it.

#include <gtest/gtest.h>

#include <QTimer>

#include <string>

#include "platform/text.h"
#include "session_fixture.h"
#include "support/scripted_peer.h"

namespace wp {
namespace {

using test::Pieces;
using test::ScriptedPeer;
using test::SessionFixture;

bool SentSecrets(const std::string& received) {
    return received.find("USER") != std::string::npos || received.find("PASS") != std::string::npos ||
           received.find("APOP") != std::string::npos;
}

TEST(Pop3Tls, StlsModeRefusesAServerThatDoesNotOfferIt) {
    struct Case {
        const char* name;
        const char* capaReply;
    } const cases[] = {
        {"no STLS in CAPA", "+OK\r\nUSER\r\nTOP\r\nSTLSX\r\n.\r\n"},
        {"no CAPA at all", "-ERR unknown command\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        peer.Greet().Expect("CAPA\r\n").Send(c.capaReply).Expect("QUIT\r\n").Send("+OK\r\n");
        peer.Start();
        SessionFixture f;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        f.session.SetSecurity(TlsMode::kStartTls, Fingerprint{});
        EXPECT_EQ(f.session.Login(), kLoginFailed);
        EXPECT_NE(Cp932ToUtf8(f.session.DetailText()).find("STARTTLS（STLS）に対応していません"), std::string::npos);
        EXPECT_EQ(f.Statuses().back(), IDS_STATUS_CONNECT_FAILED);
        peer.Check();
        EXPECT_FALSE(SentSecrets(peer.Received()));
    }
}

TEST(Pop3Tls, BytesPipelinedAfterTheStlsAnswerEndTheLogin) {
    const std::string answer = "+OK Begin TLS negotiation\r\n+OK injected\r\n";
    struct Case {
        const char* name;
        std::string answer;
        Pieces pieces;
    } const cases[] = {
        {"in the same segment", answer, Pieces::Whole()},
        {"in a segment of their own", answer, Pieces::At({27})},
        // Read ahead with the answer, past what one receive hands out.
        {"more than a receive buffer of them", answer + std::string(3 * CMailSocket::kBufferSize, 'x'),
         Pieces::Whole()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        peer.Greet()
            .Expect("CAPA\r\n")
            .Send("+OK\r\nSTLS\r\nUSER\r\n.\r\n")
            .Expect("STLS\r\n")
            .Send(c.answer, c.pieces)
            .Silence();
        peer.Start();
        SessionFixture f;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        f.session.SetSecurity(TlsMode::kStartTls, Fingerprint{});
        EXPECT_EQ(f.session.Login(), kLoginFailed);
        EXPECT_FALSE(f.session.Encrypted());
        EXPECT_TRUE(peer.WaitClosed());
        peer.Stop();
        EXPECT_FALSE(SentSecrets(peer.Received())) << peer.Received();
        EXPECT_EQ(peer.Received().find("QUIT"), std::string::npos) << "nothing more in clear";
        peer.TakeFailures();
    }
}

TEST(Pop3Tls, AServerThatIsNoTlsServerFailsTheHandshakeWithoutAPassword) {
    struct Case {
        const char* name;
        TlsMode mode;
    } const cases[] = {{"POP3S", TlsMode::kTls}, {"STLS", TlsMode::kStartTls}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        if (c.mode == TlsMode::kStartTls) {
            peer.Greet().Expect("CAPA\r\n").Send("+OK\r\nSTLS\r\n.\r\n").Expect("STLS\r\n").Send("+OK go\r\n");
        }
        // A plain POP3 greeting where the server's hello should be, once
        // the client's hello is there.
        peer.Hold().Send("+OK POP3 server ready\r\n").Silence();
        peer.Start();
        const std::size_t clear = c.mode == TlsMode::kStartTls ? std::string("CAPA\r\nSTLS\r\n").size() : 0;
        bool released = false;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (!released && peer.Received().size() > clear) {
                released = true;
                peer.Release();
            }
        });
        timer.start(2);
        SessionFixture f;
        f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
        f.session.SetSecurity(c.mode, Fingerprint{});
        EXPECT_EQ(f.session.Login(), kLoginFailed);
        EXPECT_NE(Cp932ToUtf8(f.session.DetailText()).find("TLS の接続に失敗しました"), std::string::npos)
            << Cp932ToUtf8(f.session.DetailText());
        EXPECT_TRUE(peer.WaitClosed());
        peer.Stop();
        EXPECT_FALSE(SentSecrets(peer.Received()));
        peer.TakeFailures();
    }
}

TEST(Pop3Tls, AStalledHandshakeEndsWithTheInactivityTimeout) {
    ScriptedPeer peer;
    peer.Silence();
    peer.Start();
    SessionFixture f;
    f.session.inactivityTimeout = std::chrono::milliseconds(500);
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    f.session.SetSecurity(TlsMode::kTls, Fingerprint{});
    EXPECT_EQ(f.session.Login(), kLoginFailed);
    EXPECT_NE(Cp932ToUtf8(f.session.DetailText()).find("タイムアウト"), std::string::npos);
    EXPECT_EQ(f.Statuses().back(), IDS_STATUS_CONNECT_FAILED);
    peer.Stop();
    EXPECT_FALSE(SentSecrets(peer.Received()));
}

TEST(Pop3Tls, CancelDuringTheHandshakeStopsAtOnce) {
    ScriptedPeer peer;
    peer.Silence();
    peer.Start();
    SessionFixture f;
    f.Begin(ScriptedPeer::host(), peer.port(), "alice", "secret");
    f.session.SetSecurity(TlsMode::kTls, Fingerprint{});
    // The hello has reached the peer: the session waits in the handshake.
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!peer.Received().empty()) {
            f.session.cancel = 1;
        }
    });
    timer.start(2);
    EXPECT_EQ(f.session.Login(), kLoginFailed);
    EXPECT_EQ(f.Statuses().back(), IDS_STATUS_CANCELLED);
    EXPECT_TRUE(peer.WaitClosed());
    peer.Stop();
    EXPECT_FALSE(SentSecrets(peer.Received()));
}

TEST(Pop3Tls, FingerprintsReadWithOrWithoutColons) {
    Fingerprint print{};
    for (std::size_t i = 0; i < print.size(); ++i) {
        print[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    const std::string text = FingerprintText(print);
    std::string bare;
    for (char ch : text) {
        if (ch != ':') {
            bare += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
    }
    struct Case {
        std::string text;
        bool ok;
    } const cases[] = {
        {text, true},
        {bare, true},
        {bare.substr(2), false},           // a byte short
        {bare + "00", false},              // a byte too many
        {bare.substr(1) + "0", true},      // still 64 digits (another print)
        {"0:" + text.substr(1), false},  // a colon inside a byte
        {bare.substr(0, 63) + "g", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Fingerprint read{};
        EXPECT_EQ(ParseFingerprint(c.text, &read), c.ok);
        if (c.text == text || c.text == bare) {
            EXPECT_EQ(read, print);
        }
    }
}

}  // namespace
}  // namespace wp
