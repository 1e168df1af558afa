#include "app/ClientKeySetup.h"

#include "common/Logging.h"
#include "services/CGlobal.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <system_error>

namespace vorn {

vorn::ClientKeyInputs InstalledClientKeyInputs(const CGlobal& settings) {
    QString url;
    settings.GetConfigString(QStringLiteral("Url"), url);
    return {QCoreApplication::applicationFilePath().toStdU16String(),
            (settings.ClientFolder() + QStringLiteral("Skin/CEFBrowser")).toStdU16String(),
            url.toStdString()};
}

std::string ComputeInstalledClientKey(const vorn::ClientKeyInputs& inputs) {
    QElapsedTimer timer;
    timer.start();
    const std::optional<std::string> key = vorn::ComputeClientKey(inputs);
    if (!key) {
        qCWarning(lcApp,
                  "The client's own executable could not be read, so its requests cannot "
                  "be signed; the exam service may refuse them.");
        return {};
    }
    qCDebug(lcApp) << "client key computed in" << timer.nsecsElapsed() / 1000 << "us";
    return *key;
}

std::shared_future<std::string> StartInstalledClientKey(const CGlobal& settings) {
    // The inputs are gathered here: settings and paths belong to the main thread.
    vorn::ClientKeyInputs inputs = InstalledClientKeyInputs(settings);
    try {
        return std::async(
                   std::launch::async,
                   [inputs = std::move(inputs)] { return ComputeInstalledClientKey(inputs); })
            .share();
    } catch (const std::system_error& e) {
        qCDebug(lcApp) << "no worker for the client key (" << e.what() << "); computing it now";
    }
    std::promise<std::string> now;
    // `inputs` went into the worker's function, which was built before the worker failed.
    now.set_value(ComputeInstalledClientKey(InstalledClientKeyInputs(settings)));
    return now.get_future().share();
}

}  // namespace vorn
