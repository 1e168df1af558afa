// On a display the client cannot control (here Qt's offscreen platform, as on Wayland without X11)
// the lock must say so rather than pretend.
#include "platform/KeyboardFilter.h"
#include "platform/WindowState.h"
#include "window/NativeWindowOf.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

QStringList g_lockWarnings;

void Capture(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && context.category && QByteArray(context.category) == "vorn.lock")
        g_lockWarnings << text;
}

class Unenforceable : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "unenforceable_test";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        s_app = new QApplication(argc, argv);
        qInstallMessageHandler(Capture);
    }
    static QApplication* s_app;
};
QApplication* Unenforceable::s_app = nullptr;

}  // namespace

TEST_F(Unenforceable, FilterRefusesTheLockAndSaysWhyOnce) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    g_lockWarnings.clear();
    auto first = vorn::platform::CreateKeyboardFilter();
    auto second = vorn::platform::CreateKeyboardFilter();
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_FALSE(first->IsEnforceable());
    ASSERT_EQ(g_lockWarnings.size(), 1);
    EXPECT_TRUE(g_lockWarnings[0].contains(QStringLiteral("cannot be locked")));

    QWidget window;
    window.show();
    first->InstallWindowFilter();
    EXPECT_FALSE(first->InstallLockFilter(vorn::NativeWindowOf(&window)));
    EXPECT_FALSE(first->IsLockFilterInstalled());
    first->Reassert();
    first->RemoveLockFilter();
    first->RemoveWindowFilter();
}

TEST_F(Unenforceable, WindowStateReportsNothingAndChangesNothing) {
    const auto state = vorn::platform::CreateWindowState();
    EXPECT_FALSE(state->CanEnforceLock());
    QWidget window;
    window.resize(200, 100);
    window.show();
    const QRect before = window.geometry();
    state->SetTopmost(vorn::NativeWindowOf(&window), true);
    state->ShowMaximizedNoActivate(vorn::NativeWindowOf(&window), true);
    state->GuardStacking(vorn::NativeWindowOf(&window), true);
    state->KeepOnTop(vorn::NativeWindowOf(&window));
    state->GuardStacking(vorn::NativeWindowOf(&window), false);
    // Never claims the window is in front: the keep-in-front step must not be skipped on a lie.
    EXPECT_FALSE(state->IsForeground(vorn::NativeWindowOf(&window)));
    EXPECT_EQ(window.geometry(), before);
    state->SetTopmost(vorn::NativeWindowOf(nullptr), true);
    EXPECT_FALSE(state->IsForeground(vorn::NativeWindowOf(nullptr)));
}
