// lockprobe [--no-window-filter] [--no-caret]
// A top-level window with one text field that uses the keyboard filters and window-state requests
// the way the main window does: window filter for its whole life, lock filter and the held screen
// while locked (where the screen cannot be held: "above", a 20 ms timer and the deactivation
// event re-asserting the window), the timer re-asserting the keyboard.
// Commands on stdin, one per line; answers on stdout, one line each:
//   lock     -> "lock held" | "lock pending" (grab not taken yet) | "lock unenforceable"
//   unlock   -> "unlock"
//   state    -> "state locked=0|1 held=0|1 filter=0|1 foreground=0|1 minimized=0|1 maximized=0|1"
//   untimed  -> "untimed": the 20 ms timer stops; only the window's own events bring it back
//   guard    -> "guard": the platform layer guards the window as it does a locked main window
//               whose screen cannot be held
//   dialog   -> "dialog <window id>" once a modal dialog of the probe's own (one text field) is
//               shown, as a save dialog or a page's alert is; "dialog typed <text>" on its edits
//   busy <ms> -> "busy" once the GUI thread starts a <ms> long blocking task, "free" after it
//   quit     -> exits with code 0
// Unprompted: "ready <window id> enforce=yes|no" once shown, "typed <text>" on every edit,
// "close refused" / "close accepted" for close requests. --no-caret stops the text cursor's
// blinking, so that an idle-CPU measurement sees the lock's own cost.
#include "platform/KeyboardFilter.h"
#include "platform/WindowState.h"
#include "window/NativeWindowOf.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <unistd.h>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

namespace {

constexpr const char* kCoverText = "考试进行中 Exam in progress";

void Say(const QString& line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class ProbeWindow : public QWidget {
public:
    explicit ProbeWindow(bool windowFilter)
        : m_keyboard(vorn::platform::CreateKeyboardFilter()),
          m_windowState(vorn::platform::CreateWindowState()) {
        setWindowTitle(QStringLiteral("lockprobe"));
        auto* layout = new QVBoxLayout(this);
        m_edit = new QLineEdit(this);
        layout->addWidget(m_edit);
        connect(m_edit, &QLineEdit::textChanged, this,
                [](const QString& text) { Say(QStringLiteral("typed ") + text); });
        if (windowFilter)
            m_keyboard->InstallWindowFilter();
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &ProbeWindow::OnTimer);
        m_timer.start(20);
    }

    ~ProbeWindow() override { m_keyboard->RemoveWindowFilter(); }

    bool Enforceable() const {
        return m_keyboard->IsEnforceable() && m_windowState->CanEnforceLock();
    }

    void Command(const std::string& command) {
        if (command == "lock") {
            if (!Enforceable()) {
                Say(QStringLiteral("lock unenforceable"));
                return;
            }
            m_locked = true;
            const bool grabbed = m_keyboard->InstallLockFilter(vorn::NativeWindowOf(this));
            m_held = m_windowState->HoldScreen(vorn::NativeWindowOf(this), kCoverText);
            if (!m_held) {
                if (!isMaximized())
                    showMaximized();
                m_windowState->SetTopmost(vorn::NativeWindowOf(this), true);
            }
            Say(grabbed ? QStringLiteral("lock held") : QStringLiteral("lock pending"));
        } else if (command == "unlock") {
            m_locked = false;
            m_keyboard->RemoveLockFilter();
            if (m_held)
                m_windowState->ReleaseScreen(vorn::NativeWindowOf(this));
            else
                m_windowState->SetTopmost(vorn::NativeWindowOf(this), false);
            m_held = false;
            Say(QStringLiteral("unlock"));
        } else if (command == "state") {
            Say(QStringLiteral("state locked=%1 held=%2 filter=%3 foreground=%4 minimized=%5 "
                               "maximized=%6")
                    .arg(int(m_locked))
                    .arg(int(m_held))
                    .arg(int(m_keyboard->IsLockFilterInstalled()))
                    .arg(int(m_windowState->IsForeground(vorn::NativeWindowOf(this))))
                    .arg(int(isMinimized()))
                    .arg(int(isMaximized())));
        } else if (command == "untimed") {
            m_timer.stop();
            Say(QStringLiteral("untimed"));
        } else if (command == "guard") {
            m_windowState->GuardStacking(vorn::NativeWindowOf(this), true);
            Say(QStringLiteral("guard"));
        } else if (command == "dialog") {
            auto* dialog = new QDialog(this);
            dialog->setWindowTitle(QStringLiteral("lockprobe dialog"));
            dialog->setModal(true);
            auto* field = new QLineEdit(dialog);
            (new QVBoxLayout(dialog))->addWidget(field);
            connect(field, &QLineEdit::textChanged, this,
                    [](const QString& text) { Say(QStringLiteral("dialog typed ") + text); });
            dialog->resize(300, 80);
            dialog->show();
            QTimer::singleShot(0, dialog,
                               [dialog] { Say(QStringLiteral("dialog %1").arg(dialog->winId())); });
        } else if (command.starts_with("busy ")) {
            const unsigned long ms = std::stoul(command.substr(5));
            QTimer::singleShot(0, this, [ms] {
                Say(QStringLiteral("busy"));
                QThread::msleep(ms);
                Say(QStringLiteral("free"));
            });
        } else if (command == "quit") {
            m_locked = false;
            QApplication::quit();
        } else if (!command.empty()) {
            Say(QStringLiteral("unknown ") + QString::fromStdString(command));
        }
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::WindowDeactivate && m_locked && !m_held)
            KeepInFront();
        return QWidget::event(event);
    }

    void changeEvent(QEvent* event) override {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::WindowStateChange && m_locked && !m_held && isMinimized())
            QTimer::singleShot(0, this, [this] {
                if (m_locked && !m_held && isMinimized())
                    m_windowState->ShowMaximizedNoActivate(vorn::NativeWindowOf(this), false);
            });
    }

    void closeEvent(QCloseEvent* event) override {
        if (m_locked) {
            event->ignore();
            Say(QStringLiteral("close refused"));
            return;
        }
        Say(QStringLiteral("close accepted"));
        event->accept();
        QApplication::quit();
    }

private:
    void OnTimer() {
        if (!m_locked)
            return;
        m_keyboard->Reassert();
        // A held screen is kept by the display's own events.
        if (m_held)
            return;
        if (!m_windowState->IsForeground(vorn::NativeWindowOf(this)))
            KeepInFront();
    }

    void KeepInFront() {
        if (isMinimized())
            m_windowState->ShowMaximizedNoActivate(vorn::NativeWindowOf(this), false);
        m_windowState->SetTopmost(vorn::NativeWindowOf(this), true);
    }

    std::unique_ptr<vorn::platform::IKeyboardFilter> m_keyboard;
    std::unique_ptr<vorn::platform::IWindowState> m_windowState;
    QLineEdit* m_edit = nullptr;
    QTimer m_timer;
    bool m_locked = false;
    bool m_held = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool windowFilter = !app.arguments().contains(QStringLiteral("--no-window-filter"));
    if (app.arguments().contains(QStringLiteral("--no-caret")))
        QApplication::setCursorFlashTime(0);
    ProbeWindow window(windowFilter);
    window.resize(400, 120);
    window.show();

    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &window, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            QApplication::quit();
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            window.Command(line);
        }
    });

    QTimer::singleShot(0, &window, [&] {
        Say(QStringLiteral("ready %1 enforce=%2")
                .arg(window.winId())
                .arg(window.Enforceable() ? QStringLiteral("yes") : QStringLiteral("no")));
    });
    return app.exec();
}
