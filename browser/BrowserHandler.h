#pragma once

#include "browser/bridge/BridgeTarget.h"

#include <QPointer>
#include <QWebEnginePage>

#include <string>

class CCefBrowserUI;
class ICefBrowserHandler;
class QWebEngineLoadingInfo;

// The client's page: the kiosk's browser policy (no context menu, pop-ups into the same page,
// the error page, the external-protocol allow-list, camera and microphone granted, certificate
// errors accepted), the receiving end of the page's requests, and the way answers reach the page.
// Main thread only.
class CBrowserHandler : public QWebEnginePage, public IBridgeTarget {
    Q_OBJECT
public:
    CBrowserHandler(QWebEngineProfile* profile, QObject* parent = nullptr);
    ~CBrowserHandler() override;

    // The control that shows this page and the window it consults; neither is owned.
    void SetOwner(CCefBrowserUI* control, ICefBrowserHandler* window);
    // Where posted requests (UM_* events) go: the main window. Not owned.
    void SetMessageTarget(QObject* window) { m_window = window; }

    // Runs UTF-8 JavaScript text in the main frame. Empty text runs nothing.
    void SendJavaScript(const std::string& text);
    void SendJavaScript(const QString& text);

    // Stops the page for good; called when the main window goes away.
    void CloseBrowser(bool force);

    // IBridgeTarget: what the page's requests turn into.
    void PostToWindow(int message, qintptr wParam) override;
    void SetConfigInt(const QString& key, int value) override;
    void StartCardReading(int port, int continuous) override;
    void StopCardReading() override;

    // The text of the error page shown for a failed load (values HTML-escaped).
    static QString ErrorPageHtml(const QUrl& url, const QString& errorText, int errorCode);
    // The external schemes handed to the desktop; `stopLoad` tells whether the load stops too.
    static bool IsAllowedExternalScheme(const QUrl& url, bool* stopLoad);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;

private:
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);

    CCefBrowserUI* m_control = nullptr;
    ICefBrowserHandler* m_callback = nullptr;
    QPointer<QObject> m_window;
    bool m_closed = false;
};
