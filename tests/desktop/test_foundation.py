"""The client starts, shows its skinned window maximised with the exam page, follows config.ini,
keeps pop-ups in the same window, shows its own error page, runs once, registers its URL scheme
and ends with exit code 0 when closed."""

import os
import socket
import subprocess
import time
import unittest

from harness import ARTIFACTS, Client, Display, TestServer, processes_of, wait_until

MAXIMIZED = {"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"}


def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def page(server, body, title="test"):
    return (f"<!doctype html><html><head><meta charset='utf-8'><title>{title}</title>"
            f"<script>{server.report_snippet()}</script></head><body>{body}</body></html>")


class Foundation(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = Display(window_manager=True).__enter__()
        cls.server = TestServer().__enter__()
        s = cls.server
        s.add_page("/start", page(s, "<h1>start</h1><script>" + s.control_snippet() + "report({event:'start',"
                                     "fns:typeof LockApp+typeof GetVCamList,width:innerWidth});"
                                     "window.addEventListener('load',function(){"
                                     "report({event:'load',width:innerWidth})});"
                                     "</script>"))
        s.add_page("/second", page(s, "<script>report({event:'second',"
                                      "fns:typeof LockApp})</script>"))
        cls.client = Client(cls.display, config=f"[Config]\nUrl={s.origin}/start\n").start()
        cls.window = cls.client.wait_for_window()

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.server.__exit__()
        cls.display.__exit__()

    def test_1_window_is_maximised_with_title_and_page(self):
        d, w = self.display, self.window
        wait_until(lambda: MAXIMIZED <= d.net_wm_state(w), what="maximised")
        self.assertIn('"CEFBrowser"', d.prop(w, "WM_NAME"))
        self.assertEqual(len(d.find_windows("^CEFBrowser$")), 1)
        # Config.ini's Url is the start page, and the bridge exists before the page's scripts.
        report = self.server.wait_for_report(lambda r: r.get("event") == "start")
        self.assertEqual(report["fns"], "functionfunction")
        loaded = self.server.wait_for_report(lambda r: r.get("event") == "load")
        geometry = d.geometry(w)
        self.assertGreaterEqual(geometry["WIDTH"], 1270)
        # The page is laid out at the maximised window's width from its first script on.
        self.assertEqual(report["width"], loaded["width"])
        self.assertGreater(int(loaded["width"]), 1270)  # wider than the restored window
        time.sleep(1)
        d.screenshot(os.path.join(ARTIFACTS, "window.png"))

    def test_2_restore_and_maximise_buttons_toggle(self):
        d, w = self.display, self.window
        wait_until(lambda: MAXIMIZED <= d.net_wm_state(w), what="maximised")
        g = d.geometry(w)
        # Title bar buttons, right to left: close, restore (or maximise), minimise; 30 px each.
        middle_x, y = g["X"] + g["WIDTH"] - 1 - 45, g["Y"] + 15
        d.xdotool("mousemove", str(middle_x), str(y), "click", "1")
        wait_until(lambda: not (MAXIMIZED & d.net_wm_state(w)), what="restored")

        def at_skin_size():
            g = d.geometry(w)
            return g if (g["WIDTH"], g["HEIGHT"]) == (1270, 717) else None

        # The skin's size, though the window was never shown at that size.
        g = wait_until(at_skin_size, 10, what="the skin's size, 1270x717")
        d.xdotool("mousemove", str(g["X"] + g["WIDTH"] - 1 - 45), str(g["Y"] + 15), "click", "1")
        wait_until(lambda: MAXIMIZED <= d.net_wm_state(w), what="maximised again")

    def test_3_window_open_loads_in_the_same_window(self):
        self.server.run_in_page("window.open('%s/second', '_blank')" % self.server.origin)
        report = self.server.wait_for_report(lambda r: r.get("event") == "second")
        self.assertEqual(report["fns"], "function")
        time.sleep(0.5)
        self.assertEqual(len(self.display.find_windows("^CEFBrowser$")), 1)


class SecondInstanceAndClose(unittest.TestCase):
    def test_second_instance_exits_at_once_and_close_button_ends_with_0(self):
        with Display() as d, TestServer() as s:
            s.add_page("/p", page(s, "<script>report({event:'up'})</script>"))
            with Client(d, config=f"[Config]\nUrl={s.origin}/p\n") as first:
                window = first.wait_for_window()
                s.wait_for_report(lambda r: r.get("event") == "up")
                second = subprocess.Popen([first.exe], env=first.env, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL)
                started = time.monotonic()
                self.assertEqual(second.wait(5), 0)
                self.assertLess(time.monotonic() - started, 2.0)
                self.assertIsNone(first.proc.poll())
                self.assertEqual(len(d.find_windows("^CEFBrowser$")), 1)

                wait_until(lambda: MAXIMIZED <= d.net_wm_state(window), what="maximised")
                g = d.geometry(window)
                d.xdotool("mousemove", str(g["X"] + g["WIDTH"] - 1 - 15), str(g["Y"] + 15),
                          "click", "1")
                self.assertEqual(first.wait_exit(20), 0)


class ErrorPage(unittest.TestCase):
    def test_failed_load_shows_the_heading_with_the_escaped_url(self):
        with Display() as d, TestServer() as s:
            port = closed_port()
            # Were the URL written into the page unescaped, the image's handler would report.
            payload = f"<img src=x onerror=\"report({{event:'injected'}})\">"
            s.add_page("/r.js", s.report_snippet(), "text/javascript")
            url = f"http://127.0.0.1:{port}/<script src='{s.origin}/r.js'></script>{payload}"
            with Client(d, config=f"[Config]\nUrl={url}\n") as client:
                window = client.wait_for_window()
                time.sleep(4)
                d.xdotool("windowactivate", "--sync", str(window), check=False)
                text = wait_until(d.page_text, 10, what="the page's text")
                self.assertIn("Failed to load URL http://127.0.0.1:%d/" % port, text)
                # The engine hands the URL over percent-encoded; it reaches the page as text.
                self.assertIn("script src='%s/r.js'" % s.origin, text)
                self.assertIn("(-102).", text)
                self.assertEqual(s.reports_matching(lambda r: r.get("event") == "injected"), [])
                self.assertNotIn("/r.js", s.paths_requested())


class StartAddress(unittest.TestCase):
    def test_an_address_without_scheme_loads_as_typed(self):
        with Display() as d, TestServer() as s:
            s.add_page("/p", page(s, "<script>report({event:'up',href:location.href})</script>"))
            with Client(d, config=f"[Config]\nUrl=127.0.0.1:{s.port}/p\n") as client:
                client.wait_for_window()
                report = s.wait_for_report(lambda r: r.get("event") == "up", timeout=60)
                self.assertEqual(report["href"], f"{s.origin}/p")

    def test_text_that_names_no_address_gives_the_error_page_and_a_log_line(self):
        with Display() as d:
            with Client(d, config="[Config]\nUrl=exam school\n") as client:
                window = client.wait_for_window()
                time.sleep(4)
                d.xdotool("windowactivate", "--sync", str(window), check=False)
                text = wait_until(d.page_text, 10, what="the page's text")
                self.assertIn("Failed to load URL exam school with error net::ERR_INVALID_URL "
                              "(-300).", text)
                self.assertIn('The start address "exam school" in config.ini', client.output())


class Registration(unittest.TestCase):
    def test_createprotocol_writes_the_desktop_entry_and_exits_without_a_window(self):
        with Display() as d:
            client = Client(d, args=["/CreateProtocol"])
            client.start()
            self.assertEqual(client.wait_exit(20), 0)
            self.assertEqual(d.find_windows("^CEFBrowser$"), [])
            entry = os.path.join(client.env["XDG_DATA_HOME"], "applications", "vornapp.desktop")
            with open(entry, encoding="utf-8") as f:
                self.assertIn(f'Exec={client.exe} %u\n', f.read())
            env_query = subprocess.run(["xdg-mime", "query", "default", "x-scheme-handler/vornapp"],
                                       env=client.env, capture_output=True, text=True)
            self.assertEqual(env_query.stdout.strip(), "vornapp.desktop")
            client.remove()

    def test_a_start_rewrites_the_registration_only_when_it_differs(self):
        def read(path):
            with open(path, encoding="utf-8") as f:
                return f.read()

        with Display() as d:
            client = Client(d)
            entry = os.path.join(client.env["XDG_DATA_HOME"], "applications", "vornapp.desktop")
            mime_apps = os.path.join(client.env["XDG_CONFIG_HOME"], "mimeapps.list")
            os.makedirs(os.path.dirname(entry))
            os.makedirs(os.path.dirname(mime_apps))
            # What the client wrote before its folder was moved.
            with open(entry, "w", encoding="utf-8") as f:
                f.write("[Desktop Entry]\nType=Application\nName=vornapp protocol\n"
                        "Exec=/old/folder/vornclient %u\nNoDisplay=true\nTerminal=false\n"
                        "MimeType=x-scheme-handler/vornapp;\n")
            with open(mime_apps, "w", encoding="utf-8") as f:
                f.write("[Default Applications]\nx-scheme-handler/vornapp=vornapp.desktop\n")
            try:
                client.start()
                client.wait_for_window()
                wait_until(lambda: f"Exec={client.exe} %u\n" in read(entry), 20,
                           what="the entry rewritten for the moved client")
                client.stop()
                wait_until(lambda: not [argv for _, argv in processes_of(client.exe)
                                        if argv[1:2] == ["/createprotocol"]], 20,
                           what="the registration run's end")
                written = [os.stat(p).st_ino for p in (entry, mime_apps)]
                client.start()
                client.wait_for_window()
                wait_until(lambda: "registration is current" in client.output(), 20,
                           what="the registration found current")
                time.sleep(1)
                # Every write replaces the file: the same inode means nothing was written.
                self.assertEqual([os.stat(p).st_ino for p in (entry, mime_apps)], written)
            finally:
                client.remove()


if __name__ == "__main__":
    unittest.main()
