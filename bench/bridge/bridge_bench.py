#!/usr/bin/env python3
"""Bridge round trip, run by hand: 1000 sequential calls from the page, each waiting for its
answer (GetIsRemoteLogin -> OnIsRemoteLogin, which scans the process table, and the cheap
GetVCamList -> OnVCamList), timed in the page with performance.now(); p50 and p99. Then a burst:
10,000 calls made in one script task, GetVCamList and GetIsRemoteLogin in turn, timed from the
first call to the last answer; the answers must come back in call order.

    python3 bench/bridge/bridge_bench.py [calls] [burst calls]
"""

import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../tests/desktop"))
from harness import Client, Display, TestServer  # noqa: E402

PAGE = """<!doctype html><html><head><script>%s
function measure(call, answer, n, done) {
  var times = [], t0;
  window[answer] = function () {
    times.push(performance.now() - t0);
    if (times.length < n) { t0 = performance.now(); window[call](); return; }
    times.sort(function (a, b) { return a - b; });
    done({p50: times[Math.floor(n * 0.5)], p99: times[Math.floor(n * 0.99)], max: times[n - 1]});
  };
  t0 = performance.now(); window[call]();
}
function burst(n, done) {
  var got = 0, outOfOrder = 0, t0;
  function answer(kind) {
    return function () {
      if (kind !== (got %% 2 === 0 ? 'cam' : 'remote')) outOfOrder++;
      if (++got === n) done({ms: performance.now() - t0, outOfOrder: outOfOrder});
    };
  }
  window.OnVCamList = answer('cam');
  window.OnIsRemoteLogin = answer('remote');
  t0 = performance.now();
  for (var i = 0; i < n; i++) { if (i %% 2 === 0) GetVCamList(); else GetIsRemoteLogin(); }
}
</script></head><body>bench</body></html>"""


def main():
    calls = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    burst_calls = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    with Display() as display, TestServer() as server:
        server.add_page("/bench", PAGE % (server.control_snippet() + "report({event:'ready'});"))
        with Client(display, config=f"[Config]\nUrl={server.origin}/bench\n",
                    log_rules="") as client:
            client.wait_for_window()
            server.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
            for call, answer in (("GetIsRemoteLogin", "OnIsRemoteLogin"),
                                 ("GetVCamList", "OnVCamList")):
                server.run_in_page(
                    f"measure('{call}','{answer}',{calls},function(r){{"
                    f"report({{event:'done',call:'{call}',r:JSON.stringify(r)}})}})")
                result = server.wait_for_report(
                    lambda r: r.get("event") == "done" and r["call"] == call, timeout=600)
                stats = json.loads(result["r"])
                print(f"{call:17s} n={calls}  p50 {stats['p50']:.2f} ms  p99 {stats['p99']:.2f} ms"
                      f"  max {stats['max']:.2f} ms")
            server.run_in_page(f"burst({burst_calls},function(r){{"
                               f"report({{event:'burst',r:JSON.stringify(r)}})}})")
            result = server.wait_for_report(lambda r: r.get("event") == "burst", timeout=600)
            stats = json.loads(result["r"])
            print(f"burst             n={burst_calls}  all answered in {stats['ms']:.0f} ms"
                  f"  out of order {stats['outOfOrder']}")


if __name__ == "__main__":
    main()
