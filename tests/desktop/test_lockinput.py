"""Chinese input in the locked exam: with fcitx5 (pinyin) or IBus (libpinyin) on the display's own
session bus, set up in the session's own configuration folder, typing `nihao` then space in the
page's text box gives 你好, unlocked and locked, and the candidate list is shown above the page
while composing."""

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
IBUS_PANEL = "/usr/libexec/ibus-ui-gtk3"


def fcitx5_unavailable():
    missing = [p for p in NEEDED if not shutil.which(p)]
    if missing:
        return f"{', '.join(missing)} not installed (fcitx5, fcitx5-chinese-addons)"
    if not os.path.exists("/usr/share/fcitx5/inputmethod/pinyin.conf"):
        return "fcitx5's pinyin is not installed (fcitx5-chinese-addons)"
    return None


def ibus_unavailable():
    missing = [p for p in ("ibus-daemon", "ibus", "gsettings") if not shutil.which(p)]
    if missing:
        return f"{', '.join(missing)} not installed (ibus, libglib2.0-bin)"
    if not os.path.exists("/usr/share/ibus/component/libpinyin.xml"):
        return "IBus's libpinyin is not installed (ibus-libpinyin)"
    if not os.path.exists(IBUS_PANEL):
        return "IBus's candidate window is not installed (ibus-gtk3)"
    return None


class ChineseInputInTheExam:
    """The tests, for an input method a subclass starts (start_input_method) and switches on for
    the focused text box (switch_on); its candidate list is a window of `candidate_class`."""

    candidate_class = ""

    @classmethod
    def setUpClass(cls):
        cls.display = Display().__enter__()
        cls.env = dict(cls.display.env, **cls.display.session_env)
        cls.input_method = None
        try:
            client_env = cls.start_input_method()
            cls.server = TestServer().__enter__()
            cls.server.add_page("/exam", exam_page(cls.server, "{event:'load'}"))
            client_env["DBUS_SESSION_BUS_ADDRESS"] = cls.env["DBUS_SESSION_BUS_ADDRESS"]
            cls.client = Client(cls.display, config=f"[Config]\nUrl={cls.server.origin}/exam\n",
                                env=client_env)
            cls.prepare_client()
            cls.client.start()
            cls.window = cls.client.wait_for_window()
            cls.server.wait_for_report(lambda r: r.get("event") == "load", 90,
                                       what="the exam page")
            cls.view = XView(cls.display)
        except BaseException:
            cls.stop_input_method()
            cls.display.__exit__(None, None, None)
            raise

    @classmethod
    def prepare_client(cls):
        pass

    @classmethod
    def stop_input_method(cls):
        if cls.input_method and cls.input_method.poll() is None:
            os.killpg(cls.input_method.pid, 9)
            cls.input_method.wait(10)

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.view.close()
        cls.server.__exit__()
        cls.stop_input_method()
        cls.display.__exit__()

    @classmethod
    def command(cls, *args):
        return subprocess.run(args, env=cls.env, capture_output=True, text=True, timeout=10)

    def field_value(self):
        """What the page's text box holds now (the page's reports of each input can arrive out
        of order: each is a request of its own)."""
        start = len(self.server.reports_matching(lambda r: r.get("event") == "value"))
        self.server.run_in_page("report({event:'value',value:f.value})")
        return wait_until(lambda: self.server.reports_matching(
            lambda r: r.get("event") == "value")[start:], 10, what="the field's value")[0]["value"]

    def candidate_windows(self):
        """The input method's viewable windows (its candidate list)."""
        return [w for w in self.view.stacking()
                if self.candidate_class in self.display.prop(w, "WM_CLASS").lower()]

    def type_nihao(self):
        self.server.run_in_page("f.value='';f.focus()")
        wait_until(lambda: self.field_value() == "", 10, what="the field emptied")
        # The page's text box has the focus; pinyin on, without a toggle key.
        self.switch_on()
        self.display.xdotool("type", "--delay", "80", "nihao")
        candidates = wait_until(self.candidate_windows, 10, what="the candidate list")
        wait_until(lambda: self.view.above(candidates[0], self.window), 5,
                   what="the candidate list above the page")
        self.display.xdotool("key", "space")
        try:
            wait_until(lambda: self.field_value() == "你好", 10, 0.2, what="你好 in the page")
        except TimeoutError:
            self.display.screenshot(os.path.join(ARTIFACTS, "lockinput-" + self.id() + ".png"))
            raise AssertionError(f"the page got {self.field_value()!r}, not 你好")
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


@unittest.skipIf(fcitx5_unavailable(), fcitx5_unavailable())
class Fcitx5Pinyin(ChineseInputInTheExam, unittest.TestCase):
    candidate_class = "fcitx"

    @classmethod
    def start_input_method(cls):
        config = os.path.join(cls.env["XDG_CONFIG_HOME"], "fcitx5")
        os.makedirs(os.path.join(config, "conf"))
        with open(os.path.join(config, "profile"), "w") as f:
            f.write(PROFILE)
        with open(os.path.join(config, "conf", "pinyin.conf"), "w") as f:
            f.write(PINYIN_CONF)
        cls.input_method = subprocess.Popen(
            ["fcitx5", f"--disable={DISABLED_ADDONS}"], env=cls.env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        wait_until(lambda: cls.command("fcitx5-remote").returncode == 0, 30,
                   what="fcitx5 on the session bus")
        return {"QT_IM_MODULE": "fcitx"}

    def switch_on(self):
        wait_until(lambda: self.command("fcitx5-remote", "-o").returncode == 0 and
                   self.command("fcitx5-remote").stdout.strip() == "2", 10, what="pinyin on")


@unittest.skipIf(ibus_unavailable(), ibus_unavailable())
class IBusLibpinyin(ChineseInputInTheExam, unittest.TestCase):
    candidate_class = "ibus-ui-gtk3"

    @classmethod
    def start_input_method(cls):
        # Its settings live in the session's dconf database, on the session's bus.
        cls.command("gsettings", "set", "org.freedesktop.ibus.general", "preload-engines",
                    "['libpinyin']").check_returncode()
        cls.input_method = subprocess.Popen(
            ["ibus-daemon", "--replace", f"--panel={IBUS_PANEL}"], env=cls.env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        wait_until(lambda: cls.command("ibus", "engine").returncode == 0, 30,
                   what="IBus on the session bus")
        return {"QT_IM_MODULE": "ibus"}

    @classmethod
    def prepare_client(cls):
        # Qt finds the daemon by the address file IBus writes into the configuration folder,
        # which the client shares with the session on a desktop; here it has its own.
        source = os.path.join(cls.env["XDG_CONFIG_HOME"], "ibus", "bus")
        wait_until(lambda: os.path.isdir(source) and os.listdir(source), 10,
                   what="IBus's address file")
        shutil.copytree(source, os.path.join(cls.client.env["XDG_CONFIG_HOME"], "ibus", "bus"))

    def switch_on(self):
        # The engine is the daemon's, for every input context; an IBus command has no toggle key.
        wait_until(lambda: self.command("ibus", "engine", "libpinyin") and
                   self.command("ibus", "engine").stdout.strip() == "libpinyin", 10,
                   what="libpinyin on")


if __name__ == "__main__":
    unittest.main()
