// What closing the account dialog costs: the main window loads a fresh store
// (each saved password read from the profile) and the dialog's store rewrites
// the file. Run with build/release/bench/bench_account_store.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "accounts/account_list.h"
#include "platform/profile.h"

namespace {

struct Folder {
    Folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "wp-accbench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root = pattern;
        std::filesystem::create_directory(root + "/Mail");
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::string root;
};

void Fill(wp::CAccountList& store, int count) {
    for (int i = 0; i < count; ++i) {
        wp::AccountRecord record;
        std::string name = "account" + std::to_string(i);
        record.SetName(name);
        record.SetLoginId("user");
        record.SetServer("pop.example.jp");
        record.SetSavePassword(true);
        record.number = 0;
        store.SaveAccount(record, "password");
        store.StorePassword(name, "password");
    }
}

void BM_LoadStore(benchmark::State& state) {
    Folder folder;
    wp::Profile profile(folder.root + "/profile.ini");
    {
        wp::CAccountList store(false, folder.root + "/Mail", profile);
        Fill(store, static_cast<int>(state.range(0)));
    }
    for (auto _ : state) {
        wp::CAccountList store(true, folder.root + "/Mail", profile);
        benchmark::DoNotOptimize(store.Size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadStore)->Arg(10)->Arg(100)->Arg(300)->Unit(benchmark::kMicrosecond);

void BM_CompactingRewrite(benchmark::State& state) {
    Folder folder;
    wp::Profile profile(folder.root + "/profile.ini");
    {
        wp::CAccountList store(false, folder.root + "/Mail", profile);
        Fill(store, static_cast<int>(state.range(0)));
    }
    for (auto _ : state) {
        // Passwords are not saved here, so this times the file work alone.
        state.PauseTiming();
        wp::Profile empty(folder.root + "/other.ini");
        auto* store = new wp::CAccountList(false, folder.root + "/Mail", empty);
        state.ResumeTiming();
        delete store;
    }
}
BENCHMARK(BM_CompactingRewrite)->Arg(10)->Arg(1000)->Iterations(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
