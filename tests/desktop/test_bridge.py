"""The page bridge as the exam page sees it: the seven functions in every frame (cross-origin
iframes and frames created by script included) before the page's scripts, answers in the main frame in call order, the
remote-control and camera answers, and page scripts that replace a function."""

import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import Client, Display, TestServer, wait_until

FUNCTIONS = ["LockApp", "Init", "Close", "ReadCard", "Update", "GetVCamList", "GetIsRemoteLogin"]
PRESENT = "typeof LockApp+','+typeof Init+','+typeof Close+','+typeof ReadCard+','+" \
          "typeof Update+','+typeof GetVCamList+','+typeof GetIsRemoteLogin"
ALL_FUNCTIONS = ",".join(["function"] * 7)


def answers_script():
    # Every answer function reports which frame ran it and its argument.
    return "".join(
        f"function {name}(t){{report({{event:'answer',kind:'{name}',text:t,"
        f"frame:(window===top?'main':'sub'),n:(window.__n=(window.__n||0)+1)}})}}"
        for name in ("OnVCamList", "OnIsRemoteLogin", "ShowIdCard", "ShowError"))


class Bridge(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = Display().__enter__()
        cls.main = TestServer().__enter__()
        cls.other = TestServer().__enter__()  # another origin for the iframe
        m, o = cls.main, cls.other
        m.add_page("/main", (
            "<!doctype html><html><head><meta charset='utf-8'><script>" + m.report_snippet() +
            f"report({{event:'early',frame:'main',fns:{PRESENT}}});" + answers_script() +
            "</script></head><body><h1>main</h1>"
            f"<iframe src='{o.origin}/frame'></iframe>"
            "<script>" + m.control_snippet() + "</script></body></html>"))
        o.add_page("/frame", (
            "<!doctype html><html><head><script>" + m.report_snippet() +
            f"report({{event:'early',frame:'sub',fns:{PRESENT}}});" + answers_script() +
            "</script></head><body>frame<script>" + o.control_snippet() +
            "</script></body></html>"))
        m.add_page("/next", (
            "<!doctype html><html><head><script>" + m.report_snippet() +
            f"report({{event:'early',frame:'next',fns:{PRESENT}}});" + answers_script() +
            "</script></head><body>next<script>" + m.control_snippet() + "</script></body></html>"))
        m.routes["/modelVer.json"] = (404, "no models here", "text/plain")
        cls.client = Client(cls.display, config=f"[Config]\nUrl={m.origin}/main\n",
                            env={"VORN_HTTP_RESOURCE_HOST": f"127.0.0.1:{m.port}"}).start()
        cls.client.wait_for_window()
        cls.main.wait_for_report(lambda r: r.get("event") == "early" and r["frame"] == "sub",
                                 timeout=60)

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        for s in (cls.other, cls.main):
            s.__exit__()
        cls.display.__exit__()

    def answers_after(self, count, start):
        return wait_until(lambda: (lambda a: a if len(a) >= count else None)(
            self.main.reports_matching(lambda r: r.get("event") == "answer")[start:]),
            timeout=20, what=f"{count} answers")

    def test_1_functions_exist_in_every_frame_before_page_scripts(self):
        for frame in ("main", "sub"):
            report = self.main.wait_for_report(
                lambda r: r.get("event") == "early" and r["frame"] == frame)
            self.assertEqual(report["fns"], ALL_FUNCTIONS, frame)

    def test_2_answers_reach_the_main_frame_in_call_order(self):
        start = len(self.main.reports_matching(lambda r: r.get("event") == "answer"))
        self.main.run_in_page("GetIsRemoteLogin();GetVCamList();GetIsRemoteLogin();"
                              "GetVCamList();GetIsRemoteLogin();")
        # Reports travel on separate requests and may reach the server out of order; the page
        # numbers them as it runs them.
        answers = sorted(self.answers_after(5, start), key=lambda a: int(a["n"]))
        self.assertEqual([a["kind"] for a in answers[:5]],
                         ["OnIsRemoteLogin", "OnVCamList", "OnIsRemoteLogin", "OnVCamList",
                          "OnIsRemoteLogin"])
        self.assertTrue(all(a["frame"] == "main" for a in answers))
        # A call from the cross-origin frame is answered in the main frame too.
        start += len(answers)
        self.other.run_in_page("GetVCamList();")
        answer = self.answers_after(1, start)[0]
        self.assertEqual((answer["kind"], answer["frame"]), ("OnVCamList", "main"))

    def test_3_camera_list_matches_this_machine(self):
        start = len(self.main.reports_matching(lambda r: r.get("event") == "answer"))
        self.main.run_in_page("GetVCamList();")
        answer = self.answers_after(1, start)[0]
        cameras = json.loads(answer["text"])
        self.assertEqual(list(cameras), ["video"])
        if not os.path.isdir("/sys/class/video4linux"):
            self.assertEqual(answer["text"], '{"video":[]}')
        for camera in cameras["video"]:
            self.assertEqual(list(camera), ["devid", "name", "desc"])

    def test_4_remote_control_tool_is_seen_while_it_runs(self):
        folder = tempfile.mkdtemp()
        tool = os.path.join(folder, "ToDesk")
        shutil.copy2(shutil.which("sleep"), tool)
        start = len(self.main.reports_matching(lambda r: r.get("event") == "answer"))
        proc = subprocess.Popen([tool, "60"])
        try:
            self.main.run_in_page("GetIsRemoteLogin();")
            self.assertEqual(self.answers_after(1, start)[0]["text"], '{"isRemoteLogin":1}')
        finally:
            proc.kill()
            proc.wait()
            shutil.rmtree(folder)
        self.main.run_in_page("GetIsRemoteLogin();")
        self.assertEqual(self.answers_after(2, start)[1]["text"], '{"isRemoteLogin":0}')

    def test_4b_frames_created_by_script_have_the_functions_at_once(self):
        start = len(self.main.reports_matching(lambda r: r.get("event") == "answer"))
        names = ",".join(f"'{n}'" for n in FUNCTIONS)
        self.main.run_in_page(
            "var kinds=[];['', 'about:blank'].forEach(function(src){"
            "var f=document.createElement('iframe');if(src)f.src=src;document.body.appendChild(f);"
            f"var w=f.contentWindow;kinds.push([{names}].map(function(n){{return typeof w[n]}}).join(','));"
            "});report({event:'scripted',kinds:kinds.join('|')});"
            "document.body.lastChild.contentWindow.GetVCamList();")
        report = self.main.wait_for_report(lambda r: r.get("event") == "scripted")
        self.assertEqual(report["kinds"], ALL_FUNCTIONS + "|" + ALL_FUNCTIONS)
        # A call from such a frame is answered in the main frame like any other.
        answer = self.answers_after(1, start)[0]
        self.assertEqual((answer["kind"], answer["frame"]), ("OnVCamList", "main"))

    def test_5_page_replacement_stays_and_navigation_binds_again(self):
        self.main.run_in_page("window.Update=function(){report({event:'replaced'})};Update();")
        self.main.wait_for_report(lambda r: r.get("event") == "replaced")
        time.sleep(1)
        self.assertNotIn("/modelVer.json", self.main.paths_requested())

        self.main.run_in_page(f"location.href='{self.main.origin}/next'")
        report = self.main.wait_for_report(
            lambda r: r.get("event") == "early" and r["frame"] == "next")
        self.assertEqual(report["fns"], ALL_FUNCTIONS)
        # The new page has the client's own Update again: it asks the model host for its version.
        self.main.run_in_page("Update();")
        wait_until(lambda: "/modelVer.json" in self.main.paths_requested(), 20,
                   what="the version request")
        self.assertTrue(any(p == "/modelVer.json" and "rand" in q
                            for _, p, q in self.main.requests))


if __name__ == "__main__":
    unittest.main()
