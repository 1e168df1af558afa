#pragma once

#include "browser/BrowserHandlerCallback.h"
#include "platform/ProcessControl.h"
#include "services/lock/WindowLock.h"
#include "ui/WindowImplBase.h"

#include <QPointer>

#include <memory>

namespace vorn {

class CBrowserProfile;
class CCefBrowserUI;

// The main window: the client's only top-level window, the skinned title bar above the browser
// panel (with the optional read button) and the window the application lock holds (the lock's
// steps are vorn::WindowLock; this class carries them out in the toolkit). Everything here runs
// on the main thread.
class CMainWnd : public vorn::ui::WindowImplBase,
                 public ICefBrowserHandler,
                 public vorn::ILockControl,
                 private vorn::ILockHost {
    Q_OBJECT
public:
    using WindowCommand = vorn::WindowCommand;

    // What the page starts with: the address to load (as config.ini gives it) and whether F5
    // and Ctrl+R reload.
    struct PageSettings {
        QString startUrl;
        bool reloadKeys = true;
    };

    // `profile` must outlive the window. The window owns `keyboard` and `windowState` (neither
    // null): its lock holds and releases the keyboard and the window through them.
    CMainWnd(CBrowserProfile* profile,
             PageSettings page,
             std::unique_ptr<vorn::platform::IKeyboardFilter> keyboard,
             std::unique_ptr<vorn::platform::IWindowState> windowState,
             std::unique_ptr<vorn::platform::IProcessControl> rendererControl);
    ~CMainWnd() override;

    // Carries out a system command as the title bar or the lock asks for it. Close and restore
    // are refused while locked.
    void SysCommand(WindowCommand command);

    bool IsLocked() const override { return m_lock->IsLocked(); }
    CCefBrowserUI* Browser() const { return m_browser; }

    // ILockControl: the page's LockApp.
    void SetLockState(vorn::LockState state) override;
    vorn::LockState GetLockState() const override { return m_lock->GetLockState(); }

    // ICefBrowserHandler: pop-ups open in this same browser.
    bool OnBeforePopup(const QUrl& targetUrl) override;

    // The skin's read button, if it has one: disabled, with a text saying so, while a card is
    // being read.
    void ShowReadingState(bool reading);

signals:
    // The read button was clicked: a single card reading for the page shown now.
    void ReadCardClicked();

protected:
    QString GetSkinFile() const override { return QStringLiteral("main.xml"); }
    void InitWindow() override;
    void OnClick(QWidget* sender) override;
    void OnCaptionDoubleClick() override;

    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void OnMaximizedChanged(bool maximized);
    void SetControlVisible(const QString& name, bool visible);

    // ILockHost: the lock's requests, carried out by the toolkit.
    vorn::platform::NativeWindow Handle() const override;
    bool IsMinimized() const override { return isMinimized(); }
    bool IsMaximized() const override { return isMaximized(); }
    bool IsFullScreen() const override { return isFullScreen(); }
    void ShowMinimized() override { showMinimized(); }
    void ShowMaximized() override { showMaximized(); }
    void ShowNormal() override { ShowRestored(); }
    void Close() override { close(); }
    void SetAppBarVisible(bool visible) override;
    void SetDragHeight(int pixels) override;
    void StartTicks(int periodMs) override;
    void StopTicks() override;
    void RunSoon(std::function<void()> step) override;

    CBrowserProfile* m_profile;
    PageSettings m_page;
    QPointer<QWidget> m_closeButton;
    QPointer<QWidget> m_maxButton;
    QPointer<QWidget> m_restoreButton;
    QPointer<QWidget> m_minButton;
    CCefBrowserUI* m_browser = nullptr;
    int m_timerId = 0;
    bool m_wasMaximized = false;
    std::unique_ptr<vorn::platform::IKeyboardFilter> m_keyboard;
    std::unique_ptr<vorn::platform::IWindowState> m_windowState;
    // Handed on to the page when the window builds it from its skin.
    std::unique_ptr<vorn::platform::IProcessControl> m_rendererControl;
    std::unique_ptr<vorn::WindowLock> m_lock;
};

}  // namespace vorn
