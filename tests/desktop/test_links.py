"""vornapp: links start the client registered by a portable client folder, through the openers
people meet: xdg-open in its generic mode (plain window managers, the kiosk session, browsers'
external links) and gio open; the link reaches the client as its only argument."""

import unittest

from harness import Client, Display, opened_link, without_desktop

LINK = "vornapp://exam/start?id=42&lang=zh-CN"


class Links(unittest.TestCase):
    def assert_opens(self, command):
        with Display() as d:
            client = Client(d, args=["/createprotocol"])
            client.start()
            self.assertEqual(client.wait_exit(20), 0)
            try:
                with opened_link(command, LINK, without_desktop(client.env), client.exe) as argv:
                    self.assertEqual(argv, [client.exe, LINK])
                    d.wait_for_window()
            finally:
                client.remove()

    def test_generic_xdg_open_starts_the_client_with_the_link(self):
        self.assert_opens(["xdg-open"])

    def test_gio_open_starts_the_client_with_the_link(self):
        # gio wants a session bus, as a login has; without one it starts its own and leaves it.
        self.assert_opens(["dbus-run-session", "--", "gio", "open"])


if __name__ == "__main__":
    unittest.main()
