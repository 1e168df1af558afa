"""Runs the real client the way a person would see it: a virtual X display (Xvfb), optionally a
window manager (openbox unless VORN_TEST_WM names another: openbox, kwin, xfwm4, marco, mutter)
in a desktop session of its own (session bus, configuration folders), a loopback HTTP server for
the test pages, and xdotool/xprop/wmctrl to act on and look at windows. Standard library only
(the X library through ctypes)."""

import contextlib
import ctypes
import ctypes.util
import http.server
import json
import os
import shutil
import signal
import socketserver
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.parse
import weakref

BUILD_DIR = os.environ.get("VORN_BUILD_DIR", os.path.join(os.path.dirname(__file__), "../../build"))
SOURCE_DIR = os.environ.get("VORN_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "../.."))
ARTIFACTS = os.path.join(BUILD_DIR, "test-artifacts")


def keep_test_folders():
    """VORN_KEEP_TEST_FOLDERS set: the folders a run made stay behind for a look afterwards."""
    return bool(os.environ.get("VORN_KEEP_TEST_FOLDERS"))


def remove_folder(path):
    if not keep_test_folders():
        shutil.rmtree(path, ignore_errors=True)

# How each window manager starts on a bare X server, inside the display's own session (a session
# bus and empty configuration folders: see Display). KWin, Marco and Xfwm4 run without their
# compositors (Xvfb has no GL worth the cost); mutter composites always.
WINDOW_MANAGERS = {
    "openbox": ["openbox", "--sm-disable"],
    "kwin": ["kwin_x11", "--replace"],
    "xfwm4": ["xfwm4", "--compositor=off"],
    "marco": ["marco", "--replace", "--no-composite"],
    "mutter": ["mutter", "--x11", "--replace", "--sm-disable"],
}
WM_ENV = {"kwin": {"KWIN_COMPOSE": "N", "QT_QPA_PLATFORM": "xcb"}}

# Every one of these managers holds Alt+Tab for its window switcher once it is up; KWin through
# its shortcut daemon (kglobalaccel5), which the session bus starts on KWin's first request a
# moment later. A client started before that would take the key and leave the manager without
# it, so the display is handed out only once the manager holds it: the same state on every run.
WM_HELD_KEY = (("alt",), "Tab")


# Set for the extra runs of a suite under the other window managers: classes that do not depend on
# the window manager (no manager, no display) run once, in the default run.
EXTRA_WM_RUN = bool(os.environ.get("VORN_EXTRA_WM_RUN"))


def known_fault_under(wm, reason):
    """Marks a test as failing, for `reason`, under the window manager `wm` only; it still runs
    there, and passing there is reported as an unexpected success."""
    def mark(test):
        if os.environ.get("VORN_TEST_WM", "openbox") == wm:
            test = unittest.expectedFailure(test)
            test.__doc__ = (test.__doc__ or "") + f" Known to fail under {wm}: {reason}"
        return test
    return mark


def window_manager_name():
    name = os.environ.get("VORN_TEST_WM", "openbox")
    if name not in WINDOW_MANAGERS:
        raise RuntimeError(f"VORN_TEST_WM={name!r}: expected one of {', '.join(WINDOW_MANAGERS)}")
    return name


def wait_until(predicate, timeout=20.0, interval=0.05, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(interval)


_MODIFIER_MASKS = {"shift": 1, "ctrl": 4, "alt": 8, "super": 64}


class _XErrorEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("display", ctypes.c_void_p),
                ("resourceid", ctypes.c_ulong), ("serial", ctypes.c_ulong),
                ("error_code", ctypes.c_ubyte), ("request_code", ctypes.c_ubyte),
                ("minor_code", ctypes.c_ubyte)]


class _XIGrabModifiers(ctypes.Structure):
    _fields_ = [("modifiers", ctypes.c_int), ("status", ctypes.c_int)]


class _XIEventMask(ctypes.Structure):
    _fields_ = [("deviceid", ctypes.c_int), ("mask_len", ctypes.c_int),
                ("mask", ctypes.POINTER(ctypes.c_ubyte))]


def _xi2_key_taken(dpy, code, mask, root):
    """Whether another client holds an XInput 2 passive grab of the key on the core keyboard
    (mutter's kind: it does not conflict with a core grab of the same key)."""
    xi = ctypes.CDLL(ctypes.util.find_library("Xi") or "libXi.so.6")
    xi.XIGrabKeycode.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_ulong,
                                 ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                 ctypes.POINTER(_XIEventMask), ctypes.c_int,
                                 ctypes.POINTER(_XIGrabModifiers)]
    xi.XIUngrabKeycode.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_ulong,
                                   ctypes.c_int, ctypes.POINTER(_XIGrabModifiers)]
    major, minor = ctypes.c_int(2), ctypes.c_int(0)
    xi.XIQueryVersion.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                  ctypes.POINTER(ctypes.c_int)]
    xi.XIQueryVersion(dpy, ctypes.byref(major), ctypes.byref(minor))
    bits = (ctypes.c_ubyte * 4)(0x06, 0, 0, 0)  # KeyPress, KeyRelease
    event_mask = _XIEventMask(3, 4, bits)  # 3: the virtual core keyboard
    mods = _XIGrabModifiers(mask, 0)
    failed = xi.XIGrabKeycode(dpy, 3, code, root, 1, 1, 0, ctypes.byref(event_mask), 1,
                              ctypes.byref(mods))
    if failed == 0:
        mods = _XIGrabModifiers(mask, 0)
        xi.XIUngrabKeycode(dpy, 3, code, root, 1, ctypes.byref(mods))
    return failed > 0


def key_taken(display_name, modifiers, key):
    """Whether another client holds a passive grab of `key` with exactly `modifiers` on the root
    window of `display_name`, and of which kind: "core" (our core grab of it fails with
    BadAccess), "xi2" (an XInput 2 grab of it fails), or None."""
    xlib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XDefaultRootWindow.restype = ctypes.c_ulong
    xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    xlib.XStringToKeysym.restype = ctypes.c_ulong
    xlib.XStringToKeysym.argtypes = [ctypes.c_char_p]
    xlib.XKeysymToKeycode.restype = ctypes.c_ubyte
    xlib.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    xlib.XGrabKey.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_uint, ctypes.c_ulong,
                              ctypes.c_int, ctypes.c_int, ctypes.c_int]
    xlib.XUngrabKey.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_uint, ctypes.c_ulong]
    xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
    xlib.XSetErrorHandler.restype = ctypes.c_void_p
    xlib.XSetErrorHandler.argtypes = [ctypes.c_void_p]
    errors = []

    def on_error(_, event):
        errors.append(ctypes.cast(event, ctypes.POINTER(_XErrorEvent)).contents.error_code)
        return 0
    handler = handler_type(on_error)
    dpy = xlib.XOpenDisplay(display_name.encode())
    if not dpy:
        raise RuntimeError(f"cannot open display {display_name}")
    old = xlib.XSetErrorHandler(ctypes.cast(handler, ctypes.c_void_p))
    try:
        root = xlib.XDefaultRootWindow(dpy)
        code = xlib.XKeysymToKeycode(dpy, xlib.XStringToKeysym(key.encode()))
        mask = 0
        for m in modifiers:
            mask |= _MODIFIER_MASKS[m]
        xlib.XGrabKey(dpy, code, mask, root, 1, 1, 1)
        xlib.XSync(dpy, 0)
        if 10 in errors:  # BadAccess
            return "core"
        xlib.XUngrabKey(dpy, code, mask, root)
        xlib.XSync(dpy, 0)
        return "xi2" if _xi2_key_taken(dpy, code, mask, root) else None
    finally:
        xlib.XSetErrorHandler(old)
        xlib.XCloseDisplay(dpy)


def new_session_folders():
    """Empty home, configuration, data, cache, state and runtime folders for one desktop session:
    what a manager or a desktop program reads and writes there is the same on every machine."""
    root = tempfile.mkdtemp(prefix="vorn-session-")
    env = {"HOME": os.path.join(root, "home"),
           "XDG_CONFIG_HOME": os.path.join(root, "config"),
           "XDG_DATA_HOME": os.path.join(root, "data"),
           "XDG_CACHE_HOME": os.path.join(root, "cache"),
           "XDG_STATE_HOME": os.path.join(root, "state"),
           "XDG_RUNTIME_DIR": os.path.join(root, "runtime")}
    for folder in env.values():
        os.makedirs(folder, exist_ok=True)
    os.chmod(env["XDG_RUNTIME_DIR"], 0o700)
    return root, env


class Display:
    """An Xvfb server, with a window manager on top (window_manager_name()) unless window_manager
    is False. With a window manager (or session_bus=True) the display has a desktop session of
    its own: a session bus and empty configuration folders (session_env) that the manager, and
    the desktop programs a test starts there (an input method, a notification daemon), share.
    Clients get the bus only when a test passes session_env on: by default they run without one,
    whatever the machine's environment holds."""

    def __init__(self, window_manager=True, size="1280x1024x24", session_bus=None):
        self.window_manager = window_manager
        self.wm_name = window_manager_name() if window_manager else None
        self.size = size
        self.session_bus = window_manager if session_bus is None else session_bus
        self.xvfb = None
        self.bus = None
        self.wm = None
        self.panel = None
        self.panel_folder = None
        self.session_folder = None
        self.session_env = {}
        self.alt_tab_grab = None
        self.env = None

    def _start_server(self):
        """Starts the X server; returns its display number as text."""
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.size, "-nolisten", "tcp",
             "-noreset"], pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        return number

    def _start_session(self):
        self.session_folder, folders = new_session_folders()
        env = dict(self.env, **folders)
        read_fd, write_fd = os.pipe()
        # The bus starts the services asked for (KWin's shortcut daemon, Xfwm4's settings
        # daemon, dconf) with its own environment: the display and the session's folders.
        self.bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--print-address={write_fd}"],
            env=env, pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            address = pipe.readline().strip()
        if not address:
            raise RuntimeError("the session bus did not start")
        self.session_env = dict(folders, DBUS_SESSION_BUS_ADDRESS=address)

    def __enter__(self):
        try:
            return self._enter()
        except BaseException:
            self.__exit__(None, None, None)
            raise

    def _enter(self):
        number = self._start_server()
        self.env = dict(os.environ, DISPLAY=":" + number)
        self.env.pop("WAYLAND_DISPLAY", None)
        # Whatever bus the machine's own session has is no part of the test's desktop.
        for name in ("DBUS_SESSION_BUS_ADDRESS", "SESSION_MANAGER", "XDG_SESSION_ID"):
            self.env.pop(name, None)
        if self.session_bus:
            self._start_session()
        # The first key xdotool sends moves the server's core keyboard over to the XTEST device,
        # and every client hears that the keymap changed. Window managers then drop and retake
        # all their key bindings, and a key pressed in that moment (Alt+F4 right after Alt)
        # misses them; a person's keyboard never switches like this mid-session. One key before
        # any window manager or window exists makes the switch where nobody hears it.
        self.xdotool("key", "shift")
        if self.window_manager:
            # A session of its own, so that the session bus started with it ends with it.
            self.wm = subprocess.Popen(WINDOW_MANAGERS[self.wm_name],
                                       env=dict(self.env, **self.session_env,
                                                **WM_ENV.get(self.wm_name, {})),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       start_new_session=True)
            wait_until(lambda: self.run(["wmctrl", "-m"], check=False).returncode == 0, 30,
                       what=self.wm_name)
            # "core" or "xi2": what kind of grab the manager holds it by (see WM_HELD_KEY).
            self.alt_tab_grab = wait_until(lambda: key_taken(self.env["DISPLAY"], *WM_HELD_KEY),
                                           30, 0.1, what=f"{self.wm_name} to hold Alt+Tab")
            # Window managers announce themselves a moment before they manage new windows: a
            # map request sent right away was seen to get lost now and then.
            time.sleep(0.3 if self.wm_name == "openbox" else 1.0)
        return self

    def __exit__(self, *exc):
        # The panel, the window manager and the bus (with the services it started) run in process
        # groups of their own.
        for proc, group in ((self.panel, True), (self.wm, True), (self.bus, True),
                            (self.xvfb, False)):
            if not proc:
                continue
            for sig in (signal.SIGTERM, signal.SIGKILL) if proc.poll() is None else ():
                with contextlib.suppress(ProcessLookupError):
                    if group:
                        os.killpg(proc.pid, sig)
                    else:
                        proc.send_signal(sig)
                try:
                    proc.wait(5)
                    break
                except subprocess.TimeoutExpired:
                    continue
            if group:
                # A member that ignores SIGTERM (xfwm4 under dbus-run-session) outlives the leader.
                with contextlib.suppress(ProcessLookupError):
                    os.killpg(proc.pid, signal.SIGKILL)
        if self.panel_folder:
            remove_folder(self.panel_folder)
        if self.session_folder:
            remove_folder(self.session_folder)

    def start_panel(self, height=30):
        """A tint2 panel along the bottom edge that reserves its strip of the screen (a dock, as
        desktop panels are). Returns the panel's window id once it is shown."""
        self.panel_folder = self.panel_folder or tempfile.mkdtemp(prefix="vorn-tint2-")
        config = os.path.join(self.panel_folder, "tint2rc")
        with open(config, "w") as f:
            f.write("panel_items = T\npanel_position = bottom center horizontal\n"
                    f"panel_size = 100% {height}\npanel_layer = top\nwm_menu = 1\n"
                    "strut_policy = follow_size\npanel_dock = 0\nautohide = 0\n"
                    "taskbar_mode = single_desktop\n")
        self.panel = subprocess.Popen(["tint2", "-c", config], env=self.env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                      start_new_session=True)
        return wait_until(lambda: (self.find_windows("^tint2$") or [None])[0], 20,
                          what="the tint2 panel")

    def screen_size(self):
        width, height = self.size.split("x")[:2]
        return int(width), int(height)

    def stacking(self):
        """The window manager's stacking list, bottom to top."""
        out = self.run(["xprop", "-root", "_NET_CLIENT_LIST_STACKING"], check=False).stdout
        return [int(w, 16) for w in out.split("#", 1)[1].replace(",", " ").split()] \
            if "#" in out else []

    def close_request(self, window):
        """What a person does to close the active window. KWin binds Alt+F4 through its
        shortcut daemon, which a bare X server lacks: there the window manager's own close
        request (what Alt+F4 would send) stands in."""
        if self.wm_name == "kwin":
            self.run(["wmctrl", "-i", "-c", str(window)])
        else:
            self.xdotool("key", "alt+F4")

    def run(self, args, check=True, timeout=20):
        return subprocess.run(args, env=self.env, capture_output=True, text=True, check=check,
                              timeout=timeout)

    def xdotool(self, *args, check=True):
        return self.run(["xdotool", *args], check=check).stdout.strip()

    def page_text(self, x=400, y=400):
        """The text a person copies from the page (or frame) at (x, y): click, select all, copy,
        and what the clipboard holds a moment later (empty when nothing could be copied)."""
        self.xdotool("mousemove", str(x), str(y), "click", "1")
        self.xdotool("key", "ctrl+a", "ctrl+c")
        time.sleep(0.3)
        return self.run(["xclip", "-o", "-selection", "clipboard"], check=False).stdout

    def find_windows(self, name):
        out = self.run(["xdotool", "search", "--onlyvisible", "--name", name], check=False).stdout
        return [int(w) for w in out.split()]

    def wait_for_window(self, name="^CEFBrowser$", timeout=60):
        return wait_until(lambda: (self.find_windows(name) or [None])[0], timeout,
                          what=f"a window named {name}")

    def prop(self, window, name):
        return self.run(["xprop", "-id", str(window), name], check=False).stdout.strip()

    def net_wm_state(self, window):
        text = self.prop(window, "_NET_WM_STATE")
        return set(a.strip() for a in text.split("=", 1)[1].split(",")) if "=" in text else set()

    def geometry(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", str(window))
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return {k: int(v) for k, v in values.items() if v.lstrip("-").isdigit()}

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        self.run(["import", "-window", "root", path])
        return path


XORG_DUMMY_CONFIG = """\
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoEnableDevices" "false"
    Option "AutoAddGPU" "false"
    Option "DontVTSwitch" "true"
    Option "DontZap" "true"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 65536
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
    Modeline "{w}x{h}" 174.25 {w} {hs} {he} {ht} {h} {vs} {ve} {vt} -hsync +vsync
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "{w}x{h}"
        Virtual {w} {h}
    EndSubSection
EndSection
"""

# The two monitors of a desk, side by side on one 2560x800 screen: (name, geometry, output).
TWO_MONITORS = (("A", "1280/338x800/211+0+0", "DUMMY0"), ("B", "1280/338x800/211+1280+0", "none"))


class DummyMonitorsDisplay(Display):
    """Xorg with the dummy video driver instead of Xvfb: one virtual screen that RandR monitors
    can be laid over (Xvfb ignores them), so a test can have a desk with two monitors and plug
    or unplug one. Xorg's dummy driver needs root (as in CI); a test that cannot have it skips.
    The server gets no input devices of its own (xdotool's XTEST devices remain)."""

    def __init__(self, window_manager=True, size="2560x800x24", monitors=TWO_MONITORS, **kw):
        super().__init__(window_manager=window_manager, size=size, **kw)
        self.monitors = monitors
        self.server_folder = None

    @staticmethod
    def unavailable():
        """Why this display cannot be had here, or None."""
        if not shutil.which("Xorg"):
            return "Xorg is not installed (xserver-xorg-core)"
        if not os.path.exists("/usr/lib/xorg/modules/drivers/dummy_drv.so"):
            return "Xorg's dummy driver is not installed (xserver-xorg-video-dummy)"
        if os.geteuid() != 0:
            return "Xorg with a configuration file of the test's own needs root"
        return None

    def _start_server(self):
        self.server_folder = tempfile.mkdtemp(prefix="vorn-xorg-")
        w, h = self.screen_size()
        config = os.path.join(self.server_folder, "xorg.conf")
        with open(config, "w") as f:
            f.write(XORG_DUMMY_CONFIG.format(w=w, h=h, hs=w + 160, he=w + 432, ht=w + 864,
                                             vs=h + 3, ve=h + 9, vt=h + 50))
        read_fd, write_fd = os.pipe()
        # -displayfd: the server takes the first free display number itself, so that it never
        # races the Xvfb servers other tests start at the same time.
        self.xvfb = subprocess.Popen(
            ["Xorg", "-displayfd", str(write_fd), "-config", config,
             "-logfile", os.path.join(self.server_folder, "Xorg.log"), "-noreset",
             "-nolisten", "tcp", "-novtswitch", "-sharevts"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            stdin=subprocess.DEVNULL, start_new_session=True)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xorg did not start: " + self._server_log_tail())
        env = dict(os.environ, DISPLAY=":" + number)
        # The first monitor is the primary one, as the desk's main screen is.
        commands = [["xrandr", "--output", "DUMMY0", "--primary"]]
        commands += [["xrandr", "--setmonitor", *monitor] for monitor in self.monitors]
        for command in commands:
            subprocess.run(command, env=env, check=True, capture_output=True, timeout=20)
        return number

    def _server_log_tail(self):
        try:
            with open(os.path.join(self.server_folder, "Xorg.log"), errors="replace") as f:
                return " | ".join(l.strip() for l in f.readlines()[-5:])
        except OSError:
            return "no log"

    def set_monitor(self, name, geometry, output="none"):
        self.run(["xrandr", "--setmonitor", name, geometry, output])

    def delete_monitor(self, name):
        self.run(["xrandr", "--delmonitor", name])

    def monitor_names(self):
        out = self.run(["xrandr", "--listmonitors"]).stdout.splitlines()[1:]
        return [line.split()[1].lstrip("+*") for line in out if line.strip()]

    def __exit__(self, *exc):
        super().__exit__(*exc)
        if self.server_folder:
            remove_folder(self.server_folder)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _serve(self, head_only=False):
        server = self.server.owner
        parsed = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(parsed.query, keep_blank_values=True)
        with server.lock:
            server.requests.append((self.command, parsed.path, query))
            server.received.append((self.command, self.path,
                                    {k.lower(): v for k, v in self.headers.items()}))
        if parsed.path == "/report":
            with server.lock:
                server.reports.append({k: v[0] for k, v in query.items()})
            self._send(204, b"", "text/plain", head_only)
            return
        route = server.routes.get(parsed.path)
        if route is None:
            self._send(404, b"not found", "text/plain", head_only)
            return
        if callable(route):
            route = route(self, parsed, query)
            if route is None:
                return
        status, body, content_type = route
        self._send(status, body, content_type, head_only)

    def _send(self, status, body, content_type, head_only=False, headers=None):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Access-Control-Allow-Origin", "*")
        self.send_header("Cache-Control", "no-store")
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.end_headers()
        if not head_only:
            self.wfile.write(body)

    def do_GET(self):
        self._serve()

    def do_HEAD(self):
        self._serve(head_only=True)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0") or 0)
        self.rfile.read(length)
        self._serve()


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


class TestServer:
    """A loopback HTTP server: routes map a path to (status, body, content type) or a callable;
    GET /report?k=v records a report from the page."""

    def __init__(self, port=0):
        self.routes = {}
        self.requests = []
        self.received = []  # (method, request target as sent, headers with lower-case names)
        self.reports = []
        self.commands = []
        self.lock = threading.Lock()
        self.httpd = _Server(("127.0.0.1", port), _Handler)
        self.httpd.owner = self
        self.port = self.httpd.server_address[1]
        self.routes["/cmd"] = self._next_command
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()

    @property
    def origin(self):
        return f"http://127.0.0.1:{self.port}"

    def add_page(self, path, html, content_type="text/html; charset=utf-8", status=200):
        self.routes[path] = (status, html, content_type)

    def report_snippet(self):
        """JavaScript defining report(obj): sends one report to this server."""
        return ("function report(o){try{var q=Object.keys(o).map(function(k){return "
                "encodeURIComponent(k)+'='+encodeURIComponent(String(o[k]))}).join('&');"
                f"var x=new XMLHttpRequest();x.open('GET','{self.origin}/report?'+q,true);x.send();"
                "}catch(e){}}")

    def control_snippet(self, interval_ms=100):
        """JavaScript that lets the test run code in the page: it polls this server for commands
        (see run_in_page) and evaluates each one once. Includes report()."""
        return (self.report_snippet() +
                # A command counts for this page from the moment its navigation started: the test
                # may queue one as soon as the page's first report arrives, before this runs.
                "(function(){var seen=-1,born=Math.floor(performance.timeOrigin||Date.now());"
                "function poll(){try{var x=new XMLHttpRequest();"
                f"x.open('GET','{self.origin}/cmd?after='+seen+'&born='+born,true);"
                "x.onload=function(){var n=x.getResponseHeader('X-Seq');if(n!==null)seen=+n;"
                "if(x.status==200){"
                "try{(0,eval)(x.responseText)}catch(e){report({event:'cmd-error',error:String(e)})}}};"
                # After an error, a timeout or an abort too: a navigation the page starts (even one
                # the client refuses) aborts the request in flight, and the page fell deaf.
                f"x.onloadend=function(){{setTimeout(poll,{interval_ms})}};x.timeout=10000;"
                "x.send()}catch(e){}}poll()})();")

    def run_in_page(self, script):
        """Queues `script` for the page(s) using control_snippet. A page runs the commands queued
        after it first asked, so a page loaded later does not repeat earlier ones."""
        with self.lock:
            self.commands.append((time.time() * 1000, script))

    def _next_command(self, handler, parsed, query):
        after = int(query.get("after", ["0"])[0] or 0)
        with self.lock:
            if after < 0:
                # The page runs what was queued since its script started.
                born = float(query.get("born", ["0"])[0] or 0)
                first = next((i for i, (t, _) in enumerate(self.commands) if t >= born),
                             len(self.commands))
                handler.send_response(204)
                handler.send_header("X-Seq", str(first))
                handler.send_header("Access-Control-Allow-Origin", "*")
                handler.send_header("Access-Control-Expose-Headers", "X-Seq")
                handler.send_header("Content-Length", "0")
                handler.end_headers()
                return None
            if after < len(self.commands):
                body = self.commands[after][1].encode("utf-8")
                handler.send_response(200)
                handler.send_header("Content-Type", "text/javascript")
                handler.send_header("X-Seq", str(after + 1))
                handler.send_header("Access-Control-Allow-Origin", "*")
                handler.send_header("Access-Control-Expose-Headers", "X-Seq")
                handler.send_header("Content-Length", str(len(body)))
                handler.end_headers()
                handler.wfile.write(body)
                return None
        return (204, b"", "text/plain")

    def wait_for_report(self, predicate=lambda r: True, timeout=30, what="a report from the page"):
        def find():
            with self.lock:
                for r in self.reports:
                    if predicate(r):
                        return r
            return None
        return wait_until(find, timeout, what=what)

    def reports_matching(self, predicate):
        with self.lock:
            return [r for r in self.reports if predicate(r)]

    def received_matching(self, predicate):
        """(method, target, headers) of the requests whose target satisfies predicate."""
        with self.lock:
            return [r for r in self.received if predicate(r[1])]

    def paths_requested(self):
        with self.lock:
            return [p for _, p, _ in self.requests]


def _end_run(proc, log):
    if proc.poll() is None:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(proc.pid, signal.SIGTERM)
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait(10)
    # The engine's helper processes are in the same session.
    with contextlib.suppress(ProcessLookupError):
        os.killpg(proc.pid, signal.SIGKILL)
    log.close()


def _end_client(runs, root):
    """What a client leaves behind once it is done with, however it was used (a `with` block,
    start() and stop(), or neither): the processes still running, then its folder (a copy of the
    executable and the skin, some 30 MB)."""
    while runs:
        _end_run(*runs.pop())
    remove_folder(root)


class Client:
    """The real client, copied into a client folder of its own (config.ini, idcard.jpg and models/
    live beside the executable), with its own runtime, home and temporary folders."""

    def __init__(self, display, config=None, env=None, args=(), folder=None, copy_skin=True,
                 log_rules="vorn.*.debug=true"):
        self.display = display
        self.root = tempfile.mkdtemp(prefix="vorn-client-")
        self.folder = folder or os.path.join(self.root, "client")
        self.home = os.path.join(self.root, "home")
        self.runtime = os.path.join(self.root, "runtime")
        self.tmp = os.path.join(self.root, "tmp")
        for d in (self.folder, self.home, self.runtime, self.tmp):
            os.makedirs(d, exist_ok=True)
        os.chmod(self.runtime, 0o700)
        self.exe = os.path.join(self.folder, "vornclient")
        if not os.path.exists(self.exe):
            shutil.copy2(os.path.join(BUILD_DIR, "vornclient"), self.exe)
            sim = os.path.join(BUILD_DIR, "libtermb.so")
            if os.path.exists(sim):
                shutil.copy2(sim, self.folder)
            if copy_skin:
                shutil.copytree(os.path.join(BUILD_DIR, "Skin"), os.path.join(self.folder, "Skin"))
        if config is not None:
            self.write_config(config)
        self.env = dict(display.env)
        self.env.update({
            "HOME": self.home,
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local/share"),
            "TMPDIR": self.tmp,
            "VORN_DISABLE_GPU": "1",
            "QT_LOGGING_RULES": log_rules,
            "QT_QPA_PLATFORM": "xcb",
        })
        self.env.update(env or {})
        self.args = list(args)
        self.proc = None
        self.log_path = os.path.join(self.root, "client.log")
        # (process, log) of each start not yet stopped. The folder goes when this object does
        # (or when Python exits): the files in it stay readable after stop().
        self._runs = []
        self._end = weakref.finalize(self, _end_client, self._runs, self.root)

    def write_config(self, text):
        with open(os.path.join(self.folder, "config.ini"), "w", encoding="utf-8") as f:
            f.write(text)

    def start(self):
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen([self.exe, *self.args], env=self.env, cwd=self.root,
                                     stdout=self.log, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        self._runs.append((self.proc, self.log))
        return self

    def wait_for_window(self, timeout=60):
        def ours():
            if self.proc.poll() is not None:
                raise RuntimeError(f"client exited with {self.proc.returncode}:\n{self.output()}")
            return (self.display.find_windows("^CEFBrowser$") or [None])[0]
        return wait_until(ours, timeout, what="the client's window")

    def renderer_pids(self):
        """The engine's renderer processes of this client: the children of its zygote that forks
        renderers (the one started without --no-zygote-sandbox). Forked children keep the
        zygote's command line, so the parent tells them apart."""
        procs = {}
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                if os.getsid(int(entry)) != self.proc.pid:
                    continue
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    args = f.read().split(b"\0")
                with open(f"/proc/{entry}/stat", "rb") as f:
                    ppid = int(f.read().rsplit(b")", 1)[1].split()[1])
            except (OSError, ProcessLookupError, ValueError, IndexError):
                continue
            procs[int(entry)] = (ppid, args)
        zygotes = {pid for pid, (ppid, args) in procs.items()
                   if b"--type=zygote" in args and b"--no-zygote-sandbox" not in args
                   and ppid == self.proc.pid}
        return [pid for pid, (ppid, args) in procs.items()
                if ppid in zygotes or b"--type=renderer" in args]

    def output(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def wait_exit(self, timeout=20):
        return self.proc.wait(timeout)

    def stop(self):
        while self._runs:
            _end_run(*self._runs.pop())

    def remove(self):
        """Stops the client and removes its folder now."""
        self._end()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.remove()


# Variables by which xdg-open recognises a desktop environment; without them it uses its
# generic mode, as under plain window managers and in the kiosk session.
DESKTOP_VARIABLES = ("XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION",
                     "KDE_FULL_SESSION", "KDE_SESSION_VERSION", "GNOME_DESKTOP_SESSION_ID",
                     "MATE_DESKTOP_SESSION_ID", "DESKTOP", "BROWSER")


def without_desktop(env):
    return {k: v for k, v in env.items() if k not in DESKTOP_VARIABLES}


def client_processes(exe):
    """(pid, argv) of every process whose executable is `exe` (links resolved), apart from the
    short registration runs ("/createprotocol") a start spawns."""
    return [(pid, argv) for pid, argv in processes_of(exe) if argv[1:2] != ["/createprotocol"]]


def processes_of(exe):
    """(pid, argv) of every process whose executable is `exe` (links resolved)."""
    real = os.path.realpath(exe)
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if os.path.realpath(f"/proc/{pid}/exe") != real:
                continue
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                argv = [a.decode("utf-8", "replace") for a in f.read().split(b"\0")[:-1]]
        except OSError:
            continue
        found.append((int(pid), argv))
    return found


@contextlib.contextmanager
def opened_link(command, link, env, exe):
    """Runs an opener (["xdg-open"], ["gio", "open"], ...) on `link` and yields the argv of the
    client it started; everything it started is ended afterwards."""
    opener = subprocess.Popen([*command, link], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        started = wait_until(lambda: client_processes(exe), 60, what=f"a client started by {command}")
        yield started[0][1]
    finally:
        for pid, _ in client_processes(exe):
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        with contextlib.suppress(ProcessLookupError):
            os.killpg(opener.pid, signal.SIGKILL)
        opener.wait(10)


def snapshot(folder):
    """Every path below `folder` with its size and modification time: equal snapshots mean
    nothing was written there."""
    found = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            st = os.lstat(path)
            found[path] = (st.st_size, st.st_mtime_ns)
    return found


def read_text(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()
