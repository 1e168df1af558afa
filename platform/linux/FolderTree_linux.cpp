#include "platform/FolderTree.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vorn::platform {

namespace {

std::map<std::string, EntryKind> ReadEntries(DIR* dir, int statFolder) {
    std::map<std::string, EntryKind> children;
    while (const dirent* d = ::readdir(dir)) {
        const std::string_view name = d->d_name;
        if (name == "." || name == "..")
            continue;
        EntryKind kind = d->d_type == DT_DIR   ? EntryKind::Folder
                         : d->d_type == DT_REG ? EntryKind::Regular
                         : d->d_type == DT_LNK ? EntryKind::Link
                                               : EntryKind::Unknown;
        struct stat st {};
        if (d->d_type == DT_UNKNOWN &&
            ::fstatat(statFolder, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            kind = S_ISDIR(st.st_mode) ? EntryKind::Folder : EntryKind::Regular;
        children.emplace(name, kind);
    }
    return children;
}

}  // namespace

OsHandle OpenFolderPath(const std::string& path, bool* missing) {
    OsHandle folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (missing)
        *missing = !folder.Valid() && errno == ENOENT;
    return folder;
}

std::optional<uint64_t> FreeSpace(const std::string& folder) {
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0)
        return std::nullopt;
    return uint64_t(st.f_bavail) * uint64_t(st.f_frsize);
}

std::map<std::string, EntryKind> ListFolder(const std::string& path, std::error_code& error) {
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        error = std::error_code(errno, std::generic_category());
        return {};
    }
    auto children = ReadEntries(dir, ::dirfd(dir));
    ::closedir(dir);
    return children;
}

std::map<std::string, EntryKind> ListFolder(NativeHandle folder, std::error_code& error) {
    // A descriptor of its own: reading moves the position, and closedir closes it.
    const int own = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = own < 0 ? nullptr : ::fdopendir(own);
    if (!dir) {
        error = std::error_code(errno, std::generic_category());
        if (own >= 0)
            ::close(own);
        return {};
    }
    auto children = ReadEntries(dir, folder);
    ::closedir(dir);
    return children;
}

bool MakePrivateFolder(NativeHandle folder, const std::string& name) {
    return ::mkdirat(folder, name.c_str(), 0700) == 0;
}

bool SetPermissions(NativeHandle handle, uint32_t permissions) {
    return ::fchmod(handle, permissions & 07777) == 0;
}

bool FlushFileSystem(NativeHandle handle) {
    return ::syncfs(handle) == 0;
}

bool MoveFolderNoReplace(const std::string& from, const std::string& to) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool ExchangeFolders(const std::string& a, const std::string& b) {
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

bool RemoveFileIfPresent(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

OsHandle CreateNewFile(const std::string& path) {
    return OsHandle(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
}

bool CloseFile(OsHandle* file) {
    // Released first, so the descriptor is closed once, here, whatever close answers.
    const int fd = file->Release();
    return fd < 0 || ::close(fd) == 0;
}

std::string LastFailureText() {
    return std::strerror(errno);
}

}  // namespace vorn::platform
