#include "platform/ProcessControl.h"

#include "common/LogSink.h"
#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace vorn::platform {
namespace {

// Deeper than any chain of the engine's helpers (zygote, its namespace init, the renderer).
constexpr int kMaxAncestry = 32;

// Through syscall(): the C library's own declarations of these (glibc 2.36) lack C linkage.
int PidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0U));
}

int PidfdSendSignal(int pidfd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0U));
}

// The parent of `pid` as procfs shows it to this process: field 4 of /proc/<pid>/stat, after the
// command name in parentheses, which may itself hold ") ". The stat file is filled from the
// kernel's task list alone, never from the process's memory, so reading it cannot block on a
// process that holds its memory lock.
std::optional<long> ParentOf(long pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid())
        return std::nullopt;
    char buf[1024];
    ssize_t n;
    do
        n = ::read(fd.get(), buf, sizeof buf);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return std::nullopt;
    const std::string_view text(buf, static_cast<size_t>(n));
    const size_t close = text.rfind(')');
    // ") S 1234 ...": the state, then the parent.
    if (close == std::string_view::npos || close + 4 >= text.size())
        return std::nullopt;
    const std::string_view rest = text.substr(close + 4);
    long parent = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), parent);
    if (error != std::errc() || end == rest.data())
        return std::nullopt;
    return parent;
}

bool DescendsFromUs(long pid) {
    const long self = ::getpid();
    long at = pid;
    for (int depth = 0; depth < kMaxAncestry; ++depth) {
        const std::optional<long> parent = ParentOf(at);
        if (!parent)
            return false;
        if (*parent == self)
            return true;
        if (*parent <= 1)
            return false;
        at = *parent;
    }
    return false;
}

class ProcessControlLinux final : public IProcessControl {
public:
    EndResult EndDescendant(std::int64_t pid) const override {
        if (pid < 1 || pid > INT_MAX || pid == ::getpid())
            return EndResult::NotOurs;
        const auto id = static_cast<pid_t>(pid);
        // The descriptor holds on to this very process: if it ends and its id goes to another
        // process before the signal, the signal finds the ended one and goes nowhere.
        UniqueFd handle(PidfdOpen(id));
        if (!handle.valid() && errno == ESRCH)
            return EndResult::Gone;
        // Checked after the descriptor was taken: whatever the check reads is the process the
        // descriptor holds, or the signal cannot reach anything.
        if (!DescendsFromUs(id))
            return ::kill(id, 0) != 0 && errno == ESRCH ? EndResult::Gone : EndResult::NotOurs;
        int result;
        if (handle.valid()) {
            result = PidfdSendSignal(handle.get(), SIGKILL);
        } else {
            // Kernels before 5.3 have no process descriptors: the window in which the id could
            // pass to another process is the few microseconds since the check.
            result = ::kill(id, SIGKILL);
        }
        if (result == 0)
            return EndResult::Ended;
        if (errno == ESRCH)
            return EndResult::Gone;
        log::Warning(log::Area::App, "process " + std::to_string(pid) +
                                         " could not be ended: " + std::strerror(errno));
        return EndResult::Refused;
    }
};

}  // namespace

std::unique_ptr<IProcessControl> CreateProcessControl() {
    return std::make_unique<ProcessControlLinux>();
}

}  // namespace vorn::platform
