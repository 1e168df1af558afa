#include "platform/FileBeneath.h"

#include "common/LogSink.h"

#include <atomic>
#include <cerrno>
#include <string>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vorn::platform {
namespace {

std::atomic<bool> g_kernelLacksOpenat2{false};

// One openat per step, each refusing a link. Empty steps ("a//b") are skipped as the kernel's
// own walk would; ".." never gets here (the caller's names are checked) but is refused again.
UniqueFd OpenBySteps(int rootFd, std::string_view name, int flags) {
    UniqueFd current;
    int dirFd = rootFd;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        const bool last = end == std::string_view::npos;
        if (last)
            end = name.size();
        const std::string segment(name.substr(start, end - start));
        start = end + 1;
        if (segment == "..")
            return {};
        if (segment.empty() && !last)
            continue;
        if (segment.empty())
            return {};  // a trailing '/' names a folder
        const int stepFlags = last ? flags : O_PATH | O_DIRECTORY;
        UniqueFd next(::openat(dirFd, segment.c_str(), stepFlags | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid())
            return {};
        if (last)
            return next;
        current = std::move(next);
        dirFd = current.get();
    }
    return {};
}

UniqueFd OpenBelow(const std::string& folder,
                   std::string_view name,
                   int flags,
                   BeneathResolver resolver) {
    // The folder itself is opened afresh each time: an install may have replaced it.
    UniqueFd root(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid())
        return {};
    if (resolver == BeneathResolver::Kernel &&
        !g_kernelLacksOpenat2.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = static_cast<uint64_t>(flags | O_NOFOLLOW | O_CLOEXEC);
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const std::string path(name);
        const long fd = ::syscall(SYS_openat2, root.get(), path.c_str(), &how, sizeof how);
        if (fd >= 0)
            return UniqueFd(static_cast<int>(fd));
        if (errno != ENOSYS)
            return {};
        g_kernelLacksOpenat2.store(true, std::memory_order_relaxed);
        log::Debug(log::Area::Models,
                   "openat2 is not available; model names are walked one segment at a time");
    }
    return OpenBySteps(root.get(), name, flags);
}

}  // namespace

bool OpenRegularBeneath(const std::string& folder,
                        std::string_view name,
                        BeneathAccess access,
                        BeneathResolver resolver,
                        UniqueFd* fd,
                        uint64_t* size) {
    // O_PATH only looks; O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer.
    const int flags = access == BeneathAccess::Look ? O_PATH : O_RDONLY | O_NONBLOCK | O_NOCTTY;
    UniqueFd opened = OpenBelow(folder, name, flags, resolver);
    struct stat st {};
    if (!opened.valid() || ::fstat(opened.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (size)
        *size = static_cast<uint64_t>(st.st_size);
    if (fd)
        *fd = std::move(opened);
    return true;
}

long ReadOpenedAt(const UniqueFd& file, uint64_t offset, void* into, std::size_t size) {
    ssize_t n;
    do {
        n = ::pread(file.get(), into, size, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

}  // namespace vorn::platform
