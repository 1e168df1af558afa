// The keyboard filters as the lock uses them, over the hooks whose tables keyboard_hook_win_test
// checks key by key: here, that each filter puts its table in place and takes it away.
#include "KeyTestWindow.h"
#include "platform/KeyboardFilter.h"

using namespace wintest;

namespace {

class KeyboardFilterWin : public KeyTestWindow {
protected:
    std::unique_ptr<vorn::platform::IKeyboardFilter> filter =
        vorn::platform::CreateKeyboardFilter();
    vorn::platform::NativeWindow Handle() const {
        return reinterpret_cast<vorn::platform::NativeWindow>(window);
    }
};

TEST_F(KeyboardFilterWin, InstallsAndRemovesTheWindowAndLockTables) {
    ASSERT_TRUE(filter->IsEnforceable());
    ASSERT_TRUE(Reaches({'A'})) << "the test window does not have the keyboard focus";
    filter->InstallWindowFilter();
    for (const auto& chord : kWindowChords)
        EXPECT_FALSE(Reaches(chord)) << Name(chord);
    ASSERT_TRUE(filter->InstallLockFilter(Handle()));
    EXPECT_TRUE(filter->IsLockFilterInstalled());
    for (const auto& chord : kLockChords)
        EXPECT_FALSE(Reaches(chord)) << Name(chord);
    EXPECT_TRUE(Reaches({VK_LSHIFT, 'A'}));
    filter->RemoveLockFilter();
    EXPECT_FALSE(filter->IsLockFilterInstalled());
    for (const auto& chord : kLockOnlyChords)
        EXPECT_TRUE(Reaches(chord)) << "lock filter removed: " << Name(chord);
    for (const auto& chord : kWindowChords)
        EXPECT_FALSE(Reaches(chord)) << "window filter stays: " << Name(chord);
    filter->RemoveWindowFilter();
    for (const auto& chord : kWindowChords)
        EXPECT_TRUE(Reaches(chord)) << "window filter removed: " << Name(chord);
}

// The lock holds a window of this program; no window, or another program's, takes nothing.
TEST_F(KeyboardFilterWin, LockFilterNeedsAWindowOfThisProgram) {
    EXPECT_FALSE(filter->InstallLockFilter(0));
    EXPECT_FALSE(filter->InstallLockFilter(
        reinterpret_cast<vorn::platform::NativeWindow>(GetDesktopWindow())));
    EXPECT_FALSE(filter->IsLockFilterInstalled());
    filter->Reassert();
    EXPECT_TRUE(Reaches({VK_LMENU, VK_F4}));
}

}  // namespace
