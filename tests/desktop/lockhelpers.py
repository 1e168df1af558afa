"""Helpers of the lock tests and the lock benchmark: the key-logging window, the lock probe, and a
watcher of a window's _NET_WM_STATE changes. Standard library only."""

import contextlib
import os
import signal
import subprocess
import tempfile
import threading
import time

import harness
from xtree import XView

TEST_BIN = os.path.join(harness.BUILD_DIR, "tests")

# Combinations a locked client must keep from every other window, as xdotool names them.
LOCK_TABLE = ["alt+Tab", "alt+shift+Tab", "alt+Escape", "ctrl+Escape", "ctrl+shift+Escape",
              "super", "Super_R", "alt+F4"]


def exam_page(server, on_load, script=""):
    """An exam page with one answer field, focused on load, that reports what is typed. On load it
    also reports `on_load` (a script object literal); `script` runs after the field is set up."""
    return ("<!doctype html><html><head><meta charset='utf-8'><title>exam</title>"
            f"<script>{server.control_snippet()}</script></head><body>"
            "<input id='answer' autofocus>"
            "<script>var f=document.getElementById('answer');"
            "f.addEventListener('input',function(){report({event:'typed',value:f.value})});"
            "window.addEventListener('load',function(){f.focus();"
            f"report({on_load})}});{script}"
            "</script></body></html>")


def need_binary(name):
    path = os.path.join(TEST_BIN, name)
    if not os.path.exists(path):
        raise RuntimeError(f"{path} is missing: build the target '{name}' first")
    return path


class _Lines:
    """Collects the lines of a pipe on a thread, so a test can wait for one."""

    def __init__(self, pipe):
        self.lines = []
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self._read, args=(pipe,), daemon=True)
        self.thread.start()

    def _read(self, pipe):
        for line in pipe:
            with self.cond:
                self.lines.append((time.monotonic(), line.rstrip("\n")))
                self.cond.notify_all()

    def wait(self, predicate, timeout=10.0, start=0, what="a line"):
        # Each line is offered to the predicate once, in order, so it may keep state.
        deadline = time.monotonic() + timeout
        index = start
        with self.cond:
            while True:
                while index < len(self.lines):
                    if predicate(self.lines[index][1]):
                        return index, self.lines[index]
                    index += 1
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise TimeoutError(f"timed out waiting for {what}; got {self.texts()}")
                self.cond.wait(remaining)

    def texts(self):
        with self.cond:
            return [text for _, text in self.lines]

    def count(self):
        with self.cond:
            return len(self.lines)


class KeyLogger:
    """The other window: logs every key event it receives."""

    def __init__(self, display, name="keylogger"):
        self.display = display
        fd, self.path = tempfile.mkstemp(prefix="vorn-keys-", suffix=".log")
        os.close(fd)
        self.proc = subprocess.Popen([need_binary("keylogger"), "--log", self.path, "--name", name],
                                     env=display.env, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().split()
        if len(line) != 2 or line[0] != "window":
            raise RuntimeError("the key logger did not create its window")
        self.window = int(line[1])
        # A map request that reaches openbox while it is still starting up can be lost (about
        # one start in eight here), so the window is mapped again until it shows.
        deadline = time.monotonic() + 10
        while not self.viewable():
            if time.monotonic() > deadline:
                raise RuntimeError("the key logger's window was never shown")
            time.sleep(0.5)
            if not self.viewable():
                display.xdotool("windowmap", str(self.window), check=False)

    def viewable(self):
        out = self.display.run(["xwininfo", "-id", str(self.window)], check=False).stdout
        return "IsViewable" in out

    def focus(self):
        if self.display.window_manager:
            self.display.xdotool("windowactivate", "--sync", str(self.window))
        else:
            self.display.xdotool("windowfocus", "--sync", str(self.window))
        time.sleep(0.1)

    def clear(self):
        open(self.path, "w").close()

    def events(self):
        with open(self.path) as f:
            return [line.split() for line in f if line.strip()]

    def keysyms(self, kind="press"):
        return [e[1] for e in self.events() if e[0] == kind]

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(5)
        self.proc.stdout.close()
        os.unlink(self.path)


class LockProbe:
    """tests/desktop/lockprobe: a bare window using the lock's platform layer."""

    def __init__(self, display, args=(), env=None):
        self.env = dict(display.env, QT_QPA_PLATFORM="xcb", QT_LOGGING_RULES="vorn.lock.debug=true")
        self.env.update(env or {})
        self.proc = subprocess.Popen([need_binary("lockprobe"), *args], env=self.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.out = _Lines(self.proc.stdout)
        self.err = _Lines(self.proc.stderr)
        _, (_, ready) = self.out.wait(lambda l: l.startswith("ready "), 20, what="the probe")
        _, window, enforce = ready.split()
        self.window = int(window)
        self.enforceable = enforce == "enforce=yes"
        if self.enforceable:
            # A grab needs a viewable window; the lock itself would retry, the tests need not.
            harness.wait_until(lambda: "IsViewable" in display.run(
                ["xwininfo", "-id", str(self.window)], check=False).stdout, 10,
                what="the probe's window to be shown")

    def command(self, text, answer_prefix=None, timeout=10):
        start = self.out.count()
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        prefix = answer_prefix or text.split()[0]
        _, (_, line) = self.out.wait(lambda l: l.startswith(prefix), timeout, start,
                                     what=f"the answer to '{text}'")
        return line

    def state(self):
        line = self.command("state")
        return dict(item.split("=") for item in line.split()[1:])

    def typed(self):
        texts = [l for l in self.out.texts() if l.startswith("typed ")]
        return texts[-1][len("typed "):] if texts else ""

    def lock_log(self):
        return [l for l in self.err.texts() if l.startswith("vorn.lock")]

    def kill(self, sig=signal.SIGKILL):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        return self.proc.wait(10)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(10)
        for pipe in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            pipe.close()


class StateSpy:
    """Follows a window's _NET_WM_STATE with `xprop -spy`, time-stamping every change."""

    def __init__(self, display, window):
        self.proc = subprocess.Popen(["xprop", "-spy", "-id", str(window), "_NET_WM_STATE"],
                                     env=display.env, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        self.lines = _Lines(self.proc.stdout)
        self.lines.wait(lambda l: True, 10, what="the first state")

    @staticmethod
    def atoms(line):
        return set(a.strip() for a in line.split("=", 1)[1].split(",")) if "=" in line else set()

    def current(self):
        texts = self.lines.texts()
        return self.atoms(texts[-1]) if texts else set()

    def time_back_from_minimize(self, display, window, timeout=5.0):
        """Minimises the window with xdotool and returns the seconds until its state shows it
        maximised (or fullscreen) and no longer hidden."""
        return self.minimise_and_wait(display, window, timeout)[0]

    def minimise_and_wait(self, display, window, timeout=5.0):
        """As time_back_from_minimize; returns (seconds from the minimise request, seconds from
        the window manager's hiding) until the window is back."""
        start_index = self.lines.count()
        t0 = time.monotonic()
        display.xdotool("windowminimize", str(window))
        # xprop reads the property when it hears of a change, so a window that comes back very
        # fast may never be seen hidden: the first change after the request is the hiding.
        _, (t_hidden, _) = self.lines.wait(lambda l: True, timeout, start_index,
                                           what="the window to be minimised")
        seen = {"hidden": False, "changes": 0}

        def back(line):
            atoms = self.atoms(line)
            seen["changes"] += 1
            seen["hidden"] = seen["hidden"] or "_NET_WM_STATE_HIDDEN" in atoms
            # Maximised or, as a locked client is, over the whole screen (some managers then
            # drop the maximised state from the property).
            return ((seen["hidden"] or seen["changes"] >= 2)
                    and "_NET_WM_STATE_HIDDEN" not in atoms
                    and ({"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"} <= atoms
                         or "_NET_WM_STATE_FULLSCREEN" in atoms))
        _, (t_back, _) = self.lines.wait(back, timeout, start_index,
                                         what="the window to come back")
        return t_back - t0, t_back - t_hidden

    def close(self):
        self.proc.kill()
        self.proc.wait(5)
        self.proc.stdout.close()


def on_top(display, window):
    """Whether `window` is the top of the window manager's stacking list."""
    stacking = display.stacking()
    return bool(stacking) and stacking[-1] == window


def active_window(display):
    out = display.run(["xprop", "-root", "_NET_ACTIVE_WINDOW"], check=False).stdout
    try:
        return int(out.split("#", 1)[1].split(",")[0].strip(), 16)
    except (IndexError, ValueError):
        return 0


def wait_for_keyboard_grab(display, logger, timeout=5.0):
    """Waits until keys no longer reach `logger`, the focused window: the locked client holds the
    keyboard again. The probe key (Shift alone) does nothing in the page."""
    def grabbed():
        logger.clear()
        display.xdotool("key", "shift")
        time.sleep(0.15)
        return not logger.keysyms()
    harness.wait_until(grabbed, timeout, 0, what="the keyboard grab back")
    logger.clear()


def send_keys(display, keys, pause=0.05):
    for key in keys:
        display.xdotool("key", key)
        time.sleep(pause)


RED = (255, 0, 0)


class Rival:
    """tests/desktop/rival: another program's window, pure red, reporting the clicks it gets;
    with raise_every_ms, an override-redirect window fighting for the top."""

    def __init__(self, display, name="rival", geometry="400x300+50+50", override_redirect=False,
                 raise_every_ms=0):
        args = [need_binary("rival"), "--name", name, "--geometry", geometry]
        if override_redirect:
            args.append("--override-redirect")
        if raise_every_ms:
            args += ["--raise-every", str(raise_every_ms)]
        self.display = display
        self.proc = subprocess.Popen(args, env=display.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)
        self.out = _Lines(self.proc.stdout)
        _, (_, line) = self.out.wait(lambda l: l.startswith("window "), 10, what="the rival")
        self.window = int(line.split()[1])
        harness.wait_until(lambda: "IsViewable" in display.run(
            ["xwininfo", "-id", str(self.window)], check=False).stdout, 10,
            what="the rival's window shown")

    def clicks(self):
        return [l for l in self.out.texts() if l.startswith("button ")]

    def stop_raising(self):
        self.proc.stdin.write("stop\n")
        self.proc.stdin.flush()

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(5)
        self.proc.stdin.close()
        self.proc.stdout.close()


def cpu_seconds(pid):
    """User plus system CPU time of process `pid` (all its threads) so far, in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class AboveWatch:
    """Samples, on a thread, whether `window` is shown above `exam` in the X server's stacking
    order: one request a look (the root's children; the two windows' places among them were
    found when the watch started), about every millisecond, far more often than a fighter
    raises itself. A stretch above is counted from the first sample that saw it to the last one."""

    def __init__(self, display, window, exam):
        self.view = XView(display)
        self.window, self.exam = self.view.toplevel(window), self.view.toplevel(exam)
        if not self.window or not self.exam:
            raise RuntimeError("the windows to watch are not shown")
        self.samples = []  # (time, above)
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while not self.stopping.is_set():
            order = self.view._tree(self.view.root)[1]
            if self.window in order and self.exam in order:
                above = order.index(self.window) > order.index(self.exam)
                self.samples.append((time.monotonic(), above))
            time.sleep(0.001)

    def stop(self):
        self.stopping.set()
        self.thread.join(5)
        self.view.close()

    def longest_above(self, since=0.0, until=float("inf")):
        """The longest stretch above within [since, until], in seconds."""
        longest, start, last = 0.0, None, None
        for t, above in self.samples:
            if t < since or t > until:
                continue
            if above:
                start = t if start is None else start
                last = t
                longest = max(longest, last - start)
            else:
                start = None
        return longest

    def below_for_good_since(self, after):
        """The first time after `after` from which every sample saw the window below."""
        below = None
        for t, above in self.samples:
            if t < after:
                continue
            if above:
                below = None
            elif below is None:
                below = t
        return below


class Fight:
    """A shell loop run against `window`, every 10 ms, until stopped: the loop a program that
    fights for the top runs (`state` is the _NET_WM_STATE it keeps adding)."""

    def __init__(self, display, window, state="above"):
        script = (f"while :; do wmctrl -i -r {window} -b add,{state}; "
                  f"xdotool windowraise {window}; xdotool windowactivate {window}; "
                  "sleep 0.01; done")
        self.proc = subprocess.Popen(["sh", "-c", script], env=display.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)

    def stop(self):
        with contextlib.suppress(ProcessLookupError):
            os.killpg(self.proc.pid, signal.SIGKILL)
        self.proc.wait(10)
        return time.monotonic()


def wait_quiet(pid, share=0.05, timeout=20.0):
    """Waits until process `pid` has used less than `share` of a core over half a second: the
    engine has settled after what came before (a lock resizes and repaints the whole page)."""
    def quiet():
        before = cpu_seconds(pid)
        time.sleep(0.5)
        return (cpu_seconds(pid) - before) / 0.5 < share
    harness.wait_until(quiet, timeout, 0, what=f"process {pid} to settle")
