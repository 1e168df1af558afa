#include "platform/linux/SingleInstance_linux.h"

#include "common/Logging.h"
#include "platform/UniqueFd.h"

#include <QByteArray>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

namespace vorn::platform {
namespace {

// Held for the life of the process: closing it would give the lock away.
void Keep(UniqueFd& fd) {
    *fd.out() = -1;
}

// A runtime folder counts only when it is really the user's: a folder (not a link to one) that
// the user owns and nobody else may write to, so nobody else can create or hold a file there.
bool IsPrivateFolder(const QByteArray& folder) {
    struct stat st {};
    if (folder.isEmpty() || ::lstat(folder.constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool LockFile(const QByteArray& path) {
    // Close-on-exec: the engine's helper processes and anything started through xdg-open must
    // not inherit the descriptor, or a leftover child would keep the lock after the client is gone.
    UniqueFd fd(
        ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    if (!fd.valid()) {
        qCWarning(lcApp, "Cannot create the single-instance lock %s (%s); starting without it.",
                  path.constData(), std::strerror(errno));
        return true;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK)
            return false;
        qCWarning(lcApp, "Cannot lock %s (%s); starting without the single-instance lock.",
                  path.constData(), std::strerror(error));
        return true;
    }
    Keep(fd);
    return true;
}

// The abstract namespace has no permissions: anyone may bind any name. The user id in the name
// keeps users apart, and the holder's credentials tell a second instance of ours from a name
// squatted by someone else, which must not keep the client from starting.
bool LockAbstractSocket(const std::string& name) {
    const uid_t uid = ::geteuid();
    const std::string socketName = name + "." + std::to_string(uid);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::min(socketName.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, socketName.data(), length);  // leading NUL: abstract
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);

    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        qCWarning(lcApp, "Cannot create the single-instance socket (%s); starting without it.",
                  std::strerror(errno));
        return true;
    }
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), size) == 0 &&
        ::listen(fd.get(), 4) == 0) {
        Keep(fd);
        return true;
    }
    if (errno != EADDRINUSE) {
        qCWarning(lcApp, "Cannot take the single-instance socket (%s); starting without it.",
                  std::strerror(errno));
        return true;
    }
    UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ucred holder{};
    socklen_t credLength = sizeof holder;
    const bool answered =
        probe.valid() &&
        ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), size) == 0 &&
        ::getsockopt(probe.get(), SOL_SOCKET, SO_PEERCRED, &holder, &credLength) == 0;
    if (answered && holder.uid == uid)
        return false;
    if (answered)
        qCWarning(lcApp,
                  "The single-instance name of this user is held by another user's "
                  "process (pid %d, uid %d); starting anyway.",
                  static_cast<int>(holder.pid), static_cast<int>(holder.uid));
    else
        qCWarning(lcApp,
                  "The single-instance name of this user is held by a process that does "
                  "not answer; starting anyway.");
    return true;
}

}  // namespace

std::string SingleInstanceLockPath(const std::string& name) {
    const QByteArray folder = qgetenv("XDG_RUNTIME_DIR");
    if (!IsPrivateFolder(folder))
        return {};
    return folder.toStdString() + '/' + name;
}

namespace {

class RuntimeFolderInstance : public ISingleInstance {
public:
    bool Acquire(const std::string& name) override {
        const std::string path = SingleInstanceLockPath(name);
        if (!path.empty())
            return LockFile(QByteArray::fromStdString(path));
        qCDebug(lcApp)
            << "no private runtime folder; single-instance lock through an abstract socket";
        return LockAbstractSocket(name);
    }
};

}  // namespace

std::unique_ptr<ISingleInstance> CreateSingleInstance() {
    return std::make_unique<RuntimeFolderInstance>();
}

}  // namespace vorn::platform
