#pragma once

#include "platform/KeyChords.h"

namespace vorn::platform::win32 {

// The abstract key of a Windows virtual-key code (Tab, Escape, F4, the two Windows keys).
keys::Key KeyOfVirtualKey(unsigned virtualKey);

// A low-level keyboard hook (WH_KEYBOARD_LL) for the whole desktop that swallows the
// combinations of one of the key tables, press and release alike; every other key passes. The
// hook runs on the thread that installed it, inside that thread's message loop, so that thread
// must pump messages. One filter per process.
class KeyboardHook {
public:
    enum class Table { Window, Lock };

    KeyboardHook() = default;
    ~KeyboardHook();
    KeyboardHook(const KeyboardHook&) = delete;
    KeyboardHook& operator=(const KeyboardHook&) = delete;

    // False when the system refused the hook or another filter of this process is installed.
    // Installing again replaces the table.
    bool Install(Table table);
    void Remove();
    bool IsInstalled() const { return m_hook != nullptr; }

private:
    void* m_hook = nullptr;
};

}  // namespace vorn::platform::win32
