#include "platform/KeyboardFilter.h"

#include "common/Logging.h"
#include "platform/linux/KeyGrabs_linux.h"
#include "platform/linux/X11_linux.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QStringList>
#include <QWindow>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <array>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

// The X server ends every grab of a client, passive and active, when the client's connection
// closes. A client that crashes or is killed therefore never leaves the desktop's keyboard locked;
// nothing here needs a watchdog for that case.

namespace {

using vorn::platform::IKeyboardFilter;
using vorn::platform::WindowWithId;
using vorn::platform::keys::Key;

constexpr int kKeyKinds = 6;
// Safety net for grab losses the event stream does not show: the grab is re-taken this often
// (in Reassert calls, 20 ms apart) even when no loss was seen.
constexpr int kRegrabEveryTicks = 25;

const char* KeyLabel(Key key) {
    switch (key) {
        case Key::Tab:
            return "Alt+Tab";
        case Key::SuperL:
            return "the left Super (Windows) key";
        case Key::SuperR:
            return "the right Super (Windows) key";
        default:
            return "a task-switching key";
    }
}

class NullKeyboardFilter : public IKeyboardFilter {
public:
    bool IsEnforceable() const override { return false; }
    void InstallWindowFilter() override {}
    void RemoveWindowFilter() override {}
    bool InstallLockFilter(vorn::platform::NativeWindow) override { return false; }
    void RemoveLockFilter() override {}
    bool IsLockFilterInstalled() const override { return false; }
    void Reassert() override {}
};

class X11KeyboardFilter : public IKeyboardFilter, public QAbstractNativeEventFilter {
public:
    explicit X11KeyboardFilter(xcb_connection_t* connection)
        : m_conn(connection), m_syms(xcb_key_symbols_alloc(connection)) {
        m_root = vorn::platform::RootOf(m_conn);
        LoadKeyboardMapping();
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    ~X11KeyboardFilter() override {
        // After the application object is gone, so is its display connection.
        if (!QCoreApplication::instance())
            return;
        QCoreApplication::instance()->removeNativeEventFilter(this);
        RemoveLockFilter();
        RemoveWindowFilter();
        xcb_key_symbols_free(m_syms);
    }

    bool IsEnforceable() const override { return true; }

    void InstallWindowFilter() override {
        if (m_windowFilter)
            return;
        m_windowFilter = true;
        GrabPassive();
    }

    void RemoveWindowFilter() override {
        if (!m_windowFilter)
            return;
        m_windowFilter = false;
        UngrabPassive();
    }

    bool InstallLockFilter(vorn::platform::NativeWindow handle) override {
        const auto xid = static_cast<xcb_window_t>(handle);
        // The lock follows the window's life: once the window is gone, Reassert stops grabbing.
        QWindow* window = WindowWithId(xid);
        if (!window)
            return false;
        if (m_lockWanted && m_lockXid == xid && m_grabHeld)
            return true;
        m_lockWindow = window;
        m_lockXid = xid;
        m_lockWanted = true;
        return TakeGrab();
    }

    void RemoveLockFilter() override {
        if (!m_lockWanted)
            return;
        m_lockWanted = false;
        m_grabHeld = false;
        m_lockWindow.clear();
        m_lockXid = XCB_NONE;
        xcb_ungrab_keyboard(m_conn, XCB_CURRENT_TIME);
        xcb_flush(m_conn);
    }

    bool IsLockFilterInstalled() const override { return m_lockWanted; }

    void Reassert() override {
        if (!m_lockWanted || !m_lockWindow)
            return;
        if (m_grabHeld && ++m_ticksSinceGrab < kRegrabEveryTicks)
            return;
        TakeGrab();
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t")
            return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        switch (event->response_type & ~0x80) {
            case XCB_KEY_PRESS:
            case XCB_KEY_RELEASE: {
                // Press and release share one layout.
                auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
                const Key kind = m_keyOf[key->detail];
                if (kind == Key::Other)
                    return false;
                const unsigned mods = vorn::platform::keys::ModifiersOf(key->state, m_masks);
                if (m_lockWanted && vorn::platform::keys::IsLockFilterChord(kind, mods))
                    return true;
                return m_windowFilter && vorn::platform::keys::IsWindowFilterChord(kind, mods);
            }
            case XCB_UNMAP_NOTIFY: {
                // An unmapped grab window (minimised) loses the grab without any other notice.
                auto* unmap = reinterpret_cast<xcb_unmap_notify_event_t*>(event);
                if (m_lockWanted && unmap->window == m_lockXid)
                    m_grabHeld = false;
                return false;
            }
            case XCB_MAP_NOTIFY: {
                // Back on the screen (brought back from minimised): the grab is possible again
                // from now, and a key typed before the next tick would reach the other window.
                auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (m_lockWanted && !m_grabHeld && map->window == m_lockXid)
                    TakeGrab();
                return false;
            }
            case XCB_FOCUS_OUT: {
                // Another grab took over the keyboard, possibly one of Qt's own (a pop-up), and
                // will not hand it back when it ends.
                auto* focus = reinterpret_cast<xcb_focus_out_event_t*>(event);
                if (m_lockWanted && focus->event == m_lockXid &&
                    (focus->mode == XCB_NOTIFY_MODE_GRAB ||
                     focus->mode == XCB_NOTIFY_MODE_UNGRAB)) {
                    qCDebug(lcLock) << "lock window lost the keyboard, focus mode" << focus->mode;
                    m_grabHeld = false;
                }
                return false;
            }
            case XCB_MAPPING_NOTIFY:
                OnMappingChanged(reinterpret_cast<xcb_mapping_notify_event_t*>(event));
                return false;
            default:
                return false;
        }
    }

private:
    bool TakeGrab() {
        m_ticksSinceGrab = 0;
        xcb_generic_error_t* error = nullptr;
        auto* reply =
            xcb_grab_keyboard_reply(m_conn,
                                    xcb_grab_keyboard(m_conn, 1, m_lockXid, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    &error);
        const int status = reply ? reply->status : -1;
        std::free(reply);
        if (error) {
            qCDebug(lcLock) << "keyboard grab failed with X error" << error->error_code;
            std::free(error);
        }
        const bool held = status == XCB_GRAB_STATUS_SUCCESS;
        // Said when the answer changes, not on every retry while a minimised window comes back.
        if (status != m_lastGrabStatus)
            qCDebug(lcLock) << (held ? "keyboard grab taken" : "keyboard grab refused, status")
                            << status;
        m_lastGrabStatus = status;
        m_grabHeld = held;
        return held;
    }

    void LoadKeyboardMapping() {
        m_keyOf.fill(Key::Other);
        std::array<std::vector<std::uint8_t>, kKeyKinds> codes;
        const std::pair<Key, xcb_keysym_t> keys[] = {{Key::Tab, XK_Tab},
                                                     {Key::Escape, XK_Escape},
                                                     {Key::F4, XK_F4},
                                                     {Key::SuperL, XK_Super_L},
                                                     {Key::SuperR, XK_Super_R}};
        for (const auto& [kind, sym] : keys)
            codes[static_cast<int>(kind)] = KeycodesOf(sym);
        // Keys that share a code (rare keymaps) resolve to the first kind listed.
        for (int kind = kKeyKinds - 1; kind > 0; --kind)
            for (std::uint8_t code : codes[kind])
                m_keyOf[code] = static_cast<Key>(kind);

        m_masks = {};
        m_masks.shift = XCB_MOD_MASK_SHIFT;
        m_masks.control = XCB_MOD_MASK_CONTROL;
        m_masks.capsLock = XCB_MOD_MASK_LOCK;
        auto* reply =
            xcb_get_modifier_mapping_reply(m_conn, xcb_get_modifier_mapping(m_conn), nullptr);
        if (!reply) {
            qCWarning(lcLock) << "The keyboard's modifier keys could not be read; Alt+Tab cannot "
                                 "be blocked.";
            return;
        }
        const std::uint8_t* rows = xcb_get_modifier_mapping_keycodes(reply);
        const int perRow = reply->keycodes_per_modifier;
        auto maskOf = [&](std::initializer_list<xcb_keysym_t> syms) -> std::uint16_t {
            std::vector<std::uint8_t> all;
            for (xcb_keysym_t sym : syms)
                for (std::uint8_t code : KeycodesOf(sym))
                    all.push_back(code);
            return vorn::platform::keys::ModifierMaskHolding(rows, perRow, all);
        };
        m_masks.alt = maskOf({XK_Alt_L, XK_Alt_R, XK_Meta_L});
        m_masks.super = maskOf({XK_Super_L, XK_Super_R});
        m_masks.numLock = maskOf({XK_Num_Lock});
        m_masks.scrollLock = maskOf({XK_Scroll_Lock});
        std::free(reply);
    }

    std::vector<std::uint8_t> KeycodesOf(xcb_keysym_t sym) {
        std::vector<std::uint8_t> out;
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(m_syms, sym);
        for (xcb_keycode_t* c = codes; c && *c != XCB_NO_SYMBOL; ++c)
            out.push_back(*c);
        std::free(codes);
        return out;
    }

    void GrabPassive() {
        struct Pending {
            Key kind;
            xcb_keycode_t code;
            std::uint16_t mods;
            xcb_void_cookie_t cookie;
        };
        // All requests first, then the checks: one round trip instead of one per grab.
        std::vector<Pending> pending;
        for (const auto& grab : vorn::platform::keys::WindowFilterGrabs(m_masks))
            for (int code = 0; code < 256; ++code)
                if (m_keyOf[code] == grab.key)
                    pending.push_back(
                        {grab.key, static_cast<xcb_keycode_t>(code), grab.mods,
                         xcb_grab_key_checked(m_conn, 0, m_root, grab.mods,
                                              static_cast<xcb_keycode_t>(code), XCB_GRAB_MODE_ASYNC,
                                              XCB_GRAB_MODE_ASYNC)});
        std::set<Key> refused;
        for (const auto& p : pending) {
            xcb_generic_error_t* error = xcb_request_check(m_conn, p.cookie);
            if (!error) {
                m_passive.emplace_back(p.code, p.mods);
                continue;
            }
            if (error->error_code == XCB_ACCESS)
                refused.insert(p.kind);
            else
                qCDebug(lcLock) << "key grab failed with X error" << error->error_code;
            std::free(error);
        }
        qCDebug(lcLock) << "window filter:" << m_passive.size() << "of" << pending.size()
                        << "key grabs taken";
        ReportRefused(refused);
    }

    // Said once per key and process: the reason does not change while the window manager runs.
    static void ReportRefused(const std::set<Key>& refused) {
        static std::set<Key> reported;
        QStringList keys;
        for (Key k : refused)
            if (reported.insert(k).second)
                keys << QString::fromLatin1(KeyLabel(k));
        if (keys.isEmpty())
            return;
        const bool one = keys.size() == 1;
        const QString last = keys.takeLast();
        const QString list = keys.isEmpty()
                                 ? last
                                 : keys.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
        qCWarning(lcLock).noquote()
            << list + (one ? QStringLiteral(" is already taken by another program (usually the "
                                            "window manager), so it cannot be blocked and stays "
                                            "usable while the exam is not locked.")
                           : QStringLiteral(" are already taken by another program (usually the "
                                            "window manager), so they cannot be blocked and stay "
                                            "usable while the exam is not locked."));
    }

    void UngrabPassive() {
        for (const auto& [code, mods] : m_passive)
            xcb_ungrab_key(m_conn, code, m_root, mods);
        m_passive.clear();
        xcb_flush(m_conn);
    }

    void OnMappingChanged(xcb_mapping_notify_event_t* event) {
        if (event->request == XCB_MAPPING_POINTER)
            return;
        xcb_refresh_keyboard_mapping(m_syms, event);
        const auto oldKeys = m_keyOf;
        const auto oldMasks = m_masks;
        LoadKeyboardMapping();
        // Tools that type with spare key codes remap the keyboard constantly; only a change of
        // the keys or modifiers that matter here is worth new grabs.
        const bool sameMasks = oldMasks.alt == m_masks.alt && oldMasks.super == m_masks.super &&
                               oldMasks.numLock == m_masks.numLock &&
                               oldMasks.scrollLock == m_masks.scrollLock;
        if (m_windowFilter && !(sameMasks && oldKeys == m_keyOf)) {
            UngrabPassive();
            GrabPassive();
        }
    }

    xcb_connection_t* m_conn;
    xcb_key_symbols_t* m_syms;
    xcb_window_t m_root = XCB_NONE;
    std::array<Key, 256> m_keyOf{};
    vorn::platform::keys::ModifierMasks m_masks;

    bool m_windowFilter = false;
    std::vector<std::pair<xcb_keycode_t, std::uint16_t>> m_passive;

    bool m_lockWanted = false;
    bool m_grabHeld = false;
    int m_ticksSinceGrab = 0;
    int m_lastGrabStatus = XCB_GRAB_STATUS_SUCCESS + 100;
    QPointer<QWindow> m_lockWindow;
    xcb_window_t m_lockXid = XCB_NONE;
};

}  // namespace

namespace vorn::platform {

std::unique_ptr<IKeyboardFilter> CreateKeyboardFilter() {
    if (xcb_connection_t* connection = GuiConnection())
        return std::make_unique<X11KeyboardFilter>(connection);
    static bool said = false;
    if (!said) {
        said = true;
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        qCWarning(lcLock).noquote()
            << QStringLiteral(
                   "The keyboard cannot be locked on this display (platform \"%1\"): "
                   "blocking task-switching keys needs an X11 session.")
                   .arg(app ? QGuiApplication::platformName() : QStringLiteral("none"));
    }
    return std::make_unique<NullKeyboardFilter>();
}

}  // namespace vorn::platform
