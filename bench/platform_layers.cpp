// The text boundary runs over every mail shown; the profile opens its file
// for every value. These give the costs of both.

#include "platform/profile.h"
#include "platform/text.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

std::string MixedCp932(std::size_t size) {
    // Kanji, hiragana, half-width katakana and ASCII, as in a Japanese mail.
    const std::string piece = "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x81\x81\x5B\x83\x8B \xCA\xDD\xB6\xB8 text\r\n";
    std::string out;
    while (out.size() < size) {
        out += piece;
    }
    return out;
}

void BM_Cp932ToQString(benchmark::State& state) {
    const std::string text = MixedCp932(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(wp::Cp932ToQString(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Cp932ToQString)->Arg(80)->Arg(1 << 20);

void BM_QStringToCp932(benchmark::State& state) {
    const std::string bytes = MixedCp932(static_cast<std::size_t>(state.range(0)));
    const QString text = wp::Cp932ToQString(bytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(wp::QStringToCp932(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_QStringToCp932)->Arg(80)->Arg(1 << 20);

std::string ProfilePath() {
    static std::string path = [] {
        std::string dir = "/tmp/wrenpost-bench-XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) {
            std::abort();
        }
        return dir + "/p.ini";
    }();
    return path;
}

// A profile of realistic size: layout values and a dozen stored passwords.
void Fill(wp::Profile& profile) {
    for (int i = 0; i < 30; ++i) {
        profile.SetInt("WinPosition\\WinRect", "v" + std::to_string(i), i);
    }
    for (int i = 0; i < 12; ++i) {
        profile.SetBinary("Account", "account" + std::to_string(i), std::vector<std::uint8_t>(80, 0x41));
    }
}

void BM_ProfileGetInt(benchmark::State& state) {
    wp::Profile profile(ProfilePath());
    Fill(profile);
    for (auto _ : state) {
        benchmark::DoNotOptimize(profile.GetInt("WinPosition\\WinRect", "v7", 0));
    }
}
BENCHMARK(BM_ProfileGetInt);

void BM_ProfileSetInt(benchmark::State& state) {
    wp::Profile profile(ProfilePath());
    Fill(profile);
    int i = 0;
    for (auto _ : state) {
        profile.SetInt("WinPosition\\WinRect", "v7", ++i);
    }
}
BENCHMARK(BM_ProfileSetInt);

}  // namespace

BENCHMARK_MAIN();
