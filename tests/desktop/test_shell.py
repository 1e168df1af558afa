"""The shell around the page: engine settings nobody can change from outside, the engine cache,
the URL-scheme registration on every start, the skin fallbacks, accepted certificate errors,
the external-protocol allow-list and downloads through the save dialog."""

import os
import shutil
import socket
import ssl
import stat
import subprocess
import tempfile
import threading
import time
import unittest
import http.server

from harness import Client, Display, TestServer, wait_until
from lockhelpers import XView

TITLE_BAR = (0x6C, 0x9D, 0xF7)


def pixel(display, x, y):
    out = display.run(["import", "-window", "root", "-crop", f"1x1+{x}+{y}", "-depth", "8",
                       "txt:-"]).stdout
    # "# ImageMagick pixel enumeration: ..." then "0,0: (108,157,247)  #6C9DF7  srgb(...)"
    hexcolour = out.splitlines()[1].split("#")[1][:6]
    return tuple(int(hexcolour[i:i + 2], 16) for i in (0, 2, 4))


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def port_open(port):
    with socket.socket() as s:
        s.settimeout(0.5)
        return s.connect_ex(("127.0.0.1", port)) == 0


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def ready_page(server, body=""):
    return ("<!doctype html><html><head><meta charset='utf-8'><script>" + server.control_snippet() +
            "report({event:'ready',proto:location.protocol})</script></head><body>" + body +
            "</body></html>")


class Engine(unittest.TestCase):
    def test_no_debugging_port_whatever_the_environment_and_arguments_say(self):
        ports = [free_port() for _ in range(3)]
        with Display() as d, TestServer() as s:
            s.add_page("/p", ready_page(s))
            env = {"QTWEBENGINE_REMOTE_DEBUGGING": str(ports[0]),
                   "QTWEBENGINE_CHROMIUM_FLAGS": f"--remote-debugging-port={ports[1]}"}
            with Client(d, config=f"[Config]\nUrl={s.origin}/p\n", env=env,
                        args=[f"--remote-debugging-port={ports[2]}"]) as client:
                client.wait_for_window()
                s.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
                time.sleep(1)
                for port in ports:
                    self.assertFalse(port_open(port), port)
                # The engine's disk cache lives under the temporary folder's "caches".
                self.assertTrue(os.path.isdir(os.path.join(client.tmp, "caches")))
                # Every start refreshes the URL-scheme registration, without waiting for it.
                entry = os.path.join(client.env["XDG_DATA_HOME"], "applications", "vornapp.desktop")
                wait_until(lambda: os.path.exists(entry), 10, what="the desktop entry")


class Skin(unittest.TestCase):
    def title_bar_seen(self, display, window):
        g = display.geometry(window)
        return pixel(display, g["X"] + 300, g["Y"] + 20) == TITLE_BAR

    def test_missing_skin_folder_falls_back_to_the_built_in_skin(self):
        with Display() as d, TestServer() as s:
            s.add_page("/p", ready_page(s))
            with Client(d, config=f"[Config]\nUrl={s.origin}/p\n", copy_skin=False) as client:
                window = client.wait_for_window()
                s.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
                wait_until(lambda: self.title_bar_seen(d, window), 10, what="the title bar")
                self.assertIn("built into the client", client.output())

    def test_malformed_skin_is_reported_once_and_the_page_still_shows(self):
        with Display() as d, TestServer() as s:
            s.add_page("/p", ready_page(s))
            client = Client(d, config=f"[Config]\nUrl={s.origin}/p\n")
            main_xml = os.path.join(client.folder, "Skin", "CEFBrowser", "main.xml")
            with open(main_xml, "w", encoding="utf-8") as f:
                f.write("<?xml version='1.0'?>\n<Window size='1270,717'>\n  <VerticalLayout>\n"
                        "    <Label text='broken'\n</Window>\n")
            with client:
                client.wait_for_window()
                s.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
                log = client.output()
                lines = [l for l in log.splitlines() if "main.xml" in l and "line" in l.lower()]
                self.assertEqual(len(lines), 1, log)


class Certificates(unittest.TestCase):
    def test_a_self_signed_certificate_does_not_stop_the_page(self):
        folder = tempfile.mkdtemp(prefix="vorn-cert-")
        self.addCleanup(shutil.rmtree, folder, True)
        key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", cert, "-days", "1", "-subj", "/CN=wrong.example"],
                       check=True, capture_output=True)
        with Display() as d, TestServer() as s:
            s.add_page("/p", ready_page(s))

            class Redirect(http.server.BaseHTTPRequestHandler):
                def do_GET(self):
                    body = ready_page(s).encode()
                    self.send_response(200)
                    self.send_header("Content-Type", "text/html")
                    self.send_header("Content-Length", str(len(body)))
                    self.end_headers()
                    self.wfile.write(body)

                def log_message(self, *args):
                    pass

            httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Redirect)
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(cert, key)
            httpd.socket = context.wrap_socket(httpd.socket, server_side=True)
            threading.Thread(target=httpd.serve_forever, daemon=True).start()
            try:
                url = f"https://127.0.0.1:{httpd.server_address[1]}/p"
                with Client(d, config=f"[Config]\nUrl={url}\n") as client:
                    client.wait_for_window()
                    report = s.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
                    self.assertEqual(report["proto"], "https:")
            finally:
                httpd.shutdown()


class ExternalProtocols(unittest.TestCase):
    def test_only_the_allowed_schemes_reach_the_desktop(self):
        bin_dir = tempfile.mkdtemp(prefix="vorn-opener-")
        self.addCleanup(shutil.rmtree, bin_dir, True)
        record = os.path.join(bin_dir, "opened.txt")
        fake = os.path.join(bin_dir, "xdg-open")
        with open(fake, "w") as f:
            f.write(f"#!/bin/sh\necho \"$1\" >> {record}\n")
        os.chmod(fake, os.stat(fake).st_mode | stat.S_IEXEC)
        with Display() as d, TestServer() as s:
            s.add_page("/p", ready_page(s, "<iframe name='f'></iframe>"))
            env = {"PATH": bin_dir + os.pathsep + os.environ["PATH"]}
            with Client(d, config=f"[Config]\nUrl={s.origin}/p\n", env=env) as client:
                client.wait_for_window()
                s.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
                for url in ("mailto:someone@example.com", "vornapp://start", "ms-settings:x",
                            "spotify:track:1", "tencent://message/?uin=1", "aliim:sendmsg?x=1"):
                    s.run_in_page(f"location.href={url!r};")
                    # One link at a time: a link the page follows before the client has seen
                    # the one before would replace it.
                    wait_until(lambda: f'navigation QUrl("{url}")' in client.output(), 10,
                               what=f"the client deciding about {url}")
                wait_until(lambda: os.path.exists(record) and
                           len(read_bytes(record).split()) >= 3, 10, what="three opened links")
                time.sleep(1)
                with open(record) as f:
                    opened = f.read().split()
                self.assertEqual(opened, ["spotify:track:1", "tencent://message/?uin=1",
                                          "aliim:sendmsg?x=1"])
                # A refused link leaves the page as it was.
                s.run_in_page("report({event:'alive',proto:location.protocol})")
                s.wait_for_report(lambda r: r.get("event") == "alive")


class Downloads(unittest.TestCase):
    def save_through_the_dialog(self, lock):
        """Starts a download of paper-7.bin, checks the dialog proposes that name, saves through
        it by keyboard and returns the client window, the dialog, whether the dialog was shown
        above the window and the dialog's WM_TRANSIENT_FOR, as they were while it was open."""
        d = Display().__enter__()
        self.addCleanup(d.__exit__)
        s = TestServer().__enter__()
        self.addCleanup(s.__exit__)
        s.add_page("/p", ready_page(s))

        def attachment(handler, parsed, query):
            handler._send(200, b"exam material", "application/octet-stream",
                          headers={"Content-Disposition": "attachment; filename=\"paper-7.bin\""})
            return None

        s.routes["/paper"] = attachment
        client = Client(d, config=f"[Config]\nUrl={s.origin}/p\n").start()
        self.addCleanup(client.stop)
        window = client.wait_for_window()
        s.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
        if lock:
            s.run_in_page("LockApp('1')")
            wait_until(lambda: {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_FULLSCREEN"} &
                       d.net_wm_state(window), 10, what="the locked window state")
        before = set(d.find_windows(""))
        s.run_in_page(f"location.href='{s.origin}/paper'")

        def dialogs():
            return [w for w in d.find_windows("") if w not in before and
                    d.run(["xdotool", "getwindowname", str(w)], check=False).stdout.strip()
                    not in ("", "CEFBrowser")]
        dialog = wait_until(dialogs, 20, what="the save dialog")[0]
        target = os.path.join(client.home, "saved.bin")
        # The file name field has the focus and holds the suggested name.
        time.sleep(0.5)
        d.xdotool("key", "ctrl+a", "ctrl+c")
        proposed = wait_until(lambda: d.run(["xclip", "-o", "-selection", "clipboard"],
                                            check=False).stdout, 10, what="the name")
        self.assertTrue(proposed.strip().endswith("paper-7.bin"), proposed)
        # The X server's own stacking order: a locked window may be one the window manager does
        # not manage, absent from the manager's list.
        view = XView(d)
        dialog_above = view.above(dialog, window)
        view.close()
        transient_for = d.prop(dialog, "WM_TRANSIENT_FOR").lower()
        d.xdotool("key", "ctrl+a")
        d.xdotool("type", target)
        d.xdotool("key", "Return")
        wait_until(lambda: os.path.exists(target) and read_bytes(target) == b"exam material", 20,
                   what="the saved download")
        return window, dialog, dialog_above, transient_for

    def test_a_download_asks_where_to_save_with_the_suggested_name(self):
        self.save_through_the_dialog(lock=False)

    def test_the_save_dialog_belongs_to_the_locked_window_and_stays_above_it(self):
        window, dialog, dialog_above, transient_for = self.save_through_the_dialog(lock=True)
        self.assertIn(f"window id # 0x{window:x}", transient_for)
        # The dialog was above the locked window when the keys that saved the file were typed.
        self.assertTrue(dialog_above)


if __name__ == "__main__":
    unittest.main()
