#include "browser/BrowserHandler.h"

#include "browser/BrowserHandlerCallback.h"
#include "browser/bridge/JsEscape.h"
#include "browser/bridge/LoadPolicy.h"
#include "common/Logging.h"
#include "platform/Desktop.h"
#include "platform/ProcessControl.h"

#include <QDateTime>
#include <QPointer>
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
// A page recovered after its renderer's death counts as recovered once it has stayed alive this
// long. A renderer that dies again before is not reloaded at once: the retries then wait with a
// growing pause, so a page that kills its renderer does not spin.
constexpr std::chrono::milliseconds kStableAfter{30000};

// Why a renderer we ended ourselves ended, as the page is told.
const char* kUnresponsive = "unresponsive";

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

CBrowserHandler::CBrowserHandler(QWebEngineProfile* profile,
                                 std::unique_ptr<platform::IProcessControl> processes,
                                 QObject* parent)
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
    m_stableTimer = new QTimer(this);
    m_stableTimer->setSingleShot(true);
    m_stableTimer->setInterval(kStableAfter);
    connect(m_stableTimer, &QTimer::timeout, this, [this] {
        qCDebug(lcBrowser) << "page stayed alive after its recovery; pauses start over";
        m_retryAttempt = 0;
    });

    m_processControl = std::move(processes);
    m_watchTimer = new QTimer(this);
    m_watchTimer->setInterval(m_watchdog.GetTiming().pingEvery);
    connect(m_watchTimer, &QTimer::timeout, this, &CBrowserHandler::WatchRenderer);
    m_watchTimer->start();
    // Loads that begin, move on or end are the renderer at work; only silence counts.
    connect(this, &QWebEnginePage::loadProgress, this, [this] { m_watchdog.Alive(); });
    connect(this, &QWebEnginePage::renderProcessPidChanged, this, [this](qint64 pid) {
        qCDebug(lcBrowser) << "page renderer process" << pid;
        m_watchdog.Restart();
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

std::function<void(const QString& text)> CBrowserHandler::ScriptRunner() {
    return [page = QPointer<CBrowserHandler>(this)](const QString& text) {
        if (page)
            page->SendJavaScript(text);
    };
}

void CBrowserHandler::CloseBrowser() {
    if (m_closed)
        return;
    m_closed = true;
    m_retryTimer->stop();
    m_stableTimer->stop();
    m_watchTimer->stop();
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
    if (m_reloadPending || !m_endReason.isEmpty()) {
        qCDebug(lcBrowser) << "reload asked while the page is being recovered; nothing more to do";
        return;
    }
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
        platform::OpenWithDesktopHandler(url.toString().toStdString());
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
    m_watchdog.Alive();
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
            // After a renderer's death the pause keeps growing until the page has stayed alive.
            if (!m_recovering && !m_stableTimer->isActive())
                m_retryAttempt = 0;
            RecoveredPageShown();
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
        RecoveredPageShown();
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
    // A renderer we ended for not answering is reported as killed; the page learns why.
    const QString reason =
        m_endReason.isEmpty() ? QString::fromLatin1(TerminationReason(status)) : m_endReason;
    const bool unresponsive = !m_endReason.isEmpty();
    m_endReason.clear();
    m_watchdog.Restart();
    const QUrl target = !m_failedUrl.isEmpty()      ? m_failedUrl
                        : !m_committedUrl.isEmpty() ? m_committedUrl
                                                    : url();
    qCWarning(lcBrowser,
              "The page's renderer process ended abnormally (%s, exit code %d); "
              "loading %s again.",
              qPrintable(reason), exitCode, qPrintable(target.toString()));
    SetRecoveredScript(reason, exitCode);
    // Died again before the page it was reloaded for had stayed alive for a while.
    const bool again = m_recovering || m_stableTimer->isActive();
    m_stableTimer->stop();
    m_recovering = true;
    if (!again) {
        m_retryAttempt = 0;
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
                      .arg(unresponsive ? QStringLiteral("stopped answering and was ended")
                           : status == KilledTerminationStatus  ? QStringLiteral("was killed")
                           : status == CrashedTerminationStatus ? QStringLiteral("crashed")
                                                                : QStringLiteral("ended"))
                      .arg(exitCode),
                  kErrFailed);
    ScheduleRetry();
}

void CBrowserHandler::RecoveredPageShown() {
    if (!m_recovering)
        return;
    m_recovering = false;
    m_stableTimer->start();
    // The dead renderer took the view's keyboard focus with it; the candidate types on.
    if (QWebEngineView* view = QWebEngineView::forPage(this))
        view->setFocus(Qt::OtherFocusReason);
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

// Holds the watchdog back while one of the page's dialogs is open. A renderer waiting for the
// candidate's answer to alert(), confirm(), prompt() or a before-unload question runs no script,
// so it cannot answer a ping (measured: the ping's answer comes once the dialog is closed).
class CBrowserHandler::DialogScope {
public:
    explicit DialogScope(CBrowserHandler* page) : m_page(page) {
        ++m_page->m_openDialogs;
        m_page->m_watchdog.Restart();
    }
    ~DialogScope() {
        // The dialog runs its own event loop, in which the page may have been destroyed.
        if (!m_page)
            return;
        --m_page->m_openDialogs;
        m_page->m_watchdog.Restart();
    }
    DialogScope(const DialogScope&) = delete;
    DialogScope& operator=(const DialogScope&) = delete;

private:
    QPointer<CBrowserHandler> m_page;
};

void CBrowserHandler::javaScriptAlert(const QUrl& securityOrigin, const QString& msg) {
    DialogScope dialog(this);
    QWebEnginePage::javaScriptAlert(securityOrigin, msg);
}

bool CBrowserHandler::javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) {
    DialogScope dialog(this);
    return QWebEnginePage::javaScriptConfirm(securityOrigin, msg);
}

bool CBrowserHandler::javaScriptPrompt(const QUrl& securityOrigin,
                                       const QString& msg,
                                       const QString& defaultValue,
                                       QString* result) {
    DialogScope dialog(this);
    return QWebEnginePage::javaScriptPrompt(securityOrigin, msg, defaultValue, result);
}

bool CBrowserHandler::RendererCanAnswer() const {
    // No renderer (it died, the next one has not started), one we are ending, a reload of a dead
    // one about to begin, or a dialog waiting for the candidate.
    return !m_closed && m_openDialogs == 0 && !m_reloadPending && m_endReason.isEmpty() &&
           renderProcessPid() > 0;
}

void CBrowserHandler::WatchRenderer() {
    if (!RendererCanAnswer()) {
        m_watchdog.Restart();
        return;
    }
    const auto now = RendererWatchdog::Clock::now();
    const std::uint64_t ping = m_watchdog.Tick(now);
    if (m_watchdog.Overdue(now)) {
        EndUnresponsiveRenderer(now);
        return;
    }
    PingRenderer(ping);
}

void CBrowserHandler::PingRenderer(std::uint64_t ping) {
    // A script of its own world: the page's scripts can neither see nor change it, and it runs
    // only when the renderer's main thread is free to run anything.
    runJavaScript(QString::number(ping), QWebEngineScript::ApplicationWorld,
                  [page = QPointer<CBrowserHandler>(this), ping](const QVariant& answer) {
                      // The engine calls back with nothing for a ping it drops (the page closing).
                      if (!answer.isValid() || !page || answer.toULongLong() != ping)
                          return;
                      page->m_watchdog.Answered(ping);
                  });
}

void CBrowserHandler::ReloadKeyPressed() {
    if (!RendererCanAnswer())
        return;
    PingRenderer(m_watchdog.Demand(RendererWatchdog::Clock::now()));
    // A little after the deadline: an answer sent just in time is still on its way.
    QTimer::singleShot(m_watchdog.GetTiming().demandWithin + std::chrono::milliseconds(50), this,
                       &CBrowserHandler::CheckDemand);
}

void CBrowserHandler::CheckDemand() {
    const auto now = RendererWatchdog::Clock::now();
    if (RendererCanAnswer() && m_watchdog.Overdue(now))
        EndUnresponsiveRenderer(now);
}

void CBrowserHandler::EndUnresponsiveRenderer(RendererWatchdog::TimePoint now) {
    const qint64 pid = renderProcessPid();
    const auto waited = m_watchdog.Waited(now);
    m_watchdog.Restart();
    qCWarning(lcBrowser,
              "The page's renderer process (pid %lld) has not answered for %lld ms; ending it "
              "to load the page again.",
              static_cast<long long>(pid), static_cast<long long>(waited.count()));
    switch (m_processControl->EndDescendant(pid)) {
        case platform::EndResult::Ended:
            // Its end is reported like any renderer's death, and recovered the same way.
            m_endReason = QString::fromLatin1(kUnresponsive);
            return;
        case platform::EndResult::Gone:
            // It ended by itself meanwhile; that end is reported and recovered as it is.
            return;
        case platform::EndResult::NotOurs:
        case platform::EndResult::Refused:
            qCWarning(lcBrowser,
                      "The page's renderer process (pid %lld) could not be ended; the page stays "
                      "as it is.",
                      static_cast<long long>(pid));
            return;
    }
}

}  // namespace vorn
