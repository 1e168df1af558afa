"""What the X server itself says of the windows on the screen: the stacking order of the root's
children (which, unlike the window manager's list, holds override-redirect windows too: a held
screen's), their map state and attributes, and the colour of a pixel. A connection of the test's
own, for looking fast and often. Standard library only (the X library through ctypes)."""

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
# A window can go between two requests about it: its errors are expected, not fatal to the test.
_X.XSetErrorHandler.restype = ctypes.c_void_p
_X.XSetErrorHandler.argtypes = [ctypes.c_void_p]
_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)
_X.XSetErrorHandler(ctypes.cast(_ERROR_HANDLER, ctypes.c_void_p))

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


class _Image(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte))]


_X.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                    ctypes.POINTER(_Attributes)]
_X.XGetImage.restype = ctypes.POINTER(_Image)
_X.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                         ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
_Z_PIXMAP = 2


class XView:
    """A connection of its own to `display` (a harness.Display)."""

    def __init__(self, display):
        self.dpy = _X.XOpenDisplay(display.env["DISPLAY"].encode())
        if not self.dpy:
            raise RuntimeError(f"cannot open display {display.env['DISPLAY']}")
        self.root = _X.XDefaultRootWindow(self.dpy)

    def close(self):
        if self.dpy:
            _X.XCloseDisplay(self.dpy)
            self.dpy = None

    def _tree(self, window):
        """(parent, children bottom to top) of `window`; (None, []) when it is gone."""
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not _X.XQueryTree(self.dpy, window, ctypes.byref(root), ctypes.byref(parent),
                             ctypes.byref(children), ctypes.byref(count)):
            return None, []
        found = [children[i] for i in range(count.value)]
        if children:
            _X.XFree(children)
        return parent.value, found

    def children(self):
        """The root's children, shown or not, bottom to top."""
        return self._tree(self.root)[1]

    def attributes(self, window):
        a = _Attributes()
        return a if _X.XGetWindowAttributes(self.dpy, window, ctypes.byref(a)) else None

    def viewable(self, window):
        a = self.attributes(window)
        return a is not None and a.map_state == IS_VIEWABLE

    def stacking(self):
        """The root's viewable children, bottom to top."""
        return [w for w in self.children() if self.viewable(w)]

    def toplevel(self, window):
        """The root's child that holds `window` (its frame, for a managed window); None when
        it is gone."""
        for _ in range(32):
            parent, _ = self._tree(window)
            if not parent:
                return None
            if parent == self.root:
                return window
            window = parent
        return None

    def above(self, window, other):
        """Whether `window` is shown above `other` in the server's stacking order (both
        viewable); None when either is not shown."""
        order = self.stacking()
        a, b = self.toplevel(window), self.toplevel(other)
        if a not in order or b not in order:
            return None
        return order.index(a) > order.index(b)

    def shown_above(self, window):
        """The root's shown children above the one holding `window`, bottom to top."""
        children = self.children()
        top = self.toplevel(window)
        if top not in children:
            return []
        return [w for w in children[children.index(top) + 1:] if self.viewable(w)]

    def is_held(self, window, area):
        """`window` holds the screen: unmanaged (override-redirect), shown over `area`
        (x, y, width, height) and with nothing of another program shown above it (its own
        covers and dialogs may be)."""
        a = self.attributes(window)
        return bool(a and a.override_redirect and a.map_state == IS_VIEWABLE
                    and self.toplevel(window) == window
                    and (a.x, a.y, a.width, a.height) == tuple(area)
                    and not [w for w in self.shown_above(window) if not same_client(w, window)])

    def pixel(self, x, y):
        """The colour on the screen at (x, y), as (r, g, b)."""
        image = _X.XGetImage(self.dpy, self.root, x, y, 1, 1, 0xFFFFFFFF, _Z_PIXMAP)
        if not image:
            raise RuntimeError("XGetImage failed")
        try:
            b, g, r = image.contents.data[0], image.contents.data[1], image.contents.data[2]
        finally:
            _X.XFree(image.contents.data)
            _X.XFree(image)
        return r, g, b


def same_client(a, b):
    """Whether two windows were made by the same X client: the X.Org server puts the client's
    number in the top bits of every id it hands out (the low 21 bits are the client's own)."""
    return a >> 21 == b >> 21


@contextlib.contextmanager
def view_of(display):
    view = XView(display)
    try:
        yield view
    finally:
        view.close()
