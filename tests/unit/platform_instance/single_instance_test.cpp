#include "platform/SingleInstance.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vorn::platform;

namespace {

// Runs `body` in a child process and returns its exit code, so the lock is taken by a process
// other than the test's own.
int InChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstEnds) {
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    EXPECT_EQ(SingleInstanceLockPath("vorn_appinstance"), runtime.path() + "/vorn_appinstance");

    ASSERT_TRUE(AcquireSingleInstance("vorn_appinstance"));
    EXPECT_EQ(InChild([] { return AcquireSingleInstance("vorn_appinstance") ? 1 : 0; }), 0);
    // Another name is another instance.
    EXPECT_EQ(InChild([] { return AcquireSingleInstance("other") ? 1 : 0; }), 1);
}

TEST(SingleInstance, LockOfAProcessThatDiedIsFree) {
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    // The child takes the lock and exits without releasing it (as a crash would).
    EXPECT_EQ(InChild([] { return AcquireSingleInstance("crashy") ? 1 : 0; }), 1);
    EXPECT_EQ(InChild([] { return AcquireSingleInstance("crashy") ? 1 : 0; }), 1);
}

TEST(SingleInstance, MissingRuntimeFolderFallsBackToTemp) {
    qputenv("XDG_RUNTIME_DIR", "/nonexistent/runtime");
    EXPECT_TRUE(SingleInstanceLockPath("x").startsWith(QDir::tempPath()));
}
