#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorn::platform {

void CloseDescriptor(int fd) {
    ::close(fd);
}
namespace {

FileReadError FromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return FileReadError::Missing;
        case ELOOP:
            return FileReadError::Link;
        default:
            return FileReadError::Unreadable;
    }
}

void Set(FileReadError* why, FileReadError value) {
    if (why)
        *why = value;
}

}  // namespace

UniqueFd OpenRegularFile(const std::string& path, LinkPolicy links, FileReadError* why) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever. It has
    // no effect on reads of a regular file, the only kind kept.
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (links == LinkPolicy::Refuse)
        flags |= O_NOFOLLOW;
    UniqueFd fd(::open(path.c_str(), flags));
    if (!fd.valid()) {
        Set(why, FromErrno(errno));
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        Set(why, FileReadError::Unreadable);
        return UniqueFd();
    }
    if (!S_ISREG(st.st_mode)) {
        Set(why, FileReadError::NotRegular);
        return UniqueFd();
    }
    Set(why, FileReadError::None);
    return fd;
}

UniqueFd OpenRegularFileToAppend(const std::string& path, FileReadError* why) {
    // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of holding the thread
    // in open(); one with a reader is refused below. Cleared again before anything is written.
    UniqueFd fd(::open(
        path.c_str(),
        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600));
    if (!fd.valid()) {
        Set(why, errno == ELOOP ? FileReadError::Link
                 : errno == ENXIO || errno == EISDIR || errno == ENODEV
                     ? FileReadError::NotRegular
                     : FileReadError::Unreadable);
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Set(why, FileReadError::NotRegular);
        return UniqueFd();
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        Set(why, FileReadError::Unreadable);
        return UniqueFd();
    }
    Set(why, FileReadError::None);
    return fd;
}

std::optional<std::string> ReadRegularFile(const std::string& path,
                                           std::size_t maxBytes,
                                           LinkPolicy links,
                                           FileReadError* why) {
    UniqueFd fd = OpenRegularFile(path, links, why);
    if (!fd.valid())
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && static_cast<std::size_t>(st.st_size) > maxBytes) {
        Set(why, FileReadError::TooLarge);
        return std::nullopt;
    }
    std::string out;
    out.resize(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 4096);
    std::size_t used = 0;
    for (;;) {
        if (used == out.size())
            out.resize(std::min(out.size() * 2, maxBytes + 1));
        const ssize_t n = ::read(fd.get(), out.data() + used, out.size() - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            Set(why, FileReadError::Unreadable);
            return std::nullopt;
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
        if (used > maxBytes) {
            Set(why, FileReadError::TooLarge);
            return std::nullopt;
        }
    }
    out.resize(used);
    Set(why, FileReadError::None);
    return out;
}

bool StreamRegularFile(const std::string& path,
                       std::size_t maxBytes,
                       LinkPolicy links,
                       const std::function<void(std::string_view piece)>& consume,
                       FileReadError* why) {
    UniqueFd fd = OpenRegularFile(path, links, why);
    if (!fd.valid())
        return false;
    std::string buffer(std::size_t{1} << 20, '\0');
    std::size_t total = 0;
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            Set(why, FileReadError::Unreadable);
            return false;
        }
        if (n == 0)
            break;
        total += static_cast<std::size_t>(n);
        if (total > maxBytes) {
            Set(why, FileReadError::TooLarge);
            return false;
        }
        consume(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    }
    Set(why, FileReadError::None);
    return true;
}

}  // namespace vorn::platform
