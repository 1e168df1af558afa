"""A client folder marked as installed (as the package installs it): what the client writes for
the user goes to the user's state folder, the page is told the photo's real path there, and the
client folder is left as it was."""

import datetime
import os
import unittest

from harness import Client, Display, TestServer, read_text as read, snapshot
from test_card import PAGE, parse_card


class InstalledFolder(unittest.TestCase):
    def test_photo_port_and_log_go_to_the_state_folder(self):
        with Display() as d, TestServer() as s:
            s.add_page("/card", PAGE % s.control_snippet())
            client = Client(d, config=f"[Config]\nUrl={s.origin}/card\nComPort=2\n")
            with open(os.path.join(client.folder, "per-user-state"), "w") as f:
                f.write("installed\n")
            state = os.path.join(client.env["XDG_DATA_HOME"], "vornclient")
            before = snapshot(client.folder)
            with client:
                client.wait_for_window()
                s.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
                s.run_in_page("Init('4');")
                result = s.wait_for_report(lambda r: r.get("event") in ("card", "error"))
                self.assertEqual(result["event"], "card", result)
                fields = parse_card(result["text"])
                self.assertEqual(fields["Pic"], os.path.join(state, "idcard.jpg"))
                with open(fields["Pic"], "rb") as f:
                    self.assertEqual(f.read(3), b"\xff\xd8\xff")
                self.assertEqual(read(os.path.join(state, "config.ini")), "[Config]\nComPort=4\n")
                self.assertEqual(os.stat(state).st_mode & 0o777, 0o700)
                log = os.path.join(state, "logs",
                                   f"vornclient-{datetime.date.today().isoformat()}.log")
                text = read(log)
                self.assertIn(" vorn.app info: vornclient ", text)
                # The card's fields never reach the log, whatever the page was sent.
                for key in ("PeopleName", "PeopleIDCode", "PeopleAddress"):
                    self.assertNotIn(fields[key], text)
                self.assertEqual(snapshot(client.folder), before)


if __name__ == "__main__":
    unittest.main()
