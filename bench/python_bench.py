"""The module's speed targets, each row against its yardstick on the same input.

Figures are the best of several rounds (least disturbed by other work on the machine); each
row prints both costs, their ratio and the target. Run through scripts/bench-py."""
import argparse
import marshal
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


def threaded_rate(threads, env, seconds):
    stop = time.perf_counter() + seconds
    counts = [0] * threads

    def work(i):
        n = 0
        while time.perf_counter() < stop:
            for _ in range(50):
                zelvane.read(env=env)
            n += 50
        counts[i] = n

    ts = [threading.Thread(target=work, args=(i,)) for i in range(threads)]
    for t in ts:
        t.start()
    for t in ts:
        t.join()
    return sum(counts) / seconds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
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
    shared = dict(FOUR)
    one = threaded_rate(1, shared, 1.0)
    eight = threaded_rate(8, shared, 1.0)
    rows.append(("8 threads, one env dict (reads/s)", eight, "1 thread (reads/s)", one,
                 eight / one, ">= 5"))
    print(f"{'row':40} {'ours':>12} {'yardstick':32} {'theirs':>12} {'ratio':>7}  target")
    for name, a, yard, b, ratio, target in rows:
        fa = f"{a * 1e6:.2f} us" if a < 1 else f"{a:,.0f}"
        fb = f"{b * 1e6:.2f} us" if b < 1 else f"{b:,.0f}"
        print(f"{name:40} {fa:>12} {yard:32} {fb:>12} {ratio:7.2f}  {target}")


if __name__ == "__main__":
    main()
