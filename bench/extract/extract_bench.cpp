// Extracts the model-like archive with the archive layer (one handle; two handles on two
// threads, odd and even entries) and with `unzip -o -q`, each into a fresh folder, in one run.

#include "models/archive/Archive.h"
#include "tests/support/TempFolder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace vorn;

namespace {

const fs::path kArchive = VORN_BENCH_ARCHIVE;

// A fresh, empty output folder below the scratch folder.
fs::path FreshFolder() {
    static const vorn::test::TempFolder scratch("vorn_extract_bench");
    const fs::path out = scratch / "out";
    fs::remove_all(out);
    return out;
}

// Extracts every entry whose index is `first`, first + step, ...; false on any failure.
bool ExtractEvery(const fs::path& out, int first, int step) {
    ArchiveHandle h = ArchiveOpenFile(kArchive.u16string(), nullptr, out);
    ArchiveItem item;
    ArchiveGetItem(h, -1, &item);
    const int count = item.index;
    bool ok = count > 0;
    for (int i = first; i < count; i += step) {
        ok = ok && ArchiveGetItem(h, i, &item) == ZR_OK &&
             ArchiveExtractItem(h, i, item.name) == ZR_OK;
    }
    ArchiveClose(h);
    return ok;
}

void BM_ArchiveLayer(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = FreshFolder();
        state.ResumeTiming();
        if (!ExtractEvery(out, 0, 1))
            state.SkipWithError("extraction failed");
    }
    state.SetBytesProcessed(state.iterations() * int64_t(fs::file_size(kArchive)));
}

void BM_ArchiveLayerTwoThreads(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = FreshFolder();
        state.ResumeTiming();
        bool okEven = false, okOdd = false;
        std::thread odd([&] { okOdd = ExtractEvery(out, 1, 2); });
        okEven = ExtractEvery(out, 0, 2);
        odd.join();
        if (!okEven || !okOdd)
            state.SkipWithError("extraction failed");
    }
    state.SetBytesProcessed(state.iterations() * int64_t(fs::file_size(kArchive)));
}

void BM_UnzipTool(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = FreshFolder();
        const std::string command =
            "unzip -o -q '" + kArchive.string() + "' -d '" + out.string() + "'";
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("unzip failed");
    }
    state.SetBytesProcessed(state.iterations() * int64_t(fs::file_size(kArchive)));
}

}  // namespace

BENCHMARK(BM_ArchiveLayer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_ArchiveLayerTwoThreads)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_UnzipTool)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK_MAIN();
