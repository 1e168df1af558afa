#include "services/CGlobal.h"

#include "common/Logging.h"
#include "services/UrlProtocol.h"
#include "services/settings/IniFile.h"

#include <QCoreApplication>
#include <QDir>

namespace vorn {

namespace {

const QString kConfigSection = QStringLiteral("Config");
const QString kUserKey = QStringLiteral("ComPort");

bool IsUserSetting(const QString& key) {
    return key.compare(kUserKey, Qt::CaseInsensitive) == 0;
}

QString DefaultClientFolder() {
    // Before a QCoreApplication exists (tests) the working folder stands in.
    const QString folder =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

}  // namespace

CGlobal::CGlobal() : CGlobal(DefaultClientFolder()) {}

CGlobal::CGlobal(const QString& clientFolder) : m_paths(vorn::ClientPaths::Resolve(clientFolder)) {}

void CGlobal::GetConfigInt(const QString& key, int& value) const {
    value = vorn::IniFile::ReadInt(m_paths.SettingsFile(), kConfigSection, key, value);
    if (IsUserSetting(key) && m_paths.UserSettingsFile() != m_paths.SettingsFile())
        value = vorn::IniFile::ReadInt(m_paths.UserSettingsFile(), kConfigSection, key, value);
}

void CGlobal::GetConfigString(const QString& key, QString& value) const {
    value = vorn::IniFile::ReadString(m_paths.SettingsFile(), kConfigSection, key, value, 259);
}

bool CGlobal::SetConfigInt(const QString& key, int value) {
    const QString file = IsUserSetting(key) ? m_paths.UserSettingsFile() : m_paths.SettingsFile();
    const bool ok =
        m_paths.EnsureStateFolder() && vorn::IniFile::WriteInt(file, kConfigSection, key, value);
    if (!ok)
        qCWarning(lcSettings, "Could not save %s=%d in %s.", qPrintable(key), value,
                  qPrintable(file));
    return ok;
}

void CGlobal::RegisterUrlProtocol(const vorn::platform::IUrlSchemeRegistration& urls) const {
    vorn::RegisterClientUrlScheme(urls, m_paths.GetMode() == vorn::ClientPaths::Mode::Installed,
                                  QCoreApplication::applicationFilePath().toStdString());
}

}  // namespace vorn
