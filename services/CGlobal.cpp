#include "services/CGlobal.h"

#include "models/update/ModelUpdater.h"
#include "platform/KeyboardFilter.h"
#include "platform/Logging.h"
#include "platform/UrlSchemeRegistration.h"
#include "services/card/CardReader.h"
#include "services/settings/Deployment.h"
#include "services/settings/IniFile.h"

#include <QCoreApplication>
#include <QDir>

namespace {

const QString kConfigSection = QStringLiteral("Config");

QString DefaultClientFolder() {
    // Before a QCoreApplication exists (tests) the working folder stands in.
    const QString folder =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

}  // namespace

CGlobal& CGlobal::Instance() {
    // Never destroyed: card and update workers may still run while the process exits.
    static CGlobal* instance = new CGlobal;
    return *instance;
}

CGlobal::CGlobal()
    : m_clientFolder(DefaultClientFolder()), m_card(std::make_unique<CCardReader>()) {}

void CGlobal::SetClientFolder(const QString& folder) {
    m_clientFolder = folder.endsWith(u'/') ? folder : folder + u'/';
}

void CGlobal::GetConfigInt(const QString& key, int& value) const {
    value = vorn::IniFile::ReadInt(m_clientFolder + QStringLiteral("config.ini"), kConfigSection, key,
                                   value);
}

void CGlobal::GetConfigString(const QString& key, QString& value) const {
    value = vorn::IniFile::ReadString(m_clientFolder + QStringLiteral("config.ini"), kConfigSection,
                                      key, value, 259);
}

bool CGlobal::SetConfigInt(const QString& key, int value) {
    const bool ok = vorn::IniFile::WriteInt(m_clientFolder + QStringLiteral("config.ini"),
                                            kConfigSection, key, value);
    if (!ok)
        qCWarning(lcSettings, "Could not save %s=%d in %sconfig.ini.", qPrintable(key), value,
                  qPrintable(m_clientFolder));
    return ok;
}

void CGlobal::InitCardReader(QObject* window) {
    m_comPort = 0;
    m_readTime = 500;
    GetConfigInt(QStringLiteral("ComPort"), m_comPort);
    GetConfigInt(QStringLiteral("ReadTime"), m_readTime);
    m_card->Init(window, m_clientFolder, m_comPort, m_readTime);
}

void CGlobal::StartCardReading(int port, int continuous) {
    m_card->StartCardReading(port, continuous);
}

void CGlobal::StopCardReading() {
    m_card->StopCardReading();
}

void CGlobal::StartModelUpdate(int localVersion) {
    if (!m_updater)
        m_updater = std::make_unique<CModelUpdater>(m_clientFolder,
                                                    vorn::deployment::HttpResourceHost());
    m_updater->Start(localVersion);
}

void CGlobal::RegisterUrlProtocol() {
    vorn::platform::RegisterUrlScheme(QStringLiteral("vornapp"),
                                      QCoreApplication::applicationFilePath());
}

bool CGlobal::InstallLockHook(QWindow* window) {
    if (!m_keyboard)
        return false;
    return m_keyboard->InstallLockFilter(window);
}

void CGlobal::RemoveLockHook() {
    if (m_keyboard)
        m_keyboard->RemoveLockFilter();
}
