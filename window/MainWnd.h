#pragma once

#include "browser/BrowserHandlerCallback.h"
#include "browser/bridge/AnswerQueue.h"
#include "services/lock/LockControl.h"
#include "services/probes/ClientInfo.h"
#include "services/probes/RemoteControlScanner.h"
#include "ui/WindowImplBase.h"

#include <QPointer>

#include <memory>

class CBrowserProfile;
class CCefBrowserUI;
class CMessageEvent;
class CCardResultEvent;
class IKeyboardFilter;

// The client's only top-level window: the skinned title bar above the browser panel, the target
// of the page's requests and of the card worker's results, and the application lock.
// Everything here runs on the main thread.
class CMainWnd : public vorn::ui::WindowImplBase,
                 public ICefBrowserHandler,
                 public vorn::ILockControl {
    Q_OBJECT
public:
    // What the title bar and the lock ask of the window.
    enum class WindowCommand { Minimize, Maximize, Close, Restore };

    explicit CMainWnd(CBrowserProfile* profile);
    ~CMainWnd() override;

    // Carries out a system command as the title bar or the lock asks for it. Close and restore
    // are refused while locked.
    void SysCommand(WindowCommand command);

    bool IsLocked() const override { return m_lockState == vorn::LockState::Locked; }
    CCefBrowserUI* Browser() const { return m_browser; }

    // ILockControl: the page's LockApp.
    void SetLockState(vorn::LockState state) override;
    vorn::LockState GetLockState() const override { return m_lockState; }

    // ICefBrowserHandler: pop-ups open in this same browser.
    bool OnBeforePopup(const QUrl& targetUrl) override;
    void OnOriginChange() override;

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
    void HandleCustomMessage(CMessageEvent* message);
    void SendToPage(const QString& script);
    void AnswerCardResult(const CCardResultEvent& result);
    ClientInfo GatherClientInfo() const;
    void ShowReadingState(bool reading);
    void Lock();
    void Unlock();
    void KeepInFront();
    // The periodic timer runs exactly while locked.
    void UpdateTimer();
    void OnMaximizedChanged(bool maximized);
    void SetControlVisible(const QString& name, bool visible);

    CBrowserProfile* m_profile;
    QPointer<QWidget> m_closeButton;
    QPointer<QWidget> m_maxButton;
    QPointer<QWidget> m_restoreButton;
    QPointer<QWidget> m_minButton;
    CCefBrowserUI* m_browser = nullptr;
    vorn::LockState m_lockState = vorn::LockState::Unlocked;
    int m_timerId = 0;
    bool m_wasMaximized = false;
    bool m_lockWarningGiven = false;
    std::unique_ptr<IKeyboardFilter> m_keyboard;
    // Every answer to the page goes through here, so one computed on a worker keeps its place.
    vorn::AnswerQueue m_answers;
    vorn::RemoteControlScanner m_remoteScan;
};
