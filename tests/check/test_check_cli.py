"""vornclient-check, run as an exam centre runs it, against fixtures of the test's own."""
import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest

BUILD = os.environ.get("VORN_BUILD_DIR", os.path.join(os.path.dirname(__file__), "../../build"))
CHECK = os.path.join(BUILD, "vornclient-check")
SIMULATOR = os.path.join(BUILD, "libtermb.so")
TEST_NAME = "测试样卡 CHECK CARD"


class CheckTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="vorn-check-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.client = os.path.join(self.root, "client")
        os.makedirs(self.client)
        self.home = os.path.join(self.root, "home")
        os.makedirs(self.home)
        self.env = {
            "PATH": "/usr/bin:/bin",
            "HOME": self.home,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local/share"),
            "XDG_CONFIG_DIRS": os.path.join(self.root, "etc"),
            "XDG_DATA_DIRS": os.path.join(self.root, "usr"),
        }

    def add_reader(self, ports="1005", card=1):
        shutil.copy(SIMULATOR, self.client)
        with open(os.path.join(self.client, "termb-sim.ini"), "w", encoding="utf-8") as f:
            f.write(f"ports = {ports}\ncard = {card}\nname = {TEST_NAME}\nidcode = 11010519491231002X\n")

    def run_check(self, *args, env=None):
        result = subprocess.run([CHECK, "--client-folder", self.client, *args],
                                env=env or self.env, capture_output=True, text=True, timeout=120)
        return result

    def report(self, *args, expect_code=None):
        result = self.run_check("--json", *args)
        if expect_code is not None:
            self.assertEqual(result.returncode, expect_code, result.stdout + result.stderr)
        self.assertEqual(result.stdout.count("\n"), 1, "one JSON object on one line")
        return json.loads(result.stdout)

    def test_report_shape_and_a_missing_registration_blocks(self):
        data = self.report(expect_code=1)
        self.assertEqual(list(data), ["clientFolder", "installed", "lockAvailable", "cameras",
                                      "remoteTools", "cardReader", "urlScheme", "models",
                                      "ready", "blockers"])
        self.assertEqual(data["clientFolder"], self.client + "/")
        self.assertFalse(data["installed"])  # the test may write its client folder
        self.assertIsInstance(data["cameras"], list)
        for camera in data["cameras"]:
            self.assertEqual(list(camera), ["devid", "name", "desc"])
        self.assertEqual(data["cardReader"], {"expected": False, "library": False, "port": None,
                                              "card": False, "timedOut": False})
        self.assertEqual(data["urlScheme"], {"registered": False, "command": ""})
        self.assertEqual(data["models"], {"folder": self.client + "/models", "version": None})
        self.assertFalse(data["ready"])
        self.assertEqual(len(data["blockers"]), 1)
        self.assertIn("--createprotocol", data["blockers"][0])

    def test_createprotocol_registers_the_client_beside_it(self):
        # The client's own executable must exist for the link to count as registered.
        shutil.copy("/bin/true", os.path.join(self.client, "vornclient"))
        data = self.report("--createprotocol", expect_code=0)
        self.assertTrue(data["urlScheme"]["registered"])
        self.assertEqual(data["urlScheme"]["command"], self.client + "/vornclient %u")
        with open(os.path.join(self.env["XDG_CONFIG_HOME"], "mimeapps.list")) as f:
            self.assertIn("x-scheme-handler/vornapp=vornapp.desktop\n", f.read())
        self.assertTrue(data["ready"])
        # Registered to a client that is gone: the link would start nothing.
        os.remove(os.path.join(self.client, "vornclient"))
        data = self.report(expect_code=1)
        self.assertFalse(data["urlScheme"]["registered"])
        self.assertIn("does not exist", data["blockers"][0])

    def test_card_reader_found_by_the_port_search_without_showing_the_card(self):
        self.add_reader(ports="1005")
        result = self.run_check("--json")
        self.assertNotIn(TEST_NAME, result.stdout + result.stderr)
        self.assertNotIn("11010519491231002X", result.stdout + result.stderr)
        reader = json.loads(result.stdout)["cardReader"]
        self.assertEqual(reader, {"expected": False, "library": True, "port": 1005, "card": True,
                                  "timedOut": False})

        reader = self.report("--read-card")["cardReader"]
        self.assertEqual(reader["fields"]["name"], TEST_NAME)
        self.assertEqual(reader["fields"]["idCode"], "11010519491231002X")
        text = self.run_check("--read-card").stdout
        self.assertIn(TEST_NAME, text)

        self.add_reader(ports="3", card=0)
        reader = self.report()["cardReader"]
        self.assertEqual((reader["port"], reader["card"]), (3, False))

    def test_a_reader_that_never_answers_is_reported_in_time(self):
        self.add_reader(ports="1001")
        with open(os.path.join(self.client, "termb-sim.ini"), "a") as f:
            f.write("hang = 1\n")
        started = time.monotonic()
        data = self.report("--card-timeout", "1", "--expect-card", expect_code=1)
        self.assertLess(time.monotonic() - started, 10)
        self.assertTrue(data["cardReader"]["timedOut"])
        self.assertIn("did not answer in time", " ".join(data["blockers"]))

    def test_an_expected_reader_that_cannot_be_used_blocks(self):
        shutil.copy("/bin/true", os.path.join(self.client, "vornclient"))
        self.report("--createprotocol", expect_code=0)
        data = self.report("--expect-card", expect_code=1)
        self.assertIn("library is missing", " ".join(data["blockers"]))
        # A ComPort setting says the machine uses a reader, as --expect-card does.
        self.add_reader(ports="none")
        with open(os.path.join(self.client, "config.ini"), "w") as f:
            f.write("[Config]\nComPort=0\n")
        data = self.report(expect_code=1)
        self.assertTrue(data["cardReader"]["expected"])
        self.assertEqual(data["blockers"], ["No card reader answers on any port."])
        self.add_reader(ports="1001")
        self.assertTrue(self.report(expect_code=0)["ready"])

    def test_remote_control_tools_by_each_rule(self):
        def start(relative):
            path = os.path.join(self.root, relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            shutil.copy("/bin/sleep", path)
            process = subprocess.Popen([path, "60"])
            self.addCleanup(process.wait)
            self.addCleanup(process.kill)
            return process.pid

        exact = start("bin/ToDesk")
        prefix = start("bin/TeamViewer_Service")
        in_path = start("AnyDesk/helper")
        innocent = start("plain/helper")
        time.sleep(0.2)  # each has exec'd its copy
        data = self.report(expect_code=1)
        found = {tool["pid"]: tool for tool in data["remoteTools"]}
        self.assertEqual(found[exact]["rule"], 1)
        self.assertEqual(found[exact]["name"], "ToDesk")
        self.assertEqual(found[exact]["imagePath"], os.path.join(self.root, "bin/ToDesk"))
        self.assertEqual(found[prefix]["rule"], 2)
        self.assertEqual(found[in_path]["rule"], 3)
        self.assertNotIn(innocent, found)
        self.assertIn(f"ToDesk (process {exact}) is running", " ".join(data["blockers"]))

    def test_text_report_shows_hostile_process_names_escaped(self):
        # Names the kernel hands over as they are: escapes, a bell, a forged line, bytes that are
        # not UTF-8.
        names = [b"sunlogin\x1b[31mRED\x07", b"RayLink\nReady for an exam.", b"ToDesk\xff\xfe"]
        folder = os.path.join(self.root, "bin").encode()
        os.makedirs(folder)
        for name in names:
            path = os.path.join(folder, name)
            shutil.copy("/bin/sleep", path)
            process = subprocess.Popen([path, "60"])
            self.addCleanup(process.wait)
            self.addCleanup(process.kill)
        time.sleep(0.2)
        out = subprocess.run([CHECK, "--client-folder", self.client], env=self.env,
                             capture_output=True, timeout=120).stdout
        text = out.decode("utf-8")  # valid UTF-8 throughout
        self.assertNotIn("\x1b", text)
        self.assertNotIn("\x07", text)
        self.assertEqual([line for line in text.splitlines() if line.startswith("Ready")], [])
        self.assertIn("sunlogin\\e[31mRED\\a", text)
        self.assertIn("RayLink\\nReady for an exam.", text)
        self.assertIn("ToDesk\\xff\\xfe", text)
        # The JSON report keeps the names as they are (as valid UTF-8).
        tools = [tool["name"] for tool in self.report()["remoteTools"]]
        self.assertIn("sunlogin\x1b[31mRED\x07", tools)

    def test_models_version_from_the_state_folder(self):
        # A client folder with the package's marker keeps its state in the user's data folder.
        open(os.path.join(self.client, "per-user-state"), "w").close()
        models = os.path.join(self.env["XDG_DATA_HOME"], "vornclient/models")
        os.makedirs(models)
        with open(os.path.join(models, "ver.ini"), "w") as f:
            f.write("[config]\nver = 42\n")
        data = self.report()
        self.assertTrue(data["installed"])
        self.assertEqual(data["models"], {"folder": models, "version": 42})

    def test_lock_availability_follows_the_display(self):
        self.assertFalse(self.report()["lockAvailable"])  # no display at all
        if not shutil.which("xvfb-run"):
            self.skipTest("xvfb-run is not installed")
        def under_xvfb(extra):
            env = dict(self.env, **extra)
            result = subprocess.run(
                ["xvfb-run", "-a", CHECK, "--json", "--client-folder", self.client],
                env=env, capture_output=True, text=True, timeout=120)
            return json.loads(result.stdout)["lockAvailable"]
        self.assertTrue(under_xvfb({}))
        self.assertFalse(under_xvfb({"WAYLAND_DISPLAY": "wayland-0"}))

    def test_usage_errors(self):
        for args in (["--bogus"], ["--client-folder"], ["--json", "extra"], ["--card-timeout", "0"],
                     ["--card-timeout", "5s"], ["--client-folder", "/nonexistent"],
                     ["--client-folder", "/etc/hostname"]):
            result = subprocess.run([CHECK, *args], env=self.env, capture_output=True, text=True)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn("Usage:", result.stderr)
            self.assertEqual(result.stdout, "")

    def test_links_no_qt(self):
        needed = subprocess.run(["readelf", "-d", CHECK], capture_output=True, text=True).stdout
        self.assertIn("NEEDED", needed)
        self.assertNotIn("Qt", needed)


if __name__ == "__main__":
    unittest.main()
