"""What the X server itself says of the windows on the screen (the stacking order of the root's
children, override-redirect, map state), for windows no window manager lists: a held screen's.
Standard library only (the X library through ctypes)."""

import contextlib
import ctypes
import ctypes.util

_X = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
_X.XOpenDisplay.restype = ctypes.c_void_p
_X.XOpenDisplay.argtypes = [ctypes.c_char_p]
_X.XCloseDisplay.argtypes = [ctypes.c_void_p]
_X.XDefaultRootWindow.restype = ctypes.c_ulong
_X.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
_X.XFree.argtypes = [ctypes.c_void_p]
_X.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                          ctypes.POINTER(ctypes.c_ulong),
                          ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                          ctypes.POINTER(ctypes.c_uint)]
# A failed request (a window gone between two calls) must not end the test process.
_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)
_X.XSetErrorHandler(_ERROR_HANDLER)

IS_VIEWABLE = 2


class _Attributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong), ("class_", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


_X.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                    ctypes.POINTER(_Attributes)]


class Tree:
    """A connection of its own to the display of `env` (a test's environment)."""

    def __init__(self, env):
        self.dpy = _X.XOpenDisplay(env["DISPLAY"].encode())
        if not self.dpy:
            raise RuntimeError(f"cannot open display {env['DISPLAY']}")
        self.root = _X.XDefaultRootWindow(self.dpy)

    def close(self):
        if self.dpy:
            _X.XCloseDisplay(self.dpy)
            self.dpy = None

    def _query(self, window):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not _X.XQueryTree(self.dpy, window, ctypes.byref(root), ctypes.byref(parent),
                             ctypes.byref(children), ctypes.byref(count)):
            return 0, []
        out = [children[i] for i in range(count.value)]
        if count.value:
            _X.XFree(children)
        return parent.value, out

    def children(self):
        """The root's children, bottom to top."""
        return self._query(self.root)[1]

    def attributes(self, window):
        a = _Attributes()
        return a if _X.XGetWindowAttributes(self.dpy, window, ctypes.byref(a)) else None

    def top_level(self, window):
        """The root's child holding `window`: a window manager's frame, or the window itself."""
        for _ in range(32):
            parent, _ = self._query(window)
            if parent in (0, self.root):
                return window
            window = parent
        return window

    def shown_above(self, window):
        """The root's shown children above the one holding `window`, bottom to top."""
        children = self.children()
        top = self.top_level(window)
        if top not in children:
            return []
        above = children[children.index(top) + 1:]
        return [w for w in above if (self.attributes(w) or _Attributes()).map_state == IS_VIEWABLE]

    def is_held(self, window, area):
        """`window` holds the screen: unmanaged (override-redirect), shown over `area`
        (x, y, width, height) and with nothing of another program shown above it (its own
        covers and dialogs may be)."""
        a = self.attributes(window)
        return bool(a and a.override_redirect and a.map_state == IS_VIEWABLE
                    and self.top_level(window) == window
                    and (a.x, a.y, a.width, a.height) == tuple(area)
                    and not [w for w in self.shown_above(window) if not same_client(w, window)])


def same_client(a, b):
    """Whether two windows were made by the same X client: the X.Org server puts the client's
    number in the top bits of every id it hands out (the low 21 bits are the client's own)."""
    return a >> 21 == b >> 21


@contextlib.contextmanager
def tree_of(display):
    tree = Tree(display.env)
    try:
        yield tree
    finally:
        tree.close()
