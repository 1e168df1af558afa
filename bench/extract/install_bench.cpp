// The model update's install (staging, extraction, move; no download) through the installer's
// own entry point, side by side in one run with `unzip -o -q` and Python's zipfile extracting
// the same archive, on the model-like archive and on one of 3,000 small files.
//
// "Update" cases install the same archive over the previous install (every file is already
// there as the archive has it); "Changed" ones alternate between two archives of the same
// names with other contents, so every file changes; "Fresh" ones install into an empty folder.
// unzip's time includes starting the process; Python's is the time extractall takes inside the
// interpreter, measured by the interpreter. "unzip+flush" is unzip followed by a flush of the
// file system (syncfs), timed together: the installer writes its files out before it publishes
// them, which unzip never does, so this is unzip with the same durability.
//
// The installer leaves the model folder it replaced for its caller to remove after the install
// (the updater does so once it has reported); that removal is untimed except in the
// "ChangedWithRemoval" row, which times it as well. Every timed run starts on a file system with
// nothing left to write, so that no tool pays for what the one before it (or the untimed
// removal) left in memory.

#include "models/update/ModelInstaller.h"
#include "tests/support/TempFolder.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

const fs::path kArchives[] = {VORN_BENCH_ARCHIVE, VORN_BENCH_SMALL_ARCHIVE};
const fs::path kOtherArchives[] = {VORN_BENCH_ARCHIVE_B, VORN_BENCH_SMALL_ARCHIVE_B};

enum class Case { Update, Changed, Fresh };

// The folder a tool extracts into for one case: emptied first for a fresh install, else kept
// as the last run of the same tool and case left it.
fs::path Target(const std::string& tool, int archive, Case c) {
    static const vorn::test::TempFolder scratch("vorn_install_bench");
    const fs::path out =
        scratch / (tool + std::to_string(archive) + "-" + std::to_string(int(c))) / "models";
    if (c == Case::Fresh)
        fs::remove_all(out);
    fs::create_directories(out);
    return out;
}

// Writes out whatever the file system of `folder` still holds in memory.
void Settle(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

// Runs `tool` on `archive` into `out`. False on failure; *seconds is the time the tool took
// by its own measure (Python), or negative when the caller's clock counts.
bool Extract(const std::string& tool,
             const fs::path& archive,
             const fs::path& out,
             double* seconds) {
    *seconds = -1;
    if (tool.rfind("installer", 0) == 0) {
        vorn::ModelInstaller installer(out, out.parent_path() / "models.staging");
        return installer.Install(archive, nullptr);
    }
    if (tool.rfind("unzip", 0) == 0) {
        const std::string command =
            "unzip -o -q '" + archive.string() + "' -d '" + out.string() + "'";
        if (std::system(command.c_str()) != 0)
            return false;
        if (tool == "unzip+flush")
            Settle(out);
        return true;
    }
    const std::string command =
        "python3 -c 'import sys, time, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "t = time.perf_counter()\n"
        "z.extractall(sys.argv[2])\n"
        "print(time.perf_counter() - t)' '" +
        archive.string() + "' '" + out.string() + "'";
    if (FILE* p = ::popen(command.c_str(), "r")) {
        if (std::fscanf(p, "%lf", seconds) != 1)
            *seconds = -1;
        ::pclose(p);
    }
    return *seconds >= 0;
}

// The installer's replaced model folder, removed as its caller does after an install.
bool RemoveReplaced(const std::string& tool, const fs::path& out) {
    if (tool.rfind("installer", 0) != 0)
        return true;
    return vorn::ModelInstaller(out, out.parent_path() / "models.staging").CleanStaging();
}

void Run(benchmark::State& state, const char* tool, Case c) {
    const int archive = static_cast<int>(state.range(0));
    const fs::path* const sources[] = {&kArchives[archive], &kOtherArchives[archive]};
    // Which of the two archives each kept folder holds.
    static std::map<fs::path, int> holds;
    double seconds;
    if (c != Case::Fresh) {
        const fs::path out = Target(tool, archive, c);
        if (!holds.count(out)) {
            // The previous install, untimed: the same archive, or the other one.
            const int first = c == Case::Changed ? 1 : 0;
            if (!Extract(tool, *sources[first], out, &seconds) || !RemoveReplaced(tool, out))
                state.SkipWithError("preparing the previous install failed");
            holds[out] = first;
        }
    }
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = Target(tool, archive, c);
        const int which = c == Case::Changed ? 1 - holds[out] : 0;
        Settle(out);
        state.ResumeTiming();
        if (!Extract(tool, *sources[which], out, &seconds))
            state.SkipWithError("extraction failed");
        if (seconds >= 0)
            state.SetIterationTime(seconds);
        holds[out] = which;
        const bool timedRemoval = std::string(tool) == "installer+removal";
        if (!timedRemoval)
            state.PauseTiming();
        if (!RemoveReplaced(tool, out))
            state.SkipWithError("removing the replaced model folder failed");
        if (!timedRemoval)
            state.ResumeTiming();
    }
    state.SetLabel(archive == 0 ? "model-like" : "3000 small");
}

void BM_InstallerUpdate(benchmark::State& s) {
    Run(s, "installer", Case::Update);
}
void BM_UnzipUpdate(benchmark::State& s) {
    Run(s, "unzip", Case::Update);
}
void BM_PythonUpdate(benchmark::State& s) {
    Run(s, "python", Case::Update);
}
void BM_InstallerChanged(benchmark::State& s) {
    Run(s, "installer", Case::Changed);
}
void BM_UnzipChanged(benchmark::State& s) {
    Run(s, "unzip", Case::Changed);
}
void BM_UnzipFlushedChanged(benchmark::State& s) {
    Run(s, "unzip+flush", Case::Changed);
}
void BM_PythonChanged(benchmark::State& s) {
    Run(s, "python", Case::Changed);
}
void BM_InstallerChangedWithRemoval(benchmark::State& s) {
    Run(s, "installer+removal", Case::Changed);
}
void BM_InstallerFresh(benchmark::State& s) {
    Run(s, "installer", Case::Fresh);
}
void BM_UnzipFresh(benchmark::State& s) {
    Run(s, "unzip", Case::Fresh);
}
void BM_UnzipFlushedFresh(benchmark::State& s) {
    Run(s, "unzip+flush", Case::Fresh);
}
void BM_PythonFresh(benchmark::State& s) {
    Run(s, "python", Case::Fresh);
}

}  // namespace

#define VORN_CASE(name) BENCHMARK(name)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->MinTime(2)
VORN_CASE(BM_InstallerUpdate)->UseRealTime();
VORN_CASE(BM_UnzipUpdate)->UseRealTime();
VORN_CASE(BM_PythonUpdate)->UseManualTime();
VORN_CASE(BM_InstallerChanged)->UseRealTime();
VORN_CASE(BM_UnzipChanged)->UseRealTime();
VORN_CASE(BM_UnzipFlushedChanged)->UseRealTime();
VORN_CASE(BM_PythonChanged)->UseManualTime();
VORN_CASE(BM_InstallerChangedWithRemoval)->UseRealTime();
VORN_CASE(BM_InstallerFresh)->UseRealTime();
VORN_CASE(BM_UnzipFresh)->UseRealTime();
VORN_CASE(BM_UnzipFlushedFresh)->UseRealTime();
VORN_CASE(BM_PythonFresh)->UseManualTime();
BENCHMARK_MAIN();
