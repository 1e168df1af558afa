"""A dead, hung or failed page never traps a candidate: a killed renderer is reloaded (and the
window stays locked), with a growing pause when it keeps dying; a renderer that stops answering is
ended and reloaded the same way, while a page waiting for a dialog or a slow server is left alone;
F5 and Ctrl+R reload unless the page keeps the key or config.ini turns them off; the error page
offers a Reload button, and while locked a network failure heals by itself once the server is back,
while an HTTP error or a TLS failure is left alone."""

import contextlib
import json
import os
import signal
import socket
import threading
import time
import unittest

from harness import Client, Display, TestServer, wait_until
from lockhelpers import KeyLogger, exam_page, send_keys

MAXIMIZED = {"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"}
ABOVE = "_NET_WM_STATE_ABOVE"
FULLSCREEN = "_NET_WM_STATE_FULLSCREEN"


def locked(state):
    """The window state of a locked client: the whole screen (or above and maximised)."""
    return FULLSCREEN in state or (ABOVE in state and MAXIMIZED <= state)
HEADING = "Failed to load URL http://127.0.0.1:%d/exam with error net::ERR_CONNECTION_REFUSED (-102)."


# What the page reports once loaded: where it is, and what the client recovered for it.
READY = ("{event:'ready',path:location.pathname,recovered:window.__vornRecovered?"
         "JSON.stringify(window.__vornRecovered):'none'}")


def keys_script(server):
    """The page reports the reload keys it sees (as a beacon, which the reload the key may start
    does not cancel), and keeps them while window.keepKeys is set."""
    return ("document.addEventListener('keydown',function(e){"
            "if(e.key==='F5'||(e.ctrlKey&&(e.key==='r'||e.key==='R'))){"
            f"navigator.sendBeacon('{server.origin}/report?event=key&key='+"
            "encodeURIComponent(e.key)+'&kept='+!!window.keepKeys);"
            "if(window.keepKeys)e.preventDefault()}});")

# Runs in the page: says so, then hangs its renderer for good.
HANG = "report({event:'hanging'});setTimeout(function(){while(true){}},200)"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Page:
    """A client on its exam page, with the helpers the tests share."""

    def __init__(self, test, config="", lock=False, logger=False):
        self.display = Display().__enter__()
        test.addCleanup(self.display.__exit__)
        self.server = TestServer().__enter__()
        test.addCleanup(self.server.__exit__)
        self.server.add_page("/exam", exam_page(self.server, READY, keys_script(self.server)))
        self.logger = KeyLogger(self.display) if logger else None
        if self.logger:
            test.addCleanup(self.logger.close)
        self.client = Client(self.display,
                             config=f"[Config]\nUrl={self.server.origin}/exam\n{config}").start()
        test.addCleanup(self.client.stop)
        self.window = self.client.wait_for_window()
        self.wait_ready(0, 60)
        if lock:
            self.server.run_in_page("LockApp('1')")
            self.wait_state(locked, "the locked window state")

    def ready(self):
        return self.server.reports_matching(lambda r: r.get("event") == "ready")

    def wait_ready(self, seen, timeout=10):
        return wait_until(lambda: self.ready()[seen] if len(self.ready()) > seen else None,
                          timeout, what="the exam page to report ready")

    def settle(self, quiet=3.0):
        """Waits until no page has reported ready for `quiet` seconds."""
        while True:
            count = len(self.ready())
            time.sleep(quiet)
            if len(self.ready()) == count:
                return

    def wait_state(self, predicate, what):
        return wait_until(lambda: predicate(self.display.net_wm_state(self.window)), 10, what=what)

    def page_text(self):
        return self.display.page_text()

    def reports(self, event):
        return self.server.reports_matching(lambda r: r.get("event") == event)

    def run_and_wait(self, script, event, timeout=10):
        """Runs `script` in the page and waits for the report `event` it sends."""
        count = len(self.reports(event))
        self.server.run_in_page(script)
        wait_until(lambda: len(self.reports(event)) > count, timeout, what=f"the page's {event}")

    def wait_recovered(self, seen, timeout):
        """The first report of a page loaded after a recovery, past the first `seen` ones."""
        return wait_until(lambda: next((r for r in self.ready()[seen:]
                                        if r["recovered"] != "none"), None),
                          timeout, what="the page back after its recovery")

    def kill_renderers(self):
        pids = self.client.renderer_pids()
        assert pids, "the client has a renderer"
        # The page's renderer cannot be told from a spare one outside; both die.
        for pid in pids:
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)


class KilledRenderer(unittest.TestCase):
    def test_locked_page_comes_back_after_each_kill_and_stays_locked(self):
        page = Page(self, lock=True, logger=True)
        for round_ in range(2):
            seen = len(page.ready())
            pids = page.client.renderer_pids()
            self.assertTrue(pids, "the client has a renderer")
            # The page's renderer cannot be told from a spare one outside; both die. A load
            # that went to the spare dies with it and is retried after the first pause.
            for pid in pids:
                os.kill(pid, signal.SIGKILL)
            report = wait_until(lambda: next((r for r in page.ready()[seen:]
                                              if r["recovered"] != "none"), None),
                                10, what="the page back after the kill")
            page.settle()
            recovered = json.loads(report["recovered"])
            self.assertEqual(recovered["reason"], "killed", round_)
            self.assertIsInstance(recovered["exitCode"], int)
            self.assertLess(abs(recovered["at"] / 1000 - time.time()), 30)
            page.wait_state(locked, "still locked")
        self.assertIn("ended abnormally (killed", page.client.output())
        # The candidate goes on typing; another window still gets no key.
        page.display.xdotool("windowactivate", "--sync", str(page.window))
        page.display.xdotool("type", "--delay", "50", "ab")
        wait_until(lambda: any(r.get("value") == "ab" for r in page.server.reports_matching(
            lambda r: r.get("event") == "typed")), 10, what="typing in the reloaded page")
        page.logger.focus()
        page.logger.clear()
        send_keys(page.display, ["alt+Tab", "super", "x"])
        time.sleep(0.3)
        self.assertEqual(page.logger.keysyms(), [])
        # F5 reloads, also while locked; a document that follows no recovery is told nothing.
        seen = len(page.ready())
        page.display.xdotool("windowactivate", "--sync", str(page.window))
        page.display.xdotool("key", "F5")
        self.assertEqual(page.wait_ready(seen)["recovered"], "none")
        seen = len(page.ready())
        page.display.xdotool("key", "ctrl+r")
        page.wait_ready(seen)


class RepeatedDeaths(unittest.TestCase):
    def test_the_pause_grows_while_the_renderer_keeps_dying_soon_after_each_load(self):
        page = Page(self, lock=True)
        started = time.monotonic()
        loads = []
        while time.monotonic() - started < 32:
            page.kill_renderers()
            seen = len(page.ready())
            try:
                wait_until(lambda: len(page.ready()) > seen, 32 - (time.monotonic() - started),
                           what="the next load")
            except TimeoutError:
                break
            loads.append(time.monotonic() - started)
            time.sleep(0.3)
        gaps = [b - a for a, b in zip(loads, loads[1:])]
        # At once, then after 2, 4 and 8 s (and the load's own time): four or five loads, not a
        # dozen at the first pause each.
        self.assertLessEqual(len(loads), 6, f"loads at {loads}")
        self.assertGreaterEqual(max(gaps, default=0), 7, f"loads at {loads}")
        self.assertEqual(gaps, sorted(gaps), f"the pauses grow: loads at {loads}")
        page.wait_state(locked, "still locked")


class HungPage(unittest.TestCase):
    def test_a_hung_page_is_ended_and_loaded_again_also_at_once_by_f5(self):
        page = Page(self, lock=True)
        seen = len(page.ready())
        page.run_and_wait(HANG, "hanging")
        hung = time.monotonic()
        report = page.wait_recovered(seen, 40)
        took = time.monotonic() - hung
        self.assertEqual(json.loads(report["recovered"])["reason"], "unresponsive")
        self.assertGreater(took, 5, "the renderer had a few seconds to answer")
        self.assertLess(took, 25)
        self.assertIn("has not answered for", page.client.output())
        page.wait_state(locked, "still locked")

        # Hung again: F5 does not wait for the watchdog. Dying again this soon, the page is back
        # after the first pause of 2 s.
        page.settle()
        seen = len(page.ready())
        page.run_and_wait(HANG, "hanging")
        time.sleep(1)
        page.display.xdotool("key", "F5")
        pressed = time.monotonic()
        report = page.wait_recovered(seen, 20)
        self.assertLess(time.monotonic() - pressed, 8)
        self.assertEqual(json.loads(report["recovered"])["reason"], "unresponsive")
        page.wait_state(locked, "still locked")


class WaitingPage(unittest.TestCase):
    def test_a_page_in_a_dialog_or_on_a_slow_load_is_not_ended(self):
        page = Page(self)
        # An alert holds the renderer until the candidate answers it, longer than the watchdog
        # would wait for an answer.
        page.run_and_wait("report({event:'alerting'});alert('wait');report({event:'alerted'})",
                          "alerting")
        dialog = page.display.wait_for_window("Javascript Alert", 10)
        time.sleep(14)
        page.display.xdotool("windowactivate", "--sync", str(dialog))
        page.display.xdotool("key", "Return")
        wait_until(lambda: page.reports("alerted"), 10, what="the page going on after the alert")

        # A page whose server sends it bit by bit, for longer than the watchdog's wait.
        def slow(handler, parsed, query):
            head = ("<!doctype html><html><head><script>" + page.server.report_snippet() +
                    "report({event:'slow-start'})</script></head><body>")
            handler.send_response(200)
            handler.send_header("Content-Type", "text/html; charset=utf-8")
            handler.send_header("Cache-Control", "no-store")
            handler.send_header("Connection", "close")
            handler.end_headers()
            handler.wfile.write(head.encode())
            for _ in range(14):
                time.sleep(1)
                handler.wfile.write(b"<p>more</p>" + b" " * 2048)
                handler.wfile.flush()
            handler.wfile.write(f"<script>report({READY})</script></body></html>".encode())
            handler.close_connection = True
            return None

        page.server.routes["/slow"] = slow
        page.server.run_in_page(f"location.href='{page.server.origin}/slow'")
        wait_until(lambda: any(r["path"] == "/slow" for r in page.ready()), 40,
                   what="the slow page loaded")
        self.assertEqual(len(page.ready()), 2)
        self.assertTrue(all(r["recovered"] == "none" for r in page.ready()))
        self.assertNotIn("has not answered for", page.client.output())


class ReloadKeys(unittest.TestCase):
    def test_the_page_sees_the_reload_keys_first_and_may_keep_them(self):
        page = Page(self, lock=True)
        page.run_and_wait("window.keepKeys=true;report({event:'keeping'})", "keeping")
        page.display.xdotool("windowactivate", "--sync", str(page.window))
        # Activated again, the page has its focus back a moment later; a key before that reaches
        # no element of the page and passes.
        time.sleep(1)
        page.display.xdotool("key", "F5")
        page.display.xdotool("key", "ctrl+r")
        wait_until(lambda: len(page.reports("key")) >= 2, 10, what="the page seeing both keys")
        time.sleep(3)
        self.assertEqual(len(page.ready()), 1, "a page that kept the keys is not reloaded")
        self.assertEqual([r["kept"] for r in page.reports("key")], ["true", "true"])
        # Let pass, the same keys reload; the page saw them first.
        page.run_and_wait("window.keepKeys=false;report({event:'passing'})", "passing")
        page.display.xdotool("key", "F5")
        page.wait_ready(1)
        wait_until(lambda: len(page.reports("key")) >= 3, 10, what="the page seeing the key")
        self.assertEqual(page.reports("key")[-1]["kept"], "false")


class FailedLoads(unittest.TestCase):
    def test_unreachable_server_heals_by_itself_while_locked(self):
        page = Page(self, lock=True)
        port = free_port()
        page.server.run_in_page(f"location.href='http://127.0.0.1:{port}/exam'")
        wait_until(lambda: HEADING % port in page.page_text(), 20, what="the error page")
        # The server comes up after the first retries; the page loads without anyone touching it.
        time.sleep(3)
        later = TestServer(port).__enter__()
        self.addCleanup(later.__exit__)
        later.add_page("/exam", exam_page(later, READY))
        started = time.monotonic()
        later.wait_for_report(lambda r: r.get("event") == "ready", 20, what="the healed page")
        self.assertLess(time.monotonic() - started, 17)
        self.assertTrue(locked(page.display.net_wm_state(page.window)))

    def test_http_error_and_tls_failure_are_not_retried(self):
        page = Page(self, lock=True)
        # The service's own 404 page, which stays as it is.
        page.server.add_page("/missing", "<h1>no such page</h1><script>" +
                             page.server.control_snippet() + "</script>", status=404)
        page.server.run_in_page(f"location.href='{page.server.origin}/missing'")
        wait_until(lambda: "/missing" in page.server.paths_requested(), 10, what="the 404")
        time.sleep(5)
        self.assertEqual(page.server.paths_requested().count("/missing"), 1)

        # A server that answers TLS with plain text: the handshake fails.
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(8)
        accepted = []

        def serve():
            while True:
                try:
                    conn, _ = listener.accept()
                except OSError:
                    return
                accepted.append(time.monotonic())
                conn.sendall(b"HTTP/1.0 200 OK\r\n\r\nnot tls")
                conn.close()

        threading.Thread(target=serve, daemon=True).start()
        self.addCleanup(listener.close)
        port = listener.getsockname()[1]
        page.server.run_in_page(f"location.href='https://127.0.0.1:{port}/exam'")
        wait_until(lambda: f"Failed to load URL https://127.0.0.1:{port}/exam" in page.page_text(),
                   20, what="the TLS error page")
        settled = len(accepted)
        time.sleep(5)
        self.assertEqual(len(accepted), settled)


class FrameErrors(unittest.TestCase):
    def frame_text(self, page):
        """The text a person copies from the frame, which covers the top of the page."""
        return page.display.page_text(400, 300)

    def test_a_frame_that_cannot_load_shows_the_error_and_its_reload_button(self):
        page = Page(self)
        port = free_port()
        s = page.server
        s.add_page("/gone", "<p>server says gone</p>", status=404)
        s.add_page("/framed", "<!doctype html><html><head><script>" + s.control_snippet() +
                   "</script></head><body style='margin:0'>"
                   f"<iframe src='http://127.0.0.1:{port}/inner' style='position:absolute;"
                   "left:0;top:0;width:100%;height:600px;border:0'></iframe>"
                   f"<iframe id='gone' src='{s.origin}/gone' style='position:absolute;"
                   "left:0;top:620px;width:100%;height:100px;border:0'></iframe>"
                   "</body></html>")
        s.run_in_page(f"location.href='{s.origin}/framed'")
        heading = (f"Failed to load URL http://127.0.0.1:{port}/inner with error "
                   "net::ERR_CONNECTION_REFUSED (-102).")
        wait_until(lambda: heading in self.frame_text(page), 20, what="the error in the frame")
        text = self.frame_text(page)
        self.assertIn("Reload", text)
        self.assertNotIn("server says gone", text)
        # A 404 with a body still shows the server's own page in its frame.
        self.assertIn("server says gone", page.display.page_text(400, 660))

        # The server comes up; the button in the frame loads it there, the page stays.
        later = TestServer(port).__enter__()
        self.addCleanup(later.__exit__)
        later.add_page("/inner", "<p>inner page here</p>")
        page.display.xdotool("mousemove", "400", "300", "click", "1")
        page.display.xdotool("key", "Tab", "Return")
        wait_until(lambda: "inner page here" in self.frame_text(page), 20,
                   what="the frame loaded by its Reload button")
        self.assertEqual(page.server.paths_requested().count("/framed"), 1)

    def test_an_empty_http_error_page_stays_empty(self):
        page = Page(self)
        page.server.add_page("/empty", "", status=404)
        page.server.run_in_page(f"location.href='{page.server.origin}/empty'")
        wait_until(lambda: "/empty" in page.server.paths_requested(), 10, what="the 404")
        time.sleep(2)
        self.assertEqual(page.page_text().strip(), "")


class ReloadKeysOff(unittest.TestCase):
    def test_reload_keys_off_and_the_reload_button(self):
        page = Page(self, config="AllowReload=0\n")
        page.display.xdotool("windowactivate", "--sync", str(page.window))
        time.sleep(1)
        page.display.xdotool("key", "F5")
        page.display.xdotool("key", "ctrl+r")
        time.sleep(3)
        self.assertEqual(len(page.ready()), 1)
        # The page still gets the keys for its own use.
        self.assertEqual(len(page.reports("key")), 2)
        # Unlocked, a failed load waits for the candidate: the Reload button under the heading.
        port = free_port()
        page.server.run_in_page(f"location.href='http://127.0.0.1:{port}/exam'")
        wait_until(lambda: HEADING % port in page.page_text(), 20, what="the error page")
        later = TestServer(port).__enter__()
        self.addCleanup(later.__exit__)
        later.add_page("/exam", exam_page(later, READY))
        time.sleep(5)
        self.assertEqual(later.paths_requested(), [])
        page.display.xdotool("key", "Tab", "Return")
        later.wait_for_report(lambda r: r.get("event") == "ready", 20, what="the reloaded page")


if __name__ == "__main__":
    unittest.main()
