#include "browser/BrowserHandler.h"

#include "browser/BrowserHandlerCallback.h"
#include "browser/bridge/JsEscape.h"
#include "platform/Logging.h"
#include "services/CGlobal.h"
#include "services/Messages.h"

#include <QCoreApplication>
#include <QProcess>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineScript>
#include <QWebEngineSettings>

namespace {

// Chromium's net error for a load that was replaced or stopped: no error page for those.
constexpr int kErrAborted = -3;

bool IsWebScheme(const QString& scheme) {
    static const QStringList kSchemes = {
        QStringLiteral("http"),  QStringLiteral("https"), QStringLiteral("file"),
        QStringLiteral("data"),  QStringLiteral("about"), QStringLiteral("blob"),
        QStringLiteral("qrc"),   QStringLiteral("ws"),    QStringLiteral("wss"),
        QStringLiteral("javascript"), QStringLiteral("filesystem"),
        QStringLiteral("vornbridge"), QStringLiteral("vorn")};
    return kSchemes.contains(scheme);
}

}  // namespace

CBrowserHandler::CBrowserHandler(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
    // Our own error page replaces the engine's (see OnLoadingChanged).
    settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    settings()->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, true);
    settings()->setAttribute(QWebEngineSettings::WebGLEnabled, true);
    // Every unknown scheme reaches acceptNavigationRequest, which keeps the allow-list.
    settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowAllUnknownUrlSchemes);

    connect(this, &QWebEnginePage::certificateError, this,
            [](const QWebEngineCertificateError& error) {
                // The exam service is reached whatever its certificates say.
                auto copy = error;
                qCDebug(lcBrowser) << "accepting certificate error" << error.description()
                                   << error.url();
                copy.acceptCertificate();
            });
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, Feature feature) {
                const bool media = feature == MediaAudioCapture || feature == MediaVideoCapture ||
                                   feature == MediaAudioVideoCapture;
                setFeaturePermission(origin, feature,
                                     media ? PermissionGrantedByUser : PermissionDeniedByUser);
            });
    connect(this, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest& request) {
                // Not opening the request cancels the pop-up; the window decides about the URL.
                if (m_callback)
                    m_callback->OnBeforePopup(request.requestedUrl());
            });
    connect(this, &QWebEnginePage::loadingChanged, this, &CBrowserHandler::OnLoadingChanged);
    connect(this, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
        if (m_callback)
            m_callback->OnAddressChange(url);
    });
    connect(this, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
        if (m_callback)
            m_callback->OnTitleChange(title);
    });
}

CBrowserHandler::~CBrowserHandler() = default;

void CBrowserHandler::SetOwner(CCefBrowserUI* control, ICefBrowserHandler* window) {
    m_control = control;
    m_callback = window;
}

void CBrowserHandler::SendJavaScript(const std::string& text) {
    SendJavaScript(QString::fromStdString(text));
}

void CBrowserHandler::SendJavaScript(const QString& text) {
    if (text.isEmpty() || m_closed)
        return;
    qCDebug(lcBridge) << "send javascript func string:" << text.left(300);
    runJavaScript(text, QWebEngineScript::MainWorld);
}

void CBrowserHandler::CloseBrowser(bool force) {
    Q_UNUSED(force);
    if (m_closed)
        return;
    m_closed = true;
    triggerAction(QWebEnginePage::Stop);
    setUrl(QUrl(QStringLiteral("about:blank")));
}

void CBrowserHandler::PostToWindow(int message, qintptr wParam) {
    if (!m_window) {
        qCDebug(lcBridge) << "no window for message" << message;
        return;
    }
    QCoreApplication::postEvent(m_window, new CMessageEvent(message, wParam));
}

void CBrowserHandler::SetConfigInt(const QString& key, int value) {
    CGlobal::Instance().SetConfigInt(key, value);
}

void CBrowserHandler::StartCardReading(int port, int continuous) {
    CGlobal::Instance().StartCardReading(port, continuous);
}

void CBrowserHandler::StopCardReading() {
    CGlobal::Instance().StopCardReading();
}

QString CBrowserHandler::ErrorPageHtml(const QUrl& url, const QString& errorText, int errorCode) {
    return QStringLiteral("<html><body><h2>Failed to load URL %1 with error %2 (%3).</h2></body></html>")
        .arg(vorn::HtmlEscape(url.toString()), vorn::HtmlEscape(errorText),
             QString::number(errorCode));
}

bool CBrowserHandler::IsAllowedExternalScheme(const QUrl& url, bool* stopLoad) {
    const QString text = url.toString();
    *stopLoad = false;
    if (text.startsWith(QLatin1String("spotify:")))
        return true;
    if (text.startsWith(QLatin1String("aliim:")) || text.startsWith(QLatin1String("tencent:"))) {
        *stopLoad = true;
        return true;
    }
    return false;
}

bool CBrowserHandler::acceptNavigationRequest(const QUrl& url, NavigationType type,
                                              bool isMainFrame) {
    qCDebug(lcBrowser) << "navigation" << url << type << isMainFrame;
    if (IsWebScheme(url.scheme()))
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    bool stopLoad = false;
    if (IsAllowedExternalScheme(url, &stopLoad)) {
        qCDebug(lcBrowser) << "handing to the desktop:" << url.toString();
        QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
        if (stopLoad)
            triggerAction(QWebEnginePage::Stop);
    } else {
        qCDebug(lcBrowser) << "refusing external scheme" << url.scheme();
    }
    return false;
}

void CBrowserHandler::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                               const QString& message, int lineNumber,
                                               const QString& sourceID) {
    Q_UNUSED(level);
    qCDebug(lcPage).noquote() << QStringLiteral("%1:%2: %3").arg(sourceID).arg(lineNumber).arg(message);
}

void CBrowserHandler::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus || m_closed)
        return;
    // HTTP error statuses come with the server's own page, which stays; aborted loads were
    // replaced on purpose.
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain ||
        info.errorCode() == kErrAborted)
        return;
    if (info.url().scheme() == QLatin1String("data"))
        return;  // our own error page never fails over itself
    qCDebug(lcBrowser) << "load failed" << info.url() << info.errorCode() << info.errorString();
    setHtml(ErrorPageHtml(info.url(), info.errorString(), info.errorCode()), info.url());
}
