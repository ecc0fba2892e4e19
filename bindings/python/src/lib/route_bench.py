"""The Python rows of scripts/bench: Snapshot.route on the free-threaded interpreter.

Prints one table in the form of the C++ one, with the targets checked against the figures of
this run. The QuickJS-ng runtime floor comes from the C++ run (its JSON output, named by
--floor-json); without it the scripted row is shown without its target. Needs the sim build of
the module: no reader of the Linux build yields a PAC setting, and only under one does a
caller's script run.

    python route_bench.py --script ../shared/bench/typical.pac [--floor-json out.json] [--seconds 1]
"""
import argparse
import json
import os
import sys
import threading
import time
import urllib.request

import zelvane

NO_PROXY = ",".join([".corp.example", "intranet", "10.0.0.0/8", "192.168.0.0/16", "localhost",
                     "127.0.0.1", ".internal", "build.example.org", "*.svc.cluster", ".lan"])
PROXY = "http://proxy.example.net:3128"
URL = "http://www.example.com/index.html"
HOST = "www.example.com"
FLOOR_ROW = "pac/floor/runtime_and_context"


def per_op(fn, seconds):
    """Seconds per call of fn, over batches until `seconds` have passed (after a warm-up)."""
    for _ in range(100):
        fn()
    n, batch, start = 0, 64, time.perf_counter()
    while True:
        for _ in range(batch):
            fn()
        n += batch
        elapsed = time.perf_counter() - start
        if elapsed >= seconds:
            return elapsed / n
        batch = min(batch * 2, 1 << 16)


def per_second(fn, threads, seconds):
    """Calls of fn per second with `threads` threads calling it at once."""
    counts = [0] * threads
    stop = threading.Event()
    barrier = threading.Barrier(threads + 1)

    def body(i):
        barrier.wait()
        n = 0
        while not stop.is_set():
            for _ in range(32):
                fn()
            n += 32
        counts[i] = n

    workers = [threading.Thread(target=body, args=(i,)) for i in range(threads)]
    for w in workers:
        w.start()
    barrier.wait()
    start = time.perf_counter()
    time.sleep(seconds)
    stop.set()
    for w in workers:
        w.join()
    return sum(counts) / (time.perf_counter() - start)


def floor_seconds(path):
    if not path or not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as f:
        for row in json.load(f).get("benchmarks", []):
            if row.get("name") == FLOOR_ROW and row.get("run_type", "iteration") == "iteration":
                scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[row.get("time_unit", "ns")]
                return row["real_time"] * scale
    return None


def human_time(s):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if s >= scale:
            return f"{s / scale:.2f} {unit}"
    return f"{s / 1e-9:.2f} ns"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--script", required=True)
    ap.add_argument("--floor-json")
    ap.add_argument("--seconds", type=float, default=1.0)
    args = ap.parse_args()
    if sys._is_gil_enabled():  # noqa: SLF001 (the interpreter's own switch)
        print("route_bench: the GIL is enabled; the thread rows need the free-threaded interpreter")
    secs = args.seconds

    static = zelvane.read(env={"http_proxy": PROXY, "https_proxy": PROXY, "no_proxy": NO_PROXY},
                          precedence="before-system")
    assert static.route(URL).steps == [PROXY + "/"], static.route(URL)
    os.environ.update({"http_proxy": PROXY, "https_proxy": PROXY, "no_proxy": NO_PROXY})

    def urllib_bypass():
        return urllib.request.proxy_bypass_environment(HOST, urllib.request.getproxies_environment())

    assert not urllib_bypass()

    rows = []  # (name, seconds per op or None, ops per second or None, note)
    t_static = per_op(lambda: static.route(URL), secs)
    t_urllib = per_op(urllib_bypass, secs)
    rows.append(("python/route/static_10_rules", t_static, 1 / t_static, ""))
    rows.append(("python/urllib/proxy_bypass_environment", t_urllib, 1 / t_urllib, ""))

    scripted = None
    script = None
    if os.path.exists(args.script):
        with open(args.script, encoding="utf-8") as f:
            script = f.read()
        try:
            import _zelvane_sim
        except ImportError:
            _zelvane_sim = None
        if _zelvane_sim is not None:
            _zelvane_sim.reset()
            _zelvane_sim.set_ie_config(auto_config_url="http://wpad.example/proxy.pac")
            snap = zelvane.read(env={}, precedence="ignore")
            policy = zelvane.PacPolicy(timeout=5)
            scripted = lambda: snap.route("https://www.example.com/", pac="quickjs", script=script,
                                          policy=policy)
            assert scripted().engine == "quickjs"
    if scripted is None:
        print(f"route_bench: no scripted rows (needs {args.script} and the sim build of the module)")
    else:
        t_script = per_op(scripted, secs)
        rows.append(("python/route/typical.pac", t_script, 1 / t_script, ""))

    floor = floor_seconds(args.floor_json)
    if floor is not None:
        rows.append((FLOOR_ROW + " (C++ run)", floor, 1 / floor, ""))

    rates = {}
    for name, fn in (("static", lambda: static.route(URL)), ("typical.pac", scripted)):
        if fn is None:
            continue
        for threads in (1, 8):
            rate = per_second(fn, threads, secs)
            rates[(name, threads)] = rate
            rows.append((f"python/route/{name}/threads:{threads}", None, rate, ""))

    width = max(len(r[0]) for r in rows)
    print(f"{'Python row':<{width}}  {'time/op':>12}  {'ops/s':>14}")
    for name, t, rate, _ in rows:
        print(f"{name:<{width}}  {human_time(t) if t else '':>12}  {rate:>14,.0f}")

    targets = [("static route under 1 us", t_static < 1e-6, human_time(t_static)),
               ("static route faster than urllib's bypass check", t_static < t_urllib,
                f"{t_urllib / t_static:.2f}x")]
    if scripted is not None and floor is not None:
        targets.append(("scripted route within 1.5x the QuickJS-ng runtime floor", t_script <= 1.5 * floor,
                        f"{t_script / floor:.2f}x"))
    if ("static", 8) in rates:
        gain = rates[("static", 8)] / rates[("static", 1)]
        targets.append(("8 threads at least 6x 1 thread, static", gain >= 6, f"{gain:.2f}x"))
    if ("typical.pac", 8) in rates:
        targets.append(("at least 50,000 scripted routes/s", rates[("typical.pac", 8)] >= 50_000,
                        f"{rates[('typical.pac', 8)]:,.0f}/s"))
    print()
    for text, met, figure in targets:
        print(f"{'met   ' if met else 'MISSED'}  {text}: {figure}")


if __name__ == "__main__":
    main()
