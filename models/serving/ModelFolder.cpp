#include "models/serving/ModelFolder.h"

#include "common/Logging.h"
#include "models/serving/ModelUrl.h"

#include <atomic>
#include <cerrno>
#include <string>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vorn {
namespace {

using platform::UniqueFd;

std::atomic<bool> g_kernelLacksOpenat2{false};

// One openat per segment, each refusing a link. Empty segments ("a//b") are skipped as the
// kernel's own walk would; ".." never gets here (IsSafeModelName) but is refused again.
UniqueFd OpenBySegments(int rootFd, std::string_view name, int flags) {
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

}  // namespace

ModelFolder::ModelFolder(std::filesystem::path folder, Resolver resolver)
    : m_folder(std::move(folder)), m_resolver(resolver) {}

UniqueFd ModelFolder::OpenBelow(std::string_view name, int flags) const {
    if (!IsSafeModelName(name))
        return {};
    // The folder itself is opened afresh each time: an install may have replaced it.
    UniqueFd root(::open(m_folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid())
        return {};
    if (m_resolver == Resolver::Kernel && !g_kernelLacksOpenat2.load(std::memory_order_relaxed)) {
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
        qCDebug(lcModels)
            << "openat2 is not available; model names are walked one segment at a time";
    }
    return OpenBySegments(root.get(), name, flags);
}

bool ModelFolder::Has(std::string_view name) const {
    const UniqueFd fd = OpenBelow(name, O_PATH);
    struct stat st {};
    return fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<ModelFile> ModelFolder::Open(std::string_view name) const {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    UniqueFd fd = OpenBelow(name, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return ModelFile{std::move(fd), static_cast<uint64_t>(st.st_size)};
}

}  // namespace vorn
