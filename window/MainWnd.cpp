#include "window/MainWnd.h"

#include "browser/BrowserHandler.h"
#include "browser/BrowserProfile.h"
#include "browser/CefBrowserUI.h"
#include "common/Logging.h"
#include "platform/KeyboardFilter.h"
#include "platform/WindowState.h"
#include "window/NativeWindowOf.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace vorn {

CMainWnd::CMainWnd(CBrowserProfile* profile,
                   PageSettings page,
                   std::unique_ptr<vorn::platform::IKeyboardFilter> keyboard,
                   std::unique_ptr<vorn::platform::IWindowState> windowState,
                   std::unique_ptr<vorn::platform::IProcessControl> rendererControl)
    : m_profile(profile),
      m_page(std::move(page)),
      m_keyboard(std::move(keyboard)),
      m_windowState(std::move(windowState)),
      m_rendererControl(std::move(rendererControl)),
      m_lock(std::make_unique<vorn::WindowLock>(static_cast<vorn::ILockHost&>(*this),
                                                *m_windowState,
                                                *m_keyboard)) {
    setWindowTitle(QStringLiteral("CEFBrowser"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The window's own keyboard filter lives as long as the window.
    m_keyboard->InstallWindowFilter();
}

CMainWnd::~CMainWnd() {
    // The lock's grab goes first, then the window filter's.
    m_lock.reset();
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
    m_browser->CreateBrowser(m_profile->Profile(), this, std::move(m_rendererControl));
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
        emit ReadCardClicked();
    }
}

void CMainWnd::OnCaptionDoubleClick() {
    SysCommand(isMaximized() ? WindowCommand::Restore : WindowCommand::Maximize);
}

void CMainWnd::SysCommand(WindowCommand command) {
    m_lock->Command(command);
}

bool CMainWnd::OnBeforePopup(const QUrl& targetUrl) {
    if (m_browser && targetUrl.isValid())
        m_browser->LoadURL(targetUrl.toString());
    return true;
}

bool CMainWnd::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate)
        m_lock->OnDeactivated();
    return WindowImplBase::event(event);
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
    m_lock->SetLockState(state);
}

void CMainWnd::closeEvent(QCloseEvent* event) {
    if (!m_lock->MayClose()) {
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
    m_lock->OnWindowStateChanged();
}

void CMainWnd::OnMaximizedChanged(bool maximized) {
    SetControlVisible(QStringLiteral("maxbtn"), !maximized);
    SetControlVisible(QStringLiteral("restorebtn"), maximized);
    m_lock->OnMaximizedChanged(maximized);
}

void CMainWnd::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timerId) {
        WindowImplBase::timerEvent(event);
        return;
    }
    m_lock->OnTick();
}

void CMainWnd::SetControlVisible(const QString& name, bool visible) {
    if (QWidget* control = FindControl(name))
        control->setVisible(visible);
}

vorn::platform::NativeWindow CMainWnd::Handle() const {
    return vorn::NativeWindowOf(this);
}

void CMainWnd::SetAppBarVisible(bool visible) {
    SetControlVisible(QStringLiteral("appbar"), visible);
}

void CMainWnd::SetDragHeight(int pixels) {
    // The caption rectangle's numbers are left, top, right, bottom: the full width, from the top.
    SetCaptionRect(pixels > 0 ? QRect(0, 0, 0, pixels) : QRect());
}

void CMainWnd::StartTicks(int periodMs) {
    if (m_timerId == 0)
        m_timerId = startTimer(periodMs, Qt::PreciseTimer);
}

void CMainWnd::StopTicks() {
    if (m_timerId != 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
}

void CMainWnd::RunSoon(std::function<void()> step) {
    // The window is the context: a step still queued when the window goes is dropped.
    QTimer::singleShot(0, this, std::move(step));
}

}  // namespace vorn
