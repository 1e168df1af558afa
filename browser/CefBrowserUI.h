#pragma once

#include <QPointer>
#include <QWebEngineView>
#include <QWidget>

#include <memory>

class QKeyEvent;
class QWebEngineProfile;

namespace vorn {

namespace platform {
class IProcessControl;
}  // namespace platform

class CBrowserHandler;
class ICefBrowserHandler;

// The view holder: the control that places the browser view (a QWebEngineView) inside the
// window's "webpanel" and is the window's handle on it: loading a URL, reaching the page (the
// client handler) and closing it. Main thread only. Until CreateBrowser has run, every browser
// operation does nothing.
class CCefBrowserUI : public QWidget {
    Q_OBJECT
public:
    explicit CCefBrowserUI(QWidget* parent = nullptr);
    ~CCefBrowserUI() override;

    void SetUrl(const QString& url) { m_startUrl = url; }

    // Creates the view and its page on the given profile and starts loading the start URL.
    // `window` is consulted about pop-ups and the lock.
    bool CreateBrowser(QWebEngineProfile* profile,
                       ICefBrowserHandler* window,
                       std::unique_ptr<platform::IProcessControl> processes);

    void LoadURL(const QString& url);
    // F5 and Ctrl+R reload the page (also while locked: the lock passes them on) unless the page
    // keeps the key for itself (preventDefault on its keydown). Off when the exam service wants
    // no reload key; the page still gets the keys.
    void SetReloadKeysEnabled(bool enabled) { m_reloadKeys = enabled; }
    CBrowserHandler* GetHandler() const { return m_handler; }
    void CloseBrowser();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Keys the page did not handle come back here from the view.
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool IsReloadKey(const QKeyEvent* event) const;

    QString m_startUrl;
    QPointer<QWebEngineView> m_view;
    QPointer<CBrowserHandler> m_handler;
    bool m_reloadKeys = true;
};

}  // namespace vorn
