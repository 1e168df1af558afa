#pragma once

#include <QElapsedTimer>
#include <QWebEnginePage>

#include <string>

class QTimer;
class QWebEngineLoadingInfo;

namespace vorn {

class ICefBrowserHandler;

// The client's page: the kiosk's browser policy (no context menu, pop-ups into the same page,
// the error page, the external-protocol allow-list, camera and microphone granted, certificate
// errors accepted), and the way the page bridge's answers reach the page. Main thread only.
class CBrowserHandler : public QWebEnginePage {
    Q_OBJECT
public:
    CBrowserHandler(QWebEngineProfile* profile, QObject* parent = nullptr);
    ~CBrowserHandler() override;

    // The window consulted about pop-ups and titles; not owned.
    void SetWindow(ICefBrowserHandler* window) { m_callback = window; }

    // Runs UTF-8 JavaScript text in the main frame. Empty text runs nothing.
    void SendJavaScript(const std::string& text);
    void SendJavaScript(const QString& text);

    // Stops the page for good; called when the main window goes away.
    void CloseBrowser();

    // Loads `url`. Main thread.
    void Load(const QUrl& url);
    // Loads the start address as config.ini gives it (see StartUrlFromSetting); text that names
    // no address shows the error page and says so in the log.
    void LoadStartAddress(const QString& text);
    // Reloads what the candidate sees; on the error page that is the address that failed.
    void ReloadPage();

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
    QElapsedTimer m_sinceRecovery;
    bool m_recoveredScript = false;
};

}  // namespace vorn
