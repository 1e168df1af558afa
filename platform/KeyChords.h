#pragma once

#include <cstdint>

// Which key combinations the keyboard filters swallow, independent of any display server, so that
// the tables can be tested without one. Keys and modifiers are named abstractly; each platform
// layer translates its own key codes and modifier state (X11: platform/linux/KeyGrabs_linux.h).
namespace vorn::platform::keys {

enum class Key : std::uint8_t { Other, Tab, Escape, F4, SuperL, SuperR };

enum Modifier : unsigned {
    kShift = 1u << 0,
    kControl = 1u << 1,
    kAlt = 1u << 2,
    kSuper = 1u << 3,
};

inline bool IsSuperKey(Key key) {
    return key == Key::SuperL || key == Key::SuperR;
}

// Swallowed for the whole life of the main window: the task switcher and the Start-menu keys.
// Alt+Tab with any further modifier (Alt+Shift+Tab switches backwards) counts as Alt+Tab.
inline bool IsWindowFilterChord(Key key, unsigned mods) {
    return (key == Key::Tab && (mods & kAlt)) || IsSuperKey(key);
}

// Swallowed while locked, key press and release alike: Ctrl+Esc and Ctrl+Shift+Esc, Alt+Tab,
// Alt+Esc, either Super key and Alt+F4.
inline bool IsLockFilterChord(Key key, unsigned mods) {
    switch (key) {
        case Key::Escape:
            return (mods & (kControl | kAlt)) != 0;
        case Key::Tab:
        case Key::F4:
            return (mods & kAlt) != 0;
        case Key::SuperL:
        case Key::SuperR:
            return true;
        case Key::Other:
            break;
    }
    return false;
}

}  // namespace vorn::platform::keys
