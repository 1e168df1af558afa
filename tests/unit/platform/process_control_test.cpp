#include "platform/ProcessControl.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

using vorn::platform::CreateProcessControl;
using vorn::platform::EndResult;

namespace {

// A child that starts a grandchild, which sends its id through the pipe once named; the child
// waits for it and exits with the signal that ended it. The grandchild names itself like a stat
// line, as a hostile page's process cannot but a test can: ") R 1 " in the name must not pass for
// the parent field.
pid_t StartGrandchild(pid_t* grandchild) {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const pid_t inner = ::fork();
        if (inner == 0) {
            ::prctl(PR_SET_NAME, "x) R 1 1 1 (y", 0, 0, 0);
            const pid_t self = ::getpid();
            (void)!::write(fds[1], &self, sizeof self);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        int status = 0;
        ::waitpid(inner, &status, 0);
        ::_exit(WIFSIGNALED(status) ? WTERMSIG(status) : 100);
    }
    ::close(fds[1]);
    if (::read(fds[0], grandchild, sizeof *grandchild) != sizeof *grandchild)
        *grandchild = -1;
    ::close(fds[0]);
    return child;
}

TEST(ProcessControl, EndsAGrandchildAtOnce) {
    pid_t grandchild = -1;
    const pid_t child = StartGrandchild(&grandchild);
    ASSERT_GT(child, 0);
    ASSERT_GT(grandchild, 0);
    EXPECT_EQ(CreateProcessControl()->EndDescendant(grandchild), EndResult::Ended);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), SIGKILL);
}

TEST(ProcessControl, LeavesWhatIsNotOursAlone) {
    auto control = CreateProcessControl();
    // Our own parent (the test runner).
    EXPECT_EQ(control->EndDescendant(::getppid()), EndResult::NotOurs);
    // A process whose parent ended: the system took it over, it is no longer ours.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const pid_t orphan = ::fork();
        if (orphan == 0) {
            for (;;)
                ::pause();
        }
        (void)!::write(fds[1], &orphan, sizeof orphan);
        ::_exit(0);
    }
    ::close(fds[1]);
    pid_t orphan = -1;
    ASSERT_EQ(::read(fds[0], &orphan, sizeof orphan), static_cast<ssize_t>(sizeof orphan));
    ::close(fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(control->EndDescendant(orphan), EndResult::NotOurs);
    EXPECT_EQ(::kill(orphan, 0), 0) << "the orphan is still there";
    ::kill(orphan, SIGKILL);
    // The child that ended and was collected.
    EXPECT_EQ(control->EndDescendant(child), EndResult::Gone);

    // 0 (to the system: the caller's process group), this process itself and an id too large
    // for the system (cut down, 0 again), asked from a child in a process group of its own: a
    // mistake would end no more than that child.
    const pid_t probe = ::fork();
    if (probe == 0) {
        ::setpgid(0, 0);
        auto own = CreateProcessControl();
        const bool ok = own->EndDescendant(0) == EndResult::NotOurs &&
                        own->EndDescendant(::getpid()) == EndResult::NotOurs &&
                        own->EndDescendant(std::int64_t{1} << 40) == EndResult::NotOurs;
        ::_exit(ok ? 0 : 1);
    }
    ASSERT_EQ(::waitpid(probe, &status, 0), probe);
    ASSERT_TRUE(WIFEXITED(status)) << "the probe was ended";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
