#include "window/MainWnd.h"

#include "browser/BrowserHandler.h"
#include "browser/BrowserProfile.h"
#include "browser/CefBrowserUI.h"
#include "browser/bridge/PageBridge.h"
#include "common/Logging.h"
#include "common/Messages.h"
#include "platform/KeyboardFilter.h"
#include "platform/WindowState.h"
#include "services/CGlobal.h"
#include "window/NativeWindowOf.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The window's periodic timer: 20 ms, the period within which a locked window comes back. It has
// work only while locked, so it runs only then: an idle unlocked client wakes for
// nothing.
constexpr int kTimerPeriodMs = 20;
// After the first unlock the top 30 pixels drag the window (the skin's own caption is 32).
const QRect kUnlockedCaption(0, 0, 0, 30);

}  // namespace

CMainWnd::CMainWnd(CBrowserProfile* profile, vorn::PageBridge& bridge, PageSettings page)
    : m_profile(profile),
      m_bridge(bridge),
      m_page(std::move(page)),
      m_keyboard(CreateKeyboardFilter()) {
    setWindowTitle(QStringLiteral("CEFBrowser"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The window's own keyboard filter lives as long as the window.
    m_keyboard->InstallWindowFilter();
    CGlobal::Instance().SetKeyboardFilter(m_keyboard.get());
}

CMainWnd::~CMainWnd() {
    CGlobal::Instance().RemoveLockHook();
    CGlobal::Instance().SetKeyboardFilter(nullptr);
    m_keyboard->RemoveWindowFilter();
}

void CMainWnd::InitWindow() {
    m_closeButton = FindControl(QStringLiteral("closebtn"));
    m_maxButton = FindControl(QStringLiteral("maxbtn"));
    m_restoreButton = FindControl(QStringLiteral("restorebtn"));
    m_minButton = FindControl(QStringLiteral("minbtn"));
    QWidget* webPanel = FindControl(QStringLiteral("webpanel"));

    m_browser = new CCefBrowserUI;
    m_browser->setObjectName(QStringLiteral("webbrowser"));
    if (webPanel) {
        if (!webPanel->layout()) {
            auto* layout = new QVBoxLayout(webPanel);
            layout->setContentsMargins(0, 0, 0, 0);
        }
        webPanel->layout()->addWidget(m_browser);
    } else {
        qCWarning(lcWindow, "The skin has no \"webpanel\"; the browser fills the window.");
        m_browser->setParent(this);
    }
    m_browser->SetUrl(m_page.startUrl);
    // Loading starts from the start address; a LoadURL right after creation would only repeat it.
    m_browser->CreateBrowser(m_profile->Profile(), this);
    m_browser->SetReloadKeysEnabled(m_page.reloadKeys);
}

void CMainWnd::OnClick(QWidget* sender) {
    if (!sender)
        return;
    if (sender == m_closeButton) {
        // The close button asks like any other close request (refused while locked).
        close();
    } else if (sender == m_minButton) {
        SysCommand(WindowCommand::Minimize);
    } else if (sender == m_maxButton) {
        SysCommand(WindowCommand::Maximize);
    } else if (sender == m_restoreButton) {
        SysCommand(WindowCommand::Restore);
    } else if (sender->objectName().toLower() == QLatin1String("readbtn")) {
        // The answer goes to the page shown now, and to no later site.
        m_bridge.StartCardReading(vorn::CardMode::Once);
    }
}

void CMainWnd::OnCaptionDoubleClick() {
    SysCommand(isMaximized() ? WindowCommand::Restore : WindowCommand::Maximize);
}

void CMainWnd::SysCommand(WindowCommand command) {
    switch (command) {
        case WindowCommand::Close:
            if (!IsLocked())
                close();
            return;
        case WindowCommand::Restore:
            if (IsLocked())
                return;
            showNormal();
            return;
        case WindowCommand::Minimize:
            showMinimized();
            return;
        case WindowCommand::Maximize:
            if (!isMaximized() && !isFullScreen())
                showMaximized();
            // Locked, maximised means the whole screen: panels and docks go under the window too.
            // The maximised state stays underneath, so that leaving the whole screen (unlock)
            // lands on it.
            if (IsLocked()) {
                vorn::platform::SetFullScreen(vorn::NativeWindowOf(this), true);
            } else if (isFullScreen()) {
                vorn::platform::SetFullScreen(vorn::NativeWindowOf(this), false);
                // Marco does not bring back the maximised state it had before the whole screen.
                vorn::platform::ShowMaximizedNoActivate(vorn::NativeWindowOf(this), false);
            }
            return;
    }
}

bool CMainWnd::OnBeforePopup(const QUrl& targetUrl) {
    if (m_browser && targetUrl.isValid())
        m_browser->LoadURL(targetUrl.toString());
    return true;
}

bool CMainWnd::event(QEvent* event) {
    const int type = static_cast<int>(event->type());
    if (type == UM_CARD_RESULT || type == UM_CARD_BUSY) {
        HandleCardEvent(static_cast<CMessageEvent*>(event));
        return true;
    }
    if (event->type() == QEvent::WindowDeactivate && IsLocked())
        KeepInFront();
    return WindowImplBase::event(event);
}

void CMainWnd::HandleCardEvent(CMessageEvent* message) {
    if (message->Message() == UM_CARD_RESULT)
        m_bridge.AnswerCardResult(*static_cast<CCardResultEvent*>(message));
    else
        ShowReadingState(message->WParam() == 1);
}

void CMainWnd::ShowReadingState(bool reading) {
    QWidget* control = FindControl(QStringLiteral("readbtn"));
    if (!control)
        return;
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(reading ? QStringLiteral("读取中...") : QStringLiteral("读取身份证"));
    control->setEnabled(!reading);
}

void CMainWnd::SetLockState(vorn::LockState state) {
    if (state == vorn::LockState::Locked)
        Lock();
    else
        Unlock();
}

void CMainWnd::Lock() {
    m_lockState = vorn::LockState::Locked;
    if (!vorn::platform::CanEnforceLock() && !m_lockWarningGiven) {
        m_lockWarningGiven = true;
        qCWarning(lcLock,
                  "The exam page asked for the application lock, but this session (Wayland) "
                  "does not let the client keep other windows and shortcuts away: the lock "
                  "is NOT enforced.");
    }
    // A grab refused now (window not viewable yet, another client's grab) is retried every tick.
    if (!CGlobal::Instance().InstallLockHook(vorn::NativeWindowOf(this)))
        qCDebug(lcLock) << "keyboard not taken yet for the lock; retrying";
    SysCommand(WindowCommand::Maximize);
    SetControlVisible(QStringLiteral("appbar"), false);
    SetCaptionRect(QRect());
    vorn::platform::SetTopmost(vorn::NativeWindowOf(this), true);
    vorn::platform::GuardStacking(vorn::NativeWindowOf(this), true);
    UpdateTimer();
}

void CMainWnd::Unlock() {
    m_lockState = vorn::LockState::Unlocked;
    CGlobal::Instance().RemoveLockHook();
    vorn::platform::GuardStacking(vorn::NativeWindowOf(this), false);
    // Back from the whole screen to the maximised state underneath.
    if (isFullScreen())
        SysCommand(WindowCommand::Maximize);
    SetControlVisible(QStringLiteral("appbar"), true);
    SetCaptionRect(kUnlockedCaption);
    vorn::platform::SetTopmost(vorn::NativeWindowOf(this), false);
    UpdateTimer();
}

void CMainWnd::UpdateTimer() {
    if (IsLocked() && m_timerId == 0) {
        m_timerId = startTimer(kTimerPeriodMs, Qt::PreciseTimer);
    } else if (!IsLocked() && m_timerId != 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
}

void CMainWnd::KeepInFront() {
    if (isMinimized())
        vorn::platform::ShowMaximizedNoActivate(vorn::NativeWindowOf(this), IsLocked());
    vorn::platform::SetTopmost(vorn::NativeWindowOf(this), true);
}

void CMainWnd::closeEvent(QCloseEvent* event) {
    if (IsLocked()) {
        qCDebug(lcLock) << "close refused while locked";
        event->ignore();
        return;
    }
    if (m_browser)
        m_browser->CloseBrowser();
    event->accept();
}

void CMainWnd::changeEvent(QEvent* event) {
    WindowImplBase::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    // Some managers (openbox) drop the maximised state from a fullscreen window: for the title
    // bar, the whole screen counts as maximised.
    const bool maximized = isMaximized() || isFullScreen();
    if (maximized != m_wasMaximized) {
        m_wasMaximized = maximized;
        OnMaximizedChanged(maximized);
    }
    if (IsLocked() && !isFullScreen()) {
        // Whoever minimised, restored or un-fullscreened the window, a locked window comes back
        // over the whole screen at once (the timer would do it within one period anyway).
        QTimer::singleShot(0, this, [this] {
            if (!IsLocked())
                return;
            if (isMinimized())
                vorn::platform::ShowMaximizedNoActivate(vorn::NativeWindowOf(this), true);
            else if (!isFullScreen())
                SysCommand(WindowCommand::Maximize);
        });
    }
}

void CMainWnd::OnMaximizedChanged(bool maximized) {
    SetControlVisible(QStringLiteral("maxbtn"), !maximized);
    SetControlVisible(QStringLiteral("restorebtn"), maximized);
    if (maximized && IsLocked())
        SetControlVisible(QStringLiteral("appbar"), false);
    else if (!maximized && !IsLocked())
        SetControlVisible(QStringLiteral("appbar"), true);
}

void CMainWnd::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timerId) {
        WindowImplBase::timerEvent(event);
        return;
    }
    if (!IsLocked())
        return;
    m_keyboard->Reassert();
    if (!vorn::platform::IsForeground(vorn::NativeWindowOf(this)))
        KeepInFront();
    if (IsLocked() && !isMinimized())
        vorn::platform::KeepOnTop(vorn::NativeWindowOf(this));
}

void CMainWnd::SetControlVisible(const QString& name, bool visible) {
    if (QWidget* control = FindControl(name))
        control->setVisible(visible);
}
