#include "services/settings/ClientPaths.h"

#include "services/settings/StateFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vorn {
namespace {

QString WithSlash(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

}  // namespace

QString ClientPaths::InstalledMarkerName() {
    return QString::fromUtf8(kInstalledMarkerName.data(),
                             static_cast<qsizetype>(kInstalledMarkerName.size()));
}

ClientPaths ClientPaths::Resolve(const QString& clientFolder,
                                 const QString& dataHome,
                                 const QString& cacheHome) {
    ClientPaths paths;
    paths.m_client = WithSlash(clientFolder);
    const QFileInfo folder(paths.m_client);
    const StateFolderChoice choice =
        ChooseStateFolder(paths.m_client.toStdString(), dataHome.toStdString(), folder.isWritable(),
                          QFileInfo::exists(paths.m_client + InstalledMarkerName()));
    paths.m_state = QString::fromStdString(choice.stateFolder);
    if (choice.installed) {
        paths.m_mode = Mode::Installed;
        paths.m_cache =
            WithSlash(cacheHome.isEmpty() ? paths.m_state
                                          : WithSlash(cacheHome) + QStringLiteral("vornclient")) +
            QStringLiteral("caches");
    } else {
        paths.m_cache = QDir::tempPath() + QStringLiteral("/caches");
    }
    return paths;
}

ClientPaths ClientPaths::Resolve(const QString& clientFolder) {
    return Resolve(clientFolder,
                   QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                   QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation));
}

bool ClientPaths::EnsureStateFolder() const {
    if (m_mode == Mode::Portable)
        return true;
    QDir state(m_state);
    if (state.exists())
        return true;
    const QString parent = QFileInfo(m_state.chopped(1)).absolutePath();
    if (!QDir().mkpath(parent))
        return false;
    return QDir().mkdir(m_state, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
           state.exists();
}

}  // namespace vorn
