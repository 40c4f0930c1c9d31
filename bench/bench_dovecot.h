#pragma once
// Benchmarks run outside ctest: they start the test Dovecot themselves when
// it is not running, in the build's own folder.

#include "support/dovecot.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace wp::bench {

inline test::DovecotServer EnsureDovecot() {
    test::DovecotServer server = test::FindDovecot();
    if (server) {
        return server;
    }
    std::string command = std::string(WRENPOST_SOURCE_DIR) + "/tests/support/dovecot-ctl start '" +
                          test::DovecotDir() + "' >/dev/null";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "could not start Dovecot: %s\n", command.c_str());
        std::exit(1);
    }
    server = test::FindDovecot();
    if (!server) {
        std::fprintf(stderr, "%s\n", server.error.c_str());
        std::exit(1);
    }
    return server;
}

// A typical small Japanese mail: ISO-2022-JP subject and sender, a few
// received lines, a short body.
inline std::string SampleMail(int n) {
    std::string number = std::to_string(n);
    return "Return-Path: <sender" + number + "@example.jp>\n"
           "Received: from mx.example.jp (mx.example.jp [192.0.2.1])\n"
           "\tby pop.example.jp with ESMTP id " + number + "\n"
           "\tfor <user@example.jp>; Mon, 7 Mar 2005 09:05:00 +0900\n"
           "Message-ID: <" + number + "@example.jp>\n"
           "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <sender" + number + "@example.jp>\n"
           "To: user@example.jp\n"
           "Subject: =?ISO-2022-JP?B?GyRCJCIkJCQmJCgkKhsoQg==?= " + number + "\n"
           "Date: Mon, 7 Mar 2005 09:05:00 +0900\n"
           "MIME-Version: 1.0\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\n"
           "Content-Transfer-Encoding: 7bit\n"
           "\n"
           "\x1b$B$3$s$K$A$O\x1b(B\n"
           "body line " + number + "\n";
}

}  // namespace wp::bench
