"""Chinese input in the locked exam: with fcitx5 (pinyin) on the display's own session bus, and
its profile written into the session's own configuration folder, typing `nihao` then space in
the page's text box gives 你好, unlocked and locked, and the candidate list is shown above the
page while composing."""

import os
import shutil
import subprocess
import time
import unittest

from harness import ARTIFACTS, Client, Display, TestServer, wait_until
from lockhelpers import XView, exam_page

PROFILE = """\
[Groups/0]
Name=Default
Default Layout=us
DefaultIM=pinyin

[Groups/0/Items/0]
Name=keyboard-us
Layout=

[Groups/0/Items/1]
Name=pinyin
Layout=

[GroupOrder]
0=Default
"""
# No network (cloud pinyin) and no predictions after a commit: the same candidates on every run.
PINYIN_CONF = "CloudPinyinEnabled=False\nPredictionEnabled=False\n"
# Addons a bare test desktop has no use for; what is left is the pinyin engine, its X11 frontend
# and candidate window, and the D-Bus frontend the Qt client talks to.
DISABLED_ADDONS = ("cloudpinyin,notificationitem,kimpanel,clipboard,emoji,quickphrase,spell,"
                   "unicode,wayland,waylandim,xim,ibusfrontend,fcitx4frontend,notifications")
NEEDED = ("fcitx5", "fcitx5-remote")


def fcitx5_unavailable():
    missing = [p for p in NEEDED if not shutil.which(p)]
    if missing:
        return f"{', '.join(missing)} not installed (fcitx5, fcitx5-chinese-addons)"
    if not os.path.exists("/usr/share/fcitx5/inputmethod/pinyin.conf"):
        return "fcitx5's pinyin is not installed (fcitx5-chinese-addons)"
    return None


@unittest.skipIf(fcitx5_unavailable(), fcitx5_unavailable())
class PinyinInTheExam(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = Display().__enter__()
        config = os.path.join(cls.display.session_env["XDG_CONFIG_HOME"], "fcitx5")
        os.makedirs(os.path.join(config, "conf"))
        with open(os.path.join(config, "profile"), "w") as f:
            f.write(PROFILE)
        with open(os.path.join(config, "conf", "pinyin.conf"), "w") as f:
            f.write(PINYIN_CONF)
        cls.env = dict(cls.display.env, **cls.display.session_env)
        cls.fcitx = subprocess.Popen(["fcitx5", f"--disable={DISABLED_ADDONS}"], env=cls.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
        wait_until(lambda: cls.remote().returncode == 0, 30, what="fcitx5 on the session bus")
        cls.server = TestServer().__enter__()
        cls.server.add_page("/exam", exam_page(cls.server, "{event:'load'}"))
        bus = cls.display.session_env["DBUS_SESSION_BUS_ADDRESS"]
        cls.client = Client(cls.display, config=f"[Config]\nUrl={cls.server.origin}/exam\n",
                            env={"QT_IM_MODULE": "fcitx", "DBUS_SESSION_BUS_ADDRESS": bus})
        cls.client.start()
        cls.window = cls.client.wait_for_window()
        cls.server.wait_for_report(lambda r: r.get("event") == "load", 90, what="the exam page")
        cls.view = XView(cls.display)

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.view.close()
        cls.server.__exit__()
        os.killpg(cls.fcitx.pid, 9)
        cls.fcitx.wait(10)
        cls.display.__exit__()

    @classmethod
    def remote(cls, *args):
        return subprocess.run(["fcitx5-remote", *args], env=cls.env, capture_output=True,
                              text=True, timeout=10)

    def field_value(self):
        """What the page's text box holds now (the page's reports of each input can arrive out
        of order: each is a request of its own)."""
        start = len(self.server.reports_matching(lambda r: r.get("event") == "value"))
        self.server.run_in_page("report({event:'value',value:f.value})")
        return wait_until(lambda: self.server.reports_matching(
            lambda r: r.get("event") == "value")[start:], 10, what="the field's value")[0]["value"]

    def candidate_windows(self):
        """fcitx5's viewable windows (its candidate list)."""
        found = []
        for w in self.view.stacking():
            if "fcitx" in self.display.prop(w, "WM_CLASS").lower():
                found.append(w)
        return found

    def type_nihao(self):
        self.server.run_in_page("f.value='';f.focus()")
        wait_until(lambda: self.field_value() == "", 10, what="the field emptied")
        # The page's text box has the focus; pinyin on, without a toggle key.
        wait_until(lambda: self.remote("-o").returncode == 0 and
                   self.remote().stdout.strip() == "2", 10, what="pinyin active")
        self.display.xdotool("type", "--delay", "80", "nihao")
        candidates = wait_until(self.candidate_windows, 10, what="the candidate list")
        wait_until(lambda: self.view.above(candidates[0], self.window), 5,
                   what="the candidate list above the page")
        self.display.xdotool("key", "space")
        try:
            wait_until(lambda: self.field_value() == "你好", 10, 0.2, what="你好 in the page")
        except TimeoutError:
            self.display.screenshot(os.path.join(ARTIFACTS, "lockinput-" + self.id() + ".png"))
            raise AssertionError(f"the page got {self.field_value()!r}, not 你好; "
                                 f"fcitx5 reports state {self.remote().stdout.strip()}")
        return candidates

    def test_1_unlocked_nihao_space_gives_nihao_in_chinese(self):
        self.display.xdotool("windowactivate", "--sync", str(self.window))
        self.type_nihao()

    def test_2_locked_nihao_space_gives_nihao_in_chinese_with_the_list_above(self):
        self.server.run_in_page("LockApp('1')")
        # The lock is held once the page covers the screen.
        width, height = self.display.screen_size()
        wait_until(lambda: self.display.geometry(self.window)["WIDTH"] == width, 10,
                   what="the locked page over the screen")
        time.sleep(0.5)
        self.type_nihao()


if __name__ == "__main__":
    unittest.main()
