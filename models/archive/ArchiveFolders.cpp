#include "models/archive/ArchiveFolders.h"

#include "common/Logging.h"
#include "common/PathSegments.h"
#include "models/archive/Archive.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorn::archive {

namespace {

bool IsLinkAt(int dirFd, const std::string& name) {
    struct stat st {};
    return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// Opens (creating when missing) one step below dirFd. Returns the code and sets *next.
uint32_t OpenStep(int dirFd, const std::string& step, bool followLinks, bool create, int* next) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::openat(dirFd, step.c_str(), flags);
        if (fd >= 0) {
            *next = fd;
            return ZR_OK;
        }
        if (errno != ENOENT || attempt > 0 || !create)
            break;
        // Another extraction may create the same folder at the same time; EEXIST is fine.
        if (::mkdirat(dirFd, step.c_str(), 0777) != 0 && errno != EEXIST)
            break;
    }
    if (!create && errno == ENOENT)
        return ZR_NOFILE;
    if (!followLinks && IsLinkAt(dirFd, step)) {
        qCInfo(lcModels) << "archive: refusing to follow the link" << step.c_str();
        return ZR_LINK;
    }
    qCDebug(lcModels) << "archive: cannot create folder" << step.c_str() << strerror(errno);
    return ZR_NOFILE;
}

// Walks `folder` step by step from `current` (owned, closed here), creating missing steps.
uint32_t Walk(int current, std::string_view folder, bool followLinks, int* fd, bool create = true) {
    size_t start = 0;
    while (start < folder.size()) {
        size_t end = folder.find('/', start);
        if (end == std::string_view::npos)
            end = folder.size();
        const std::string step(folder.substr(start, end - start));
        start = end + 1;
        if (step.empty() || step == ".")
            continue;
        int next = -1;
        const uint32_t rc = OpenStep(current, step, followLinks, create, &next);
        ::close(current);
        if (rc != ZR_OK)
            return rc;
        current = next;
    }
    *fd = current;
    return ZR_OK;
}

}  // namespace

uint32_t OpenFolder(const std::string* base, std::string_view folder, bool absolute, int* fd) {
    *fd = -1;
    // Refused before anything is made, so a climbing path leaves no half of itself behind.
    if (!absolute && HasParentSegment(folder))
        return ZR_UNSAFE_NAME;
    int current = -1;
    if (absolute && !folder.empty() && folder[0] == '/') {
        current = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else if (!absolute && base) {
        if (::mkdir(base->c_str(), 0777) != 0 && errno != EEXIST)
            qCDebug(lcModels) << "archive: cannot create base folder" << base->c_str();
        current = ::open(base->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
        current = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (current < 0)
        return ZR_NOFILE;
    return Walk(current, folder, absolute, fd);
}

uint32_t OpenFolderAt(int baseFd, std::string_view folder, int* fd, bool create) {
    *fd = -1;
    if (HasParentSegment(folder))
        return ZR_UNSAFE_NAME;
    const int current = ::fcntl(baseFd, F_DUPFD_CLOEXEC, 0);
    if (current < 0)
        return ZR_NOFILE;
    return Walk(current, folder, false, fd, create);
}

uint32_t CreateFileAt(int dirFd, const std::string& name, bool readOnly, int* fd) {
    *fd = -1;
    if (name.empty() || name == "." || name == "..")
        return ZR_NOFILE;
    // O_NONBLOCK: a FIFO slipped in after the check must not block the extraction.
    constexpr int kFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    struct stat st {};
    // Usually nothing is there yet: one exclusive create, which cannot meet a link or a FIFO.
    int out = ::openat(dirFd, name.c_str(), kFlags | O_EXCL, 0666);
    if (out < 0 && errno != EEXIST)
        return errno == ELOOP ? ZR_LINK : ZR_NOFILE;
    if (out < 0) {
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(st.st_mode)) {
                qCInfo(lcModels) << "archive: refusing to write through the link" << name.c_str();
                return ZR_LINK;
            }
            // Root may write to a file without write bits; a read-only file is kept all the
            // same.
            if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0)
                return ZR_NOFILE;
        }
        out = ::openat(dirFd, name.c_str(), kFlags | O_TRUNC, 0666);
        if (out < 0)
            return errno == ELOOP ? ZR_LINK : ZR_NOFILE;
        if (::fstat(out, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(out);
            return ZR_NOFILE;
        }
    } else if (readOnly && ::fstat(out, &st) != 0) {
        ::close(out);
        return ZR_NOFILE;
    }
    if (readOnly)
        ::fchmod(out, st.st_mode & 07555);
    *fd = out;
    return ZR_OK;
}

}  // namespace vorn::archive
