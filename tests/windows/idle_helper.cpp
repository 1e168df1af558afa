// A program that only waits: the tests start copies of it under names of their choosing and end
// them. Ends by itself after a minute so that nothing outlives a crashed test for long.
// With --topmost-window it waits showing a small topmost window of class "VornAboveTest", as
// another program's window over the client would; posted WM_APP, it puts itself on top again.
// With --hold-desktop it joins Wine's desktop and waits until it is killed: the test run keeps
// one desktop for all its programs (scripts/test-windows.sh).
#include <windows.h>

#include <cstring>

namespace {

LRESULT CALLBACK AboveProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_APP) {
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--hold-desktop") == 0) {
        GetDesktopWindow();
        Sleep(INFINITE);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--topmost-window") == 0) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = AboveProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VornAboveTest";
        RegisterClassW(&wc);
        CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, L"VornAboveTest", L"above",
                        WS_POPUP | WS_VISIBLE, 0, 0, 200, 200, nullptr, nullptr, wc.hInstance,
                        nullptr);
        const ULONGLONG end = GetTickCount64() + 60000;
        MSG msg;
        while (GetTickCount64() < end) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            Sleep(10);
        }
        return 0;
    }
    Sleep(60000);
    return 0;
}
