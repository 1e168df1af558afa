// Remote-control scan against `ps -e -o comm=` on the same process table, side by side.
// Run: build/bench/probes/probes_bench (Release build recommended). The argument is the number of
// extra idle processes started for the run, to see how both scale with the table size.

#include "platform/ProcessList.h"
#include "services/probes/RemoteControl.h"

#include <benchmark/benchmark.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

using vorn::IsRemoteControlRunning;
using vorn::OtherProcesses;

namespace {

// Idle children that fill the process table for the duration of one benchmark.
class ExtraProcesses {
public:
    explicit ExtraProcesses(int count) {
        char sleepPath[] = "/bin/sleep";
        char seconds[] = "600";
        char* argv[] = {sleepPath, seconds, nullptr};
        for (int i = 0; i < count; ++i) {
            pid_t pid = 0;
            if (::posix_spawn(&pid, sleepPath, nullptr, nullptr, argv, environ) == 0)
                m_pids.push_back(pid);
        }
    }
    ~ExtraProcesses() {
        for (pid_t pid : m_pids)
            ::kill(pid, SIGKILL);
        for (pid_t pid : m_pids)
            ::waitpid(pid, nullptr, 0);
    }

private:
    std::vector<pid_t> m_pids;
};

void SetProcessCounter(benchmark::State& state) {
    state.counters["processes"] =
        static_cast<double>(vorn::platform::CreateProcessList()->Enumerate().size());
}

void BM_RemoteControlScan(benchmark::State& state) {
    ExtraProcesses extra(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const auto processes = vorn::platform::CreateProcessList();
        benchmark::DoNotOptimize(IsRemoteControlRunning(*processes, OtherProcesses(*processes)));
    }
    SetProcessCounter(state);
}

void BM_EnumerateProcesses(benchmark::State& state) {
    ExtraProcesses extra(static_cast<int>(state.range(0)));
    const auto processes = vorn::platform::CreateProcessList();
    for (auto _ : state)
        benchmark::DoNotOptimize(processes->Enumerate());
    SetProcessCounter(state);
}

// The reference: one run of ps listing every command name, read to the end.
void BM_PsComm(benchmark::State& state) {
    ExtraProcesses extra(static_cast<int>(state.range(0)));
    char buf[4096];
    for (auto _ : state) {
        FILE* ps = ::popen("ps -e -o comm=", "r");
        if (!ps) {
            state.SkipWithError("cannot run ps");
            break;
        }
        size_t total = 0;
        while (size_t n = std::fread(buf, 1, sizeof buf, ps))
            total += n;
        ::pclose(ps);
        benchmark::DoNotOptimize(total);
    }
    SetProcessCounter(state);
}

// Interleaved per table size so both tools see the same machine state.
BENCHMARK(BM_RemoteControlScan)->Arg(0)->Arg(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EnumerateProcesses)->Arg(0)->Arg(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PsComm)->Arg(0)->Arg(500)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
