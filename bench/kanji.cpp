// Throughput of the code conversion and detection on a ~20 MB Japanese text,
// beside glibc iconv(3) on the same buffers, with the ratio printed at the end.

#include <benchmark/benchmark.h>
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "decode/kanji_converter.h"
#include "decode/kanji_stream.h"
#include "platform/text.h"

namespace {

using wp::CKanjiConverter;

constexpr std::size_t kTargetSize = 20 * 1000 * 1000;

// Pieces of everyday mail text, in UTF-8.
const char* const kWords[] = {
    "お世話になっております",
    "株式会社",
    "打ち合わせ",
    "資料",
    "確認",
    "よろしくお願いします",
    "来週",
    "会議室",
    "見積もり",
    "について",
    "です",
    "ます",
    "した",
    "ありがとうございます",
    "システム",
    "サーバー",
    "メール",
    "プロジェクト",
    "スケジュール",
    "データベース",
    "ファイル",
    "東京都",
    "大阪",
    "担当者",
    "営業部",
    "開発",
    "納品",
    "請求書",
    "添付",
    "予定",
    "変更",
    "、",
    "。",
    "「",
    "」",
    "（",
    "）",
    "・",
    "※",
    "★",
    "○",
    "→",
    "：",
    "１０日",
    "３階",
    "鯖",
    "鰻",
    "蕎麦",
    "檜",
    "齋藤",
    "渡邊",
};
const char* const kAscii[] = {
    "OK",
    "PDF",
    "Re:",
    "http://example.jp/",
    "2025/06/03",
    "10:30",
    "No.123",
    "v2.1",
    "-",
    "(1)",
    "TEL 03-1234-5678",
    "mail@example.co.jp",
    "ID:",
    "100",
    "50%",
    "A-4",
    "PC",
    "FAX",
};

std::string Utf8Text() {
    std::mt19937 rng(12345);
    std::string text =
        "From: tanaka@example.jp\r\nTo: suzuki@example.com\r\nSubject: report\r\n"
        "Date: Tue, 3 Jun 2025 10:15:00 +0900\r\nMIME-Version: 1.0\r\n\r\n";
    std::string line;
    while (text.size() < kTargetSize * 3 / 2) {  // UTF-8 takes about 1.5 bytes per CP932 byte here
        line.clear();
        const int pieces = 8 + static_cast<int>(rng() % 16);
        for (int i = 0; i < pieces; ++i) {
            if (rng() % 5 == 0) {
                line += ' ';
                line += kAscii[rng() % std::size(kAscii)];
                line += ' ';
            } else {
                line += kWords[rng() % std::size(kWords)];
            }
        }
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string IconvAll(const char* from, const char* to, const std::string& in) {
    iconv_t cd = iconv_open(to, from);
    std::string out(in.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    if (cd == reinterpret_cast<iconv_t>(-1) ||
        iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) ||
        iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
        std::fprintf(stderr, "iconv %s -> %s failed\n", from, to);
        std::exit(1);
    }
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

struct Texts {
    std::string sjis, jis, euc, undecided;
};

const Texts& GetTexts() {
    static const Texts texts = [] {
        Texts t;
        t.sjis = wp::Utf8ToCp932(Utf8Text()).value();
        t.jis = IconvAll("CP932", "ISO-2022-JP", t.sjis);
        t.euc = IconvAll("CP932", "EUC-JP", t.sjis);
        // Lines of ASCII and EUC-JP hiragana decide nothing: detection reads it all.
        const std::string line = "plain ascii words and \xA4\xA2\xA4\xA4\xA4\xA6\xA4\xA8 hiragana\r\n";
        while (t.undecided.size() < t.sjis.size()) {
            t.undecided += line;
        }
        // The figures mean nothing if we are not converting what glibc converts.
        if (CKanjiConverter::Convert(t.jis.data(), t.jis.size(), wp::KANJI_JIS, wp::KANJI_SJIS) != t.sjis ||
            CKanjiConverter::Convert(t.euc.data(), t.euc.size(), wp::KANJI_EUC, wp::KANJI_SJIS) != t.sjis) {
            std::fprintf(stderr, "the converter disagrees with glibc on the benchmark text\n");
            std::exit(1);
        }
        std::printf("text: %.1f MB Shift_JIS, %.1f MB JIS, %.1f MB EUC-JP\n", t.sjis.size() / 1e6,
                    t.jis.size() / 1e6, t.euc.size() / 1e6);
        return t;
    }();
    return texts;
}

// A 5 MB JIS mail of short lines as the view benchmark serves it: every line
// switches to kanji and back, so the escapes and the short roman runs cost as
// much as the pairs.
const std::string& ShortLinesJis() {
    static const std::string text = [] {
        std::string t = "From: bench@example.jp\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n";
        for (int i = 0; t.size() < (5u << 20); ++i) {
            t += "\x1b$B$3$s$K$A$O!\"Bg$-$J%a!<%k$G$9!#\x1b(B line " + std::to_string(i) + "\r\n";
        }
        return t;
    }();
    return text;
}

const std::string& Text(std::int32_t code) {
    const Texts& t = GetTexts();
    return code == wp::KANJI_JIS ? t.jis : code == wp::KANJI_EUC ? t.euc : t.sjis;
}

void BM_Convert(benchmark::State& state, std::int32_t source, std::int32_t target) {
    const std::string& in = Text(source);
    for (auto _ : state) {
        std::string out = CKanjiConverter::Convert(in.data(), in.size(), source, target);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_ShortLines(benchmark::State& state) {
    const std::string& in = ShortLinesJis();
    for (auto _ : state) {
        std::string out = CKanjiConverter::Convert(in.data(), in.size(), wp::KANJI_JIS, wp::KANJI_SJIS);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

// The same fed in the pieces a RETR arrives in, as the viewer's fetch does.
void BM_ShortLinesStream(benchmark::State& state) {
    const std::string& in = ShortLinesJis();
    const auto piece = static_cast<std::size_t>(state.range(0));
    std::string out;
    out.reserve(in.size() + 64);
    for (auto _ : state) {
        out.clear();
        wp::KanjiStreamConverter converter(wp::KANJI_JIS, wp::KANJI_SJIS);
        for (std::size_t at = 0; at < in.size(); at += piece) {
            converter.Feed(in.data() + at, std::min(piece, in.size() - at), out);
        }
        converter.Finish(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_Iconv(benchmark::State& state, std::int32_t source, const char* from) {
    const std::string& in = Text(source);
    std::string out(in.size() * 2 + 16, '\0');
    iconv_t cd = iconv_open("CP932", from);
    for (auto _ : state) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = out.data();
        std::size_t dstLeft = out.size();
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
            state.SkipWithError("iconv failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_Detect(benchmark::State& state, int which) {
    const Texts& t = GetTexts();
    const std::string& in = which == 3 ? t.undecided : Text(which);
    std::int32_t code = 0;
    for (auto _ : state) {
        code = CKanjiConverter::DetectCode(in.data(), in.size());
        benchmark::DoNotOptimize(code);
    }
    state.counters["code"] = code;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

BENCHMARK_CAPTURE(BM_Convert, jis_to_sjis, wp::KANJI_JIS, wp::KANJI_SJIS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShortLines)->Name("BM_Convert/jis_short_lines")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShortLinesStream)->Name("BM_Stream/jis_short_lines")->Arg(16384)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Iconv, jis_to_cp932, wp::KANJI_JIS, "ISO-2022-JP")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, euc_to_sjis, wp::KANJI_EUC, wp::KANJI_SJIS)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Iconv, euc_to_cp932, wp::KANJI_EUC, "EUC-JP")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, sjis_to_sjis, wp::KANJI_SJIS, wp::KANJI_SJIS)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, sjis_to_jis, wp::KANJI_SJIS, wp::KANJI_JIS)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, sjis_to_euc, wp::KANJI_SJIS, wp::KANJI_EUC)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, jis_to_euc, wp::KANJI_JIS, wp::KANJI_EUC)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Detect, sjis, wp::KANJI_SJIS)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Detect, jis, wp::KANJI_JIS)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Detect, euc, wp::KANJI_EUC)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Detect, undecided_lines, 3)->Unit(benchmark::kMillisecond);

// Keeps the rate of every run so the comparison can be printed at the end.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto it = run.counters.find("bytes_per_second");
            if (run.run_type == Run::RT_Iteration && it != run.counters.end()) {
                rates[run.benchmark_name()] = it->second.value / 1e6;
            }
        }
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    GetTexts();
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nMB/s of the source text\n");
    for (const auto& [name, rate] : reporter.rates) {
        std::printf("  %-34s %8.1f\n", name.c_str(), rate);
    }
    const std::pair<const char*, const char*> pairs[] = {
        {"BM_Convert/jis_to_sjis", "BM_Iconv/jis_to_cp932"},
        {"BM_Convert/euc_to_sjis", "BM_Iconv/euc_to_cp932"},
    };
    for (const auto& [ours, theirs] : pairs) {
        auto a = reporter.rates.find(ours);
        auto b = reporter.rates.find(theirs);
        if (a != reporter.rates.end() && b != reporter.rates.end() && b->second > 0) {
            std::printf("  %s / %s = %.2f\n", ours, theirs, a->second / b->second);
        }
    }
    benchmark::Shutdown();
    return 0;
}
