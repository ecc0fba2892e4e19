"""The module's speed targets, each row against its yardstick on the same input.

Figures are the best of several rounds (least disturbed by other work on the machine); each
row prints both costs, their ratio and the target. Run through scripts/bench, which prints this table after the C++ one."""
import argparse
import json
import marshal
import os
import queue
import statistics
import subprocess
import sys
import threading
import time
import urllib.request

import zelvane

FOUR = {"http_proxy": "http://proxy.example:3128", "https_proxy": "http://proxy.example:3128",
        "ftp_proxy": "proxy.example:21", "no_proxy": "localhost,127.0.0.1,.example.com,10.0.0.0/8,intranet"}
FORTY = dict(FOUR)
FORTY.update({f"UNRELATED_VARIABLE_{i}": f"value number {i} " * 3 for i in range(36)})


def best(fn, number, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(number):
            fn()
        times.append((time.perf_counter() - start) / number)
    return min(times)


def urllib_on(env):
    # getproxies_environment() reads os.environ: give it the same mapping.
    saved = urllib.request.os.environ
    def run():
        urllib.request.os.environ = env
        try:
            return urllib.request.getproxies_environment()
        finally:
            urllib.request.os.environ = saved
    return run


# Snapshot.route: one URL under a manual setting with a 10-rule bypass list, and through a script.
ROUTE_ENV = {"http_proxy": "http://proxy.example:3128", "https_proxy": "http://proxy.example:3128",
             "no_proxy": ",".join([".corp.example", "intranet", "10.0.0.0/8", "192.168.0.0/16", "localhost",
                                   "127.0.0.1", ".internal", "build.example.org", "*.svc.cluster", ".lan"])}
ROUTE_URL = "http://www.example.com/index.html"
SCRIPT_URL = "https://www.example.com/"
FLOOR_ROW = "pac/floor/runtime_and_context"
POOL_ROW = "pac/pool/typical.pac/real_time/threads:1"


def call_rate(threads, fn, seconds):
    """Calls of fn per second with `threads` threads calling it at once."""
    return thread_rate(threads, lambda: fn, seconds)


def thread_rate(threads, make, seconds):
    """Calls per second with `threads` threads at once, each calling the function make() gave
    it. A function of each thread's own keeps the threads from contending for the reference
    count of one shared function object (a nested function is not immortal on 3.13t), which
    is the harness's cost, not the module's; what the function itself shares stays shared."""
    counts = [0] * threads
    barrier = threading.Barrier(threads)

    def work(i):
        fn = make()
        barrier.wait()
        stop = time.perf_counter() + seconds
        n = 0
        while time.perf_counter() < stop:
            for _ in range(50):
                fn()
            n += 50
        counts[i] = n

    ts = [threading.Thread(target=work, args=(i,)) for i in range(threads)]
    for t in ts:
        t.start()
    for t in ts:
        t.join()
    return sum(counts) / seconds


def urllib_bypass(env, host):
    """What a program does today: read the proxies of the environment, then ask whether the host
    bypasses them."""
    saved = urllib.request.os.environ
    def run():
        urllib.request.os.environ = env
        try:
            return urllib.request.proxy_bypass_environment(host, urllib.request.getproxies_environment())
        finally:
            urllib.request.os.environ = saved
    return run


def yardstick():
    """The interpreter's own limit for the thread rows: a minimal C call, d.get(key), with 8
    threads against 1, on one dict that every thread shares and on a dict of each thread's own
    (with values of its own: a shared value is counted by every get that returns it). The key
    is an interned constant, which no thread counts."""
    shared = dict(FOUR)

    def on_shared():
        return lambda d=shared, k="http_proxy": d.get(k)

    def on_private():
        own = {k: "".join(list(v)) for k, v in FOUR.items()}
        return lambda d=own, k="http_proxy": d.get(k)

    figures = {}
    for name, make in [("shared", on_shared), ("private", on_private)]:
        one = thread_rate(1, make, 1.0)
        eight = thread_rate(8, make, 1.0)
        figures[name] = (eight, one)
    return figures


def thread_rows(label, eight, one, unit, yard):
    """A thread row as its scaling, with the target of at least the yardstick's scaling on
    shared and on private objects, then its share of each of those scalings."""
    scaling = eight / one
    ys, yp = (e / o for e, o in (yard["shared"], yard["private"]))
    return [
        (label, eight, f"1 thread ({unit})", one, scaling,
         f">= yardstick: {ys:.2f} (shared), {yp:.2f} (private)"),
        ("  share of the shared yardstick's scaling", f"{scaling:.2f} x", "d.get, one dict, 8 threads",
         f"{ys:.2f} x", scaling / ys, ">= 1"),
        ("  share of the private yardstick's scaling", f"{scaling:.2f} x", "d.get, own dicts, 8 threads",
         f"{yp:.2f} x", scaling / yp, ">= 1"),
    ]


def scripted_figures(script_path, repeat):
    """The scripted route's cost and rates; runs in the sim build of the module, the one where a
    snapshot can hold a PAC setting (a caller's script runs only under one)."""
    import _zelvane_sim
    with open(script_path, encoding="utf-8") as f:
        script = f.read()
    _zelvane_sim.reset()
    _zelvane_sim.set_ie_config(auto_config_url="http://wpad.example/proxy.pac")
    snap = zelvane.read(env={}, precedence="ignore")
    policy = zelvane.PacPolicy(timeout=5)
    def make():
        return lambda s=snap, t=script, p=policy: s.route(SCRIPT_URL, pac="quickjs", script=t, policy=p)
    route = make()
    assert route().engine == "quickjs", route()
    figures = {"per_op": best(route, 500, repeat), "rate1": thread_rate(1, make, 1.0),
               "rate8": thread_rate(8, make, 1.0)}
    figures.update(idle_pool_cost())
    return figures


def named_tasks(name):
    found = []
    for tid in os.listdir("/proc/self/task"):
        try:
            with open(f"/proc/self/task/{tid}/comm", encoding="ascii") as f:
                if f.read().strip() == name:
                    found.append(tid)
        except OSError:
            pass
    return found


def cpu_ticks(tids):
    """User and system time of these threads so far, in clock ticks."""
    total = 0
    for tid in tids:
        try:
            with open(f"/proc/self/task/{tid}/stat", encoding="ascii") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except (OSError, IndexError, ValueError):
            pass
    return total


def idle_pool_cost():
    """The pool threads the rate rows left, idling: past their short active wait, they should
    neither wake nor spend any CPU until their idle exit (30 s later)."""
    time.sleep(0.5)
    tids = named_tasks("zelvane-pac")
    switches, ticks = context_switches(tids), cpu_ticks(tids)
    time.sleep(2.0)
    return {"pool_threads": len(tids), "pool_wakeups": (context_switches(tids) - switches) / 2.0,
            "pool_cpu": (cpu_ticks(tids) - ticks) / os.sysconf("SC_CLK_TCK") / 2.0}


def cpp_seconds(path, name, field):
    """A row's time per operation ("cpu_time" or "real_time") from the C++ benchmark program's
    JSON output; none without it."""
    if not path or not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as f:
        for row in json.load(f).get("benchmarks", []):
            if row.get("name") == name and row.get("run_type", "iteration") == "iteration":
                scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[row.get("time_unit", "ns")]
                return row[field] * scale
    return None


# Peak memory of one reading of a huge no_proxy, through its diagnostics, repr and export (all
# kept), in a fresh interpreter: the growth of the peak resident size over the input's size.
MEMORY_CHILD = r"""
import resource, sys
import zelvane
if sys.argv[1] == "distinct":
    value = ",".join(f"a b{i}" for i in range(2_000_000))
else:
    value = "a," * (10 * 1024 * 1024)
peak = lambda: resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
base = peak()
snap = zelvane.read(env={"no_proxy": value})
after_read = peak() - base
kept = snap.diagnostics().rejected, repr(snap), snap.to_dict()
print(len(value), after_read, peak() - base)
"""


def memory_rows():
    rows = []
    for label, kind in [("2M distinct refused entries", "distinct"), ("20 MiB of 'a,'", "repeated")]:
        out = subprocess.run([sys.executable, "-c", MEMORY_CHILD, kind], capture_output=True, text=True,
                             check=True).stdout
        size, after_read, total = map(int, out.split())
        rows.append((f"peak bytes, read(): {label}", after_read, "input bytes", size, after_read / size,
                     "<= 10"))
        rows.append((f"peak bytes, + texts: {label}", total, "input bytes", size, total / size, "<= 10"))
    return rows


def route_rows(args, yard):
    r = args.repeat
    rows = []
    snap = zelvane.read(env=ROUTE_ENV)
    route = lambda: snap.route(ROUTE_URL)
    assert route().steps == ["http://proxy.example:3128/"], route()
    check = urllib_bypass(dict(ROUTE_ENV), "www.example.com")
    assert not check()
    ours = best(route, 20000, r)
    theirs = best(check, 20000, r)
    rows.append(("route() static, 10 bypass rules", ours, "urllib bypass + getproxies", theirs,
                 ours / theirs, "< 1, and < 1 us"))
    # Each thread its own function (the snapshot bound as a default, not through a closure
    # cell that every call would count), all of them routing through the one snapshot.
    make = lambda: (lambda s=snap: s.route(ROUTE_URL))
    one = thread_rate(1, make, 1.0)
    eight = thread_rate(8, make, 1.0)
    rows += thread_rows("8 threads, static routes/s", eight, one, "routes/s", yard)
    if not args.script or not os.path.exists(args.script):
        print(f"(no scripted rows: {args.script or 'no script'} is missing)")
        return rows
    if not args.sim_path:
        print("(no scripted rows: --sim-path names the sim build of the module)")
        return rows
    env = dict(os.environ, PYTHONPATH=args.sim_path)
    child = subprocess.run([sys.executable, __file__, "--scripted-child", "--script", args.script,
                            "--repeat", str(r)], env=env, capture_output=True, text=True)
    if child.returncode != 0:
        print("(scripted rows failed)\n" + child.stderr)
        return rows
    fig = json.loads(child.stdout)
    # Every scripted route from Python runs on the pool: it is the pool's round trip from one
    # caller, plus what the module adds.
    for yard, name, field, target in [("QuickJS-ng runtime floor (C++)", FLOOR_ROW, "cpu_time", "<= 1.6"),
                                      ("C++ pool, one caller (wall)", POOL_ROW, "real_time", "<= 1.05")]:
        theirs = cpp_seconds(args.floor_json, name, field)
        if theirs is None:
            rows.append(("route() through typical.pac", fig["per_op"], f"({name}: no C++ run)", 0, None, target))
        else:
            rows.append(("route() through typical.pac", fig["per_op"], yard, theirs, fig["per_op"] / theirs,
                         target))
    rows.append(("8 threads, scripted routes/s", fig["rate8"], "1 thread (routes/s)", fig["rate1"],
                 fig["rate8"] / fig["rate1"], ">= 50,000/s"))
    threads = f"{fig['pool_threads']} zelvane-pac threads over 2 s"
    rows.append(("idle PAC pool: wake-ups/s", f"{fig['pool_wakeups']:g}", threads, "", None, "zero"))
    rows.append(("idle PAC pool: CPU seconds/s", f"{fig['pool_cpu']:g}", threads, "", None, "zero"))
    return rows


# ---- watch(): the road from a registry write to on_change, and what an idle watcher costs.
# Both run in the sim build, the one with a registry to write.

def percentiles(samples):
    ordered = sorted(samples)
    return statistics.median(ordered), ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]


def handoff_latencies(count):
    """The yardstick: a time handed through a queue to a thread parked on it, which reads the clock."""
    inbox, outbox = queue.SimpleQueue(), queue.SimpleQueue()

    def consumer():
        while (start := inbox.get()) is not None:
            outbox.put(time.perf_counter() - start)

    t = threading.Thread(target=consumer)
    t.start()
    samples = []
    for _ in range(count):
        time.sleep(0.002)  # parked again
        inbox.put(time.perf_counter())
        samples.append(outbox.get())
    inbox.put(None)
    t.join()
    return samples


def write_to_on_change_latencies(sim, count):
    """From the start of a registry write to the on_change call for it, the settle delay at 0."""
    told = queue.SimpleQueue()

    def on_change(err, snapshot):
        now = time.perf_counter()
        told.put((err, snapshot.to_dict()["mode"]["proxies"]["all"]["host"] if snapshot else None, now))

    sim.set_watch_settle_delay(0)
    samples = []
    with zelvane.watch(on_change, env={}):
        for i in range(1, count + 1):
            time.sleep(0.002)  # both watch threads wait again
            start = time.perf_counter()
            sim.set_ie_config(proxy=f"b{i}.example:1")
            while True:
                err, host, when = told.get(timeout=10)
                assert err is None, err
                if host == f"b{i}.example":
                    break
            samples.append(when - start)
    sim.set_watch_settle_delay(0.2)
    return samples


def tasks():
    return set(os.listdir("/proc/self/task"))


def rss_bytes():
    with open("/proc/self/status", encoding="ascii") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def context_switches(tids):
    """Voluntary and involuntary switches of these threads so far: each wake-up is one."""
    total = 0
    for tid in tids:
        try:
            with open(f"/proc/self/task/{tid}/status", encoding="ascii") as f:
                for line in f:
                    if "ctxt_switches:" in line:
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def idle_cost(make, count):
    """Threads added per item, the RSS of `count` items, and the wake-ups per second of the
    threads they added over 2 s of idling."""
    tasks_before, rss_before = tasks(), rss_bytes()
    items = [make() for _ in range(count)]
    time.sleep(0.5)  # the first readings and starts are over
    added = tasks() - tasks_before
    rss = rss_bytes() - rss_before
    before = context_switches(added)
    time.sleep(2.0)
    wakeups = (context_switches(added) - before) / 2.0
    return items, len(added) / count, rss, wakeups


def watch_figures(writes):
    import _zelvane_sim as sim
    sim.reset()
    sim.set_ie_config(proxy="b0.example:1")
    ours = write_to_on_change_latencies(sim, writes)
    theirs = handoff_latencies(writes)
    watchers, threads, rss, wakeups = idle_cost(lambda: zelvane.watch(lambda e, s: None, env={}), 100)
    for w in watchers:
        w.close()
    stop = threading.Event()

    def idle_thread():
        t = threading.Thread(target=stop.wait)
        t.start()
        return t

    started, _, thread_rss, _ = idle_cost(idle_thread, 100)
    stop.set()
    for t in started:
        t.join()
    return {"latency": percentiles(ours), "handoff": percentiles(theirs), "threads": threads, "rss": rss,
            "thread_rss": thread_rss, "wakeups": wakeups}


def watch_rows(args):
    if not args.sim_path:
        print("(no watch rows: --sim-path names the sim build of the module)")
        return []
    env = dict(os.environ, PYTHONPATH=args.sim_path)
    child = subprocess.run([sys.executable, __file__, "--watch-child"], env=env, capture_output=True, text=True)
    if child.returncode != 0:
        print("(watch rows failed)\n" + child.stderr)
        return []
    fig = json.loads(child.stdout)
    (med, p99), (hmed, hp99) = fig["latency"], fig["handoff"]
    return [
        ("watch(): write to on_change, median", med, "queue hand-off to a parked thread", hmed,
         med / hmed, "settle delay 0: < 1 ms"),
        ("watch(): write to on_change, p99", p99, "queue hand-off, p99", hp99, p99 / hp99,
         "settle delay 0: < 5 ms"),
        ("idle watcher: threads added", f"{fig['threads']:g}", "(python and registry threads)", "", None,
         "2"),
        ("100 idle watchers: RSS added", f"{fig['rss'] / 1024:,.0f} KiB", "100 idle threading.Thread",
         f"{fig['thread_rss'] / 1024:,.0f} KiB", fig["rss"] / fig["thread_rss"] if fig["thread_rss"] else None,
         "(no target)"),
        ("100 idle watchers: wake-ups/s", f"{fig['wakeups']:g}", "(context switches over 2 s)", "", None, "zero"),
    ]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--script", help="the PAC script of the scripted route rows")
    parser.add_argument("--sim-path", help="where the sim build of the module lives")
    parser.add_argument("--floor-json", help="the C++ benchmark program's JSON with the runtime floor")
    parser.add_argument("--scripted-child", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--watch-child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.scripted_child:
        print(json.dumps(scripted_figures(args.script, args.repeat)))
        return
    if args.watch_child:
        print(json.dumps(watch_figures(300)))
        return
    r = args.repeat
    rows = []
    for label, env in [("4 variables, 5-entry no_proxy", FOUR), ("40 variables", FORTY)]:
        ours = best(lambda: zelvane.read(env=env), 2000, r)
        theirs = best(urllib_on(env), 2000, r)
        rows.append((f"read(env=...) {label}", ours, "urllib getproxies_environment", theirs,
                     ours / theirs, "<= 0.5"))
    snap = zelvane.read(env=FOUR)
    exported = snap.to_dict()
    blob = marshal.dumps(exported)
    ours = best(snap.to_dict, 5000, r)
    theirs = best(lambda: marshal.loads(blob), 5000, r)
    rows.append(("to_dict()", ours, "marshal.loads of the same", theirs, ours / theirs, "<= 1.2"))
    yard = yardstick()
    for kind, label in [("shared", "one shared dict"), ("private", "a dict of its own")]:
        eight, one = yard[kind]
        rows.append((f"yardstick: d.get(key), {label}", eight, "1 thread (calls/s)", one, eight / one,
                     "(the interpreter's limit)"))
    shared = dict(FOUR)
    # Each thread its own function, the dict bound as a default rather than through a shared
    # closure cell, all of them reading the one dict.
    make = lambda: (lambda read=zelvane.read, d=shared: read(env=d))
    one = thread_rate(1, make, 1.0)
    eight = thread_rate(8, make, 1.0)
    rows += thread_rows("8 threads, one env dict (reads/s)", eight, one, "reads/s", yard)
    rows += route_rows(args, yard)
    rows += watch_rows(args)
    rows += memory_rows()
    print(f"{'row':44} {'ours':>12} {'yardstick':32} {'theirs':>12} {'ratio':>7}  target")
    if sys._is_gil_enabled():  # noqa: SLF001
        print("(the GIL is enabled: the thread rows need the free-threaded interpreter)")
    for name, a, yard, b, ratio, target in rows:
        # Seconds under one print in microseconds; rows with their own unit come as text.
        fa = a if isinstance(a, str) else f"{a * 1e6:.2f} us" if a < 1 else f"{a:,.0f}"
        fb = b if isinstance(b, str) else f"{b * 1e6:.2f} us" if 0 < b < 1 else f"{b:,.0f}"
        fr = "-" if ratio is None else f"{ratio:7.2f}"
        print(f"{name:44} {fa:>12} {yard:32} {fb:>12} {fr:>7}  {target}")


if __name__ == "__main__":
    main()
