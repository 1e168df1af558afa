#include "app/ClientKeySetup.h"

#include "platform/Logging.h"
#include "services/CGlobal.h"
#include "services/integrity/ClientKey.h"

#include <QCoreApplication>
#include <QElapsedTimer>

std::string ComputeInstalledClientKey() {
    QElapsedTimer timer;
    timer.start();
    CGlobal& global = CGlobal::Instance();
    QString url;
    global.GetConfigString(QStringLiteral("Url"), url);
    const vorn::ClientKeyInputs inputs{
        QCoreApplication::applicationFilePath().toStdU16String(),
        (global.ClientFolder() + QStringLiteral("Skin/CEFBrowser")).toStdU16String(),
        url.toStdString()};
    const std::optional<std::string> key = vorn::ComputeClientKey(inputs);
    if (!key) {
        qCWarning(lcApp, "The client's own executable could not be read, so its requests cannot "
                         "be signed; the exam service may refuse them.");
        return {};
    }
    qCDebug(lcApp) << "client key computed in" << timer.nsecsElapsed() / 1000 << "us";
    return *key;
}
