#include "browser/BrowserProfile.h"

#include "browser/BridgeSchemeHandler.h"
#include "browser/HomeSchemeHandler.h"
#include "browser/PageRequestInterceptor.h"
#include "common/Logging.h"
#include "models/serving/ModelUrl.h"
#include "models/serving/web/CModelRequestInterceptor.h"
#include "services/settings/ClientPaths.h"
#include "services/settings/Deployment.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlScheme>
#include <QWebEngineView>

namespace vorn {

namespace engine {

QStringList Switches(bool disableGpu) {
    QStringList switches = {
        QStringLiteral("--disable-web-security"),
        QStringLiteral("--ppapi-flash-path=PepperFlash/pepflashplayer.dll"),
        QStringLiteral("--enable-media-stream=1"),
        QStringLiteral("--enable-webgl=1"),
        QStringLiteral("--ignore-gpu-blacklist=1"),
        // The engine renamed the switch; both names keep WebGL on any graphics hardware.
        QStringLiteral("--ignore-gpu-blocklist=1"),
        QStringLiteral("--allow-file-access-from-files=1"),
        QStringLiteral("--lang=zh-CN"),
    };
    if (disableGpu)
        switches << QStringLiteral("--disable-gpu");
    return switches;
}

void PrepareEnvironment() {
    // Only the program decides the engine's switches: neither the environment nor the command
    // line may open a debugging port or turn security features back on or off.
    const bool disableGpu = qEnvironmentVariableIntValue("VORN_DISABLE_GPU") == 1;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", Switches(disableGpu).join(u' ').toUtf8());
    qunsetenv("QTWEBENGINE_REMOTE_DEBUGGING");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

void RegisterSchemes() {
    QWebEngineUrlScheme bridge(kBridgeScheme);
    bridge.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    bridge.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled |
                    QWebEngineUrlScheme::ContentSecurityPolicyIgnored |
                    QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(bridge);

    QWebEngineUrlScheme home(kHomeScheme);
    home.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    home.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme |
                  QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(home);
}

}  // namespace engine

namespace {

QString ReadResource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcBrowser,
                  "The built-in resource %s is missing; the page bridge is not available.",
                  qPrintable(path));
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

// A download goes where the user chooses in a save dialog, or nowhere.
void AskWhereToSave(QWebEngineDownloadRequest* download) {
    const QString suggested =
        QDir(download->downloadDirectory()).filePath(download->downloadFileName());
    // The dialog belongs to the page's window: transient for it, so the window manager keeps it
    // above a locked, always-on-top window instead of hiding a modal dialog that would swallow
    // every click and key of the exam.
    QWidget* owner = nullptr;
    if (QWebEnginePage* page = download->page())
        if (QWebEngineView* view = QWebEngineView::forPage(page))
            owner = view->window();
    const QString target = QFileDialog::getSaveFileName(owner, QString(), suggested);
    if (target.isEmpty()) {
        download->cancel();
        return;
    }
    const QFileInfo info(target);
    download->setDownloadDirectory(info.absolutePath());
    download->setDownloadFileName(info.fileName());
    download->accept();
}

}  // namespace

CBrowserProfile::CBrowserProfile(const vorn::ClientPaths& paths,
                                 bool lockAvailable,
                                 std::shared_future<std::string> clientKey,
                                 QObject* parent)
    : QObject(parent), m_clientKey(std::move(clientKey)) {
    // A named profile: the default one keeps nothing on disk.
    m_profile = new QWebEngineProfile(QStringLiteral("vornclient"), this);
    // Per user when installed: the temporary folder is shared by every user of the machine.
    const QString caches = paths.EngineCacheFolder();
    m_profile->setCachePath(caches);
    m_profile->setPersistentStoragePath(caches + QStringLiteral("/storage"));
    m_profile->setHttpAcceptLanguage(QStringLiteral("zh-CN"));

    // Model URLs are answered from the model folder when the file is there.
    namespace deployment = vorn::deployment;
    m_models = new vorn::CModelRequestInterceptor(
        paths.ModelFolder(),
        vorn::BuildModelUrlPrefixes(
            deployment::StaticHost().toStdString(), deployment::HttpResourceHost().toStdString(),
            deployment::HttpsResourceHost().toStdString(), deployment::PageHost().toStdString()),
        this);
    m_interceptor = new CPageRequestInterceptor(m_models, m_clientKey, this);
    m_profile->setUrlRequestInterceptor(m_interceptor);

    m_bridge = new CBridgeSchemeHandler(this);
    m_profile->installUrlSchemeHandler(vorn::engine::kBridgeScheme, m_bridge);
    m_profile->installUrlSchemeHandler(vorn::engine::kHomeScheme, new CHomeSchemeHandler(this));

    connect(m_profile, &QWebEngineProfile::downloadRequested, this, &AskWhereToSave);
    InstallScripts(lockAvailable);
}

CBrowserProfile::~CBrowserProfile() = default;

void CBrowserProfile::InstallScripts(bool lockAvailable) {
    // Runs in every frame before the page's own scripts, after every navigation.
    QWebEngineScript bridge;
    bridge.setName(QStringLiteral("vorn-bridge"));
    bridge.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bridge.setWorldId(QWebEngineScript::MainWorld);
    bridge.setRunsOnSubFrames(true);
    const QString flag =
        QStringLiteral(
            "Object.defineProperty(window,'__vornLockAvailable',{value:%1,writable:false,"
            "enumerable:false,configurable:false});\n")
            .arg(lockAvailable ? "true" : "false");
    bridge.setSourceCode(flag + ReadResource(QStringLiteral(":/vorn/bridge.js")));
    m_profile->scripts()->insert(bridge);

    // The engine's error document: hidden in the main frame, our heading in frames.
    QWebEngineScript frameError;
    frameError.setName(QStringLiteral("vorn-error-page"));
    frameError.setInjectionPoint(QWebEngineScript::DocumentCreation);
    frameError.setWorldId(QWebEngineScript::MainWorld);
    frameError.setRunsOnSubFrames(true);
    frameError.setSourceCode(ReadResource(QStringLiteral(":/vorn/frame_error.js")));
    m_profile->scripts()->insert(frameError);
}

}  // namespace vorn
