"""A dead or failed page never traps a candidate: a killed renderer is reloaded (and the window
stays locked), F5 and Ctrl+R reload unless config.ini turns them off, the error page offers a
Reload button, and while locked a network failure heals by itself once the server is back, while
an HTTP error or a TLS failure is left alone."""

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
        self.server.add_page("/exam", exam_page(self.server, READY))
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
        page.display.xdotool("key", "F5")
        page.display.xdotool("key", "ctrl+r")
        time.sleep(3)
        self.assertEqual(len(page.ready()), 1)
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
