// The folder steps on Linux: descriptors, *at calls and O_NOFOLLOW.

#include "platform/linux/FolderSteps_linux.h"

#include "common/LogSink.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#ifdef __linux__
#include <linux/fs.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

namespace vorn::platform {

namespace {

using log::Area;

bool IsLinkAt(int dirFd, const std::string& name) {
    struct stat st {};
    return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

// ext4 without a journal skips, for every new file, each inode freed in the last 30 seconds of
// the group it allocates from, one lookup each: many files extracted into a group where many were
// just removed (an earlier extraction of the same tree) pay that scan for every file. Spread,
// each folder's files share a group with few others.
void MarkAsTopOfTree([[maybe_unused]] NativeHandle fd) {
#ifdef FS_TOPDIR_FL
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && !(flags & FS_TOPDIR_FL)) {
        flags |= FS_TOPDIR_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
#endif
}

void OsHandle::Reset(NativeHandle handle) {
    if (m_handle >= 0)
        ::close(m_handle);
    m_handle = handle < 0 ? kNoHandle : handle;
}

OsHandle OpenSystemFolder(const std::string& path, bool create) {
    if (create && ::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        log::Debug(Area::Models, "archive: cannot create base folder " + path);
    return OsHandle(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

size_t RootLength(std::string_view path) {
    return !path.empty() && path[0] == '/' ? 1 : 0;
}

StepResult OpenFolderStep(NativeHandle folder,
                          const std::string& name,
                          bool followLinks,
                          bool create,
                          OsHandle* out) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
    bool made = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::openat(folder, name.c_str(), flags);
        if (fd >= 0) {
            if (made)
                MarkAsTopOfTree(fd);
            *out = OsHandle(fd);
            return StepResult::Ok;
        }
        if (errno != ENOENT || attempt > 0 || !create)
            break;
        // Another extraction may create the same folder at the same time; EEXIST is fine.
        if (::mkdirat(folder, name.c_str(), 0777) == 0) {
            made = true;
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (!create && errno == ENOENT)
        return StepResult::Failed;
    if (!followLinks && IsLinkAt(folder, name)) {
        log::Info(Area::Models, "archive: refusing to follow the link " + name);
        return StepResult::Link;
    }
    log::Debug(Area::Models, "archive: cannot create folder " + name + ": " + std::strerror(errno));
    return StepResult::Failed;
}

StepResult CreateFileAt(NativeHandle dirFd, const std::string& name, bool readOnly, OsHandle* fd) {
    *fd = OsHandle();
    if (name.empty() || name == "." || name == "..")
        return StepResult::Failed;
    // O_NONBLOCK: a FIFO slipped in after the check must not block the extraction.
    constexpr int kFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    struct stat st {};
    // Usually nothing is there yet: one exclusive create, which cannot meet a link or a FIFO.
    OsHandle out(::openat(dirFd, name.c_str(), kFlags | O_EXCL, 0666));
    if (!out.Valid() && errno != EEXIST)
        return errno == ELOOP ? StepResult::Link : StepResult::Failed;
    if (!out.Valid()) {
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(st.st_mode)) {
                log::Info(Area::Models, "archive: refusing to write through the link " + name);
                return StepResult::Link;
            }
            // Root may write to a file without write bits; a read-only file is kept all the
            // same.
            if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0)
                return StepResult::Failed;
        }
        out = OsHandle(::openat(dirFd, name.c_str(), kFlags | O_TRUNC, 0666));
        if (!out.Valid())
            return errno == ELOOP ? StepResult::Link : StepResult::Failed;
        if (::fstat(out.Get(), &st) != 0 || !S_ISREG(st.st_mode))
            return StepResult::Failed;
    } else if (readOnly && ::fstat(out.Get(), &st) != 0) {
        return StepResult::Failed;
    }
    if (readOnly)
        ::fchmod(out.Get(), st.st_mode & 07555);
    *fd = std::move(out);
    return StepResult::Ok;
}

bool WriteAll(NativeHandle fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void SetFileTimes(NativeHandle fd, FileStamp, FileStamp access, FileStamp write) {
    const timespec times[2] = {ToTimespec(access), ToTimespec(write)};
    ::futimens(fd, times);
}

OsHandle OpenFileForReading(const std::string& path, uint64_t* size) {
    OsHandle fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return OsHandle();
    *size = static_cast<uint64_t>(st.st_size);
    return fd;
}

OsHandle Duplicate(NativeHandle fd) {
    // pread leaves the shared file offset alone, so both may read at the same time.
    return OsHandle(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

long ReadFileAt(NativeHandle fd, uint64_t offset, void* into, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, static_cast<char*>(into) + done, size - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<long>(done);
}

namespace {

void Describe(const struct stat& st, FileFacts* facts) {
    facts->kind = S_ISREG(st.st_mode)   ? FileFacts::Kind::Regular
                  : S_ISDIR(st.st_mode) ? FileFacts::Kind::Folder
                  : S_ISLNK(st.st_mode) ? FileFacts::Kind::Link
                                        : FileFacts::Kind::Other;
    facts->size = static_cast<uint64_t>(st.st_size);
    facts->modified = {static_cast<int64_t>(st.st_mtim.tv_sec),
                       static_cast<uint32_t>(st.st_mtim.tv_nsec), true};
    facts->readOnly = (st.st_mode & 0222) == 0;
    facts->permissions = st.st_mode & 07777;
    facts->device = static_cast<uint64_t>(st.st_dev);
    facts->identity = static_cast<uint64_t>(st.st_ino);
}

}  // namespace

bool LookAt(NativeHandle folder, const std::string& name, FileFacts* facts) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    Describe(st, facts);
    return true;
}

bool LookAt(NativeHandle file, FileFacts* facts) {
    struct stat st {};
    if (::fstat(file, &st) != 0)
        return false;
    Describe(st, facts);
    return true;
}

OsHandle OpenFileBelow(NativeHandle folder, const std::string& name) {
    return OsHandle(
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

OsHandle OpenFolderBelow(NativeHandle folder, const std::string& name) {
    return OsHandle(
        ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool HardLink(NativeHandle fromFolder, NativeHandle toFolder, const std::string& name) {
    return ::linkat(fromFolder, name.c_str(), toFolder, name.c_str(), 0) == 0;
}

bool RemoveFileName(NativeHandle folder, const std::string& name) {
    return ::unlinkat(folder, name.c_str(), 0) == 0;
}

}  // namespace vorn::platform
