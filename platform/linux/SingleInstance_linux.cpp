#include "platform/SingleInstance.h"

#include "platform/Logging.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vorn::platform {

QString SingleInstanceLockPath(const QString& name) {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::tempPath();
    return QDir(folder).filePath(name);
}

bool AcquireSingleInstance(const QString& name) {
    const QByteArray path = QFile::encodeName(SingleInstanceLockPath(name));
    // Close-on-exec: the engine's helper processes and anything started through xdg-open must not
    // inherit the descriptor, or a leftover child would keep the lock after the client is gone.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        qCWarning(lcApp, "Cannot create the single-instance lock %s (%s); starting without it.",
                  path.constData(), std::strerror(errno));
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return false;
        qCWarning(lcApp, "Cannot lock %s (%s); starting without the single-instance lock.",
                  path.constData(), std::strerror(error));
        return true;
    }
    // The descriptor is deliberately kept open for the life of the process.
    return true;
}

}  // namespace vorn::platform
