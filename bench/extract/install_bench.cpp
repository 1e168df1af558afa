// The model update's install (staging, extraction, move; no download) through the installer's
// own entry point, side by side in one run with `unzip -o -q` and Python's zipfile extracting
// the same archive, on the model-like archive and on one of 3,000 small files.
//
// "Update" cases install over the previous install, as an update does; "Fresh" ones into an
// empty folder. unzip's time includes starting the process; Python's is the time extractall
// takes inside the interpreter, measured by the interpreter.

#include "bench/extract/ScratchFolder.h"
#include "models/update/ModelInstaller.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

const fs::path kArchives[] = {VORN_BENCH_ARCHIVE, VORN_BENCH_SMALL_ARCHIVE};

// The folder a tool extracts into: emptied first for a fresh install, else kept as the last
// run of the same tool left it (the first run fills it).
fs::path Target(const std::string& tool, int archive, bool fresh) {
    const fs::path out = vorn::bench::ScratchFolder("vorn_install_bench") /
                         (tool + std::to_string(archive)) / "models";
    if (fresh)
        fs::remove_all(out);
    fs::create_directories(out);
    return out;
}

void Run(benchmark::State& state, const char* tool, bool fresh) {
    const int archive = static_cast<int>(state.range(0));
    const std::string which = kArchives[archive].string();
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path out = Target(tool, archive, fresh);
        state.ResumeTiming();
        if (std::string(tool) == "installer") {
            vorn::ModelInstaller installer(out, out.parent_path() / "models.staging");
            if (!installer.Install(which, nullptr))
                state.SkipWithError("install failed");
        } else if (std::string(tool) == "unzip") {
            const std::string command = "unzip -o -q '" + which + "' -d '" + out.string() + "'";
            if (std::system(command.c_str()) != 0)
                state.SkipWithError("unzip failed");
        } else {
            const std::string command =
                "python3 -c 'import sys, time, zipfile\n"
                "z = zipfile.ZipFile(sys.argv[1])\n"
                "t = time.perf_counter()\n"
                "z.extractall(sys.argv[2])\n"
                "print(time.perf_counter() - t)' '" +
                which + "' '" + out.string() + "'";
            double seconds = -1;
            if (FILE* p = ::popen(command.c_str(), "r")) {
                if (std::fscanf(p, "%lf", &seconds) != 1)
                    seconds = -1;
                ::pclose(p);
            }
            if (seconds < 0)
                state.SkipWithError("python failed");
            state.SetIterationTime(seconds);
        }
    }
    state.SetLabel(archive == 0 ? "model-like" : "3000 small");
}

void BM_InstallerUpdate(benchmark::State& s) { Run(s, "installer", false); }
void BM_UnzipUpdate(benchmark::State& s) { Run(s, "unzip", false); }
void BM_PythonUpdate(benchmark::State& s) { Run(s, "python", false); }
void BM_InstallerFresh(benchmark::State& s) { Run(s, "installer", true); }
void BM_UnzipFresh(benchmark::State& s) { Run(s, "unzip", true); }
void BM_PythonFresh(benchmark::State& s) { Run(s, "python", true); }

}  // namespace

#define VORN_CASE(name) \
    BENCHMARK(name)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->MinTime(2)
VORN_CASE(BM_InstallerUpdate)->UseRealTime();
VORN_CASE(BM_UnzipUpdate)->UseRealTime();
VORN_CASE(BM_PythonUpdate)->UseManualTime();
VORN_CASE(BM_InstallerFresh)->UseRealTime();
VORN_CASE(BM_UnzipFresh)->UseRealTime();
VORN_CASE(BM_PythonFresh)->UseManualTime();
BENCHMARK_MAIN();
