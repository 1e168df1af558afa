"""The installed package, used as a candidate would: installed with apt-get, the client run by an
unprivileged user under Xvfb (its files land in that user's state folder, never in the client
folder), vornapp: links through the packaged entry, the kiosk session, and a removal that leaves
no file of the package behind. Run by run.sh, as root."""

import contextlib
import datetime
import io
import json
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "desktop"))
from harness import (Display, TestServer, client_processes, opened_link,  # noqa: E402
                     read_text as read, snapshot, wait_until, without_desktop)

PACKAGE = os.environ["VORN_PACKAGE"]
CLIENT_FOLDER = "/usr/lib/vornclient"
EXE = CLIENT_FOLDER + "/vornclient"
USER = "vorncandidate"
LINK = "vornapp://exam/start?id=42"


def apt(*args):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "-y", "-o", "DPkg::Lock::Timeout=600", *args], env=env, check=True,
                   stdout=subprocess.DEVNULL)


def make_zip(files):
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w") as z:
        for name, content in files.items():
            z.writestr(name, content)
    return data.getvalue()


class Candidate:
    """The unprivileged user and the environment a login would give them."""

    def __init__(self, display):
        self.pw = pwd.getpwnam(USER)
        self.home = self.pw.pw_dir
        self.state = os.path.join(self.home, ".local/share/vornclient")
        self.runtime = tempfile.mkdtemp(prefix="vorn-runtime-")
        os.chown(self.runtime, self.pw.pw_uid, self.pw.pw_gid)
        os.chmod(self.runtime, 0o700)
        self.env = {
            "PATH": "/usr/local/bin:/usr/bin:/bin",
            "HOME": self.home,
            "USER": USER,
            "LOGNAME": USER,
            "DISPLAY": display.env["DISPLAY"],
            "XDG_RUNTIME_DIR": self.runtime,
            "VORN_DISABLE_GPU": "1",
            "QT_QPA_PLATFORM": "xcb",
            "QT_LOGGING_RULES": "vorn.*.debug=true",
        }

    def command(self, args, env=None):
        merged = dict(self.env, **(env or {}))
        return ["runuser", "-u", USER, "--", "env", "-i", *(f"{k}={v}" for k, v in merged.items()),
                *args]

    def run(self, args, env=None, **kw):
        return subprocess.run(self.command(args, env), capture_output=True, text=True, **kw)

    def start(self, args, env=None, log=None):
        return subprocess.Popen(self.command(args, env), stdout=log or subprocess.DEVNULL,
                                stderr=subprocess.STDOUT, start_new_session=True)

    def close(self):
        shutil.rmtree(self.runtime, ignore_errors=True)


def stop(proc):
    with contextlib.suppress(ProcessLookupError):
        os.killpg(proc.pid, 15)
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, 9)
        proc.wait(10)
    for pid, _ in client_processes(EXE):
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, 9)


def end_processes_of(user):
    """Ends every process the test user still has (a session bus an opener started, say)."""
    uid = pwd.getpwnam(user).pw_uid
    for pid in os.listdir("/proc"):
        with contextlib.suppress(OSError):
            if pid.isdigit() and os.stat(f"/proc/{pid}").st_uid == uid:
                os.kill(int(pid), 9)


def remove_user():
    with contextlib.suppress(KeyError):
        end_processes_of(USER)
        subprocess.run(["userdel", "-r", USER], capture_output=True)


def setUpModule():
    if subprocess.run(["dpkg", "-s", "vornclient"], capture_output=True).returncode == 0:
        apt("purge", "vornclient")
    apt("install", PACKAGE)
    remove_user()
    subprocess.run(["useradd", "--create-home", "--shell", "/bin/sh", USER], check=True)


def tearDownModule():
    remove_user()
    if subprocess.run(["dpkg", "-s", "vornclient"], capture_output=True).returncode == 0:
        apt("purge", "vornclient")


class InstalledPackage(unittest.TestCase):
    def test_0_files_and_informational_forms(self):
        files = subprocess.run(["dpkg", "-L", "vornclient"], capture_output=True, text=True,
                               check=True).stdout.split()
        for path in (EXE, CLIENT_FOLDER + "/Skin/CEFBrowser/main.xml", "/usr/bin/vornclient",
                     "/usr/share/applications/vornclient.desktop",
                     "/usr/share/icons/hicolor/256x256/apps/vornclient.png",
                     "/usr/share/metainfo/cn.vorn_exam.vornclient.metainfo.xml",
                     "/usr/share/xsessions/vornclient-kiosk.desktop"):
            self.assertIn(path, files)
        self.assertFalse([f for f in files if f.endswith("libtermb.so")], "simulator packaged")
        version = subprocess.run(["vornclient", "--version"], capture_output=True, text=True,
                                 env={"PATH": "/usr/bin:/bin"}, timeout=20)
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout, r"^vornclient \d+\.\d+\.\d+\n$")
        deb_version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "vornclient"],
                                     capture_output=True, text=True).stdout
        self.assertEqual(version.stdout.split()[1], deb_version)
        # The desktop cache names the packaged entry for the scheme (refreshed by a trigger).
        self.assertIn("x-scheme-handler/vornapp=vornclient.desktop",
                      read("/usr/share/applications/mimeinfo.cache"))

    def test_1_an_unwritable_client_folder_counts_as_installed(self):
        # The unit test of this rule skips as root (root may write any folder); here it runs as
        # the candidate, from a copy any user can reach.
        folder = tempfile.mkdtemp(prefix="vorn-unit-")
        self.addCleanup(shutil.rmtree, folder, True)
        os.chmod(folder, 0o755)
        test = shutil.copy(os.path.join(os.environ["VORN_BUILD_DIR"], "tests", "client_paths_test"),
                           folder)
        with Display(window_manager=False) as d:
            candidate = Candidate(d)
            self.addCleanup(candidate.close)
            result = candidate.run([test, "--gtest_filter=Folders.AFolderTheUserCannotWriteIsInstalled"],
                                   timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn("[  PASSED  ] 1 test.", result.stdout)
        self.assertNotIn("SKIPPED", result.stdout)

    def test_2_a_candidate_runs_the_demo_and_their_files_stay_theirs(self):
        before = snapshot(CLIENT_FOLDER)
        with Display() as d, TestServer() as s:
            candidate = Candidate(d)
            self.addCleanup(candidate.close)
            log_path = os.path.join(candidate.runtime, "client.log")
            with open(log_path, "w") as log:
                client = candidate.start(["vornclient"], log=log)
                try:
                    d.wait_for_window(timeout=90)
                    wait_until(lambda: "vorn://home/index.html" in read(log_path), 60, what="the demo page")
                    # The start's registration run made the packaged entry the user's default.
                    wait_until(lambda: candidate.run(
                        ["xdg-mime", "query", "default", "x-scheme-handler/vornapp"]).stdout.strip()
                        == "vornclient.desktop", 20, what="xdg-mime naming the packaged entry")
                finally:
                    stop(client)
            today = datetime.date.today().isoformat()
            log_file = os.path.join(candidate.state, "logs", f"vornclient-{today}.log")
            self.assertIn("vorn.app info: vornclient ", read(log_file))
            self.assertIn("no card library at /usr/lib/vornclient/libtermb.so", read(log_file))
            self.assertEqual(os.stat(candidate.state).st_mode & 0o777, 0o700)
            self.assertEqual(os.stat(candidate.state).st_uid, candidate.pw.pw_uid)
            self.assertFalse(os.path.exists(os.path.join(candidate.home, ".local/share/applications/vornapp.desktop")))

            # An exam page from the administrator's config.ini: Init stores the port, Update
            # installs models, both in the candidate's own folder.
            archive = make_zip({"ver.ini": "[Config]\nVer=7\n", "face/model.json": '{"v":7}'})
            s.routes["/models.zip"] = (200, archive, "application/zip")
            s.routes["/modelVer.json"] = (200, json.dumps(
                {"modelVer": 7, "downloadUrl": f"{s.origin}/models.zip"}), "application/json")
            s.add_page("/exam", "<!doctype html><html><head><script>" + s.report_snippet() +
                       "Init('3');Update();report({event:'ready'})</script></head><body>exam</body></html>")
            config = os.path.join(CLIENT_FOLDER, "config.ini")
            with open(config, "w") as f:
                f.write(f"[Config]\nUrl={s.origin}/exam\n")
            self.addCleanup(os.remove, config)
            before[config] = None
            client = candidate.start(["vornclient"], env={
                "VORN_HTTP_RESOURCE_HOST": f"127.0.0.1:{s.port}"})
            try:
                s.wait_for_report(lambda r: r.get("event") == "ready", timeout=90)
                models = os.path.join(candidate.state, "models")
                wait_until(lambda: os.path.exists(os.path.join(models, "face", "model.json")), 30,
                           what="the model update in the candidate's folder")
                self.assertIn("Ver=7", read(os.path.join(models, "ver.ini")))
                wait_until(lambda: "ComPort=3" in read(os.path.join(candidate.state, "config.ini"))
                           if os.path.exists(os.path.join(candidate.state, "config.ini")) else False,
                           20, what="ComPort in the candidate's folder")
            finally:
                stop(client)
            self.assertEqual(read(config), f"[Config]\nUrl={s.origin}/exam\n")
        after = snapshot(CLIENT_FOLDER)
        after[config] = None
        self.assertEqual(after, before, "the client wrote below " + CLIENT_FOLDER)

    def test_3_a_link_opens_the_installed_client_through_its_entry(self):
        with Display() as d:
            candidate = Candidate(d)
            self.addCleanup(candidate.close)
            # gio wants a session bus, as a login has; without one it would start its own and
            # leave it running.
            for opener in (["xdg-open"], ["dbus-run-session", "--", "gio", "open"]):
                with self.subTest(opener=" ".join(opener)):
                    command = candidate.command(opener, env=without_desktop({}))
                    with opened_link(command, LINK, None, EXE) as argv:
                        # gio passes Exec's program as written ("vornclient"); the process is
                        # the installed executable all the same.
                        self.assertEqual(argv[1:], [LINK])

    def test_4_the_kiosk_session_shows_the_client_alone_and_ends_with_it(self):
        entry = read("/usr/share/xsessions/vornclient-kiosk.desktop")
        self.assertIn("Exec=/usr/lib/vornclient/kiosk-session\n", entry)
        with Display(window_manager=False) as d:
            candidate = Candidate(d)
            self.addCleanup(candidate.close)
            log = os.path.join(candidate.state, "logs",
                               f"vornclient-{datetime.date.today().isoformat()}.log")
            logged_before = len(read(log)) if os.path.exists(log) else 0
            # As a login manager might leave it on a distribution whose default is Wayland.
            session = candidate.start(["/usr/lib/vornclient/kiosk-session"], env={
                "WAYLAND_DISPLAY": "wayland-0", "XDG_SESSION_TYPE": "wayland"})
            try:
                window = d.wait_for_window(timeout=90)
                wait_until(lambda: "_NET_WM_STATE_MAXIMIZED_VERT" in d.net_wm_state(window), 20,
                           what="the maximised client")
                self.assertEqual(d.run(["wmctrl", "-m"]).stdout.split("\n")[0], "Name: Openbox")
                # Only the client's window is managed.
                listed = [l for l in d.run(["wmctrl", "-l"]).stdout.splitlines() if l.strip()]
                self.assertEqual(len(listed), 1, listed)
                logged = read(log)[logged_before:]
                self.assertIn(" vorn.app info: vornclient ", logged)
                self.assertNotIn("cannot be enforced", logged)
                d.run(["wmctrl", "-c", "CEFBrowser"])
                self.assertEqual(session.wait(30), 0)
                self.assertNotEqual(d.run(["wmctrl", "-m"], check=False).returncode, 0,
                                    "the window manager outlived the session")
            finally:
                stop(session)

    def test_9_removal_leaves_no_file_of_the_package(self):
        files = subprocess.run(["dpkg", "-L", "vornclient"], capture_output=True, text=True,
                               check=True).stdout.split()
        apt("remove", "vornclient")
        left = [f for f in files if os.path.lexists(f) and not os.path.isdir(f)]
        self.assertEqual(left, [])
        self.assertFalse(os.path.exists(CLIENT_FOLDER))
        self.assertNotIn("vornapp", read("/usr/share/applications/mimeinfo.cache")
                         if os.path.exists("/usr/share/applications/mimeinfo.cache") else "")


if __name__ == "__main__":
    unittest.main()
