// The whole process of `wrenpost-cli convert --from jis --to sjis` on a ~20 MB
// JIS text, beside `iconv -f ISO-2022-JP -t CP932` on the same file, both with
// their output going to /dev/null; the ratio is printed (target <= 0.6).
// Usage: bench_convert_process [ROUNDS]

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "decode/kanji_converter.h"
#include "platform/text.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "bench_convert_process: %s\n", what);
    std::exit(1);
}

// Everyday mail text: kanji, kana and ASCII in lines of mixed length.
std::string JisText() {
    const char* const words[] = {"お世話になっております", "株式会社", "打ち合わせ", "資料", "確認",
                                 "よろしくお願いします", "来週", "会議室", "見積もり", "について",
                                 "です", "ます", "システム", "サーバー", "メール", "、", "。", "「", "」",
                                 "東京都", "担当者", "請求書", "添付", "予定", "変更", "齋藤", "渡邊"};
    const char* const ascii[] = {"OK", "PDF", "Re:", "http://example.jp/", "2025/06/03", "10:30", "No.123"};
    std::mt19937 rng(12345);
    std::string utf8 = "Subject: report\r\nMIME-Version: 1.0\r\n\r\n";
    while (utf8.size() < 30u * 1000 * 1000) {
        const int pieces = 8 + static_cast<int>(rng() % 16);
        for (int i = 0; i < pieces; ++i) {
            if (rng() % 5 == 0) {
                utf8 += ' ';
                utf8 += ascii[rng() % std::size(ascii)];
                utf8 += ' ';
            } else {
                utf8 += words[rng() % std::size(words)];
            }
        }
        utf8 += "\r\n";
    }
    const std::string sjis = wp::Utf8ToCp932(utf8).value_or(std::string());
    if (sjis.empty()) {
        Fail("the sample text is not CP932");
    }
    return wp::CKanjiConverter::Convert(sjis.data(), sjis.size(), wp::KANJI_SJIS, wp::KANJI_JIS);
}

// Seconds the program took, its output thrown away.
double Run(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        Fail("cannot start a program");
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", args[0].c_str());
        std::exit(1);
    }
    return seconds;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const std::string text = JisText();
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "bench-convert-jis.txt";
    {
        std::ofstream out(file, std::ios::binary);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out) {
            Fail("cannot write the sample file");
        }
    }
    const std::vector<std::string> ours = {WRENPOST_CLI, "convert", "--from", "jis", "--to", "sjis", file.string()};
    const std::vector<std::string> detected = {WRENPOST_CLI, "convert", "--to", "sjis", file.string()};
    const std::vector<std::string> iconv = {"iconv", "-f", "ISO-2022-JP", "-t", "CP932", file.string()};
    std::vector<double> oursTimes;
    std::vector<double> detectedTimes;
    std::vector<double> iconvTimes;
    Run(ours);  // the page cache holds the file from here on
    for (int i = 0; i < rounds; ++i) {
        oursTimes.push_back(Run(ours));
        iconvTimes.push_back(Run(iconv));
        detectedTimes.push_back(Run(detected));
    }
    std::filesystem::remove(file);
    const double o = Median(oursTimes);
    const double d = Median(detectedTimes);
    const double c = Median(iconvTimes);
    std::printf("%.1f MB of JIS text to CP932, whole process, median of %d\n", text.size() / 1e6, rounds);
    std::printf("  iconv -f ISO-2022-JP -t CP932      %7.3f s\n", c);
    std::printf("  wrenpost-cli convert --from jis    %7.3f s   ratio %.2f (target <= 0.6)\n", o, o / c);
    std::printf("  wrenpost-cli convert (detecting)   %7.3f s   ratio %.2f\n", d, d / c);
    return 0;
}
