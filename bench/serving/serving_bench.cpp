// A page fetching a 50 MB model file: through the client's loopback model server, against the
// same file from plain loopback HTTP servers that read it from disk. Reports throughput per
// server and the peak resident memory (VmHWM) of this process, which runs the model server,
// before and after serving.
#include "models/serving/ModelFolder.h"
#include "models/serving/ModelServer.h"
#include "tests/support/TempFolder.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <thread>

extern char** environ;
namespace fs = std::filesystem;

namespace {

constexpr size_t kFileSize = 50u * 1024 * 1024;
const char* kName = "face/model-shard.bin";

std::optional<vorn::test::TempFolder> g_scratch;
fs::path g_folder;
std::unique_ptr<vorn::ModelServer> g_server;
pid_t g_python = 0;
int g_pythonPort = 0;
std::unique_ptr<httplib::Server> g_diskServer;
std::thread g_diskThread;
int g_diskPort = 0;
double g_hwmBeforeMb = 0;

double VmHwmMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

size_t Discard(char*, size_t size, size_t count, void* user) {
    *static_cast<size_t*>(user) += size * count;
    return size * count;
}

void Fetch(benchmark::State& state, const std::string& url) {
    CURL* curl = curl_easy_init();
    size_t received = 0;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
    for (auto _ : state) {
        received = 0;
        if (curl_easy_perform(curl) != CURLE_OK || received != kFileSize) {
            state.SkipWithError("fetch failed");
            break;
        }
    }
    curl_easy_cleanup(curl);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_LocalServing(benchmark::State& state) {
    Fetch(state, g_server->UrlFor(kName));
    state.counters["VmHWM_before_MB"] = g_hwmBeforeMb;
    state.counters["VmHWM_MB"] = VmHwmMb();
}
void BM_PythonHttpServer(benchmark::State& state) {
    Fetch(state, "http://127.0.0.1:" + std::to_string(g_pythonPort) + "/" + kName);
}
void BM_HttplibFromDisk(benchmark::State& state) {
    Fetch(state, "http://127.0.0.1:" + std::to_string(g_diskPort) + "/" + kName);
}
// Registered first so that VmHWM is read before the disk server's whole-file reads.
BENCHMARK(BM_LocalServing)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PythonHttpServer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HttplibFromDisk)->Unit(benchmark::kMillisecond)->UseRealTime();

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

bool WaitForPort(int port) {
    for (int i = 0; i < 500; ++i) {
        httplib::Client probe("127.0.0.1", port);
        if (probe.Head("/"))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool SetUp() {
    g_scratch.emplace("vorn-bench");
    g_folder = g_scratch->Root();
    fs::create_directories(g_folder / "face");
    {
        // Written in blocks so that generating it does not raise the peak being measured.
        std::ofstream out(g_folder / kName, std::ios::binary);
        std::mt19937_64 random(42);
        std::string block(1 << 20, '\0');
        for (size_t done = 0; done < kFileSize; done += block.size()) {
            for (size_t i = 0; i + 8 <= block.size(); i += 8) {
                const uint64_t v = random();
                std::memcpy(&block[i], &v, 8);
            }
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    g_hwmBeforeMb = VmHwmMb();

    g_server = std::make_unique<vorn::ModelServer>(vorn::ModelFolder(g_folder));
    if (!g_server->Start())
        return false;

    g_pythonPort = FreePort();
    const std::string port = std::to_string(g_pythonPort);
    const std::string dir = g_folder.string();
    const char* argv[] = {"python3",   "-m",          "http.server", port.c_str(), "--bind",
                          "127.0.0.1", "--directory", dir.c_str(),   nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&g_python, "python3", &actions, nullptr, const_cast<char**>(argv), environ))
        return false;
    posix_spawn_file_actions_destroy(&actions);

    g_diskServer = std::make_unique<httplib::Server>();
    g_diskServer->set_mount_point("/", dir);
    g_diskPort = g_diskServer->bind_to_any_port("127.0.0.1");
    g_diskThread = std::thread([] { g_diskServer->listen_after_bind(); });
    return WaitForPort(g_pythonPort) && WaitForPort(g_diskPort);
}

void TearDown() {
    if (g_python > 0) {
        kill(g_python, SIGTERM);
        waitpid(g_python, nullptr, 0);
    }
    if (g_diskServer) {
        g_diskServer->stop();
        g_diskThread.join();
    }
    if (g_server)
        g_server->Stop();
    g_scratch.reset();
}

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const bool ready = SetUp();
    int rc = 1;
    if (ready) {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        rc = 0;
    } else {
        std::fprintf(stderr, "serving_bench: setting up the servers failed\n");
    }
    TearDown();
    return rc;
}
