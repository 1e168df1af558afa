#!/usr/bin/env python3
"""A page in the real client fetching a 50 MB model file through local serving, side by side in
one run with the same file from a loopback HTTP server; median of N fetches each, and the peak
memory (VmHWM) of the client's browser process afterwards. Run by hand:

    python3 bench/serving/page_fetch_bench.py [fetches]
"""

import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../tests/desktop"))
from harness import Client, Display, TestServer  # noqa: E402

SIZE = 50 * 1024 * 1024
PAGE = """<!doctype html><html><head><script>%s
function timeFetch(url, tag) {
  var t0 = performance.now();
  fetch(url).then(function (r) { return r.arrayBuffer(); }).then(function (b) {
    report({event: 'timed', tag: tag, ms: performance.now() - t0, bytes: b.byteLength});
  }).catch(function (e) { report({event: 'timed', tag: tag, ms: -1, bytes: String(e)}); });
}
report({event: 'ready'});
</script></head><body>fetch bench</body></html>"""


def vm_hwm_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def main():
    fetches = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    blob = os.urandom(SIZE)
    with Display() as display, TestServer() as server:
        server.add_page("/bench", PAGE % server.control_snippet())
        server.routes["/remote/model.bin"] = (200, blob, "application/octet-stream")
        host = f"127.0.0.1:{server.port}"
        client = Client(display, config=f"[Config]\nUrl={server.origin}/bench\n", log_rules="",
                        env={"VORN_STATIC_HOST": host})
        os.makedirs(os.path.join(client.folder, "models"))
        with open(os.path.join(client.folder, "models", "model.bin"), "wb") as f:
            f.write(blob)
        with client:
            client.wait_for_window()
            server.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
            before = vm_hwm_kb(client.proc.pid)
            times = {"local serving": [], "loopback server": []}
            for i in range(fetches):
                for kind, path in (("local serving", "/models/model.bin"),
                                   ("loopback server", "/remote/model.bin")):
                    tag = f"{kind}-{i}"
                    server.run_in_page(f"timeFetch('{server.origin}{path}?{i}', '{tag}')")
                    r = server.wait_for_report(lambda r: r.get("tag") == tag, timeout=120)
                    assert r["bytes"] == str(SIZE), r
                    times[kind].append(float(r["ms"]))
            after = vm_hwm_kb(client.proc.pid)
    for kind, values in times.items():
        print(f"{kind:16s} median {statistics.median(values):8.1f} ms  "
              f"min {min(values):8.1f}  max {max(values):8.1f}  (n={len(values)})")
    ratio = statistics.median(times["local serving"]) / statistics.median(times["loopback server"])
    print(f"local / loopback server: {ratio:.2f}")
    print(f"client VmHWM: {before / 1024:.1f} MB before, {after / 1024:.1f} MB after serving")


if __name__ == "__main__":
    main()
