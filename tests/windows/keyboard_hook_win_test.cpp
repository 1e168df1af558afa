#include "KeyTestWindow.h"
#include "platform/win32/KeyboardHook_win.h"

using vorn::platform::win32::KeyboardHook;
using namespace wintest;

namespace {

class KeyboardHookWin : public KeyTestWindow {
protected:
    KeyboardHook windowHook{KeyboardHook::Table::Window};
    KeyboardHook lockHook{KeyboardHook::Table::Lock};
};

TEST_F(KeyboardHookWin, LockTableReachesNoWindowWhileOtherKeysDo) {
    ASSERT_TRUE(Reaches({'A'})) << "the test window does not have the keyboard focus";
    ASSERT_TRUE(lockHook.Install());
    for (const auto& chord : kLockChords)
        EXPECT_FALSE(Reaches(chord)) << Name(chord);
    for (const auto& chord : kOrdinaryKeys)
        EXPECT_TRUE(Reaches(chord)) << Name(chord);
    lockHook.Remove();
    for (const auto& chord : kLockChords)
        EXPECT_TRUE(Reaches(chord)) << "after removal: " << Name(chord);
}

// The window's own hook stays for its whole life; the lock's comes and goes on top of it.
TEST_F(KeyboardHookWin, WindowTableStaysBelowTheLockTable) {
    ASSERT_TRUE(windowHook.Install());
    ASSERT_TRUE(lockHook.Install());
    KeyboardHook second{KeyboardHook::Table::Lock};
    EXPECT_FALSE(second.Install()) << "one hook per table";
    for (const auto& chord : kLockOnlyChords)
        EXPECT_FALSE(Reaches(chord)) << Name(chord);
    lockHook.Remove();
    for (const auto& chord : kWindowChords)
        EXPECT_FALSE(Reaches(chord)) << Name(chord);
    for (const auto& chord : kLockOnlyChords)
        EXPECT_TRUE(Reaches(chord)) << Name(chord);
    EXPECT_TRUE(Reaches({VK_TAB}));
}

}  // namespace
