"""Model files in the real client: the page's model URLs are answered from the model folder
beside the executable (without asking the network), other names go to the network unchanged,
and the page's Update() brings the folder up to date from the exam service."""

import io
import json
import os
import socket
import threading
import time
import unittest
import urllib.parse
import zipfile

from harness import Client, Display, TestServer, wait_until


def fetch_script(url, tag, headers=None):
    return (f"fetch({json.dumps(url)},{{headers:{json.dumps(headers or {})}}})"
            f".then(function(r){{return r.text().then(function(t){{"
            f"report({{event:'fetched',tag:{json.dumps(tag)},status:r.status,body:t,url:r.url,"
            f"type:r.headers.get('content-type')}})}})}})"
            f".catch(function(e){{report({{event:'fetched',tag:{json.dumps(tag)},status:-1,"
            f"body:String(e)}})}});")


class LocalServing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = Display().__enter__()
        cls.server = TestServer().__enter__()
        s = cls.server
        s.add_page("/page", "<!doctype html><html><head><meta charset='utf-8'><script>" +
                   s.control_snippet() + "report({event:'ready'})</script></head><body>models"
                   "</body></html>")
        host = f"127.0.0.1:{s.port}"
        cls.client = Client(cls.display, config=f"[Config]\nUrl={s.origin}/page\n",
                            env={"VORN_STATIC_HOST": host, "VORN_PAGE_HOST": host,
                                 "VORN_HTTP_RESOURCE_HOST": "127.0.0.1:9",
                                 "VORN_HTTPS_RESOURCE_HOST": "127.0.0.1:9"})
        models = os.path.join(cls.client.folder, "models")
        files = {
            "face/model.json": b'{"face":1}',
            "a b.json": b"plus means space",
            "a+b.json": b"encoded plus",
            "模型/权重.bin": "中文".encode("utf-8"),
            "empty.bin": b"",
            "deep/er/x.json": b"deep",
            "replaced.json": b"first",
        }
        for name, data in files.items():
            path = os.path.join(models, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        outside = os.path.join(cls.client.root, "outside")
        os.makedirs(outside, exist_ok=True)
        with open(os.path.join(outside, "o.json"), "w") as f:
            f.write("outside the model folder")
        os.symlink("/etc/hostname", os.path.join(models, "host.json"))
        os.symlink(outside, os.path.join(models, "linked"))
        with open(os.path.join(models, "huge.bin"), "wb") as f:
            f.truncate(200 << 30)  # sparse: larger than the machine's memory, no disk used
        s.routes["/models/missing.json"] = (200, "from the network", "application/json")
        s.routes["/models/host.json"] = (200, "host from the network", "application/json")
        s.routes["/secret.json"] = (200, "secret from the network", "application/json")
        cls.client.start()
        cls.client.wait_for_window()
        s.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.server.__exit__()
        cls.display.__exit__()

    def fetch(self, path, tag, headers=None, timeout=30):
        self.server.run_in_page(fetch_script(self.server.origin + path, tag, headers))
        return self.server.wait_for_report(
            lambda r: r.get("event") == "fetched" and r["tag"] == tag, timeout=timeout)

    def assert_local(self, path, body, tag):
        before = len(self.server.requests)
        result = self.fetch(path, tag)
        self.assertEqual((result["status"], result["body"]), ("200", body), path)
        asked = [p for _, p, _ in self.server.requests[before:] if p.startswith(("/models", "/test"))]
        self.assertEqual(asked, [], f"{path} reached the network")

    def test_local_files_are_served_without_the_network(self):
        self.assert_local("/models/face/model.json?v=3", '{"face":1}', "query")
        self.assert_local("/models/face/model.json#frag", '{"face":1}', "fragment")
        self.assert_local("/models/a+b.json", "plus means space", "plus")
        self.assert_local("/models/a%2Bb.json", "encoded plus", "encoded-plus")
        self.assert_local("/models/%E6%A8%A1%E5%9E%8B/%E6%9D%83%E9%87%8D.bin", "中文", "utf8")
        self.assert_local("/models/empty.bin", "", "empty")
        self.assert_local("/models/deep/er/x.json", "deep", "subfolders")
        self.assert_local("/test/models/face/model.json", '{"face":1}', "page-host")

    def test_missing_and_climbing_names_go_to_the_network(self):
        result = self.fetch("/models/missing.json", "missing")
        self.assertEqual((result["status"], result["body"]), ("200", "from the network"))
        self.assertIn("/models/missing.json", self.server.paths_requested())
        result = self.fetch("/models/..%2Fsecret.json", "climb")
        self.assertNotEqual(result["body"], "secret from the network")
        self.assertTrue(any(p.startswith("/models/") and "secret" in p
                            for p in self.server.paths_requested()))

    def test_a_file_replaced_after_serving_is_served_with_its_new_content(self):
        self.assert_local("/models/replaced.json", "first", "replaced-1")
        models = os.path.join(self.client.folder, "models")
        with open(os.path.join(models, "replaced.json.part"), "wb") as f:
            f.write(b"second")
        os.replace(os.path.join(models, "replaced.json.part"), os.path.join(models, "replaced.json"))
        self.assert_local("/models/replaced.json?again", "second", "replaced-2")

    def test_links_in_the_model_folder_are_not_followed(self):
        result = self.fetch("/models/host.json", "link-to-file")
        self.assertEqual((result["status"], result["body"]), ("200", "host from the network"))
        result = self.fetch("/models/linked/o.json", "linked-folder")
        self.assertNotEqual(result["body"], "outside the model folder")
        self.assertIn("/models/linked/o.json", self.server.paths_requested())

    def test_a_model_larger_than_memory_is_served_without_stopping_the_client(self):
        result = self.fetch("/models/huge.bin", "huge-range", headers={"Range": "bytes=0-15"})
        self.assertEqual((result["status"], result["body"]), ("206", "\0" * 16))
        self.assertIsNone(self.client.proc.poll(), "the client stopped")
        self.assert_local("/models/face/model.json?after-huge", '{"face":1}', "after-huge")

    def test_model_files_carry_the_systems_mime_types(self):
        models = os.path.join(self.client.folder, "models")
        for name in ("f.woff2", "f.ttf", "i.ico", "i.avif", "v.webm"):
            with open(os.path.join(models, name), "wb") as f:
                f.write(b"x")
        types = {name: self.fetch("/models/" + name, "type-" + name)["type"]
                 for name in ("f.woff2", "f.ttf", "i.ico", "i.avif", "v.webm")}
        self.assertEqual(types, {"f.woff2": "font/woff2", "f.ttf": "font/ttf",
                                 "i.ico": "image/vnd.microsoft.icon", "i.avif": "image/avif",
                                 "v.webm": "video/webm"})

    def test_urls_with_nul_bytes_end_at_once(self):
        # The engine refuses a URL whose path holds %00 before any request is made (fetch
        # rejects); in a query it is sent as it is, and a model URL is still answered locally.
        for path in ("/models/face/model%00.json", "/secret%00.json"):
            started = time.monotonic()
            result = self.fetch(path, "nul-" + path, timeout=10)
            self.assertEqual(result["status"], "-1", path)
            self.assertLess(time.monotonic() - started, 10)
        self.assert_local("/models/face/model.json?x=%00", '{"face":1}', "nul-query")

    def test_idle_local_connections_do_not_hold_up_model_requests(self):
        served = urllib.parse.urlsplit(self.fetch("/models/face/model.json?port", "port")["url"])
        self.assertEqual(served.hostname, "127.0.0.1")
        sockets = [socket.create_connection(("127.0.0.1", served.port)) for _ in range(64)]
        stop = threading.Event()

        def drip():
            request = b"GET /" + b"x" * 4096
            for i in range(len(request)):
                for s in sockets[:32]:  # half send a byte now and then, half send nothing
                    try:
                        s.send(request[i:i + 1])
                    except OSError:
                        pass
                if stop.wait(0.2):
                    return
        dripper = threading.Thread(target=drip, daemon=True)
        dripper.start()
        try:
            started = time.monotonic()
            for i in range(5):
                self.assert_local(f"/models/deep/er/x.json?drip{i}", "deep", f"drip-{i}")
            self.assertLess(time.monotonic() - started, 20)
        finally:
            stop.set()
            dripper.join()
            for s in sockets:
                s.close()


def read_text(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def make_zip(files):
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as z:
        for name, content in files.items():
            z.writestr(name, content)
    return data.getvalue()


class UpdateFromThePage(unittest.TestCase):
    def test_update_installs_the_archive_and_the_page_gets_the_new_file(self):
        with Display() as d, TestServer() as s:
            archive = make_zip({"ver.ini": "[Config]\nVer=7\n", "face/model.json": '{"v":7}',
                                "shards/w1.bin": b"\x00\x01" * 1000})
            s.routes["/models.zip"] = (200, archive, "application/zip")
            s.routes["/modelVer.json"] = (200, json.dumps(
                {"modelVer": 7, "downloadUrl": f"{s.origin}/models.zip"}), "application/json")
            s.add_page("/page", "<!doctype html><html><head><script>" + s.control_snippet() +
                       "report({event:'ready'})</script></head><body>update</body></html>")
            host = f"127.0.0.1:{s.port}"
            client = Client(d, config=f"[Config]\nUrl={s.origin}/page\n",
                            env={"VORN_HTTP_RESOURCE_HOST": host, "VORN_STATIC_HOST": host})
            models = os.path.join(client.folder, "models")
            os.makedirs(models)
            with open(os.path.join(models, "ver.ini"), "w") as f:
                f.write("[Config]\nVer=5\n")
            with open(os.path.join(models, "old.json"), "w") as f:
                f.write("kept")
            with client:
                client.wait_for_window()
                s.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
                s.run_in_page("Update();")
                wait_until(lambda: os.path.exists(os.path.join(models, "face", "model.json")),
                           30, what="the installed model")
                wait_until(lambda: "Ver=7" in read_text(os.path.join(models, "ver.ini")), 10,
                           what="ver.ini of the new version")
                with open(os.path.join(models, "old.json")) as f:
                    self.assertEqual(f.read(), "kept")
                with open(os.path.join(models, "shards", "w1.bin"), "rb") as f:
                    self.assertEqual(f.read(), b"\x00\x01" * 1000)
                version_requests = [q for _, p, q in s.requests if p == "/modelVer.json"]
                self.assertEqual(len(version_requests), 1)
                self.assertIn("rand", version_requests[0])
                # The page now gets the new file from the folder.
                s.run_in_page(fetch_script(f"{s.origin}/models/face/model.json?v=7", "new"))
                result = s.wait_for_report(lambda r: r.get("event") == "fetched")
                self.assertEqual((result["status"], result["body"]), ("200", '{"v":7}'))
                self.assertNotIn("/models/face/model.json", s.paths_requested())
                # Same version again: nothing is downloaded.
                downloads = s.paths_requested().count("/models.zip")
                s.run_in_page("Update();")
                wait_until(lambda: len([p for p in s.paths_requested() if p == "/modelVer.json"]) == 2,
                           20, what="the second version request")
                time.sleep(1)
                self.assertEqual(s.paths_requested().count("/models.zip"), downloads)


if __name__ == "__main__":
    unittest.main()
