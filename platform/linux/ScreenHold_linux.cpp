#include "platform/linux/ScreenHold_linux.h"

#include "common/Logging.h"
#include "platform/linux/LockSupport_linux.h"
#include "platform/linux/X11_linux.h"

#include <QAbstractNativeEventFilter>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QRasterWindow>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Why a screen locker's way and not the window manager's: a managed window is only ever as high
// as the manager puts it, and managers differ in what they let a client ask (mutter ignores an
// un-minimise it did not start, and keeps an active "above" window over everything). A window
// the manager does not manage is stacked by the X server alone, where the last raise wins; the
// hold raises again whenever anything is mapped or restacked above, so it always has the last
// word, and the pointer grab keeps clicks from reaching anything shown for a moment in between.

namespace vorn::platform::x11 {
namespace {

using Clock = std::chrono::steady_clock;

// Restacks happen about this often at most: a program raising itself every millisecond costs the
// client one look at the stacking order per period, not one per raise, and one raising itself
// every 10 ms is answered within a few milliseconds each time (with 20 ms, under load, it was
// seen above the exam for half a second at a stretch). The wait after
// a restack is drawn from half to one and a half periods: a fixed one keeps step with a fighter
// that raises at a whole fraction of it (every 10 ms against 20), and each restack then comes
// just before the fighter's next raise, leaving the exam on top for a fraction of a millisecond
// per period, for stretches of a quarter of a second seen; drawn, no two restacks in a row fall
// at the same moment of the fighter's cycle.
constexpr auto kRestackPeriod = std::chrono::milliseconds(6);
// The manager's withdrawal is waited for this long before the window is taken from it.
constexpr int kWithdrawWaitMs = 1000;
// Safety net for what the event stream does not show (a pointer grab ended by one of the
// toolkit's own pop-ups, an event lost to a busy moment).
constexpr int kCheckPeriodMs = 250;
// How long a window given back is followed until the manager has taken it on.
constexpr int kReturnWaitMs = 3000;

xcb_window_t ParentOf(xcb_connection_t* c, xcb_window_t window) {
    auto* reply = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
    const xcb_window_t parent = reply ? reply->parent : xcb_window_t{XCB_NONE};
    std::free(reply);
    return parent;
}

// A monitor's area in the display's pixels.
QRect NativeArea(const QScreen* screen) {
    const QRect g = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    return QRect(qRound(g.x() * ratio), qRound(g.y() * ratio), qRound(g.width() * ratio),
                 qRound(g.height() * ratio));
}

// The plain surface over a monitor other than the exam's.
class Cover : public QRasterWindow {
public:
    Cover(QScreen* screen, const QString& text) : m_text(text) {
        setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                 Qt::WindowDoesNotAcceptFocus);
        setTitle(text);
        Place(screen);
    }

    void Place(QScreen* screen) {
        setScreen(screen);
        setGeometry(screen->geometry());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(QRect(QPoint(0, 0), size()), QColor(0x1f, 0x2a, 0x38));
        QFont font = painter.font();
        font.setPixelSize(std::max(20, height() / 18));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(QPoint(0, 0), size()), Qt::AlignCenter, m_text);
    }

private:
    QString m_text;
};

bool IsInputMethodPid(std::uint32_t pid) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%u/exe", pid);
    char target[512];
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length <= 0)
        return false;
    return IsInputMethodProgram(std::string_view(target, static_cast<std::size_t>(length)));
}

// What the keeper holds on top, as the GUI thread last told it.
struct HeldWindows {
    xcb_window_t exam = XCB_NONE;
    std::vector<xcb_window_t> covers;
    // The exam's place in the display's pixels.
    int x = 0, y = 0, width = 0, height = 0;
};

// Keeps the held windows on top from a thread of its own, with a display connection of its
// own: the GUI thread can be busy for a long moment (the engine painting in software), and a
// window raised over the exam must not stay up for that long. Everything it needs comes in
// HeldWindows and the GUI connection's id range (which of the root's windows are the client's
// own: its dialogs and pop-ups, which stay above the exam).
class StackKeeper {
public:
    StackKeeper(const char* display, std::uint32_t ownBase, std::uint32_t ownMask)
        : m_ownBase(ownBase), m_ownMask(ownMask) {
        m_conn = xcb_connect(display, nullptr);
        if (xcb_connection_has_error(m_conn) || ::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
            qCWarning(lcLock) << "no display connection for keeping the locked screen on top";
            return;
        }
        m_root = RootOf(m_conn);
        const auto* res = xcb_get_extension_data(m_conn, &xcb_res_id);
        m_hasRes = res && res->present;
        if (!m_hasRes)
            qCWarning(lcLock) << "The display has no X-Resource extension: input-method windows "
                                 "cannot be told apart and stay under the locked exam.";
        // Event masks are per connection: this adds nothing to what the toolkit selected.
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_conn, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_conn);
        m_thread = std::thread([this] { Run(); });
    }

    ~StackKeeper() {
        if (m_thread.joinable()) {
            m_stopping = true;
            Wake();
            m_thread.join();
            qCDebug(lcLock, "held screen: %ld restacks, the longest %lld ms after what set it off",
                    m_restacks, static_cast<long long>(m_slowest.count()));
        }
        for (int fd : m_wake)
            if (fd >= 0)
                ::close(fd);
        xcb_disconnect(m_conn);
    }

    StackKeeper(const StackKeeper&) = delete;
    StackKeeper& operator=(const StackKeeper&) = delete;

    void Set(HeldWindows held) {
        {
            std::lock_guard lock(m_mutex);
            m_held = std::move(held);
        }
        Wake();
    }

    // Look at the stacking order soon (within a period).
    void Nudge() { Wake(); }

private:
    void Wake() {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(m_wake[1], &byte, 1);
    }

    bool IsOwn(xcb_window_t w) const { return (w & ~m_ownMask) == m_ownBase; }

    void Run() {
        pollfd fds[2] = {{xcb_get_file_descriptor(m_conn), POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        std::optional<Clock::time_point> due = Clock::now();
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_conn)) {
                if (Handle(event)) {
                    if (!m_triggered)
                        m_triggered = Clock::now();
                    if (!due)
                        due = NextDue();
                }
                std::free(event);
            }
            if (xcb_connection_has_error(m_conn) || m_stopping)
                return;
            const auto now = Clock::now();
            if (due && now >= *due) {
                due.reset();
                Restack();
                continue;
            }
            const auto wait =
                due ? std::chrono::duration_cast<std::chrono::milliseconds>(*due - now).count() + 1
                    : kCheckPeriodMs;
            if (::poll(fds, 2, static_cast<int>(wait)) < 0 && errno != EINTR)
                return;
            if (fds[1].revents & POLLIN) {
                char drain[64];
                while (::read(m_wake[0], drain, sizeof drain) > 0) {
                }
                if (!due)
                    due = NextDue();
            } else if (!due && !(fds[0].revents & POLLIN)) {
                // The periodic look, for what no event told.
                due = Clock::now();
            }
        }
    }

    // True when the event may have put something above the held windows.
    bool Handle(const xcb_generic_event_t* event) {
        const HeldWindows held = Held();
        switch (event->response_type & ~0x80) {
            case XCB_MAP_NOTIFY:
            case XCB_CIRCULATE_NOTIFY:
            case XCB_REPARENT_NOTIFY:
                return true;
            case XCB_CONFIGURE_NOTIFY: {
                const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
                if (e->window == held.exam) {
                    m_examPlaced = e->x == held.x && e->y == held.y && e->width == held.width &&
                                   e->height == held.height;
                    return !m_examPlaced;
                }
                // The keeper's own restacks are of the client's windows: no new look for them.
                return !IsOwn(e->window);
            }
            case XCB_UNMAP_NOTIFY: {
                const auto* e = reinterpret_cast<const xcb_unmap_notify_event_t*>(event);
                if (e->window == held.exam && held.exam != XCB_NONE) {
                    // Another program unmapped it (no manager holds it to ask first).
                    xcb_map_window(m_conn, held.exam);
                    xcb_flush(m_conn);
                    qCDebug(lcLock) << "held window unmapped by someone; mapped again";
                }
                return false;
            }
            case XCB_DESTROY_NOTIFY: {
                const auto* e = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
                m_inputMethod.erase(e->window);
                return false;
            }
            default:
                return false;
        }
    }

    HeldWindows Held() {
        std::lock_guard lock(m_mutex);
        return m_held;
    }

    // One look at the stacking order; when anything but the client's own windows and the input
    // method's is above the exam or a cover (or one of those is shown below them), the exam, the
    // covers, the client's shown windows and the input method's go to the top, in that order.
    Clock::time_point NextDue() {
        std::uniform_int_distribution<long> wait(kRestackPeriod.count() / 2,
                                                 kRestackPeriod.count() * 3 / 2);
        return m_lastRestack + std::chrono::milliseconds(wait(m_random));
    }

    void Restack() {
        m_lastRestack = Clock::now();
        const auto triggered = std::exchange(m_triggered, std::nullopt);
        const HeldWindows held = Held();
        if (held.exam == XCB_NONE)
            return;
        if (!m_examPlaced && held.width > 0) {
            const std::uint32_t values[] = {
                static_cast<std::uint32_t>(held.x), static_cast<std::uint32_t>(held.y),
                static_cast<std::uint32_t>(held.width), static_cast<std::uint32_t>(held.height)};
            xcb_configure_window(m_conn, held.exam,
                                 XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y |
                                     XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                                 values);
        }
        const std::vector<xcb_window_t> children = RootChildren(m_conn, m_root);
        ClassifyNew(children);
        std::vector<std::uint32_t> heldList = {held.exam};
        heldList.insert(heldList.end(), held.covers.begin(), held.covers.end());
        const std::set<xcb_window_t> heldSet(heldList.begin(), heldList.end());
        // Whether the client's other windows and the input method's are shown: asked all at
        // once, one round trip.
        std::vector<StackedWindow> stack;
        std::vector<xcb_get_window_attributes_cookie_t> asked;
        for (xcb_window_t w : children) {
            StackedWindow entry{w, StackRole::Other, false};
            if (heldSet.count(w))
                entry.role = StackRole::Held;
            else if (IsOwn(w))
                entry.role = StackRole::Own;
            else if (IsInputMethodWindow(w))
                entry.role = StackRole::InputMethod;
            if (entry.role == StackRole::Own || entry.role == StackRole::InputMethod)
                asked.push_back(xcb_get_window_attributes(m_conn, w));
            stack.push_back(entry);
        }
        auto cookie = asked.begin();
        for (StackedWindow& entry : stack) {
            if (entry.role != StackRole::Own && entry.role != StackRole::InputMethod)
                continue;
            auto* attributes = xcb_get_window_attributes_reply(m_conn, *cookie++, nullptr);
            entry.shown = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(attributes);
        }
        const std::vector<std::uint32_t> order = PlanRestack(stack, heldList);
        if (order.empty())
            return;
        const std::uint32_t top = XCB_STACK_MODE_ABOVE;
        for (xcb_window_t w : order)
            xcb_configure_window(m_conn, w, XCB_CONFIG_WINDOW_STACK_MODE, &top);
        xcb_flush(m_conn);
        ++m_restacks;
        if (triggered)
            m_slowest = std::max(m_slowest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                Clock::now() - *triggered));
    }

    // Which of the root's new children belong to an input method: the X server names the
    // process that created each (X-Resource), and its executable decides. All asked in one
    // round trip; the answer holds for the window's life.
    void ClassifyNew(const std::vector<xcb_window_t>& children) {
        std::vector<std::pair<xcb_window_t, xcb_res_query_client_ids_cookie_t>> asked;
        for (xcb_window_t w : children) {
            if (m_inputMethod.count(w) || IsOwn(w))
                continue;
            if (!m_hasRes) {
                m_inputMethod[w] = false;
                continue;
            }
            xcb_res_client_id_spec_t pidQuery{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            asked.emplace_back(w, xcb_res_query_client_ids(m_conn, 1, &pidQuery));
        }
        for (const auto& [w, cookie] : asked) {
            auto* reply = xcb_res_query_client_ids_reply(m_conn, cookie, nullptr);
            bool im = false;
            if (reply) {
                for (auto it = xcb_res_query_client_ids_ids_iterator(reply); it.rem;
                     xcb_res_client_id_value_next(&it)) {
                    if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                        xcb_res_client_id_value_value_length(it.data) >= 1)
                        im = IsInputMethodPid(*xcb_res_client_id_value_value(it.data));
                }
            }
            std::free(reply);
            m_inputMethod[w] = im;
        }
    }

    bool IsInputMethodWindow(xcb_window_t w) const {
        const auto it = m_inputMethod.find(w);
        return it != m_inputMethod.end() && it->second;
    }

    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = XCB_NONE;
    const std::uint32_t m_ownBase;
    const std::uint32_t m_ownMask;
    bool m_hasRes = false;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stopping = false;
    std::thread m_thread;
    std::mutex m_mutex;
    HeldWindows m_held;
    // Thread only:
    bool m_examPlaced = false;
    Clock::time_point m_lastRestack{};
    std::minstd_rand m_random{std::random_device{}()};
    std::optional<Clock::time_point> m_triggered;
    long m_restacks = 0;
    std::chrono::milliseconds m_slowest{0};
    std::map<xcb_window_t, bool> m_inputMethod;
};

class ScreenHold : public QObject, public QAbstractNativeEventFilter {
public:
    // The hold of the current application; it goes with the application.
    static ScreenHold& Instance() {
        static QPointer<ScreenHold> hold;
        if (!hold) {
            hold = new ScreenHold;
            hold->setParent(QCoreApplication::instance());
            // The covers are windows: gone while the toolkit still runs.
            connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, hold,
                    [] { hold->m_covers.clear(); });
        }
        return *hold;
    }

    bool IsHeld(xcb_window_t xid) const {
        return (m_phase == Phase::Withdrawing || m_phase == Phase::Held) && m_xid == xid;
    }

    bool Hold(xcb_window_t xid, const QString& coverText) {
        xcb_connection_t* c = GuiConnection();
        if (!c || !LockEnforceableOn(c))
            return false;
        QWindow* window = WindowWithId(xid);
        if (!window)
            return false;
        if (IsHeld(xid)) {
            // Locked again: everything is taken anew.
            TakePointer();
            ScheduleRestack();
            return true;
        }
        if (IsHeld(m_xid))
            Release(m_xid);
        if (m_phase == Phase::Returning)
            FinishReturn(false);
        Start(c, window, xid, coverText);
        return true;
    }

    void Release(xcb_window_t xid) {
        if (!IsHeld(xid))
            return;
        m_phase = Phase::Returning;
        m_withdrawWait.stop();
        m_keeper.reset();
        m_check.stop();
        delete m_screenWatch;
        m_screenWatch = nullptr;
        m_covers.clear();
        xcb_ungrab_pointer(m_conn, XCB_CURRENT_TIME);
        m_pointerHeld = false;
        m_lifted.clear();
        for (const QPointer<QWindow>& dialog : m_bypassed) {
            if (!dialog)
                continue;
            dialog->setFlags(dialog->flags() & ~Qt::X11BypassWindowManagerHint);
            // One still shown is given to the manager as a new window would come.
            if (dialog->isVisible() && dialog->handle()) {
                const auto xid = static_cast<xcb_window_t>(dialog->winId());
                xcb_unmap_window(m_conn, xid);
                xcb_map_window(m_conn, xid);
            }
        }
        m_bypassed.clear();
        QCoreApplication::instance()->removeEventFilter(this);

        if (!m_window) {
            // The window is gone (the client is ending): nothing to give back.
            FinishReturn(false);
            return;
        }
        // Back to the manager as a new window would come: unmapped, with the states it is to
        // have (the manager reads them when it maps it) and the place it had.
        m_window->setFlags(m_savedFlags);
        const std::uint32_t keep = XCB_BACKING_STORE_NOT_USEFUL;
        xcb_change_window_attributes(m_conn, m_xid, XCB_CW_BACKING_STORE, &keep);
        xcb_unmap_window(m_conn, m_xid);
        xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, m_xid, m_atoms.netState, XCB_ATOM_ATOM,
                            32, static_cast<std::uint32_t>(m_savedStates.size()),
                            m_savedStates.data());
        ConfigureTo(m_savedArea, false);
        xcb_map_window(m_conn, m_xid);
        xcb_flush(m_conn);
        qCInfo(lcLock) << "screen released; window" << m_xid << "given back to the window manager";
        if (!m_managed) {
            FinishReturn(false);
            return;
        }
        m_returnWait.start();
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (m_phase == Phase::Idle || eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if (m_phase == Phase::Returning) {
            const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if ((event->response_type & ~0x80) == XCB_PROPERTY_NOTIFY && e->window == m_xid &&
                e->atom == m_atoms.wmState && IsNormal())
                FinishReturn(true);
            return false;
        }
        // The toolkit selects the structure of its own windows: their maps and reparents come
        // here (each with the window itself as the event's window).
        switch (event->response_type & ~0x80) {
            case XCB_REPARENT_NOTIFY: {
                const auto* e = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
                if (e->window == m_xid)
                    TryArrive();
                break;
            }
            case XCB_PROPERTY_NOTIFY: {
                const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
                if (e->window == m_xid && e->atom == m_atoms.wmState)
                    TryArrive();
                break;
            }
            case XCB_MAP_NOTIFY: {
                const auto* e = reinterpret_cast<const xcb_map_notify_event_t*>(event);
                if (e->event != e->window)
                    break;
                if (e->window == m_xid)
                    OnExamMapped();
                else
                    OnOwnMapped(e->window);
                ScheduleRestack();
                break;
            }
            default:
                break;
        }
        return false;
    }

    bool eventFilter(QObject* object, QEvent* event) override {
        if (m_phase == Phase::Idle ||
            (event->type() != QEvent::Show && event->type() != QEvent::Hide))
            return false;
        auto* window = qobject_cast<QWindow*>(object);
        if (!window || !window->isTopLevel() || window == m_window || IsCover(window))
            return false;
        if (event->type() == QEvent::Show) {
            // A window of the client's own shown while held (a dialog) is not given to the
            // manager either: the manager would stack its frame below the held window, or, with
            // the pointer grabbed, the frame would take no click. Shown before it is mapped.
            if (!(window->flags() & Qt::X11BypassWindowManagerHint)) {
                window->setFlags(window->flags() | Qt::X11BypassWindowManagerHint);
                m_bypassed.push_back(window);
            }
        } else {
            // A dialog or pop-up went: the exam (or the dialog under it) gets the keyboard
            // back, and a pop-up's ended pointer grab is taken again.
            QTimer::singleShot(0, this, [this] {
                if (m_phase != Phase::Held)
                    return;
                FocusTopmostOwn();
                TakePointer();
                ScheduleRestack();
            });
        }
        return false;
    }

private:
    // Withdrawing: the window manager is letting go of the window; Returning: the window has
    // been given back and the manager is taking it on.
    enum class Phase { Idle, Withdrawing, Held, Returning };

    struct Atoms {
        xcb_atom_t wmState = XCB_ATOM_NONE;
        xcb_atom_t netState = XCB_ATOM_NONE;
        xcb_atom_t fullScreen = XCB_ATOM_NONE;
        xcb_atom_t above = XCB_ATOM_NONE;
        xcb_atom_t hidden = XCB_ATOM_NONE;
        xcb_atom_t focused = XCB_ATOM_NONE;
        xcb_atom_t activeWindow = XCB_ATOM_NONE;
    };

    ScreenHold() {
        m_withdrawWait.setSingleShot(true);
        m_withdrawWait.setInterval(kWithdrawWaitMs);
        connect(&m_withdrawWait, &QTimer::timeout, this, [this] {
            qCInfo(lcLock) << "the window manager did not withdraw window" << m_xid
                           << "in time; the client takes it";
            Arrive();
        });
        m_returnWait.setSingleShot(true);
        m_returnWait.setInterval(kReturnWaitMs);
        connect(&m_returnWait, &QTimer::timeout, this, [this] { FinishReturn(false); });
        m_check.setInterval(kCheckPeriodMs);
        // The keeper looks at the stacking order on its own; this takes back a pointer grab
        // that one of the toolkit's own pop-ups ended without a word.
        connect(&m_check, &QTimer::timeout, this, [this] { TakePointer(); });
    }

    void Start(xcb_connection_t* c, QWindow* window, xcb_window_t xid, const QString& coverText) {
        m_conn = c;
        m_root = RootOf(c);
        m_xid = xid;
        m_window = window;
        m_coverText = coverText;
        m_atoms.wmState = InternAtom(c, "WM_STATE");
        m_atoms.netState = InternAtom(c, "_NET_WM_STATE");
        m_atoms.fullScreen = InternAtom(c, "_NET_WM_STATE_FULLSCREEN");
        m_atoms.above = InternAtom(c, "_NET_WM_STATE_ABOVE");
        m_atoms.hidden = InternAtom(c, "_NET_WM_STATE_HIDDEN");
        m_atoms.focused = InternAtom(c, "_NET_WM_STATE_FOCUSED");
        m_atoms.activeWindow = InternAtom(c, "_NET_ACTIVE_WINDOW");
        // What the window is given back with: its states as the manager kept them (minimised
        // and focus are the manager's affair) and its place.
        m_savedStates = Property32(c, xid, m_atoms.netState, XCB_ATOM_ATOM)
                            .value_or(std::vector<std::uint32_t>{});
        std::erase_if(m_savedStates, [&](std::uint32_t atom) {
            return atom == m_atoms.hidden || atom == m_atoms.focused;
        });
        m_savedArea = AreaOnRoot(xid).value_or(QRect());
        m_savedFlags = window->flags() & ~Qt::X11BypassWindowManagerHint;
        const bool managed = ParentOf(c, xid) != m_root || IsManagedState(xid);
        m_managed = managed;

        QCoreApplication::instance()->installNativeEventFilter(this);
        QCoreApplication::instance()->installEventFilter(this);
        m_phase = Phase::Withdrawing;
        LiftOwnWindows(window);
        window->setFlags(window->flags() | Qt::X11BypassWindowManagerHint);
        qCInfo(lcLock) << "holding the screen with window" << xid
                       << (managed ? "(withdrawn from the window manager first)" : "");
        if (!managed) {
            Arrive();
            return;
        }
        Withdraw(xid);
        xcb_flush(c);
        m_withdrawWait.start();
    }

    // Withdrawn as the protocol has a client withdraw its window (ICCCM 4.1.4): the manager
    // takes its frame away and gives the window back to the root, unmapped.
    void Withdraw(xcb_window_t xid) {
        xcb_unmap_window(m_conn, xid);
        xcb_unmap_notify_event_t unmap;
        std::memset(&unmap, 0, sizeof unmap);
        unmap.response_type = XCB_UNMAP_NOTIFY;
        unmap.event = m_root;
        unmap.window = xid;
        xcb_send_event(m_conn, 0, m_root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&unmap));
    }

    // A dialog of the client's own already open when the hold starts (a save dialog, a page's
    // alert) would stay the manager's, under the held exam, out of reach while it blocks the
    // exam: it leaves the manager's hands too, withdrawn before the exam so the manager has let
    // go of it by the time the exam arrives, and is shown again above the exam.
    void LiftOwnWindows(QWindow* exam) {
        for (QWindow* own : QGuiApplication::topLevelWindows()) {
            if (own == exam || IsCover(own) || !own->isVisible() || !own->handle() ||
                (own->flags() & Qt::X11BypassWindowManagerHint))
                continue;
            const auto xid = static_cast<xcb_window_t>(own->winId());
            const QRect area = AreaOnRoot(xid).value_or(QRect());
            own->setFlags(own->flags() | Qt::X11BypassWindowManagerHint);
            m_bypassed.push_back(own);
            m_lifted.push_back({own, area});
            if (ParentOf(m_conn, xid) != m_root || IsManagedState(xid))
                Withdraw(xid);
            qCInfo(lcLock) << "window" << xid << "of the client's own lifted above the hold";
        }
    }

    void ShowLiftedWindows() {
        for (const auto& [own, area] : m_lifted) {
            if (!own || !own->isVisible() || !own->handle())
                continue;
            const auto xid = static_cast<xcb_window_t>(own->winId());
            if (ParentOf(m_conn, xid) != m_root)
                xcb_reparent_window(m_conn, xid, m_root, static_cast<std::int16_t>(area.x()),
                                    static_cast<std::int16_t>(area.y()));
            const std::uint32_t above = XCB_STACK_MODE_ABOVE;
            xcb_configure_window(m_conn, xid, XCB_CONFIG_WINDOW_STACK_MODE, &above);
            xcb_map_window(m_conn, xid);
        }
        m_lifted.clear();
    }

    bool IsManagedState(xcb_window_t xid) {
        const auto wmState = Property32(m_conn, xid, m_atoms.wmState, m_atoms.wmState);
        return wmState && !wmState->empty() && (*wmState)[0] != kWithdrawnState;
    }

    std::optional<QRect> AreaOnRoot(xcb_window_t xid) {
        auto* geometry = xcb_get_geometry_reply(m_conn, xcb_get_geometry(m_conn, xid), nullptr);
        auto* origin = xcb_translate_coordinates_reply(
            m_conn, xcb_translate_coordinates(m_conn, xid, m_root, 0, 0), nullptr);
        std::optional<QRect> out;
        if (geometry && origin)
            out = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        std::free(geometry);
        std::free(origin);
        return out;
    }

    bool IsNormal() {
        const auto wmState = Property32(m_conn, m_xid, m_atoms.wmState, m_atoms.wmState);
        return wmState && !wmState->empty() && (*wmState)[0] == kNormalState;
    }

    // The manager has taken the window on (or the wait ran out). A manager that did not read
    // the states the window was mapped with (mutter, when it still finished with the unmanaged
    // window) is asked for them as for any mapped window; the window becomes the active one
    // again, as it was for the candidate all along.
    void FinishReturn(bool managedAgain) {
        if (m_phase != Phase::Returning)
            return;
        m_phase = Phase::Idle;
        m_returnWait.stop();
        QCoreApplication::instance()->removeNativeEventFilter(this);
        if (managedAgain) {
            const auto now = Property32(m_conn, m_xid, m_atoms.netState, XCB_ATOM_ATOM)
                                 .value_or(std::vector<std::uint32_t>{});
            for (std::uint32_t atom : m_savedStates)
                if (std::find(now.begin(), now.end(), atom) == now.end())
                    SendToWindowManager(m_conn, m_root, m_xid, m_atoms.netState,
                                        {kStateAdd, atom, 0, kSourcePager});
            SendToWindowManager(m_conn, m_root, m_xid, m_atoms.activeWindow,
                                {kSourcePager, XCB_CURRENT_TIME, XCB_NONE});
            xcb_flush(m_conn);
        }
        m_window.clear();
        m_xid = XCB_NONE;
    }

    // The manager has let go once the window is the root's child again and no longer carries a
    // state of its (some managers delete WM_STATE, some set it withdrawn).
    void TryArrive() {
        if (m_phase != Phase::Withdrawing || ParentOf(m_conn, m_xid) != m_root)
            return;
        const auto wmState = Property32(m_conn, m_xid, m_atoms.wmState, m_atoms.wmState);
        if (wmState && !wmState->empty() && (*wmState)[0] != kWithdrawnState)
            return;
        Arrive();
    }

    void Arrive() {
        if (m_phase != Phase::Withdrawing)
            return;
        m_withdrawWait.stop();
        if (ParentOf(m_conn, m_xid) != m_root) {
            // A manager that kept the window in its frame: taken out of it.
            xcb_reparent_window(m_conn, m_xid, m_root, 0, 0);
        }
        m_phase = Phase::Held;
        // A program that keeps raising its window over the exam uncovers the exam again each
        // time it is put under; kept by the server, the uncovered part is not drawn again by the
        // engine (a full repaint of the window each time, in software where there is no GPU).
        const std::uint32_t keep = XCB_BACKING_STORE_WHEN_MAPPED;
        xcb_change_window_attributes(m_conn, m_xid, XCB_CW_BACKING_STORE, &keep);
        m_wantedArea = ExamArea();
        ConfigureTo(m_wantedArea, true);
        // What the window is, for whoever asks (the toolkit reads its state from here): over the
        // whole monitor, above everything.
        const std::array<std::uint32_t, 2> held = {m_atoms.fullScreen, m_atoms.above};
        xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, m_xid, m_atoms.netState, XCB_ATOM_ATOM,
                            32, held.size(), held.data());
        xcb_map_window(m_conn, m_xid);
        ShowLiftedWindows();
        xcb_flush(m_conn);
        const xcb_setup_t* setup = xcb_get_setup(m_conn);
        m_keeper = std::make_unique<StackKeeper>(DisplayName(), setup->resource_id_base,
                                                 setup->resource_id_mask);
        WatchScreens();
        UpdateCovers();
        m_check.start();
    }

    void OnExamMapped() {
        if (m_phase != Phase::Held)
            return;
        TakePointer();
        FocusTopmostOwn();
        ScheduleRestack();
    }

    // A dialog of the client's own takes the keyboard when it shows.
    void OnOwnMapped(xcb_window_t xid) {
        QWindow* window = WindowWithId(xid);
        if (window && IsFocusable(window))
            Focus(xid);
    }

    static bool IsFocusable(const QWindow* window) {
        const Qt::WindowType type = window->type();
        return window->isVisible() && type != Qt::Popup && type != Qt::ToolTip &&
               type != Qt::SplashScreen && !(window->flags() & Qt::WindowDoesNotAcceptFocus);
    }

    void Focus(xcb_window_t xid) {
        xcb_set_input_focus(m_conn, XCB_INPUT_FOCUS_PARENT, xid, XCB_CURRENT_TIME);
        xcb_flush(m_conn);
    }

    // The keyboard goes to the client's newest visible dialog, or to the exam when none is up.
    void FocusTopmostOwn() {
        xcb_window_t target = m_xid;
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            if (window != m_window && !IsCover(window) && IsFocusable(window) && window->handle())
                target = static_cast<xcb_window_t>(window->winId());
        }
        Focus(target);
    }

    bool IsCover(const QWindow* window) const {
        return std::any_of(m_covers.begin(), m_covers.end(),
                           [&](const auto& cover) { return cover.second.get() == window; });
    }

    bool OwnPopupShown() const {
        for (QWindow* window : QGuiApplication::topLevelWindows())
            if (window->isVisible() && window->type() == Qt::Popup)
                return true;
        return false;
    }

    // Clicks anywhere reach the client's own windows only. A pop-up of the toolkit takes the
    // pointer for itself while it is shown; it is taken back when the pop-up goes.
    void TakePointer() {
        if (m_phase != Phase::Held || OwnPopupShown())
            return;
        auto* reply = xcb_grab_pointer_reply(
            m_conn,
            xcb_grab_pointer(m_conn, 1, m_xid, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                             XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
            nullptr);
        const int status = reply ? reply->status : -1;
        std::free(reply);
        const bool held = status == XCB_GRAB_STATUS_SUCCESS;
        if (held != m_pointerHeld)
            qCDebug(lcLock) << (held ? "pointer grab taken" : "pointer grab refused, status")
                            << status;
        m_pointerHeld = held;
    }

    void ScheduleRestack() {
        if (m_keeper)
            m_keeper->Nudge();
    }

    QRect ExamArea() const {
        QScreen* primary = QGuiApplication::primaryScreen();
        if (primary)
            return NativeArea(primary);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data;
        return QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);
    }

    void ConfigureTo(const QRect& area, bool raise) {
        if (area.isEmpty())
            return;
        std::vector<std::uint32_t> values = {
            static_cast<std::uint32_t>(area.x()), static_cast<std::uint32_t>(area.y()),
            static_cast<std::uint32_t>(area.width()), static_cast<std::uint32_t>(area.height()), 0};
        std::uint16_t mask = XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_BORDER_WIDTH;
        if (raise) {
            values.push_back(XCB_STACK_MODE_ABOVE);
            mask |= XCB_CONFIG_WINDOW_STACK_MODE;
        }
        xcb_configure_window(m_conn, m_xid, mask, values.data());
    }

    // Monitors come and go while held: covers follow, and the exam stays on the primary one.
    void WatchScreens() {
        delete m_screenWatch;
        m_screenWatch = new QObject(this);
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        auto follow = [this] { UpdateCovers(); };
        connect(app, &QGuiApplication::screenAdded, m_screenWatch, [this, follow](QScreen* s) {
            connect(s, &QScreen::geometryChanged, m_screenWatch, follow);
            follow();
        });
        connect(app, &QGuiApplication::screenRemoved, m_screenWatch, [this](QScreen* s) {
            m_covers.erase(s);
            UpdateCovers();
        });
        connect(app, &QGuiApplication::primaryScreenChanged, m_screenWatch, follow);
        for (QScreen* screen : QGuiApplication::screens())
            connect(screen, &QScreen::geometryChanged, m_screenWatch, follow);
    }

    void UpdateCovers() {
        if (m_phase != Phase::Held)
            return;
        QScreen* primary = QGuiApplication::primaryScreen();
        const QList<QScreen*> screens = QGuiApplication::screens();
        std::erase_if(m_covers, [&](const auto& entry) {
            return entry.first == primary || !screens.contains(entry.first);
        });
        for (QScreen* screen : screens) {
            if (screen == primary)
                continue;
            auto it = m_covers.find(screen);
            if (it == m_covers.end()) {
                auto cover = std::make_unique<Cover>(screen, m_coverText);
                Cover* shown = cover.get();
                m_covers.emplace(screen, std::move(cover));
                shown->show();
                qCInfo(lcLock) << "monitor" << screen->name() << "covered";
            } else if (it->second->geometry() != screen->geometry()) {
                it->second->Place(screen);
            }
        }
        const QRect area = ExamArea();
        if (area != m_wantedArea) {
            m_wantedArea = area;
            ConfigureTo(area, false);
            xcb_flush(m_conn);
        }
        if (m_keeper) {
            HeldWindows held;
            held.exam = m_xid;
            for (const auto& [screen, cover] : m_covers)
                held.covers.push_back(static_cast<xcb_window_t>(cover->winId()));
            held.x = m_wantedArea.x();
            held.y = m_wantedArea.y();
            held.width = m_wantedArea.width();
            held.height = m_wantedArea.height();
            m_keeper->Set(std::move(held));
        }
    }

    Phase m_phase = Phase::Idle;
    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = XCB_NONE;
    xcb_window_t m_xid = XCB_NONE;
    QPointer<QWindow> m_window;
    QString m_coverText;
    Atoms m_atoms;
    Qt::WindowFlags m_savedFlags;
    std::vector<std::uint32_t> m_savedStates;
    QRect m_savedArea;
    QRect m_wantedArea;
    bool m_pointerHeld = false;
    bool m_managed = false;
    QTimer m_withdrawWait;
    QTimer m_returnWait;
    QTimer m_check;
    QObject* m_screenWatch = nullptr;
    std::map<QScreen*, std::unique_ptr<Cover>> m_covers;
    std::vector<QPointer<QWindow>> m_bypassed;
    // Shown before the hold, to be shown above the exam once it arrives, at their places.
    std::vector<std::pair<QPointer<QWindow>, QRect>> m_lifted;
    std::unique_ptr<StackKeeper> m_keeper;
};

}  // namespace

bool IsInputMethodProgram(std::string_view exePath) {
    static constexpr std::string_view kPrograms[] = {
        "/usr/bin/fcitx5",
        "/usr/bin/fcitx",
        "/usr/bin/ibus-daemon",
        "/usr/libexec/ibus-ui-gtk3",
        "/usr/libexec/ibus-x11",
        "/usr/libexec/ibus-extension-gtk3",
        "/usr/lib/ibus/ibus-ui-gtk3",
        "/usr/lib/ibus/ibus-x11",
    };
    return std::find(std::begin(kPrograms), std::end(kPrograms), exePath) != std::end(kPrograms);
}

std::vector<std::uint32_t> PlanRestack(const std::vector<StackedWindow>& bottomToTop,
                                       const std::vector<std::uint32_t>& held) {
    int lowestHeld = -1;
    int topHeld = -1;
    for (int i = 0; i < static_cast<int>(bottomToTop.size()); ++i) {
        if (bottomToTop[i].role != StackRole::Held)
            continue;
        lowestHeld = lowestHeld < 0 ? i : lowestHeld;
        topHeld = i;
    }
    if (topHeld < 0)
        return {};
    bool needed = false;
    std::vector<std::uint32_t> own;
    std::vector<std::uint32_t> inputMethod;
    for (int i = 0; i < static_cast<int>(bottomToTop.size()); ++i) {
        const StackedWindow& w = bottomToTop[i];
        switch (w.role) {
            case StackRole::Held:
                break;
            case StackRole::Other:
                // Shown or not (not asked): a window above goes under at the next raise anyway.
                needed = needed || i > lowestHeld;
                break;
            case StackRole::Own:
            case StackRole::InputMethod:
                if (!w.shown)
                    break;
                (w.role == StackRole::Own ? own : inputMethod).push_back(w.window);
                needed = needed || i < topHeld;
                break;
        }
    }
    if (!needed)
        return {};
    std::vector<std::uint32_t> order = held;
    order.insert(order.end(), own.begin(), own.end());
    order.insert(order.end(), inputMethod.begin(), inputMethod.end());
    return order;
}

bool HoldScreen(NativeWindow window, const std::string& coverText) {
    return ScreenHold::Instance().Hold(static_cast<xcb_window_t>(window),
                                       QString::fromStdString(coverText));
}

void ReleaseScreen(NativeWindow window) {
    ScreenHold::Instance().Release(static_cast<xcb_window_t>(window));
}

}  // namespace vorn::platform::x11
