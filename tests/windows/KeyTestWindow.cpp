#include "KeyTestWindow.h"

#include <algorithm>

namespace wintest {
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

INPUT Key(WORD vk, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = flags;
    return input;
}

}  // namespace

const std::vector<Chord> kLockChords = {
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

const std::vector<Chord> kOrdinaryKeys = {
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

const std::vector<Chord> kWindowChords = {{VK_LMENU, VK_TAB},
                                          {VK_LMENU, VK_LSHIFT, VK_TAB},
                                          {VK_LWIN},
                                          {VK_RWIN}};

const std::vector<Chord> kLockOnlyChords = {{VK_LMENU, VK_F4},
                                            {VK_LCONTROL, VK_ESCAPE},
                                            {VK_LCONTROL, VK_LSHIFT, VK_ESCAPE},
                                            {VK_LMENU, VK_ESCAPE}};

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

std::string Name(const Chord& chord) {
    std::string name;
    for (WORD vk : chord)
        name += std::to_string(vk) + " ";
    return name;
}

void KeyTestWindow::SetUp() {
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

void KeyTestWindow::TearDown() {
    DestroyWindow(window);
}

bool KeyTestWindow::Reaches(const Chord& chord) {
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

}  // namespace wintest
