// The header summary of a listing: 10,000 typical TOP n 0 blocks through
// AddMailToList into the in-memory list. "per_header" is the time of one.

#include "decode/header_summary.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "mail/add_mail_to_list.h"
#include "mail/memory_list.h"

namespace {

constexpr int kMails = 10000;

class SilentPrompt final : public wp::Prompt {
public:
    wp::PromptAnswer Ask(const wp::PromptRequest&) override { return wp::PromptAnswer::Ok; }
};

// About 1.5 KB each, as mail from Japanese and other mailers arrives: relay
// lines, B and Q words, raw Shift_JIS now and then, multipart and plain.
std::vector<std::string> TypicalBlocks() {
    const char* subjects[] = {
        "=?ISO-2022-JP?B?GyRCMnE1RCRON28bKEI=?=",
        "Re: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=",
        "=?iso-2022-jp?Q?=1B$B8+@Q=3Dq=1B(B?= (No. 42)",
        "\x8C\xA9\x90\xCF\x8F\x91\x82\xCC\x91\x97\x95\x74",  // raw Shift_JIS
        "Weekly report for the project",
    };
    const char* froms[] = {
        "=?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <yamada@example.jp>",
        "\"=?ISO-2022-JP?Q?=1B$B%F%9%H=1B(B?=\" <test@example.com>",
        "Suzuki Ichiro <suzuki@example.org>",
    };
    const char* types[] = {
        "text/plain; charset=ISO-2022-JP",
        "multipart/mixed;\r\n\tboundary=\"----=_NextPart_000_0012_01C52A3B.4F2E1C40\"",
        "text/html; charset=\"iso-2022-jp\"",
    };
    std::vector<std::string> blocks;
    blocks.reserve(kMails);
    for (int i = 0; i < kMails; ++i) {
        std::string b = "+OK " + std::to_string(1400 + i) + " octets\r\n";
        b += "Return-Path: <sender" + std::to_string(i) + "@example.jp>\r\n";
        for (int hop = 0; hop < 3; ++hop) {
            b += "Received: from relay" + std::to_string(hop) + ".example.net (relay.example.net [192.0.2." +
                 std::to_string(hop + 10) + "])\r\n\tby mx.example.com (Postfix) with ESMTP id 4F2A1" +
                 std::to_string(i) + "\r\n\tfor <user@example.com>; Mon, 7 Mar 2005 09:05:10 +0900 (JST)\r\n";
        }
        b += "Message-ID: <20050307090500." + std::to_string(i) + "@example.jp>\r\n";
        b += "Date: Mon, " + std::to_string(1 + i % 28) + " Mar 2005 09:05:00 " +
             (i % 4 == 0 ? "+0000" : "+0900") + "\r\n";
        b += std::string("From: ") + froms[i % 3] + "\r\n";
        b += "To: user@example.com\r\n";
        b += std::string("Subject: ") + subjects[i % 5] + "\r\n";
        b += "MIME-Version: 1.0\r\n";
        b += std::string("Content-Type: ") + types[i % 3] + "\r\n";
        b += "Content-Transfer-Encoding: 7bit\r\n";
        b += "X-Mailer: Example Mailer 6.00.2900.2180\r\n";
        b += "X-Priority: 3\r\n\r\n.\r\n";
        blocks.push_back(std::move(b));
    }
    return blocks;
}

void PerHeader(benchmark::State& state) {
    state.counters["per_header"] = benchmark::Counter(
        kMails, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_AddMailToList(benchmark::State& state) {
    const std::vector<std::string> blocks = TypicalBlocks();
    SilentPrompt prompt;
    for (auto _ : state) {
        wp::MemoryList list;
        list.ReserveRows(kMails + 10);
        std::vector<std::unique_ptr<wp::MailEntry>> entries;
        entries.reserve(kMails);
        for (int i = 0; i < kMails; ++i) {
            const std::string& b = blocks[i];
            entries.emplace_back(wp::AddMailToList(list, b.data(), b.size(), 1400, i + 1, nullptr, prompt));
        }
        benchmark::DoNotOptimize(list.RowCount());
    }
    PerHeader(state);
}
BENCHMARK(BM_AddMailToList)->Unit(benchmark::kMillisecond);

// The decode half alone, without the list.
void BM_SummarizeHeader(benchmark::State& state) {
    const std::vector<std::string> blocks = TypicalBlocks();
    for (auto _ : state) {
        for (const std::string& b : blocks) {
            wp::HeaderSummary s = wp::SummarizeHeader(b.data(), b.size(), 1400, 1);
            benchmark::DoNotOptimize(s.subject.data());
        }
    }
    PerHeader(state);
}
BENCHMARK(BM_SummarizeHeader)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
