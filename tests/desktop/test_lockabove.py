"""What stays above the locked exam, and what does not: the client's own save dialog and the
page's confirm() are shown above the locked page and answer keys; a desktop notification (dunst
on the display's own session bus) does not stay above it, and is shown again after unlock.
Above or below is read from the X server's stacking order of the root's children."""

import os
import subprocess
import time
import unittest

from harness import Client, Display, TestServer, read_text, wait_until
from lockhelpers import Rival, XView, exam_page

COVER_NAME = "考试进行中 Exam in progress"


def client_windows(display, client):
    """The client's viewable windows other than the exam window and the monitor covers."""
    out = display.run(["xdotool", "search", "--onlyvisible", "--pid", str(client.proc.pid)],
                      check=False).stdout.split()
    windows = []
    for w in map(int, out):
        name = display.run(["xdotool", "getwindowname", str(w)], check=False).stdout.strip()
        if name not in ("", "CEFBrowser", COVER_NAME):
            windows.append(w)
    return windows


def start_locked_client(cls, env=None):
    """A locked client over a window of another program; waits until the exam is above it."""
    cls.display = Display().__enter__()
    cls.server = TestServer().__enter__()
    cls.server.add_page("/exam", exam_page(cls.server, "{event:'load'}"))
    cls.server.routes["/paper"] = attachment
    cls.client = Client(cls.display, config=f"[Config]\nUrl={cls.server.origin}/exam\n",
                        env=env)
    cls.client.start()
    cls.window = cls.client.wait_for_window()
    cls.server.wait_for_report(lambda r: r.get("event") == "load", 90, what="the exam page")
    cls.view = XView(cls.display)
    cls.other = Rival(cls.display, name="other")
    wait_until(lambda: cls.view.above(cls.other.window, cls.window), 10,
               what="a new window above the unlocked client")
    cls.server.run_in_page("LockApp('1')")
    wait_until(lambda: cls.view.above(cls.other.window, cls.window) is False, 10,
               what="the locked exam above the other window")


def stop_locked_client(cls):
    cls.client.stop()
    cls.other.close()
    cls.view.close()
    cls.server.__exit__()
    cls.display.__exit__()


def attachment(handler, parsed, query):
    handler._send(200, b"exam material", "application/octet-stream",
                  headers={"Content-Disposition": "attachment; filename=\"paper-7.bin\""})


class DialogsAboveTheLockedPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        start_locked_client(cls)

    @classmethod
    def tearDownClass(cls):
        stop_locked_client(cls)

    def new_dialog(self, before):
        dialog = wait_until(lambda: [w for w in client_windows(self.display, self.client)
                                     if w not in before], 20, what="the dialog")[0]
        wait_until(lambda: self.view.above(dialog, self.window), 5,
                   what="the dialog above the locked page")
        return dialog

    def test_confirm_is_shown_above_the_locked_page_and_answers_keys(self):
        before = client_windows(self.display, self.client)
        self.server.run_in_page("report({event:'confirm',answer:confirm('Hand in now?')})")
        dialog = self.new_dialog(before)
        # Shown for a while, it stays above (the lock raises only over other programs).
        time.sleep(1)
        self.assertTrue(self.view.above(dialog, self.window))
        self.display.xdotool("key", "Return")
        answer = self.server.wait_for_report(lambda r: r.get("event") == "confirm", 10,
                                             what="the confirm answer")
        self.assertEqual(answer["answer"], "true")
        wait_until(lambda: dialog not in client_windows(self.display, self.client), 5,
                   what="the dialog closed")

    def test_save_dialog_is_shown_above_the_locked_page_and_saves(self):
        before = client_windows(self.display, self.client)
        self.server.run_in_page(f"location.href='{self.server.origin}/paper'")
        dialog = self.new_dialog(before)
        time.sleep(1)
        self.assertTrue(self.view.above(dialog, self.window))
        target = os.path.join(self.client.home, "saved.bin")
        self.display.xdotool("key", "ctrl+a")
        self.display.xdotool("type", target)
        self.display.xdotool("key", "Return")
        wait_until(lambda: os.path.exists(target) and read_text(target) == "exam material", 20,
                   what="the saved download")
        # And the exam is back above the other program.
        wait_until(lambda: self.view.above(self.other.window, self.window) is False, 5,
                   what="the exam above the other window again")


def popups(display):
    out = display.run(["xdotool", "search", "--onlyvisible", "--classname", "Dunst"],
                      check=False).stdout.split()
    return [int(w) for w in out]


class NotificationWhileLocked(unittest.TestCase):
    """dunst on the display's own session bus shows a chat message's popup."""

    @classmethod
    def setUpClass(cls):
        start_locked_client(cls)
        env = dict(cls.display.env, **cls.display.session_env)
        cls.env = env
        cls.dunst = subprocess.Popen(["dunst"], env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)

    @classmethod
    def tearDownClass(cls):
        cls.dunst.kill()
        cls.dunst.wait(5)
        stop_locked_client(cls)

    def test_popup_does_not_stay_above_the_locked_exam_and_is_shown_after_unlock(self):
        subprocess.run(["notify-send", "-t", "60000", "Chat", "Are you there?"], env=self.env,
                       check=True, timeout=20)
        popup = wait_until(lambda: (popups(self.display) or [None])[0], 10, what="the popup")
        wait_until(lambda: self.view.above(popup, self.window) is False, 1.0, 0.02,
                   what="the popup below the locked exam")
        for _ in range(20):
            time.sleep(0.1)
            self.assertFalse(self.view.above(popup, self.window), "the popup came back above")
        self.server.run_in_page("LockApp('0')")
        wait_until(lambda: self.view.above(popup, self.window), 5,
                   what="the popup above the unlocked client")
