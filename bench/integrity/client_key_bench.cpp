// The client key over the real build (build/vornclient and build/Skin/CEFBrowser), side by side
// with `sha256sum` hashing the same files, and the environment probes of the client report.
// Run: build/bench/client_key_bench (VORN_BUILD_BENCH=ON). The key is computed once
// per start, so its wall time is what a person waits for; the budget is 30 ms.

#include "platform/ProcessList.h"
#include "platform/RemoteSession.h"
#include "platform/Virtualization.h"
#include "services/integrity/ClientKey.h"
#include "services/probes/RemoteControl.h"
#include "services/probes/RemoteControlScanner.h"
#include "services/probes/VirtualMachine.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

using vorn::DetectVirtualMachine;

namespace {

const std::filesystem::path kBuild = VORN_BUILD_DIR;

vorn::ClientKeyInputs BuildInputs() {
    return {kBuild / "vornclient", kBuild / "Skin/CEFBrowser", "https://exam.example/"};
}

void BM_ClientKey(benchmark::State& state) {
    const vorn::ClientKeyInputs inputs = BuildInputs();
    if (!vorn::ComputeClientKey(inputs)) {
        state.SkipWithError("build/vornclient is missing: build the client first");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(vorn::ComputeClientKey(inputs));
    std::error_code ec;
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(
                                                     inputs.executable, ec)));
}

// The reference: coreutils' sha256sum over the executable and every skin file.
void BM_Sha256sumSameFiles(benchmark::State& state) {
    const vorn::ClientKeyInputs inputs = BuildInputs();
    std::vector<std::string> args = {"sha256sum", inputs.executable.string()};
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(inputs.skinFolder, ec)) {
        if (entry.is_regular_file())
            args.push_back(entry.path().string());
    }
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid = 0;
        if (::posix_spawnp(&pid, "sha256sum", &actions, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("sha256sum cannot be started");
            break;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

void BM_VirtualMachineDecision(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(DetectVirtualMachine(*vorn::platform::CreateVirtualization()));
}

// One scan of the process table judged for remote control, remote session and recorders. The
// client reads the hypervisor once, so it is not part of a scan.
void BM_ProcessScan(benchmark::State& state) {
    const std::string virtualMachine =
        DetectVirtualMachine(*vorn::platform::CreateVirtualization());
    for (auto _ : state) {
        const auto list = vorn::platform::CreateProcessList();
        benchmark::DoNotOptimize(vorn::JudgeProcesses(*list, *vorn::platform::CreateRemoteSession(),
                                                      virtualMachine, vorn::OtherProcesses(*list)));
    }
}

}  // namespace

BENCHMARK(BM_ClientKey)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Sha256sumSameFiles)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VirtualMachineDecision)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcessScan)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
