#include "platform/win32/KeyboardHook_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using vorn::platform::win32::KeyboardHook;

namespace {

std::vector<WPARAM> g_keyDowns;  // what reached the test window

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            g_keyDowns.push_back(w);
            return 0;
        // Not to the default handling: Alt would open the window menu, Alt+F4 close the window.
        case WM_KEYUP:
        case WM_SYSKEYUP:
        case WM_CHAR:
        case WM_SYSCHAR:
        case WM_SYSCOMMAND:
            return 0;
        default:
            return DefWindowProcW(window, message, w, l);
    }
}

void Pump(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    MSG msg;
    while (GetTickCount64() < end) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
}

// A focused window of this test on the same thread as the hook (whose calls come through this
// thread's message loop, as in the client's main thread).
class KeyboardHookWin : public testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VornKeyTest";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, L"VornKeyTest", L"keys", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                 300, 200, nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
        SetForegroundWindow(window);
        SetFocus(window);
        Pump(200);
    }
    void TearDown() override { DestroyWindow(window); }

    // Presses the keys in order, releases them in reverse; true when the last one reached the
    // window.
    bool Reaches(const std::vector<WORD>& chord) {
        g_keyDowns.clear();
        std::vector<INPUT> inputs;
        for (WORD vk : chord)
            inputs.push_back(Key(vk, 0));
        for (auto it = chord.rbegin(); it != chord.rend(); ++it)
            inputs.push_back(Key(*it, KEYEVENTF_KEYUP));
        SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
        Pump(120);
        return std::count(g_keyDowns.begin(), g_keyDowns.end(), chord.back()) > 0;
    }

    static INPUT Key(WORD vk, DWORD flags) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = flags;
        return input;
    }

    static std::string Name(const std::vector<WORD>& chord) {
        std::string name;
        for (WORD vk : chord)
            name += std::to_string(vk) + " ";
        return name;
    }

    HWND window = nullptr;
    KeyboardHook windowHook{KeyboardHook::Table::Window};
    KeyboardHook lockHook{KeyboardHook::Table::Lock};
};

const std::vector<std::vector<WORD>> kLockChords = {
    {VK_LCONTROL, VK_ESCAPE},
    {VK_LCONTROL, VK_LSHIFT, VK_ESCAPE},
    {VK_LMENU, VK_TAB},
    {VK_LMENU, VK_LSHIFT, VK_TAB},
    {VK_LMENU, VK_ESCAPE},
    {VK_RMENU, VK_ESCAPE},
    {VK_LWIN},
    {VK_RWIN},
    {VK_LMENU, VK_F4},
    {VK_RMENU, VK_F4},
    {VK_LCONTROL, VK_LMENU, VK_ESCAPE},
};

const std::vector<std::vector<WORD>> kOrdinaryKeys = {
    {'A'},
    {VK_LSHIFT, 'A'},
    {VK_LCONTROL, 'C'},
    {VK_TAB},
    {VK_LSHIFT, VK_TAB},
    {VK_LCONTROL, VK_TAB},
    {VK_ESCAPE},
    {VK_LSHIFT, VK_ESCAPE},
    {VK_F4},
    {VK_LCONTROL, VK_F4},
    {VK_F5},
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
    const std::vector<std::vector<WORD>> windowChords = {
        {VK_LMENU, VK_TAB}, {VK_LMENU, VK_LSHIFT, VK_TAB}, {VK_LWIN}, {VK_RWIN}};
    const std::vector<std::vector<WORD>> lockOnly = {{VK_LMENU, VK_F4},
                                                     {VK_LCONTROL, VK_ESCAPE},
                                                     {VK_LCONTROL, VK_LSHIFT, VK_ESCAPE},
                                                     {VK_LMENU, VK_ESCAPE}};
    ASSERT_TRUE(windowHook.Install());
    ASSERT_TRUE(lockHook.Install());
    KeyboardHook second{KeyboardHook::Table::Lock};
    EXPECT_FALSE(second.Install()) << "one hook per table";
    for (const auto& chord : lockOnly)
        EXPECT_FALSE(Reaches(chord)) << Name(chord);
    lockHook.Remove();
    for (const auto& chord : windowChords)
        EXPECT_FALSE(Reaches(chord)) << Name(chord);
    for (const auto& chord : lockOnly)
        EXPECT_TRUE(Reaches(chord)) << Name(chord);
    EXPECT_TRUE(Reaches({VK_TAB}));
}

}  // namespace
