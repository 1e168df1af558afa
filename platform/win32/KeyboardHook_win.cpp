#include "platform/win32/KeyboardHook_win.h"

#include "common/LogSink.h"
#include "platform/win32/Text_win.h"

#include <windows.h>

#include <atomic>

namespace vorn::platform::win32 {
namespace {

using keys::Key;

std::atomic<KeyboardHook*> g_owner{nullptr};
KeyboardHook::Table g_table = KeyboardHook::Table::Lock;

// Modifiers as the hook itself has seen them go down and up. The system's flag for Alt
// (LLKHF_ALTDOWN) is not set by every implementation (Wine leaves it clear), and
// GetAsyncKeyState inside a low-level hook lags behind the event being filtered; the events
// themselves are the one source that is always there, so all three are asked.
struct Seen {
    bool alt = false, control = false, shift = false, win = false;
} g_seen;

void Track(DWORD vk, bool down) {
    switch (vk) {
        case VK_MENU: case VK_LMENU: case VK_RMENU: g_seen.alt = down; break;
        case VK_CONTROL: case VK_LCONTROL: case VK_RCONTROL: g_seen.control = down; break;
        case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT: g_seen.shift = down; break;
        case VK_LWIN: case VK_RWIN: g_seen.win = down; break;
        default: break;
    }
}

bool Held(int vk) {
    return (GetAsyncKeyState(vk) & 0x8000) != 0;
}

unsigned Modifiers(const KBDLLHOOKSTRUCT& event) {
    unsigned mods = 0;
    if (g_seen.alt || (event.flags & LLKHF_ALTDOWN) || Held(VK_MENU))
        mods |= keys::kAlt;
    if (g_seen.control || Held(VK_CONTROL))
        mods |= keys::kControl;
    if (g_seen.shift || Held(VK_SHIFT))
        mods |= keys::kShift;
    if (g_seen.win || Held(VK_LWIN) || Held(VK_RWIN))
        mods |= keys::kSuper;
    return mods;
}

LRESULT CALLBACK HookProc(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
        const auto& event = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
        const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
        const Key key = KeyOfVirtualKey(event.vkCode);
        const unsigned mods = Modifiers(event);
        Track(event.vkCode, down);
        const bool swallow = g_table == KeyboardHook::Table::Lock ? keys::IsLockFilterChord(key, mods)
                                                                   : keys::IsWindowFilterChord(key, mods);
        if (swallow)
            return 1;
    }
    return CallNextHookEx(nullptr, code, message, data);
}

}  // namespace

keys::Key KeyOfVirtualKey(unsigned vk) {
    switch (vk) {
        case VK_TAB: return Key::Tab;
        case VK_ESCAPE: return Key::Escape;
        case VK_F4: return Key::F4;
        case VK_LWIN: return Key::SuperL;
        case VK_RWIN: return Key::SuperR;
        default: return Key::Other;
    }
}

KeyboardHook::~KeyboardHook() {
    Remove();
}

bool KeyboardHook::Install(Table table) {
    KeyboardHook* expected = nullptr;
    if (!g_owner.compare_exchange_strong(expected, this) && expected != this)
        return false;
    g_table = table;
    if (m_hook)
        return true;
    g_seen = {};
    m_hook = SetWindowsHookExW(WH_KEYBOARD_LL, HookProc, GetModuleHandleW(nullptr), 0);
    if (!m_hook) {
        log::Warning(log::Area::Lock, "The keyboard filter could not be installed: " +
                                          ErrorText(GetLastError()));
        g_owner = nullptr;
        return false;
    }
    return true;
}

void KeyboardHook::Remove() {
    if (!m_hook)
        return;
    UnhookWindowsHookEx(static_cast<HHOOK>(m_hook));
    m_hook = nullptr;
    g_owner = nullptr;
}

}  // namespace vorn::platform::win32
