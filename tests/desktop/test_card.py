"""Identity-card reading through the whole path: the page calls ReadCard/Init/Close, the bridge
starts the reading worker, the worker drives the simulated reader library (libtermb.so in the
client folder), and the page receives ShowIdCard or ShowError."""

import os
import re
import shutil
import subprocess
import time
import unittest

from harness import BUILD_DIR, Client, Display, TestServer, wait_until

KEYS = ["PeopleIDCode", "PeopleName", "PeopleSex", "PeopleNation", "PeopleBirthday",
        "PeopleAddress", "NationCode", "StartDate", "EndDate", "Pic"]

PAGE = ("<!doctype html><html><head><meta charset='utf-8'><script>%s"
        "function ShowIdCard(t){report({event:'card',text:t,at:Date.now()})}"
        "function ShowError(t){report({event:'error',text:t,at:Date.now()})}"
        "report({event:'ready'})</script></head><body>card</body></html>")


def parse_card(text):
    """Splits the card text by its known keys, in their fixed order (the last two keys follow
    a comma and a space)."""
    assert text.startswith("{") and text.endswith("}"), text
    body, fields = text[1:-1], {}
    markers = [("" if i == 0 else ", " if key in ("EndDate", "Pic") else ",") + key + ":"
               for i, key in enumerate(KEYS)]
    positions = [body.index(marker) for marker in markers]
    for i, key in enumerate(KEYS):
        start = positions[i] + len(markers[i])
        end = positions[i + 1] if i + 1 < len(KEYS) else len(body)
        fields[key] = body[start:end]
    return fields


class CardReading(unittest.TestCase):
    def run_client(self, description=None, library="termb", config="", stale_photo=False,
                   files=None, read_button=False):
        display = Display().__enter__()
        self.addCleanup(display.__exit__)
        server = TestServer().__enter__()
        self.addCleanup(server.__exit__)
        server.add_page("/card", PAGE % server.control_snippet())
        client = Client(display, config=f"[Config]\nUrl={server.origin}/card\n{config}")
        lib = os.path.join(client.folder, "libtermb.so")
        if os.path.exists(lib):
            os.remove(lib)
        if library:
            source = (os.path.join(BUILD_DIR, "libtermb.so") if library == "termb" else
                      os.path.join(BUILD_DIR, "termb-sim", library, "libtermb.so"))
            shutil.copy2(source, lib)
        if read_button:
            skin = os.path.join(client.folder, "Skin", "CEFBrowser", "main.xml")
            with open(skin, encoding="utf-8") as f:
                text = f.read()
            text = text.replace('<HorizontalLayout width="90"',
                                '<Button name="readbtn" width="120" height="30" text="读取身份证" '
                                'textcolor="#FFFFFFFF" bkcolor="#FF2B5FC7"/>'
                                '<HorizontalLayout width="90"', 1)
            with open(skin, "w", encoding="utf-8") as f:
                f.write(text)
        for name, data in (files or {}).items():
            with open(os.path.join(client.root, name), "wb") as f:
                f.write(data)
        if description is not None:
            path = os.path.join(client.root, "reader.ini")
            with open(path, "w", encoding="utf-8") as f:
                f.write(description)
            client.env["VORN_TERMB_SIM"] = path
        if stale_photo:
            with open(os.path.join(client.folder, "idcard.jpg"), "wb") as f:
                f.write(b"\xff\xd8 photo of the previous candidate")
        client.start()
        self.addCleanup(client.stop)
        self.window = client.wait_for_window()
        self.display = display
        server.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
        return client, server

    @staticmethod
    def results(server):
        return server.reports_matching(lambda r: r.get("event") in ("card", "error"))

    def wait_results(self, server, count, timeout=20):
        return wait_until(lambda: (lambda r: r if len(r) >= count else None)(self.results(server)),
                          timeout, what=f"{count} card results")

    def test_card_on_the_reader_is_read_every_cycle_until_close(self):
        client, server = self.run_client()
        server.run_in_page("ReadCard();ReadCard();")  # the second is dropped: one worker only
        results = self.wait_results(server, 3)
        self.assertTrue(all(r["event"] == "card" for r in results), results)
        fields = parse_card(results[0]["text"])
        self.assertEqual(fields["Pic"], os.path.join(client.folder, "idcard.jpg"))
        self.assertTrue(fields["PeopleIDCode"])
        self.assertTrue(fields["PeopleName"])
        # One result per cycle, about a second apart (not two workers).
        gaps = [int(b["at"]) - int(a["at"]) for a, b in zip(results, results[1:3])]
        self.assertTrue(all(gap >= 900 for gap in gaps), gaps)
        with open(fields["Pic"], "rb") as f:
            self.assertEqual(f.read(3), b"\xff\xd8\xff")  # a real JPEG
        server.run_in_page("Close();")
        time.sleep(2.5)  # the running cycle and its pause end
        settled = len(self.results(server))
        time.sleep(2)
        self.assertEqual(len(self.results(server)), settled)
        # After Close a new reading starts again.
        server.run_in_page("ReadCard();")
        self.wait_results(server, settled + 1)
        server.run_in_page("Close();")

    def test_card_answers_stay_with_the_site_that_asked(self):
        client, server = self.run_client()
        other = TestServer().__enter__()
        self.addCleanup(other.__exit__)
        # The same page under another path of the same origin, and under another origin; both
        # report to the test server, marked with where they are.
        marked = PAGE.replace("report({event:", "report({at_path:location.pathname,event:")
        server.add_page("/again", marked % server.control_snippet())
        other.add_page("/card", marked % server.report_snippet())
        server.run_in_page("ReadCard();")
        self.wait_results(server, 1)
        server.run_in_page(f"location.href='{server.origin}/again'")
        # Within the exam service's own pages the continuous reading goes on.
        wait_until(lambda: any(r.get("at_path") == "/again" for r in self.results(server)), 20,
                   what="a card answer on the second page of the same site")
        server.run_in_page(f"location.href='{other.origin}/card'")
        wait_until(lambda: "/card" in other.paths_requested(), 20, what="the other site's page")
        time.sleep(3.5)  # several cycles of a reading that went on
        leaked = [r for r in self.results(server) if r.get("at_path") == "/card"]
        self.assertEqual(leaked, [])

    def test_no_reader_library(self):
        client, server = self.run_client(library=None)
        server.run_in_page("Init();")
        self.assertEqual(self.wait_results(server, 1)[0]["text"], "端口打开失败")

    def test_no_card_single_and_continuous_and_init_stores_the_port(self):
        client, server = self.run_client(description="card = 0\n")
        server.run_in_page("Init('3');")
        first = self.wait_results(server, 1)[0]
        self.assertEqual((first["event"], first["text"]), ("error", "找卡失败"))
        with open(os.path.join(client.folder, "config.ini"), encoding="utf-8") as f:
            self.assertRegex(f.read(), r"(?m)^ComPort=3$")
        server.run_in_page("ReadCard();")
        results = self.wait_results(server, 3)
        self.assertEqual([r["text"] for r in results[1:3]], ["卡读取失败", "卡读取失败"])
        # Init while the continuous reading runs stores its port and starts nothing.
        server.run_in_page("Init('5');")
        time.sleep(0.5)
        with open(os.path.join(client.folder, "config.ini"), encoding="utf-8") as f:
            self.assertRegex(f.read(), r"(?m)^ComPort=5$")
        server.run_in_page("Close();")
        time.sleep(2.5)
        texts = [r["text"] for r in self.results(server)]
        self.assertNotIn("找卡失败", texts[1:])

    def test_undecodable_photo_leaves_no_stale_file(self):
        description = "photo = garbage.bin\n"
        client, server = self.run_client(description=description, stale_photo=True,
                                         files={"garbage.bin": b"this is not an image" * 20})
        server.run_in_page("Init();")
        result = self.wait_results(server, 1)[0]
        self.assertEqual(result["event"], "card", result)
        fields = parse_card(result["text"])
        self.assertEqual(fields["Pic"], os.path.join(client.folder, "idcard.jpg"))
        self.assertFalse(os.path.exists(fields["Pic"]), "the previous candidate's photo is gone")

    def test_closing_does_not_wait_for_a_reader_that_never_answers(self):
        client, server = self.run_client(description="hang = 1\n")
        server.run_in_page("ReadCard();")
        time.sleep(1.5)  # the worker is inside the library call that never returns
        started = time.monotonic()
        self.display.run(["wmctrl", "-i", "-c", str(self.window)])
        self.assertEqual(client.wait_exit(timeout=30), 0)
        self.assertLess(time.monotonic() - started, 10)
        self.assertIn("The card library has not returned", client.output())

    def test_library_without_dates_leaves_both_empty(self):
        client, server = self.run_client(library="no-dates")
        server.run_in_page("Init();")
        fields = parse_card(self.wait_results(server, 1)[0]["text"])
        self.assertEqual((fields["StartDate"], fields["EndDate"]), ("", ""))
        self.assertTrue(fields["PeopleName"])

    def test_read_button_reads_once_and_shows_the_reading_state(self):
        # Slow calls make the cycle last long enough to look at the button during it.
        client, server = self.run_client(description="delay_ms = 150\n", read_button=True)
        d = self.display
        g = d.geometry(self.window)
        x, y = g["X"] + g["WIDTH"] - 1 - 90 - 120, g["Y"] + 1

        def button():
            return subprocess.run(["import", "-window", "root", "-crop", f"120x30+{x}+{y}",
                                   "-depth", "8", "rgb:-"], env=d.env, capture_output=True).stdout

        d.xdotool("mousemove", str(x - 200), str(y + 15))
        time.sleep(0.5)
        idle = button()
        d.xdotool("mousemove", str(x + 60), str(y + 15), "click", "1")
        d.xdotool("mousemove", str(x - 200), str(y + 15))
        wait_until(lambda: button() != idle, 5, what="the reading state on the button")
        result = self.wait_results(server, 1)[0]
        self.assertEqual(result["event"], "card")
        wait_until(lambda: button() == idle, 5, what="the button back to its idle state")
        time.sleep(2)
        self.assertEqual(len(self.results(server)), 1, "a single reading")


if __name__ == "__main__":
    unittest.main()
