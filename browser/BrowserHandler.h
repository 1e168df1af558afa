#pragma once

#include "browser/bridge/RendererWatchdog.h"

#include <QWebEnginePage>

#include <functional>
#include <memory>
#include <string>

class QTimer;
class QWebEngineLoadingInfo;

namespace vorn {

namespace platform {
class IProcessControl;
}

class ICefBrowserHandler;

// The client's page: the kiosk's browser policy (no context menu, pop-ups into the same page,
// the error page, the external-protocol allow-list, camera and microphone granted, certificate
// errors accepted), and the way the page bridge's answers reach the page. Main thread only.
class CBrowserHandler : public QWebEnginePage {
    Q_OBJECT
public:
    // `processes` (not null, owned) ends the page's renderer when it stops answering.
    CBrowserHandler(QWebEngineProfile* profile,
                    std::unique_ptr<platform::IProcessControl> processes,
                    QObject* parent = nullptr);
    ~CBrowserHandler() override;

    // The window consulted about pop-ups and titles; not owned.
    void SetWindow(ICefBrowserHandler* window) { m_callback = window; }

    // Runs UTF-8 JavaScript text in the main frame. Empty text runs nothing.
    void SendJavaScript(const std::string& text);
    void SendJavaScript(const QString& text);
    // SendJavaScript to this page for whoever answers it (the page bridge): runs nothing once
    // the page is gone.
    std::function<void(const QString& text)> ScriptRunner();

    // Stops the page for good; called when the main window goes away.
    void CloseBrowser();

    // Loads `url`. Main thread.
    void Load(const QUrl& url);
    // Loads the start address as config.ini gives it (see StartUrlFromSetting); text that names
    // no address shows the error page and says so in the log.
    void LoadStartAddress(const QString& text);
    // Reloads what the candidate sees; on the error page that is the address that failed.
    void ReloadPage();
    // A reload key (F5, Ctrl+R) went to the page, which decides whether it reloads (ReloadPage
    // when it let the key pass). A renderer that does not answer within a second is ended and
    // the page loaded again, as for any renderer that stopped answering.
    void ReloadKeyPressed();

    // The scheme, host and port that decide whether two main-frame addresses share an origin.
    static QString OriginOf(const QUrl& url);

    // The text of the error page shown for a failed load (values HTML-escaped).
    static QString ErrorPageHtml(const QUrl& url, const QString& errorText, int errorCode);
    // The external schemes handed to the desktop; `stopLoad` tells whether the load stops too.
    static bool IsAllowedExternalScheme(const QUrl& url, bool* stopLoad);

signals:
    // The main frame now shows a document of another origin than before (not sent for the
    // first document): answers meant for the earlier site must not reach this one.
    void OriginChanged();

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    // The page's dialogs hold its renderer until the candidate answers them: the renderer is not
    // judged meanwhile.
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin,
                          const QString& msg,
                          const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                  const QString& message,
                                  int lineNumber,
                                  const QString& sourceID) override;

private:
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);
    void OnUrlChanged(const QUrl& url);
    void OnRenderProcessTerminated(RenderProcessTerminationStatus status, int exitCode);
    void ShowErrorPage(const QUrl& url, const QString& errorText, int errorCode);
    static QString ErrorPageHtml(const QString& address,
                                 const QString& reloadAddress,
                                 const QString& errorText,
                                 int errorCode);
    void ScheduleRetry();
    void Retry();
    bool IsLocked() const;
    void SetRecoveredScript(const QString& reason, int exitCode);
    void RemoveRecoveredScript();
    void RecoveredPageShown();

    // The renderer watchdog.
    class DialogScope;
    bool RendererCanAnswer() const;
    void WatchRenderer();
    void PingRenderer(std::uint64_t ping);
    void CheckDemand();
    void EndUnresponsiveRenderer(RendererWatchdog::TimePoint now);

    ICefBrowserHandler* m_callback = nullptr;
    bool m_closed = false;
    QString m_origin;

    // Recovery: the last main-frame address the page showed (never our error page), the
    // address whose error page shows now (empty otherwise) and the retries made for it.
    QUrl m_committedUrl;
    QUrl m_failedUrl;
    int m_retryAttempt = 0;
    QTimer* m_retryTimer = nullptr;
    // Set from a renderer's death until the page renders again.
    bool m_recovering = false;
    bool m_reloadPending = false;
    bool m_loadingErrorPage = false;
    // Runs from the page shown after a renderer's death until it has stayed alive long enough
    // to count as recovered; a death meanwhile continues the growing pause.
    QTimer* m_stableTimer = nullptr;
    bool m_recoveredScript = false;

    RendererWatchdog m_watchdog;
    QTimer* m_watchTimer = nullptr;
    int m_openDialogs = 0;
    // Why the renderer is ending, when we ended it ("unresponsive"); empty otherwise.
    QString m_endReason;
    std::unique_ptr<platform::IProcessControl> m_processControl;
};

}  // namespace vorn
