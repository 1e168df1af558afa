#include "platform/win32/KeyboardHook_win.h"

#include "common/LogSink.h"
#include "platform/win32/Text_win.h"

#include <windows.h>

#include <atomic>

namespace vorn::platform::win32 {
namespace {

using keys::Key;

// Modifiers as a hook has seen them go down and up. The system's flag for Alt (LLKHF_ALTDOWN)
// is not set by every implementation (Wine leaves it clear), and GetAsyncKeyState inside a
// low-level hook lags behind the event being filtered; the events themselves are the one source
// that is always there, so all three are asked. Neither table swallows a modifier, so each hook
// sees every modifier event.
struct Seen {
    bool alt = false, control = false, shift = false, win = false;
};

// One slot per table; written on the installing thread, read by its hook procedure on the same
// thread.
struct Slot {
    std::atomic<KeyboardHook*> owner{nullptr};
    Seen seen;
};
Slot g_slots[2];

Slot& SlotOf(KeyboardHook::Table table) {
    return g_slots[table == KeyboardHook::Table::Lock ? 1 : 0];
}

void Track(Seen& seen, DWORD vk, bool down) {
    switch (vk) {
        case VK_MENU:
        case VK_LMENU:
        case VK_RMENU:
            seen.alt = down;
            break;
        case VK_CONTROL:
        case VK_LCONTROL:
        case VK_RCONTROL:
            seen.control = down;
            break;
        case VK_SHIFT:
        case VK_LSHIFT:
        case VK_RSHIFT:
            seen.shift = down;
            break;
        case VK_LWIN:
        case VK_RWIN:
            seen.win = down;
            break;
        default:
            break;
    }
}

bool Held(int vk) {
    return (GetAsyncKeyState(vk) & 0x8000) != 0;
}

unsigned Modifiers(const Seen& seen, const KBDLLHOOKSTRUCT& event) {
    unsigned mods = 0;
    if (seen.alt || (event.flags & LLKHF_ALTDOWN) || Held(VK_MENU))
        mods |= keys::kAlt;
    if (seen.control || Held(VK_CONTROL))
        mods |= keys::kControl;
    if (seen.shift || Held(VK_SHIFT))
        mods |= keys::kShift;
    if (seen.win || Held(VK_LWIN) || Held(VK_RWIN))
        mods |= keys::kSuper;
    return mods;
}

template <KeyboardHook::Table table>
LRESULT CALLBACK HookProc(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
        const auto& event = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
        Seen& seen = SlotOf(table).seen;
        const Key key = KeyOfVirtualKey(event.vkCode);
        const unsigned mods = Modifiers(seen, event);
        Track(seen, event.vkCode, message == WM_KEYDOWN || message == WM_SYSKEYDOWN);
        const bool swallow = table == KeyboardHook::Table::Lock
                                 ? keys::IsLockFilterChord(key, mods)
                                 : keys::IsWindowFilterChord(key, mods);
        if (swallow)
            return 1;
    }
    return CallNextHookEx(nullptr, code, message, data);
}

}  // namespace

keys::Key KeyOfVirtualKey(unsigned vk) {
    switch (vk) {
        case VK_TAB:
            return Key::Tab;
        case VK_ESCAPE:
            return Key::Escape;
        case VK_F4:
            return Key::F4;
        case VK_LWIN:
            return Key::SuperL;
        case VK_RWIN:
            return Key::SuperR;
        default:
            return Key::Other;
    }
}

KeyboardHook::~KeyboardHook() {
    Remove();
}

bool KeyboardHook::Install() {
    if (m_hook)
        return true;
    Slot& slot = SlotOf(m_table);
    KeyboardHook* expected = nullptr;
    if (!slot.owner.compare_exchange_strong(expected, this)) {
        log::Warning(log::Area::Lock, "A keyboard filter of this kind is installed already.");
        return false;
    }
    slot.seen = {};
    const HOOKPROC proc = m_table == Table::Lock ? HookProc<Table::Lock> : HookProc<Table::Window>;
    m_hook = SetWindowsHookExW(WH_KEYBOARD_LL, proc, GetModuleHandleW(nullptr), 0);
    if (!m_hook) {
        log::Warning(log::Area::Lock,
                     "The keyboard filter could not be installed: " + ErrorText(GetLastError()));
        slot.owner = nullptr;
        return false;
    }
    return true;
}

void KeyboardHook::Remove() {
    if (!m_hook)
        return;
    UnhookWindowsHookEx(static_cast<HHOOK>(m_hook));
    m_hook = nullptr;
    SlotOf(m_table).owner = nullptr;
}

}  // namespace vorn::platform::win32
