"""What the exam service can check about the client: every HTTP request of the page carries
X-Vorn-Request-Hash signed with the key that `vornclient --request-key` prints, and
GetClientInfo() reports the client and its environment, answered in the main frame."""

import hashlib
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import SOURCE_DIR, Client, Display, TestServer, wait_until

HEADER = "x-vorn-request-hash"
KEYS = ["version", "platform", "lockAvailable", "locked", "displays", "virtualMachine",
        "remoteSession", "screenCapture", "requestKey"]


def expected_hash(origin, target, key):
    return hashlib.sha256((origin + target + key).encode("utf-8")).hexdigest()


def print_request_key(client):
    result = subprocess.run([client.exe, "--request-key"], env=client.env, cwd=client.root,
                            capture_output=True, text=True, timeout=30)
    return result.returncode, result.stdout


def systemd_vm_name():
    """This machine's hypervisor as systemd-detect-virt --vm names it, in the client's names."""
    tool = shutil.which("systemd-detect-virt")
    if tool is None:
        raise unittest.SkipTest("systemd-detect-virt is not installed (scripts/setup.sh adds it)")
    name = subprocess.run([tool, "--vm"], capture_output=True, text=True).stdout.strip()
    return {"none": "", "oracle": "virtualbox", "microsoft": "hyperv"}.get(name, name)


def redirect_to(location):
    def route(handler, parsed, query):
        handler.send_response(302)
        handler.send_header("Location", location)
        handler.send_header("Access-Control-Allow-Origin", "*")
        handler.send_header("Content-Length", "0")
        handler.end_headers()
        return None
    return route


class SignedRequestsAndClientInfo(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = Display().__enter__()
        cls.main = TestServer().__enter__()
        cls.other = TestServer().__enter__()  # another origin for the iframe and a redirect
        m, o = cls.main, cls.other
        answer = ("function OnClientInfo(t){report({event:'info',text:t,"
                  "frame:(window===top?'main':'sub')})}")
        m.add_page("/signed", (
            "<!doctype html><html><head><meta charset='utf-8'><script>" + m.report_snippet() +
            "report({event:'early',frame:'main',fn:typeof GetClientInfo});" + answer +
            "</script></head><body><h1>signed</h1>"
            f"<iframe src='{o.origin}/frame'></iframe><img src='/img.png?i=1'>"
            "<script>fetch('/fetched?f=1').then(function(r){report({event:'fetched'})});"
            "var x=new XMLHttpRequest();x.open('GET','/xhr?x=%20a~b',true);"
            "x.onload=function(){report({event:'xhr'})};x.send();" + m.control_snippet() +
            "</script></body></html>"))
        o.add_page("/frame", (
            "<!doctype html><html><head><script>" + m.report_snippet() + answer +
            "report({event:'early',frame:'sub',fn:typeof GetClientInfo});"
            "report({event:'frame'})</script></head><body>frame<script>" + o.control_snippet() +
            "</script></body></html>"))
        m.add_page("/img.png", b"\x89PNG\r\n\x1a\n", "image/png")
        m.add_page("/fetched", "fetched", "text/plain")
        m.add_page("/xhr", "xhr", "text/plain")
        m.routes["/hop"] = redirect_to(f"{o.origin}/landed?after=hop")
        o.add_page("/landed", "landed", "text/plain")
        m.routes["/modelVer.json"] = (200, json.dumps({"modelVer": -5, "downloadUrl": ""}),
                                      "application/json")
        cls.client = Client(cls.display, config=f"[Config]\nUrl={m.origin}/signed?exam=1#top\n",
                            env={"VORN_HTTP_RESOURCE_HOST": f"127.0.0.1:{m.port}"})
        code, out = print_request_key(cls.client)
        cls.key_printed = (code, out)
        cls.key = out.strip()
        cls.client.start()
        cls.client.wait_for_window()
        for event in ("frame", "fetched", "xhr"):
            m.wait_for_report(lambda r, e=event: r.get("event") == e, timeout=60)

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        for s in (cls.other, cls.main):
            s.__exit__()
        cls.display.__exit__()

    def assert_signed(self, server, target):
        received = wait_until(lambda: server.received_matching(lambda t: t == target), 20,
                              what=f"a request of {target}")
        for method, sent, headers in received:
            self.assertEqual(headers.get(HEADER), expected_hash(server.origin, sent, self.key),
                             f"{method} {sent}")

    def client_info(self, caller):
        start = len(self.main.reports_matching(lambda r: r.get("event") == "info"))
        caller.run_in_page("GetClientInfo();")
        report = wait_until(lambda: (self.main.reports_matching(
            lambda r: r.get("event") == "info")[start:] or [None])[0], 30,
            what="the client info answer")
        self.assertEqual(report["frame"], "main")
        info = json.loads(report["text"])
        self.assertEqual(list(info), KEYS)
        return info

    def test_1_request_key_is_printed_and_stable(self):
        code, out = self.key_printed
        self.assertEqual(code, 0, out)
        self.assertRegex(out, r"^[0-9a-f]{64}\n$")
        # Printing works beside a running client and gives the same key.
        self.assertEqual(print_request_key(self.client), (0, out))

    def test_2_every_page_request_is_signed(self):
        # The document (with its query; the fragment is not sent), a cross-origin iframe, an
        # image, a fetch, an XHR whose query has escapes.
        self.assert_signed(self.main, "/signed?exam=1")
        self.assert_signed(self.other, "/frame")
        self.assert_signed(self.main, "/img.png?i=1")
        self.assert_signed(self.main, "/fetched?f=1")
        self.assert_signed(self.main, "/xhr?x=%20a~b")
        # The engine follows an HTTP redirect with the headers of the request that was
        # redirected, so the new address receives the hash of the address that redirected
        # (README, "Signed requests").
        self.main.run_in_page("fetch('/hop').then(function(r){report({event:'hopped'})});")
        self.main.wait_for_report(lambda r: r.get("event") == "hopped")
        self.assert_signed(self.main, "/hop")
        landed = self.other.received_matching(lambda t: t == "/landed?after=hop")
        self.assertEqual([h.get(HEADER) for _, _, h in landed],
                         [expected_hash(self.main.origin, "/hop", self.key)])

    def test_3_the_model_update_does_not_sign(self):
        self.main.run_in_page("Update();")
        received = wait_until(lambda: self.main.received_matching(
            lambda t: t.startswith("/modelVer.json")), 20, what="the version request")
        self.assertNotIn(HEADER, received[0][2])

    def test_4_client_info_from_a_cross_origin_frame(self):
        # Present in both frames before the page's own scripts ran.
        for frame in ("main", "sub"):
            early = self.main.wait_for_report(
                lambda r, f=frame: r.get("event") == "early" and r["frame"] == f)
            self.assertEqual(early["fn"], "function", frame)
        info = self.client_info(self.other)
        self.assertRegex(info["version"], r"^\d+\.\d+\.\d+$")
        self.assertEqual(info["platform"], "linux-x11")
        self.assertIs(info["lockAvailable"], True)
        self.assertIs(info["locked"], False)
        self.assertEqual(info["displays"], 1)  # Xvfb has one RandR monitor
        self.assertEqual(info["virtualMachine"], systemd_vm_name())
        self.assertIs(info["remoteSession"], False)
        self.assertEqual(info["requestKey"], self.key)

    def test_5_a_recorder_is_listed_while_it_runs(self):
        folder = tempfile.mkdtemp()
        recorder = os.path.join(folder, "obs")
        shutil.copy2(shutil.which("sleep"), recorder)
        proc = subprocess.Popen([recorder, "60"])
        try:
            self.assertIn("OBS", self.client_info(self.main)["screenCapture"])
        finally:
            proc.kill()
            proc.wait()
            shutil.rmtree(folder)
        self.assertNotIn("OBS", self.client_info(self.main)["screenCapture"])

    def test_6_locked_is_reported(self):
        self.main.run_in_page("LockApp('1');")
        try:
            wait_until(lambda: self.client_info(self.main)["locked"], 20, interval=0.5,
                       what="locked in the report")
        finally:
            self.main.run_in_page("LockApp('0');")
        wait_until(lambda: not self.client_info(self.main)["locked"], 20, interval=0.5,
                   what="unlocked in the report")


class DemoPagePanel(unittest.TestCase):
    def test_demo_page_shows_the_header_of_its_own_request(self):
        home = os.path.join(SOURCE_DIR, "browser/bridge/home")
        with Display() as d, TestServer() as s:
            with open(os.path.join(home, "index.html"), encoding="utf-8") as f:
                page = f.read()
            # The page is the demo itself; only a click on its client-info button is added.
            page = page.replace("</body>", "<script>window.addEventListener('load',function(){"
                                "document.getElementById('btn-clientinfo').click()})</script>"
                                "</body>")
            s.add_page("/home/index.html", page)
            for name, kind in (("demo.js", "text/javascript"), ("demo.css", "text/css")):
                with open(os.path.join(home, name), "rb") as f:
                    s.add_page("/home/" + name, f.read(), kind)
            client = Client(d, config=f"[Config]\nUrl={s.origin}/home/index.html\n")
            key = print_request_key(client)[1].strip()
            with client:
                client.wait_for_window()
                match = wait_until(lambda: re.search(r"\[vorn-demo\] header ([0-9a-f]{64})",
                                                     client.output()), 60,
                                   what="the demo page's header line")
                sent = s.received_matching(lambda t: t == "/home/index.html")[0][2][HEADER]
                self.assertEqual(match.group(1), sent)
                self.assertEqual(sent, expected_hash(s.origin, "/home/index.html", key))
                d.screenshot(os.path.join(os.environ.get("VORN_BUILD_DIR", "."),
                                          "test-artifacts", "demo-client-info.png"))


if __name__ == "__main__":
    unittest.main()
