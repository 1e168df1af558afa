#include "platform/linux/SingleInstance_linux.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>

using namespace vorn::platform;

namespace {

bool AcquireSingleInstance(const std::string& name) {
    return CreateSingleInstance()->Acquire(name);
}

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
    ::chmod(runtime.path().toUtf8().constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    EXPECT_EQ(SingleInstanceLockPath("vorn_appinstance"),
              (runtime.path() + "/vorn_appinstance").toStdString());

    ASSERT_TRUE(AcquireSingleInstance("vorn_appinstance"));
    EXPECT_EQ(InChild([] { return AcquireSingleInstance("vorn_appinstance") ? 1 : 0; }), 0);
    // Another name is another instance.
    EXPECT_EQ(InChild([] { return AcquireSingleInstance("other") ? 1 : 0; }), 1);
}

TEST(SingleInstance, LockOfAProcessThatDiedIsFree) {
    QTemporaryDir runtime;
    ::chmod(runtime.path().toUtf8().constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    // The child takes the lock and exits without releasing it (as a crash would).
    EXPECT_EQ(InChild([] { return AcquireSingleInstance("crashy") ? 1 : 0; }), 1);
    EXPECT_EQ(InChild([] { return AcquireSingleInstance("crashy") ? 1 : 0; }), 1);
}

// Without a private runtime folder there is no shared file (such as one in /tmp) that another
// user could create first and hold: the lock is then an abstract socket named with the user id,
// and still keeps a second instance of the same user out.
TEST(SingleInstance, WithoutAPrivateRuntimeFolderTheLockIsStillPerUser) {
    for (const char* runtime : {"", "/nonexistent/runtime", "/tmp"}) {
        qputenv("XDG_RUNTIME_DIR", runtime);
        EXPECT_EQ(SingleInstanceLockPath("vorn_appinstance"), std::string()) << runtime;
        EXPECT_EQ(InChild([] {
                      if (!AcquireSingleInstance("vorn_nort"))
                          return 2;
                      return InChild([] { return AcquireSingleInstance("vorn_nort") ? 1 : 0; });
                  }),
                  0)
            << runtime;
    }
}

// Another local user holds every name they can: the shared /tmp file of old and the abstract
// name carrying our user id. Neither keeps the client from starting.
TEST(SingleInstance, AnotherUserCannotKeepTheClientFromStarting) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as a second user";
    qunsetenv("XDG_RUNTIME_DIR");
    const uid_t us = ::geteuid();
    ::unlink("/tmp/vorn_appinstance");  // a file of ours would keep the squatter out
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t squatter = fork();
    if (squatter == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            _exit(3);
        const int file = ::open("/tmp/vorn_appinstance", O_RDWR | O_CREAT, 0644);
        if (file >= 0)
            ::flock(file, LOCK_EX | LOCK_NB);
        const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string name = "vorn_appinstance." + std::to_string(us);
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        ::bind(sock, reinterpret_cast<sockaddr*>(&address),
               static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size()));
        ::listen(sock, 4);
        if (::write(ready[1], "x", 1) != 1)
            _exit(4);
        ::pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    const int started = InChild([] { return AcquireSingleInstance("vorn_appinstance") ? 1 : 0; });
    ::kill(squatter, SIGKILL);
    ::waitpid(squatter, nullptr, 0);
    ::unlink("/tmp/vorn_appinstance");
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(started, 1);
}

// A runtime folder that others may write to, or that is a link, is not private.
TEST(SingleInstance, OnlyAPrivateRuntimeFolderHoldsTheLockFile) {
    QTemporaryDir runtime;
    ASSERT_TRUE(QFile::setPermissions(
        runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    EXPECT_EQ(SingleInstanceLockPath("x"), (runtime.path() + "/x").toStdString());
    ASSERT_EQ(::chmod(runtime.path().toUtf8().constData(), 0777), 0);
    EXPECT_EQ(SingleInstanceLockPath("x"), std::string());
    ASSERT_EQ(::chmod(runtime.path().toUtf8().constData(), 0700), 0);
    const QString link = runtime.path() + "-link";
    ASSERT_TRUE(QFile::link(runtime.path(), link));
    qputenv("XDG_RUNTIME_DIR", link.toUtf8());
    EXPECT_EQ(SingleInstanceLockPath("x"), std::string());
    QFile::remove(link);
}
