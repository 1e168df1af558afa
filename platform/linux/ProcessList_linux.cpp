#include "platform/linux/ProcessList_linux.h"

#include "common/LogSink.h"
#include "platform/UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

namespace vorn::platform {
namespace {

// The kernel appends this to the exe link of a process whose executable was deleted or replaced
// after it started; a tool that deletes its own file must still be known by its name.
constexpr std::string_view kDeletedSuffix = " (deleted)";

// Command lines are unbounded; past this the rest cannot change a verdict worth the memory.
constexpr size_t kMaxFileBytes = 1 << 20;

using vorn::platform::UniqueFd;

// A process can vanish between any two reads (ENOENT, ESRCH) or belong to someone we may not
// inspect (EACCES); every such failure simply yields nothing.
std::optional<std::string> ReadFileAt(int dirFd, const char* name) {
    UniqueFd fd(::openat(dirFd, name, O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return std::nullopt;
    std::string out;
    char buf[4096];
    while (out.size() < kMaxFileBytes) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<size_t>(n));
        else if (n == 0)
            break;
        else if (errno != EINTR)
            return std::nullopt;
    }
    return out;
}

std::optional<std::string> ReadLinkAt(int dirFd, const char* name) {
    std::string buf(256, '\0');
    for (;;) {
        const ssize_t n = ::readlinkat(dirFd, name, buf.data(), buf.size());
        if (n < 0)
            return std::nullopt;
        if (static_cast<size_t>(n) < buf.size()) {
            buf.resize(static_cast<size_t>(n));
            return buf;
        }
        if (buf.size() >= kMaxFileBytes)
            return std::nullopt;
        buf.resize(buf.size() * 2);
    }
}

// Wine runs a Windows program inside its loader, so the exe link names the loader and the
// program's own (Windows) path is in argv[0].
bool IsWineLoader(std::string_view base) {
    return base == "wine" || base == "wine64" ||
           (base.starts_with("wine") && base.ends_with("-preloader"));
}

// "C:\..." or "C:/..." or "\\server\...": a Windows path whose separators are backslashes.
bool LooksLikeWindowsPath(std::string_view path) {
    if (path.starts_with("\\\\"))
        return true;
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

std::optional<uint32_t> ParsePid(const char* name) {
    const size_t len = std::strlen(name);
    if (len == 0 || !std::all_of(name, name + len, [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    uint32_t pid = 0;
    const auto [end, ec] = std::from_chars(name, name + len, pid);
    if (ec != std::errc() || end != name + len)
        return std::nullopt;
    return pid;
}

std::optional<ProcessRecord> ReadAt(int rootFd, uint32_t pid) {
    const std::string dirName = std::to_string(pid);
    UniqueFd dir(::openat(rootFd, dirName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return std::nullopt;

    ProcessRecord record;
    record.pid = pid;
    if (auto exe = ReadLinkAt(dir.get(), "exe")) {
        if (exe->ends_with(kDeletedSuffix))
            exe->resize(exe->size() - kDeletedSuffix.size());
        record.imagePath = std::move(*exe);
    }

    std::string argv0;
    if (auto cmdline = ReadFileAt(dir.get(), "cmdline")) {
        while (!cmdline->empty() && cmdline->back() == '\0')
            cmdline->pop_back();
        argv0 = cmdline->substr(0, cmdline->find('\0'));
        std::replace(cmdline->begin(), cmdline->end(), '\0', ' ');
        record.commandLine = std::move(*cmdline);
    }

    record.fileName = ProcessFileName(record.imagePath, argv0, {});
    record.argv0 = std::move(argv0);
    if (record.fileName.empty()) {
        // Kernel threads and zombies have neither exe link nor command line, only comm.
        if (auto comm = ReadFileAt(dir.get(), "comm")) {
            if (!comm->empty() && comm->back() == '\n')
                comm->pop_back();
            record.fileName = std::move(*comm);
        }
    }
    if (record.fileName.empty() && record.imagePath.empty() && record.commandLine.empty())
        return std::nullopt;
    return record;
}

}  // namespace

std::string ProcessFileName(std::string_view exePath,
                            std::string_view argv0,
                            std::string_view comm) {
    if (!exePath.empty()) {
        const std::string_view base = PathBaseName(exePath, "/");
        if (IsWineLoader(base)) {
            const std::string_view program = PathBaseName(argv0, "\\/");
            if (!program.empty())
                return std::string(program);
        }
        if (!base.empty())
            return std::string(base);
    }
    if (!argv0.empty()) {
        // Without the exe link a Wine program is still recognisable by its Windows path.
        const std::string_view program =
            PathBaseName(argv0, LooksLikeWindowsPath(argv0) ? "\\/" : "/");
        if (!program.empty())
            return std::string(program);
    }
    return std::string(comm);
}

std::optional<ProcessRecord> ReadProcessRecord(const std::filesystem::path& procRoot,
                                               uint32_t pid) {
    UniqueFd root(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid())
        return std::nullopt;
    return ReadAt(root.get(), pid);
}

namespace {

// Every process under `procRoot`, in ascending pid order, to `sink`.
void EnumerateProcesses(const std::filesystem::path& procRoot, IProcessSink& sink) {
    UniqueFd root(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid()) {
        vorn::log::Warning(
            vorn::log::Area::Probes,
            "Cannot read the process table " + procRoot.string() + ": " + std::strerror(errno));
        return;
    }
    // fdopendir takes over its descriptor, so give it a copy and keep ours for openat.
    DIR* dir = ::fdopendir(::dup(root.get()));
    if (!dir) {
        vorn::log::Warning(
            vorn::log::Area::Probes,
            "Cannot list the process table " + procRoot.string() + ": " + std::strerror(errno));
        return;
    }
    std::vector<uint32_t> pids;
    while (const dirent* entry = ::readdir(dir)) {
        if (auto pid = ParsePid(entry->d_name))
            pids.push_back(*pid);
    }
    ::closedir(dir);

    std::sort(pids.begin(), pids.end());
    for (uint32_t pid : pids) {
        if (!sink.Reading(pid))
            continue;
        if (auto record = ReadAt(root.get(), pid); record && !sink.Read(std::move(*record)))
            return;
    }
}

class Collect final : public IProcessSink {
public:
    bool Reading(std::uint32_t) override { return true; }
    bool Read(ProcessRecord record) override {
        records.push_back(std::move(record));
        return true;
    }
    std::vector<ProcessRecord> records;
};

class ProcfsProcessList : public IProcessList {
public:
    explicit ProcfsProcessList(std::filesystem::path procRoot) : m_procRoot(std::move(procRoot)) {}

    std::vector<ProcessRecord> Enumerate() const override {
        Collect all;
        EnumerateProcesses(m_procRoot, all);
        return std::move(all.records);
    }

    void EnumerateEach(IProcessSink& sink) const override { EnumerateProcesses(m_procRoot, sink); }

    std::uint32_t CurrentProcessId() const override {
        return static_cast<std::uint32_t>(::getpid());
    }

    std::vector<std::string> IdentityTexts(const ProcessRecord& record) const override {
        // ELF files carry no version strings; the install path and the name the process gave
        // itself are where a renamed tool still shows what it is.
        return {record.imagePath, record.argv0};
    }

private:
    std::filesystem::path m_procRoot;
};

}  // namespace

std::unique_ptr<IProcessList> CreateProcessList(std::filesystem::path procRoot) {
    return std::make_unique<ProcfsProcessList>(std::move(procRoot));
}

std::unique_ptr<IProcessList> CreateProcessList() {
    return CreateProcessList("/proc");
}

}  // namespace vorn::platform
