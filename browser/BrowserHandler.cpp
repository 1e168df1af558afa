#include "browser/BrowserHandler.h"

#include "browser/BrowserHandlerCallback.h"
#include "browser/bridge/JsEscape.h"
#include "browser/bridge/LoadPolicy.h"
#include "common/Logging.h"

#include <QDateTime>
#include <QProcess>
#include <QTimer>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace vorn {

namespace {

// Chromium's net error for a load that was replaced or stopped: no error page for those.
constexpr int kErrAborted = -3;
// Chromium's generic failure, shown when the page's renderer keeps dying on reload.
constexpr int kErrFailed = -2;
// Chromium's code for an address it cannot parse.
constexpr int kErrInvalidUrl = -300;
// A renderer that dies again this soon after the last recovery is not reloaded at once: the
// retries then wait with a growing pause, so a page that kills its renderer does not spin.
constexpr qint64 kStableAfterMs = 30000;

const char* kRecoveredScriptName = "vorn-recovered";

const char* TerminationReason(QWebEnginePage::RenderProcessTerminationStatus status) {
    switch (status) {
        case QWebEnginePage::CrashedTerminationStatus:
            return "crashed";
        case QWebEnginePage::KilledTerminationStatus:
            return "killed";
        case QWebEnginePage::AbnormalTerminationStatus:
            return "abnormal";
        case QWebEnginePage::NormalTerminationStatus:
            break;
    }
    return "normal";
}

bool IsWebScheme(const QString& scheme) {
    static const QStringList kSchemes = {
        QStringLiteral("http"),       QStringLiteral("https"),      QStringLiteral("file"),
        QStringLiteral("data"),       QStringLiteral("about"),      QStringLiteral("blob"),
        QStringLiteral("qrc"),        QStringLiteral("ws"),         QStringLiteral("wss"),
        QStringLiteral("javascript"), QStringLiteral("filesystem"), QStringLiteral("vornbridge"),
        QStringLiteral("vorn")};
    return kSchemes.contains(scheme);
}

}  // namespace

CBrowserHandler::CBrowserHandler(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
    // Only with its error page on does the engine leave anything in a frame that failed to load;
    // frame_error.js turns that into our heading there and hides it in the main frame, where
    // our own error page replaces it (see OnLoadingChanged).
    settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, true);
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
                qCDebug(lcBrowser)
                    << "accepting certificate error" << error.description() << error.url();
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
    connect(this, &QWebEnginePage::renderProcessTerminated, this,
            &CBrowserHandler::OnRenderProcessTerminated);
    connect(this, &QWebEnginePage::urlChanged, this, &CBrowserHandler::OnUrlChanged);
    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &CBrowserHandler::Retry);
    connect(this, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
        if (m_callback)
            m_callback->OnTitleChange(title);
    });
}

CBrowserHandler::~CBrowserHandler() = default;

void CBrowserHandler::SendJavaScript(const std::string& text) {
    SendJavaScript(QString::fromStdString(text));
}

void CBrowserHandler::SendJavaScript(const QString& text) {
    if (text.isEmpty() || m_closed)
        return;
    qCDebug(lcBridge) << "send javascript func string:" << text.left(300);
    runJavaScript(text, QWebEngineScript::MainWorld);
}

void CBrowserHandler::CloseBrowser() {
    if (m_closed)
        return;
    m_closed = true;
    m_retryTimer->stop();
    triggerAction(QWebEnginePage::Stop);
    setUrl(QUrl(QStringLiteral("about:blank")));
}

void CBrowserHandler::Load(const QUrl& url) {
    if (!m_closed)
        setUrl(url);
}

void CBrowserHandler::LoadStartAddress(const QString& text) {
    const QUrl url = vorn::StartUrlFromSetting(text);
    if (!url.isEmpty() || text.trimmed().isEmpty()) {
        if (!url.isEmpty() && url.toString() != text.trimmed())
            qCInfo(lcBrowser) << "start address" << text << "read as" << url.toString();
        Load(url);
        return;
    }
    qCWarning(lcBrowser,
              "The start address \"%s\" in config.ini names no address that can be "
              "loaded; check the Url setting.",
              qPrintable(text));
    if (m_closed)
        return;
    m_failedUrl.clear();
    m_loadingErrorPage = true;
    setHtml(ErrorPageHtml(text.trimmed(), QString(), QStringLiteral("net::ERR_INVALID_URL"),
                          kErrInvalidUrl));
}

void CBrowserHandler::ReloadPage() {
    if (m_closed)
        return;
    qCDebug(lcBrowser) << "reload asked for" << (m_failedUrl.isEmpty() ? url() : m_failedUrl);
    if (!m_failedUrl.isEmpty()) {
        Retry();
        return;
    }
    triggerAction(QWebEnginePage::Reload);
}

QString CBrowserHandler::ErrorPageHtml(const QUrl& url, const QString& errorText, int errorCode) {
    return ErrorPageHtml(url.toString(), url.toString(QUrl::FullyEncoded), errorText, errorCode);
}

QString CBrowserHandler::ErrorPageHtml(const QString& address,
                                       const QString& reloadAddress,
                                       const QString& errorText,
                                       int errorCode) {
    // The heading is what pages and people know of this page; the button comes after it.
    QString html = QStringLiteral("<html><body><h2>Failed to load URL %1 with error %2 (%3).</h2>")
                       .arg(vorn::HtmlEscape(address), vorn::HtmlEscape(errorText),
                            QString::number(errorCode));
    if (!reloadAddress.isEmpty())
        html += QStringLiteral(
                    "<button type=\"button\" data-url=\"%1\" "
                    "onclick=\"location.replace(this.dataset.url)\">重新加载 Reload"
                    "</button>")
                    .arg(vorn::HtmlEscape(reloadAddress));
    return html + QStringLiteral("</body></html>");
}

QString CBrowserHandler::OriginOf(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    // Documents without a host of their own (data:, about:) share no origin with anything.
    if (url.host().isEmpty())
        return scheme + QLatin1Char(':') + url.toString(QUrl::RemoveQuery | QUrl::RemoveFragment);
    const int defaultPort = scheme == QLatin1String("https")  ? 443
                            : scheme == QLatin1String("http") ? 80
                                                              : -1;
    return scheme + QStringLiteral("://") + url.host().toLower() + QLatin1Char(':') +
           QString::number(url.port(defaultPort));
}

void CBrowserHandler::OnUrlChanged(const QUrl& url) {
    if (m_callback)
        m_callback->OnAddressChange(url);
    // Our error page keeps the failed address, so it never looks like another site.
    const QString origin = OriginOf(url);
    if (origin == m_origin)
        return;
    const bool first = m_origin.isEmpty();
    m_origin = origin;
    if (first)
        return;
    // Another site now holds the page: the candidate's card data must not follow it.
    qCDebug(lcBridge) << "main frame moved to another origin" << origin;
    emit OriginChanged();
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

bool CBrowserHandler::acceptNavigationRequest(const QUrl& url,
                                              NavigationType type,
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
                                               const QString& message,
                                               int lineNumber,
                                               const QString& sourceID) {
    Q_UNUSED(level);
    qCDebug(lcPage).noquote()
        << QStringLiteral("%1:%2: %3").arg(sourceID).arg(lineNumber).arg(message);
}

void CBrowserHandler::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
    if (m_closed)
        return;
    // Our own error page starts as data and finishes under the failed address; it neither fails
    // over itself nor counts as the page.
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
        m_loadingErrorPage = info.url().scheme() == QLatin1String("data");
    const bool ownErrorPage = m_loadingErrorPage;
    switch (info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            if (!ownErrorPage && info.url() != m_failedUrl) {
                // The page went elsewhere: no retry may take it back to the failed address.
                m_retryTimer->stop();
                m_failedUrl.clear();
            }
            return;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            if (ownErrorPage)
                return;
            m_committedUrl = info.url();
            m_failedUrl.clear();
            m_retryTimer->stop();
            m_retryAttempt = 0;
            if (m_recovering) {
                m_recovering = false;
                // The dead renderer took the view's keyboard focus with it; the candidate types on.
                if (QWebEngineView* view = QWebEngineView::forPage(this))
                    view->setFocus(Qt::OtherFocusReason);
            }
            // The first document after a recovery has been told; later ones are not.
            RemoveRecoveredScript();
            return;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            return;
        case QWebEngineLoadingInfo::LoadFailedStatus:
            break;
    }
    // HTTP error statuses come with the server's own page, which stays; aborted loads were
    // replaced on purpose.
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
        m_committedUrl = info.url();
        m_recovering = false;
        RemoveRecoveredScript();
        return;
    }
    if (info.errorCode() == kErrAborted || ownErrorPage)
        return;
    qCDebug(lcBrowser) << "load failed" << info.url() << info.errorCode() << info.errorString();
    ShowErrorPage(info.url(), info.errorString(), info.errorCode());
    // A short outage heals by itself for a candidate who cannot leave the page, and after a
    // renderer's death, which nobody asked for.
    if (vorn::IsNetworkFailure(info.errorCode()) && (IsLocked() || m_recovering))
        ScheduleRetry();
}

void CBrowserHandler::ShowErrorPage(const QUrl& url, const QString& errorText, int errorCode) {
    m_failedUrl = url;
    // Set here too: the engine does not report the start of a load begun while it is still
    // reporting the end of the failed one.
    m_loadingErrorPage = true;
    setHtml(ErrorPageHtml(url, errorText, errorCode), url);
}

void CBrowserHandler::ScheduleRetry() {
    const auto pause = vorn::RetryPause(m_retryAttempt++);
    qCInfo(lcBrowser) << "retrying" << m_failedUrl << "in" << pause.count() << "s";
    m_retryTimer->start(std::chrono::milliseconds(pause));
}

void CBrowserHandler::Retry() {
    m_retryTimer->stop();
    if (m_closed || m_failedUrl.isEmpty())
        return;
    // An address that cannot be parsed stays on its error page.
    if (!m_failedUrl.isValid())
        return;
    setUrl(m_failedUrl);
}

bool CBrowserHandler::IsLocked() const {
    return m_callback && m_callback->IsLocked();
}

void CBrowserHandler::OnRenderProcessTerminated(RenderProcessTerminationStatus status,
                                                int exitCode) {
    if (m_closed || status == NormalTerminationStatus)
        return;
    if (m_reloadPending) {
        // The same death told twice, before our reload began.
        qCDebug(lcBrowser) << "renderer end reported again; reload already under way";
        return;
    }
    const char* reason = TerminationReason(status);
    const QUrl target = !m_failedUrl.isEmpty()      ? m_failedUrl
                        : !m_committedUrl.isEmpty() ? m_committedUrl
                                                    : url();
    qCWarning(lcBrowser,
              "The page's renderer process ended abnormally (%s, exit code %d); "
              "loading %s again.",
              reason, exitCode, qPrintable(target.toString()));
    SetRecoveredScript(QString::fromLatin1(reason), exitCode);
    const bool again =
        m_recovering || (m_sinceRecovery.isValid() && m_sinceRecovery.elapsed() < kStableAfterMs);
    m_recovering = true;
    m_sinceRecovery.start();
    if (!again) {
        m_failedUrl.clear();
        m_retryTimer->stop();
        // Not from within the engine's own report of the death: it is still taking the dead
        // process apart, and a load begun now was seen to be reported dead a second time.
        m_reloadPending = true;
        QTimer::singleShot(0, this, [this, target] {
            m_reloadPending = false;
            if (!m_closed)
                setUrl(target);
        });
        return;
    }
    // It died again soon after: show why and retry with a growing pause.
    ShowErrorPage(target,
                  QStringLiteral("the page's renderer process %1 (exit code %2)")
                      .arg(status == KilledTerminationStatus    ? QStringLiteral("was killed")
                           : status == CrashedTerminationStatus ? QStringLiteral("crashed")
                                                                : QStringLiteral("ended"))
                      .arg(exitCode),
                  kErrFailed);
    ScheduleRetry();
}

void CBrowserHandler::SetRecoveredScript(const QString& reason, int exitCode) {
    RemoveRecoveredScript();
    QWebEngineScript script;
    script.setName(QString::fromLatin1(kRecoveredScriptName));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(
        QStringLiteral("try{Object.defineProperty(window,'__vornRecovered',{value:Object.freeze({"
                       "reason:'%1',exitCode:%2,at:%3}),writable:false,enumerable:false,"
                       "configurable:false})}catch(e){}")
            .arg(vorn::JsStringLiteralContent(reason, vorn::JsQuote::Single))
            .arg(exitCode)
            .arg(QDateTime::currentMSecsSinceEpoch()));
    scripts().insert(script);
    m_recoveredScript = true;
}

void CBrowserHandler::RemoveRecoveredScript() {
    if (!m_recoveredScript)
        return;
    m_recoveredScript = false;
    for (const QWebEngineScript& script : scripts().find(QString::fromLatin1(kRecoveredScriptName)))
        scripts().remove(script);
}

}  // namespace vorn
