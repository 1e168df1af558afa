#include "platform/WindowState.h"

#include "common/Logging.h"
#include "platform/linux/LockSupport_linux.h"
#include "platform/linux/ScreenHold_linux.h"
#include "platform/linux/X11_linux.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <cerrno>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vorn::platform::x11 {
namespace {

constexpr int kMaxTreeDepth = 32;
// Restack requests sent for one set of windows above before the next step is taken.
constexpr int kRestackTries = 2;
// A request the window manager ignored changes nothing it would report; look again after this.
constexpr std::chrono::milliseconds kRecheckAfter(150);

// Atoms never change for the life of a display connection; the cache is touched on the GUI
// thread only.
xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    static std::map<std::string, xcb_atom_t> cache;
    if (auto it = cache.find(name); it != cache.end())
        return it->second;
    const xcb_atom_t atom = InternAtom(c, name);
    if (atom != XCB_ATOM_NONE)
        cache.emplace(name, atom);
    return atom;
}

xcb_window_t XidOf(NativeWindow window) {
    return static_cast<xcb_window_t>(window);
}

// True when `ancestor` is `window` or one of its parents (a window manager's frame).
bool IsSelfOrAncestor(xcb_connection_t* c, xcb_window_t ancestor, xcb_window_t window) {
    for (int depth = 0; depth < kMaxTreeDepth && window != XCB_NONE; ++depth) {
        if (window == ancestor)
            return true;
        auto* reply = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
        if (!reply)
            return false;
        const bool atRoot = reply->parent == reply->root || reply->parent == XCB_NONE;
        window = atRoot ? XCB_NONE : reply->parent;
        std::free(reply);
    }
    return false;
}

// The child of the root that holds `window`: the window manager's frame, or the window itself.
xcb_window_t TopLevelOf(xcb_connection_t* c, xcb_window_t window) {
    for (int depth = 0; depth < kMaxTreeDepth && window != XCB_NONE; ++depth) {
        auto* reply = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
        if (!reply)
            return XCB_NONE;
        const bool atRoot = reply->parent == reply->root || reply->parent == XCB_NONE;
        const xcb_window_t parent = reply->parent;
        std::free(reply);
        if (atRoot)
            return window;
        window = parent;
    }
    return XCB_NONE;
}

// A window's title and class for the log: "title" (class), whatever of them it has.
std::string Describe(xcb_connection_t* c, xcb_window_t window) {
    auto text = [&](xcb_atom_t property, xcb_atom_t type) {
        auto* reply = xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, property, type, 0, 64), nullptr);
        std::string out;
        if (reply && reply->format == 8)
            out.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply)));
        std::free(reply);
        return out;
    };
    std::string title = text(Atom(c, "_NET_WM_NAME"), Atom(c, "UTF8_STRING"));
    if (title.empty())
        title = text(XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
    std::string klass = text(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    // WM_CLASS is instance NUL class; the class names the program.
    if (const auto nul = klass.find('\0'); nul != std::string::npos)
        klass = klass.substr(nul + 1);
    std::erase(klass, '\0');
    return "\"" + title + "\" (" + (klass.empty() ? std::string("no class") : klass) + ")";
}

// The window's ICCCM state (normal, iconic); 0 when it has none.
std::uint32_t WmStateOf(xcb_connection_t* c, xcb_window_t window, xcb_atom_t wmState) {
    const auto values = Property32(c, window, wmState, wmState);
    return values && !values->empty() ? (*values)[0] : 0;
}

// Which windows have a set of come-back requests out; shared by the GUI thread and the minimise
// watch. A second set sent before the manager has answered the first would be queued behind it,
// and openbox then skips the first state request and meets the first map request while the
// window is still minimised: that activates it. The answer is the window's WM_STATE turning
// normal; a manager that ignored the set gets another after kRecheckAfter.
class ComeBackLedger {
public:
    // True, and the set counts as sent, when none is out for `xid`.
    bool TryStart(xcb_window_t xid) {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(m_mutex);
        std::erase_if(m_sent,
                      [&](const auto& entry) { return now - entry.second >= kRecheckAfter; });
        return m_sent.emplace(xid, now).second;
    }

    bool IsPending(xcb_window_t xid) {
        std::lock_guard lock(m_mutex);
        return m_sent.contains(xid);
    }

    void Answered(xcb_window_t xid) {
        std::lock_guard lock(m_mutex);
        m_sent.erase(xid);
    }

private:
    std::mutex m_mutex;
    std::map<xcb_window_t, std::chrono::steady_clock::time_point> m_sent;
};

ComeBackLedger& ComeBacks() {
    static ComeBackLedger ledger;
    return ledger;
}

// The root-window properties the lock asks about fifty times a second while locked (who is active,
// is there a window manager) are read once and then again only after the server reports a change,
// so that an idle locked client makes no round trips to the server.
class RootWatch : public QAbstractNativeEventFilter {
public:
    // The watch of the current application's connection; GUI thread only.
    static RootWatch& Of(xcb_connection_t* c) {
        static std::unique_ptr<RootWatch> watch;
        static QCoreApplication* owner = nullptr;
        if (!watch || owner != QCoreApplication::instance() || watch->m_conn != c) {
            // A previous application took its filter list with it.
            watch.reset(new RootWatch(c));
            owner = QCoreApplication::instance();
            owner->installNativeEventFilter(watch.get());
        }
        return *watch;
    }

    xcb_window_t Root() const { return m_root; }

    // A compliant window manager names a check window on the root that names itself again; a
    // stale property left by a window manager that has exited names a window that is gone.
    bool HasWindowManager() {
        if (!m_wmKnown) {
            m_wm = false;
            const auto onRoot = Property32(m_conn, m_root, m_checkAtom, XCB_ATOM_WINDOW);
            if (onRoot && !onRoot->empty()) {
                const auto onChild = Property32(m_conn, (*onRoot)[0], m_checkAtom, XCB_ATOM_WINDOW);
                m_wm = onChild && !onChild->empty() && (*onChild)[0] == (*onRoot)[0];
            }
            m_wmKnown = true;
        }
        return m_wm;
    }

    // The window manager's name as it publishes it on its check window ("" when none); read once
    // per window manager.
    const std::string& ManagerName() {
        if (!m_nameKnown) {
            m_name.clear();
            const auto onRoot = Property32(m_conn, m_root, m_checkAtom, XCB_ATOM_WINDOW);
            if (onRoot && !onRoot->empty()) {
                const xcb_atom_t utf8 = Atom(m_conn, "UTF8_STRING");
                auto* reply = xcb_get_property_reply(
                    m_conn,
                    xcb_get_property(m_conn, 0, (*onRoot)[0], Atom(m_conn, "_NET_WM_NAME"), utf8, 0,
                                     64),
                    nullptr);
                if (reply && reply->type == utf8 && reply->format == 8)
                    m_name.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                                  static_cast<std::size_t>(xcb_get_property_value_length(reply)));
                std::free(reply);
            }
            m_nameKnown = true;
        }
        return m_name;
    }

    // The window manager's active window; nullopt when none is published (no window manager).
    std::optional<xcb_window_t> ActiveWindow() {
        if (!m_activeKnown) {
            const auto value = Property32(m_conn, m_root, m_activeAtom, XCB_ATOM_WINDOW);
            m_active =
                value && !value->empty() ? std::optional<xcb_window_t>((*value)[0]) : std::nullopt;
            m_activeKnown = true;
            m_frameAnswers.clear();
        }
        return m_active;
    }

    // Whether the active window `active` is `xid` or one of its parents (its frame); the answer
    // holds until the active window changes.
    bool ActiveIsSelfOrFrame(xcb_window_t active, xcb_window_t xid) {
        if (active == xid)
            return true;
        auto it = m_frameAnswers.find(xid);
        if (it == m_frameAnswers.end())
            it = m_frameAnswers.emplace(xid, IsSelfOrAncestor(m_conn, active, xid)).first;
        return it->second;
    }

    // Whether the window's own state (kept by the window manager) holds "above" already.
    bool IsAbove(xcb_window_t xid) {
        auto it = m_aboveAnswers.find(xid);
        if (it == m_aboveAnswers.end()) {
            const auto atoms = Property32(m_conn, xid, m_stateAtom, XCB_ATOM_ATOM);
            const bool above =
                atoms && std::find(atoms->begin(), atoms->end(), m_aboveAtom) != atoms->end();
            it = m_aboveAnswers.emplace(xid, above).first;
        }
        return it->second;
    }

    // Whether the window manager announces _NET_RESTACK_WINDOW; asked only while something is
    // above a locked window.
    bool SupportsRestack() {
        if (!m_supportedKnown) {
            const auto atoms =
                Property32(m_conn, m_root, Atom(m_conn, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
            const xcb_atom_t restack = Atom(m_conn, "_NET_RESTACK_WINDOW");
            m_restackSupported =
                atoms && std::find(atoms->begin(), atoms->end(), restack) != atoms->end();
            m_supportedKnown = true;
        }
        return m_restackSupported;
    }

    // True once after each change of the window manager's stacking list.
    bool TakeStackingChange() { return std::exchange(m_stackingChanged, false); }

    // Override-redirect windows mapped since the last call (seen only while following maps).
    std::vector<xcb_window_t> TakeOverrideMaps() { return std::exchange(m_overrideMaps, {}); }

    // Map notifications of every top-level window, for the override-redirect ones that no window
    // manager stacks; wanted only while a window is locked.
    void FollowMaps(bool on) {
        if (on == m_followMaps)
            return;
        m_followMaps = on;
        auto* attributes = xcb_get_window_attributes_reply(
            m_conn, xcb_get_window_attributes(m_conn, m_root), nullptr);
        std::uint32_t mask = attributes ? attributes->your_event_mask : 0;
        std::free(attributes);
        if (on) {
            m_addedSubstructure = !(mask & XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
            mask |= XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        } else if (m_addedSubstructure) {
            mask &= ~std::uint32_t(XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
        }
        xcb_change_window_attributes(m_conn, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_conn);
        m_overrideMaps.clear();
    }

    void AssumeAbove(xcb_window_t xid, bool above) { m_aboveAnswers[xid] = above; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t")
            return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        const auto type = event->response_type & ~0x80;
        if (type == XCB_MAP_NOTIFY) {
            auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
            if (m_followMaps && map->event == m_root && map->override_redirect)
                m_overrideMaps.push_back(map->window);
            return false;
        }
        if (type != XCB_PROPERTY_NOTIFY)
            return false;
        auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event);
        if (property->atom == m_stateAtom)
            m_aboveAnswers.erase(property->window);
        // Only a change to normal answers a come-back; the minimisation that asked for it may
        // still be reporting its own change to iconic.
        if (property->atom == m_wmStateAtom && property->state == XCB_PROPERTY_NEW_VALUE &&
            ComeBacks().IsPending(property->window) &&
            WmStateOf(m_conn, property->window, m_wmStateAtom) == kNormalState)
            ComeBacks().Answered(property->window);
        if (property->window == m_root) {
            if (property->atom == m_activeAtom) {
                m_activeKnown = false;
            } else if (property->atom == m_stackingAtom) {
                m_stackingChanged = true;
            } else if (property->atom == m_checkAtom) {
                m_wmKnown = false;
                m_nameKnown = false;
                m_supportedKnown = false;
            } else if (property->atom == m_supportedAtom) {
                m_supportedKnown = false;
            }
        }
        return false;
    }

private:
    explicit RootWatch(xcb_connection_t* c)
        : m_conn(c),
          m_root(RootOf(c)),
          m_activeAtom(Atom(c, "_NET_ACTIVE_WINDOW")),
          m_checkAtom(Atom(c, "_NET_SUPPORTING_WM_CHECK")),
          m_stateAtom(Atom(c, "_NET_WM_STATE")),
          m_aboveAtom(Atom(c, "_NET_WM_STATE_ABOVE")),
          m_stackingAtom(Atom(c, "_NET_CLIENT_LIST_STACKING")),
          m_supportedAtom(Atom(c, "_NET_SUPPORTED")),
          m_wmStateAtom(Atom(c, "WM_STATE")) {
        // Event masks are per client: add property changes to whatever Qt selected on the root.
        auto* attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, m_root), nullptr);
        const std::uint32_t mask = attributes ? attributes->your_event_mask : 0;
        std::free(attributes);
        if (!(mask & XCB_EVENT_MASK_PROPERTY_CHANGE)) {
            const std::uint32_t wanted = mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(c, m_root, XCB_CW_EVENT_MASK, &wanted);
            xcb_flush(c);
        }
    }

    xcb_connection_t* m_conn;
    xcb_window_t m_root;
    xcb_atom_t m_activeAtom;
    xcb_atom_t m_checkAtom;
    xcb_atom_t m_stateAtom;
    xcb_atom_t m_aboveAtom;
    xcb_atom_t m_stackingAtom;
    xcb_atom_t m_supportedAtom;
    xcb_atom_t m_wmStateAtom;
    bool m_stackingChanged = true;
    bool m_supportedKnown = false;
    bool m_restackSupported = false;
    bool m_followMaps = false;
    bool m_addedSubstructure = false;
    std::vector<xcb_window_t> m_overrideMaps;
    bool m_wmKnown = false;
    bool m_wm = false;
    bool m_nameKnown = false;
    std::string m_name;
    bool m_activeKnown = false;
    std::optional<xcb_window_t> m_active;
    std::map<xcb_window_t, bool> m_frameAnswers;
    std::map<xcb_window_t, bool> m_aboveAnswers;
};

// What the stacking guard of the one locked window remembers between ticks.
struct StackGuard {
    xcb_window_t xid = XCB_NONE;
    // Other programs' windows found above at the last look, and what was done about them.
    std::vector<xcb_window_t> above;
    int restacks = 0;
    bool activated = false;
    bool relayered = false;
    std::optional<std::chrono::steady_clock::time_point> recheckAt;
    // Windows already named in the log.
    std::set<xcb_window_t> named;
};

StackGuard& Guard() {
    static StackGuard guard;
    return guard;
}

// Windows this connection created (the client's own dialogs and pop-ups) may stand above it.
bool IsOwnWindow(xcb_connection_t* c, xcb_window_t window) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    return (window & ~setup->resource_id_mask) == setup->resource_id_base;
}

// Names, once each, the override-redirect windows among `candidates` that are shown above the
// guarded window's top-level window (its frame).
void NameUnstackedAbove(xcb_connection_t* c,
                        StackGuard& guard,
                        const std::vector<xcb_window_t>& candidates) {
    std::vector<xcb_window_t> unnamed;
    for (xcb_window_t w : candidates) {
        if (!guard.named.count(w) && !IsOwnWindow(c, w))
            unnamed.push_back(w);
    }
    if (unnamed.empty())
        return;
    const xcb_window_t top = TopLevelOf(c, guard.xid);
    if (top == XCB_NONE)
        return;
    const std::vector<xcb_window_t> children = RootChildren(c, RootOf(c));
    const auto ownAt = std::find(children.begin(), children.end(), top);
    const std::vector<xcb_window_t> above(ownAt == children.end() ? ownAt : ownAt + 1,
                                          children.end());
    for (xcb_window_t w : unnamed) {
        if (std::find(above.begin(), above.end(), w) == above.end())
            continue;
        auto* attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        const bool shown = attributes && attributes->override_redirect &&
                           attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        if (!shown)
            continue;
        guard.named.insert(w);
        qCInfo(lcLock,
               "Window 0x%x %s is shown above the locked client; no window manager "
               "stacks it, so the client cannot cover it.",
               w, Describe(c, w).c_str());
    }
}

// Takes "above" off the guarded window and puts it back, which moves it into the manager's
// "above" band again, at its top.
void Relayer(xcb_connection_t* c,
             xcb_window_t root,
             xcb_window_t xid,
             StackGuard& guard,
             std::size_t windowsAbove) {
    guard.relayered = true;
    const xcb_atom_t netState = Atom(c, "_NET_WM_STATE");
    const xcb_atom_t aboveAtom = Atom(c, "_NET_WM_STATE_ABOVE");
    SendToWindowManager(c, root, xid, netState, {kStateRemove, aboveAtom, 0, kSourcePager});
    SendToWindowManager(c, root, xid, netState, {kStateAdd, aboveAtom, 0, kSourcePager});
    xcb_flush(c);
    qCDebug(lcLock) << "above state re-asserted," << windowsAbove << "window(s) above";
}

// The atoms a set of come-back requests names, interned on the GUI thread (the atom cache is
// not shared with other threads) for whichever connection sends the set.
struct ComeBackAtoms {
    xcb_atom_t changeState;
    xcb_atom_t netState;
    xcb_atom_t maximizedVert;
    xcb_atom_t maximizedHorz;
    xcb_atom_t fullScreen;
    xcb_atom_t userTime;
    xcb_atom_t userTimeWindow;
    xcb_atom_t wmState;
};

ComeBackAtoms InternComeBackAtoms(xcb_connection_t* c) {
    return {Atom(c, "WM_CHANGE_STATE"),
            Atom(c, "_NET_WM_STATE"),
            Atom(c, "_NET_WM_STATE_MAXIMIZED_VERT"),
            Atom(c, "_NET_WM_STATE_MAXIMIZED_HORZ"),
            Atom(c, "_NET_WM_STATE_FULLSCREEN"),
            Atom(c, "_NET_WM_USER_TIME"),
            Atom(c, "_NET_WM_USER_TIME_WINDOW"),
            Atom(c, "WM_STATE")};
}

// How the window manager running now wants a window brought back.
struct ComeBackWay {
    bool hasManager = false;
    // Xfwm4 ignores the state requests and gives the focus to every window whose map request it
    // gets, unless the window's last user time is 0. Only there: KWin does the opposite and
    // activates an un-minimised window whose user time is 0.
    bool mapWithoutFocus = false;
};

// Sends the map request of `window` with its last user time (kept on the window Qt names for it,
// if any) at 0, the protocol's "do not give me the focus when I am mapped". The time is not put
// back: the manager reads the property when it gets to the change, which may be after anything
// sent here; Qt writes the real time again with the next key or click in the window.
void MapWithoutFocus(xcb_connection_t* c, xcb_window_t window, const ComeBackAtoms& atoms) {
    xcb_window_t timeWindow = window;
    if (const auto named = Property32(c, window, atoms.userTimeWindow, XCB_ATOM_WINDOW);
        named && !named->empty() && (*named)[0] != XCB_NONE)
        timeWindow = (*named)[0];
    const std::uint32_t never = 0;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, timeWindow, atoms.userTime, XCB_ATOM_CARDINAL, 32,
                        1, &never);
    xcb_map_window(c, window);
}

// One set of requests that brings a minimised window back maximised without activating it.
void SendComeBack(xcb_connection_t* c,
                  xcb_window_t root,
                  xcb_window_t xid,
                  const ComeBackAtoms& atoms,
                  ComeBackWay way,
                  bool wholeScreen) {
    if (way.hasManager) {
        // Asking for the normal state un-minimises without activation. A plain map request
        // does too with window managers that only follow ICCCM, but some treat a map request
        // of an iconic window as "activate", so it follows the state request, which they
        // handle first.
        SendToWindowManager(c, root, xid, atoms.changeState, {kNormalState});
        SendToWindowManager(
            c, root, xid, atoms.netState,
            {kStateAdd, atoms.maximizedVert, atoms.maximizedHorz, kSourceApplication});
        if (wholeScreen)
            SendToWindowManager(c, root, xid, atoms.netState,
                                {kStateAdd, atoms.fullScreen, 0, kSourceApplication});
    }
    if (way.mapWithoutFocus)
        MapWithoutFocus(c, xid, atoms);
    else
        xcb_map_window(c, xid);
    xcb_flush(c);
}

// While a window is locked, brings it back the moment the window manager reports it minimised,
// from a thread with a display connection of its own. The GUI thread learns of the minimisation
// only between its other work, and that work can be long just then: the engine repaints the
// window it has just got back from the last minimise (tens of milliseconds of software rendering
// on a machine without a GPU), so repeated minimises queued up behind the repaints.
class MinimiseWatch {
public:
    // Nothing is watched when the display cannot be opened again; the GUI thread's own
    // come-back (state change and tick) still works.
    MinimiseWatch(const char* display,
                  xcb_window_t xid,
                  const ComeBackAtoms& atoms,
                  ComeBackWay way)
        : m_xid(xid), m_atoms(atoms), m_way(way) {
        m_conn = xcb_connect(display, nullptr);
        if (xcb_connection_has_error(m_conn) || ::pipe2(m_stop, O_CLOEXEC) != 0) {
            qCWarning(lcLock) << "no second display connection for the minimise watch";
            return;
        }
        m_root = RootOf(m_conn);
        // Event masks are per connection: this adds nothing to what the toolkit selected.
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(m_conn, m_xid, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_conn);
        m_thread = std::thread([this] { Run(); });
    }

    ~MinimiseWatch() {
        if (m_thread.joinable()) {
            const char stop = 1;
            [[maybe_unused]] const auto written = ::write(m_stop[1], &stop, 1);
            m_thread.join();
        }
        for (int fd : m_stop) {
            if (fd >= 0)
                ::close(fd);
        }
        xcb_disconnect(m_conn);
    }

    MinimiseWatch(const MinimiseWatch&) = delete;
    MinimiseWatch& operator=(const MinimiseWatch&) = delete;

    xcb_window_t Window() const { return m_xid; }

private:
    void Run() {
        pollfd fds[2] = {{xcb_get_file_descriptor(m_conn), POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_conn)) {
                Handle(event);
                std::free(event);
            }
            if (xcb_connection_has_error(m_conn))
                return;
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                return;
            if (fds[1].revents)
                return;
        }
    }

    void Handle(const xcb_generic_event_t* event) {
        if ((event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY)
            return;
        const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (property->window != m_xid || property->atom != m_atoms.wmState ||
            property->state != XCB_PROPERTY_NEW_VALUE)
            return;
        const std::uint32_t state = WmStateOf(m_conn, m_xid, m_atoms.wmState);
        if (state == kNormalState) {
            ComeBacks().Answered(m_xid);
        } else if (state == kIconicState && ComeBacks().TryStart(m_xid)) {
            // Back as it was: the manager keeps a minimised window's other states.
            const auto states = Property32(m_conn, m_xid, m_atoms.netState, XCB_ATOM_ATOM);
            const bool wholeScreen = states && std::find(states->begin(), states->end(),
                                                         m_atoms.fullScreen) != states->end();
            SendComeBack(m_conn, m_root, m_xid, m_atoms, m_way, wholeScreen);
            qCDebug(lcLock) << "window" << m_xid << "brought back maximised by the minimise watch";
        }
    }

    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = XCB_NONE;
    const xcb_window_t m_xid;
    const ComeBackAtoms m_atoms;
    const ComeBackWay m_way;
    int m_stop[2] = {-1, -1};
    std::thread m_thread;
};

std::unique_ptr<MinimiseWatch>& Watch() {
    // The ledger the watch's thread uses is made first, so that it is gone only after the watch.
    ComeBacks();
    static std::unique_ptr<MinimiseWatch> watch;
    return watch;
}

ComeBackWay WayFor(RootWatch& watch) {
    ComeBackWay way;
    way.hasManager = watch.HasWindowManager();
    way.mapWithoutFocus = way.hasManager && watch.ManagerName() == "Xfwm4";
    return way;
}

}  // namespace

bool CanEnforceLock() {
    return LockEnforceableOn(GuiConnection());
}

void SetTopmost(NativeWindow window, bool on) {
    xcb_connection_t* c = GuiConnection();
    const xcb_window_t xid = XidOf(window);
    if (!c || xid == XCB_NONE)
        return;
    RootWatch& watch = RootWatch::Of(c);
    const xcb_atom_t netState = Atom(c, "_NET_WM_STATE");
    const xcb_atom_t above = Atom(c, "_NET_WM_STATE_ABOVE");
    if (watch.HasWindowManager()) {
        // Asked again on every timer tick while another window is active: a request that would
        // change nothing is not sent, or the window manager would rewrite the state each time.
        if (on && watch.IsAbove(xid))
            return;
        SendToWindowManager(c, watch.Root(), xid, netState,
                            {on ? kStateAdd : kStateRemove, above, 0, kSourceApplication});
        // Taken as granted until the window's state changes: some managers (Xfwm4) do not show
        // "above" beside "fullscreen", and the request would otherwise go out on every tick.
        watch.AssumeAbove(xid, on);
    } else {
        // Nobody manages the stacking: keep the state property truthful and raise the window
        // ourselves, which is all "above" can mean without a window manager.
        std::vector<std::uint32_t> atoms =
            Property32(c, xid, netState, XCB_ATOM_ATOM).value_or(std::vector<std::uint32_t>{});
        std::erase(atoms, above);
        if (on)
            atoms.push_back(above);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, xid, netState, XCB_ATOM_ATOM, 32,
                            static_cast<std::uint32_t>(atoms.size()), atoms.data());
        if (on) {
            const std::uint32_t stackMode = XCB_STACK_MODE_ABOVE;
            xcb_configure_window(c, xid, XCB_CONFIG_WINDOW_STACK_MODE, &stackMode);
        }
    }
    xcb_flush(c);
}

void SetFullScreen(NativeWindow window, bool on) {
    xcb_connection_t* c = GuiConnection();
    const xcb_window_t xid = XidOf(window);
    if (!c || xid == XCB_NONE)
        return;
    RootWatch& watch = RootWatch::Of(c);
    if (!watch.HasWindowManager())
        return;
    SendToWindowManager(c, watch.Root(), xid, Atom(c, "_NET_WM_STATE"),
                        {on ? kStateAdd : kStateRemove, Atom(c, "_NET_WM_STATE_FULLSCREEN"), 0,
                         kSourceApplication});
    xcb_flush(c);
}

bool IsForeground(NativeWindow window) {
    xcb_connection_t* c = GuiConnection();
    const xcb_window_t xid = XidOf(window);
    if (!c || xid == XCB_NONE)
        return false;
    RootWatch& watch = RootWatch::Of(c);
    if (const auto active = watch.ActiveWindow())
        return *active != XCB_NONE && watch.ActiveIsSelfOrFrame(*active, xid);
    // No window manager publishes an active window: the keyboard focus decides.
    auto* focus = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    if (!focus)
        return false;
    const xcb_window_t focused = focus->focus;
    std::free(focus);
    if (focused == XCB_NONE || focused == XCB_INPUT_FOCUS_POINTER_ROOT)
        return false;
    return IsSelfOrAncestor(c, xid, focused);
}

void ShowMaximizedNoActivate(NativeWindow window, bool wholeScreen) {
    xcb_connection_t* c = GuiConnection();
    const xcb_window_t xid = XidOf(window);
    if (!c || xid == XCB_NONE)
        return;
    RootWatch& watch = RootWatch::Of(c);
    // Asked from the state change, again from the next tick and by the minimise watch: one set
    // of requests until the manager has answered it. Held for a fixed time instead, a minimise
    // soon after the window came back waited for that time to run out.
    if (!ComeBacks().TryStart(xid))
        return;
    SendComeBack(c, watch.Root(), xid, InternComeBackAtoms(c), WayFor(watch), wholeScreen);
    qCDebug(lcLock) << "window" << xid << "brought back maximised";
}

}  // namespace vorn::platform::x11

namespace vorn::platform::x11 {

void GuardStacking(NativeWindow window, bool on) {
    xcb_connection_t* c = GuiConnection();
    const xcb_window_t xid = XidOf(window);
    if (!c || xid == XCB_NONE)
        return;
    RootWatch& watch = RootWatch::Of(c);
    StackGuard& guard = Guard();
    if (!on) {
        if (guard.xid == xid) {
            guard = StackGuard();
            watch.FollowMaps(false);
        }
        if (Watch() && Watch()->Window() == xid)
            Watch().reset();
        return;
    }
    if (!Watch() || Watch()->Window() != xid) {
        Watch().reset();
        Watch() = std::make_unique<MinimiseWatch>(DisplayName(), xid, InternComeBackAtoms(c),
                                                  WayFor(watch));
    }
    if (guard.xid == xid)
        return;
    const std::set<xcb_window_t> named = std::move(guard.named);
    guard = StackGuard();
    guard.xid = xid;
    guard.named = named;
    watch.FollowMaps(true);
    // Look at once; whatever was already above before the lock counts as a change.
    guard.recheckAt = std::chrono::steady_clock::now();
    NameUnstackedAbove(c, guard, RootChildren(c, RootOf(c)));
}

namespace {
// Other programs' managed windows stacked above ours, bottom to top; nothing when the manager
// publishes no stacking order or does not list our window (yet), so there is nothing to judge.
std::optional<std::vector<xcb_window_t>> ForeignWindowsAbove(xcb_connection_t* c,
                                                             xcb_window_t root,
                                                             xcb_window_t xid) {
    const auto stacking =
        Property32(c, root, Atom(c, "_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    if (!stacking)
        return std::nullopt;
    const auto own = std::find(stacking->begin(), stacking->end(), xid);
    if (own == stacking->end())
        return std::nullopt;
    std::vector<xcb_window_t> above;
    for (auto it = own + 1; it != stacking->end(); ++it) {
        if (!IsOwnWindow(c, *it))
            above.push_back(*it);
    }
    return above;
}

// Other windows above are a new situation, and nothing above ends the last one: either way the
// escalation starts again from its mildest step.
void StartOverIfChanged(StackGuard& guard, const std::vector<xcb_window_t>& above) {
    if (!above.empty() && above == guard.above)
        return;
    guard.above = above;
    guard.restacks = 0;
    guard.activated = false;
    guard.relayered = false;
}

void RequestRestack(xcb_connection_t* c, RootWatch& watch, xcb_window_t xid, size_t aboveCount) {
    if (watch.SupportsRestack()) {
        SendToWindowManager(c, watch.Root(), xid, Atom(c, "_NET_RESTACK_WINDOW"),
                            {kSourcePager, XCB_NONE, XCB_STACK_MODE_ABOVE});
    } else {
        // Managers without the request honour a client's own raise (a configure request).
        const std::uint32_t stackMode = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c, xid, XCB_CONFIG_WINDOW_STACK_MODE, &stackMode);
    }
    xcb_flush(c);
    qCDebug(lcLock) << "restack requested," << aboveCount << "window(s) above";
}

// The manager keeps its active window in a band above every inactive one (an active
// fullscreen window): no restack reaches past it, only being the active window does.
// The lock's keyboard grab already holds every key, so no typed key changes hands.
void TakeOverActive(xcb_connection_t* c,
                    xcb_window_t root,
                    xcb_window_t xid,
                    StackGuard& guard,
                    xcb_window_t active) {
    guard.activated = true;
    SendToWindowManager(c, root, xid, Atom(c, "_NET_ACTIVE_WINDOW"),
                        {kSourcePager, XCB_CURRENT_TIME, active});
    xcb_flush(c);
    if (guard.named.insert(active).second)
        qCInfo(lcLock,
               "Window 0x%x %s stayed above the locked client as the active window; "
               "the client asked to become the active window.",
               active, Describe(c, active).c_str());
}

// One step per look, each stronger than the last, so a manager that honours a mild request
// never sees a stronger one. Returns false once every step has been tried.
bool TakeNextStep(xcb_connection_t* c,
                  RootWatch& watch,
                  xcb_window_t xid,
                  StackGuard& guard,
                  const std::vector<xcb_window_t>& above) {
    const xcb_window_t root = watch.Root();
    const auto active = watch.ActiveWindow();
    if (!guard.relayered && active && *active != XCB_NONE &&
        watch.ActiveIsSelfOrFrame(*active, xid)) {
        // Becoming the active window moves a fullscreen window into the manager's band for an
        // active fullscreen window, which some managers (Xfwm4) keep below the "above" band of
        // panels and always-on-top windows: no restack reaches past a band, and a panel was
        // clickable over the locked page until the steps below got here. Re-asserting "above"
        // moves the window back at once.
        Relayer(c, root, xid, guard, above.size());
        return true;
    }
    if (guard.restacks < kRestackTries) {
        ++guard.restacks;
        RequestRestack(c, watch, xid, above.size());
        return true;
    }
    const bool activeAbove =
        active && std::find(above.begin(), above.end(), *active) != above.end();
    if (activeAbove && !guard.activated) {
        TakeOverActive(c, root, xid, guard, *active);
        return true;
    }
    if (!guard.relayered) {
        // Some managers (Xfwm4) answer a raise by activating the window (see above).
        Relayer(c, root, xid, guard, above.size());
        return true;
    }
    return false;
}
}  // namespace

void KeepOnTop(NativeWindow window) {
    xcb_connection_t* c = GuiConnection();
    const xcb_window_t xid = XidOf(window);
    StackGuard& guard = Guard();
    if (!c || xid == XCB_NONE || guard.xid != xid)
        return;
    RootWatch& watch = RootWatch::Of(c);
    if (auto maps = watch.TakeOverrideMaps(); !maps.empty())
        NameUnstackedAbove(c, guard, maps);
    const auto now = std::chrono::steady_clock::now();
    const bool recheck = guard.recheckAt && now >= *guard.recheckAt;
    if (!watch.TakeStackingChange() && !recheck)
        return;
    guard.recheckAt.reset();

    const auto above = ForeignWindowsAbove(c, watch.Root(), xid);
    if (!above)
        return;
    StartOverIfChanged(guard, *above);
    if (above->empty())
        return;
    if (TakeNextStep(c, watch, xid, guard, *above)) {
        // The manager answers asynchronously; look again even if it reports no change.
        guard.recheckAt = now + kRecheckAfter;
        return;
    }
    for (xcb_window_t w : *above) {
        if (guard.named.insert(w).second)
            qCInfo(lcLock,
                   "Window 0x%x %s stays above the locked client; the window manager did "
                   "not restack the client over it.",
                   w, Describe(c, w).c_str());
    }
}

}  // namespace vorn::platform::x11

namespace vorn::platform {
namespace {

// Every instance speaks through the toolkit's one display connection and the one stacking guard.
class X11WindowState : public IWindowState {
public:
    bool CanEnforceLock() const override { return x11::CanEnforceLock(); }
    void SetTopmost(NativeWindow window, bool on) override { x11::SetTopmost(window, on); }
    bool IsForeground(NativeWindow window) const override { return x11::IsForeground(window); }
    void SetFullScreen(NativeWindow window, bool on) override { x11::SetFullScreen(window, on); }
    void ShowMaximizedNoActivate(NativeWindow window, bool wholeScreen) override {
        x11::ShowMaximizedNoActivate(window, wholeScreen);
    }
    void GuardStacking(NativeWindow window, bool on) override { x11::GuardStacking(window, on); }
    void KeepOnTop(NativeWindow window) override { x11::KeepOnTop(window); }
    bool HoldScreen(NativeWindow window, const std::string& coverText) override {
        return x11::HoldScreen(window, coverText);
    }
    void ReleaseScreen(NativeWindow window) override { x11::ReleaseScreen(window); }
};

}  // namespace

std::unique_ptr<IWindowState> CreateWindowState() {
    return std::make_unique<X11WindowState>();
}

}  // namespace vorn::platform
