#pragma once

#include "platform/KeyChords.h"

namespace vorn::platform::win32 {

// The abstract key of a Windows virtual-key code (Tab, Escape, F4, the two Windows keys).
keys::Key KeyOfVirtualKey(unsigned virtualKey);

// A low-level keyboard hook (WH_KEYBOARD_LL) for the whole desktop that swallows the
// combinations of one key table, press and release alike; every other key passes. The window
// table's hook lives as long as the main window, the lock table's is added on top while locked,
// so one hook of each table can be installed at a time. The hook runs on the thread that
// installed it, inside that thread's message loop, so that thread must pump messages.
class KeyboardHook {
public:
    enum class Table { Window, Lock };

    explicit KeyboardHook(Table table) : m_table(table) {}
    ~KeyboardHook();
    KeyboardHook(const KeyboardHook&) = delete;
    KeyboardHook& operator=(const KeyboardHook&) = delete;

    // False when the system refused the hook or another hook of the same table is installed
    // (the reason is logged). Installing an installed hook again does nothing.
    bool Install();
    void Remove();
    bool IsInstalled() const { return m_hook != nullptr; }

private:
    Table m_table;
    void* m_hook = nullptr;
};

}  // namespace vorn::platform::win32
