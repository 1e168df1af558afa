#include "platform/linux/X11_linux.h"

#include <QGuiApplication>
#include <QWindow>

#include <cstdlib>
#include <cstring>

// From Xlib, whose header's macros would clash with the toolkit's names.
extern "C" char* XDisplayString(Display* display);

namespace vorn::platform {

xcb_connection_t* GuiConnection() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

const char* DisplayName() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 && x11->display() ? XDisplayString(x11->display()) : nullptr;
}

xcb_window_t RootOf(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

xcb_atom_t InternAtom(xcb_connection_t* c, const char* name) {
    auto* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

std::optional<std::vector<std::uint32_t>> Property32(xcb_connection_t* c,
                                                     xcb_window_t window,
                                                     xcb_atom_t property,
                                                     xcb_atom_t type) {
    auto* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 1024), nullptr);
    if (!reply)
        return std::nullopt;
    std::optional<std::vector<std::uint32_t>> out;
    if (reply->type == type && reply->format == 32) {
        const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        out.emplace(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return out;
}

std::vector<xcb_window_t> RootChildren(xcb_connection_t* c, xcb_window_t root) {
    auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree);
    std::vector<xcb_window_t> out(children, children + xcb_query_tree_children_length(tree));
    std::free(tree);
    return out;
}

QWindow* WindowWithId(xcb_window_t xid) {
    if (xid == XCB_NONE)
        return nullptr;
    for (QWindow* window : QGuiApplication::allWindows())
        if (window->handle() && static_cast<xcb_window_t>(window->winId()) == xid)
            return window;
    return nullptr;
}

void SendToWindowManager(xcb_connection_t* c,
                         xcb_window_t root,
                         xcb_window_t window,
                         xcb_atom_t type,
                         std::initializer_list<std::uint32_t> data) {
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    int i = 0;
    for (std::uint32_t value : data)
        event.data.data32[i++] = value;
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
}

}  // namespace vorn::platform
