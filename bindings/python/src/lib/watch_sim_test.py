"""watch() against the simulated Windows (the sim build): what on_change sees, and how the
watch thread stops."""
import gc
import queue
import sys
import textwrap
import threading
import time
import weakref

import pytest

import zelvane
from conftest import run_program, sim_only, stress, watch_threads

pytestmark = sim_only

USER_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
STOPPED = ("ERR_ZELVANE", "the watch has stopped; open a new one")


class Calls:
    """on_change that records each call as (code or None, proxy host or None)."""

    def __init__(self, action=None):
        self.calls = queue.Queue()
        self.action = action

    def __call__(self, err, snapshot):
        if err is not None:
            assert snapshot is None
            self.calls.put((err.code, str(err)))
        else:
            mode = snapshot.to_dict()["mode"]
            hosts = [p["host"] for p in mode["proxies"].values()] if mode["kind"] == "manual" else []
            self.calls.put((None, hosts[0] if hosts else mode["kind"]))
        if self.action:
            self.action(err, snapshot)

    def next(self, timeout=20):
        return self.calls.get(timeout=timeout)

    def none_within(self, seconds):
        try:
            call = self.calls.get(timeout=seconds)
        except queue.Empty:
            return True
        pytest.fail(f"unexpected call {call}")


@pytest.fixture(autouse=True)
def user_settings(windows):
    """The current user's Internet Settings exist, so the watch has its key to arm."""
    windows.set_ie_config(proxy="start.example:1")
    return windows


def until(condition, timeout=20):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            pytest.fail("the condition did not come true")
        time.sleep(0.01)


def test_each_change_is_delivered_but_not_the_starting_one(windows):
    calls = Calls()
    with zelvane.watch(calls, env={"http_proxy": "192.0.2.1:3128"}, precedence="after-system") as w:
        assert w.current().diagnostics().os_readable is True
        windows.set_ie_config(proxy="first.example:1")
        assert calls.next() == (None, "first.example")
        windows.set_ie_config(proxy="second.example:2")
        assert calls.next() == (None, "second.example")
        # The captured environment layer is merged into what current() answers.
        assert w.current().diagnostics().sources[-1] == "Env"
        assert repr(w) == "<Watcher open>"
    calls.none_within(0.2)


def test_a_watch_that_ends_by_itself_says_so_last(windows):
    windows.fail_next("reg_notify_change_key_value", 5, key=USER_KEY, nth=2)
    calls = Calls()
    w = zelvane.watch(calls, env={})
    windows.set_ie_config(proxy="p.example:9")
    assert calls.next() == (None, "p.example")
    code, text = calls.next()
    assert code == "ERR_IO" and text.startswith("re-arming HKCU Internet Settings")
    assert calls.next() == STOPPED
    calls.none_within(0.2)
    with pytest.raises(zelvane.ZelvaneError) as info:
        w.current()
    assert (info.value.code, str(info.value)) == STOPPED
    assert repr(w) == "<Watcher open>"
    w.close()
    with pytest.raises(zelvane.ZelvaneError) as info:
        w.current()
    assert info.value.code == "ERR_WATCHER_CLOSED"


@pytest.mark.parametrize("op, status, key", [
    ("reg_notify_change_key_value", 5, USER_KEY),  # re-arming the user's key: fatal
    ("wait_any", 6, ""),                           # the wait itself fails
])
def test_a_watch_that_ends_by_itself_while_close_waits_says_nothing_more(windows, op, status, key):
    # close() has begun (from another thread) while on_change is busy; the watch then ends by
    # itself, leaving its error and its end in the queue. Neither is delivered, and close()
    # still returns, leaving nothing behind.
    inside, release = threading.Event(), threading.Event()

    def busy(err, snap):
        inside.set()
        release.wait(20)

    calls = Calls(busy)
    w = zelvane.watch(calls, env={})
    windows.set_ie_config(proxy="p.example:9")
    assert inside.wait(20)
    closer = threading.Thread(target=w.close)
    closer.start()
    until(lambda: repr(w) == "<Watcher closed>")
    windows.fail_next(op, status, key=key)
    windows.set_ie_config(proxy="q.example:9")
    until(lambda: windows.live_keys() == 0)  # the backend's loop has ended and let its keys go
    release.set()
    closer.join(20)
    assert not closer.is_alive(), "close() did not return"
    # At once but for the moment the kernel may still list a thread just joined.
    until(lambda: watch_threads() == [], timeout=0.5)
    assert calls.next(timeout=0) == (None, "p.example")
    calls.none_within(0.3)


def test_close_from_on_change_returns_and_ends_the_deliveries(windows):
    holder = []
    calls = Calls(lambda err, snap: holder[0].close())
    holder.append(zelvane.watch(calls, env={}))
    windows.set_ie_config(proxy="p.example:9")
    assert calls.next() == (None, "p.example")
    windows.set_ie_config(proxy="q.example:9")
    calls.none_within(0.3)
    assert repr(holder[0]) == "<Watcher closed>"
    holder[0].close()


def test_an_on_change_that_raises_is_reported_and_the_watch_goes_on(windows, monkeypatch):
    reported = queue.Queue()
    monkeypatch.setattr(sys, "unraisablehook", lambda u: reported.put(u.exc_value))

    def fail(err, snap):
        raise RuntimeError("boom")

    calls = Calls(fail)
    with zelvane.watch(calls, env={}):
        for host in ("a.example", "b.example"):
            windows.set_ie_config(proxy=host + ":1")
            assert calls.next() == (None, host)
            assert str(reported.get(timeout=20)) == "boom"


def test_a_collected_cycle_stops_the_watch(windows):
    class Holder:
        pass

    holder = Holder()
    holder.watcher = zelvane.watch(lambda err, snap, h=holder: None, env={})
    ref = weakref.ref(holder)
    del holder
    gc.collect()
    assert ref() is None
    # The thread stops at its next delivery attempt, stopping the watch with it.
    windows.set_ie_config(proxy="p.example:9")
    until(lambda: windows.live_handles() == 0)


def test_dropping_a_watcher_without_close_stops_its_watch(windows):
    calls = Calls()
    w = zelvane.watch(calls, env={})
    del w
    until(lambda: windows.live_handles() == 0)
    windows.set_ie_config(proxy="p.example:9")
    calls.none_within(0.2)


# A stop whose shutdown event cannot be set: close() (and dropping the watcher) still ends
# the watch, within the backend's bound of about a second when SetEvent never works again, and
# nothing is delivered after close() has returned. Run in its own interpreter, so that a close()
# that hangs fails the test instead of pytest.
UNSETTABLE_SHUTDOWN_PROGRAM = r"""
import gc, os, sys, threading, time
sys.path.insert(0, HERE)
import _zelvane_sim as sim, zelvane
from conftest import watch_threads

faults = []


def settled(condition, timeout=10):
    deadline = time.monotonic() + timeout
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.01)
    return condition()


def closed_within(close, seconds):
    start = time.monotonic()
    closer = threading.Thread(target=close, daemon=True)
    closer.start()
    closer.join(seconds)
    if closer.is_alive():
        print("close() did not return", file=sys.stderr)
        os._exit(3)
    return time.monotonic() - start


def quiet(what):
    if not settled(lambda: watch_threads() == []):
        faults.append(f"{what}: left alive {watch_threads()}")
    if not settled(lambda: sim.live_keys() == 0 and sim.live_handles() == 0):
        faults.append(f"{what}: leaks: keys {sim.live_keys()}, handles {sim.live_handles()}")


for poll in [None, 60]:
    for failures in [1, 300]:  # SetEvent fails once, or every time the stop tries it
        what = f"poll_interval={poll}, {failures} SetEvent failures"
        sim.reset()
        sim.set_ie_config(proxy="start.example:1")
        calls = []
        w = zelvane.watch(lambda e, s: calls.append((e, s)), env={}, poll_interval=poll)
        sim.set_ie_config(proxy="first.example:1")
        if not settled(lambda: len(calls) == 1):
            faults.append(f"{what}: the first change was not delivered: {calls}")
        for nth in range(1, failures + 1):
            sim.fail_next("set_event", 6, nth=nth)
        took = closed_within(w.close, 10)
        if took > 3:
            faults.append(f"{what}: close() took {took:.1f} s")
        told = len(calls)
        if failures > 1:
            # The backend was let go: its thread ends at its next wake, reading nothing more.
            if watch_threads() != ["zelvane-registr"]:
                faults.append(f"{what}: after close() {watch_threads()}")
            sim.set_ie_config(proxy="late.example:1")
        quiet(what)
        if len(calls) != told:
            faults.append(f"{what}: on_change was called after close() returned: {calls[told:]}")

# Dropped without close(): "zelvane-python" stops the watch by itself and ends.
sim.reset()
sim.set_ie_config(proxy="start.example:1")
w = zelvane.watch(lambda e, s: None, env={})
sim.fail_next("set_event", 6)
del w
gc.collect()
quiet("dropped")

print("\n".join(faults) or "ok", file=sys.stderr if faults else sys.stdout)
"""


def test_close_returns_when_the_shutdown_event_cannot_be_set():
    import os
    code = UNSETTABLE_SHUTDOWN_PROGRAM.replace("HERE", repr(os.path.dirname(os.path.abspath(__file__))), 1)
    status, out, err = run_program(code, timeout=90)
    assert (status, out.strip()) == (0, "ok"), err


def test_interpreter_exit_with_watchers_open():
    code = textwrap.dedent("""
        import _zelvane_sim, zelvane
        _zelvane_sim.reset()
        _zelvane_sim.set_ie_config(proxy="start.example:1")
        seen = []
        watchers = [zelvane.watch(lambda e, s: seen.append(s), env={}) for _ in range(3)]
        _zelvane_sim.set_ie_config(proxy="p.example:9")
        kept = watchers[0]
        print("ok")
    """)
    status, out, err = run_program(code, timeout=60)
    assert (status, out.strip()) == (0, "ok"), err


def test_after_the_exit_hook_nothing_more_is_delivered():
    code = textwrap.dedent("""
        import atexit, time, _zelvane_sim, zelvane
        _zelvane_sim.reset()
        _zelvane_sim.set_ie_config(proxy="start.example:1")
        calls = []
        w = zelvane.watch(lambda e, s: calls.append(s), env={})
        atexit._run_exitfuncs()  # the module's hook among them
        _zelvane_sim.set_ie_config(proxy="p.example:9")
        deadline = time.monotonic() + 20
        while _zelvane_sim.live_handles() and time.monotonic() < deadline:
            time.sleep(0.01)
        print(len(calls), _zelvane_sim.live_handles())
        w.close()
    """)
    status, out, err = run_program(code, timeout=60)
    assert (status, out.strip()) == (0, "0 0"), err


@stress
def test_many_threads_open_and_stop_watches_while_settings_change():
    code = textwrap.dedent("""
        import _zelvane_sim as w, zelvane, threading, gc, time
        w.reset()
        w.set_ie_config(proxy="s.example:1")
        def worker(i):
            for k in range(30):
                x = zelvane.watch(lambda e, s: None, env={})
                w.set_ie_config(proxy=f"h{i}-{k}.example:1")
                if k % 3 == 0:
                    x.close()
                elif k % 3 == 1:
                    del x
                else:
                    with x:
                        x.current()
        threads = [threading.Thread(target=worker, args=(i,)) for i in range(6)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        gc.collect()
        deadline = time.monotonic() + 30
        while w.live_handles() and time.monotonic() < deadline:
            time.sleep(0.05)
        print(w.live_keys(), w.live_handles())
        # Watchers left open at exit, with deliveries in flight.
        kept = [zelvane.watch(lambda e, s: time.sleep(0.01), env={}) for _ in range(4)]
        for k in range(20):
            w.set_ie_config(proxy=f"z{k}.example:1")
    """)
    status, out, err = run_program(code, timeout=120)
    assert (status, out.strip()) == (0, "0 0"), err


# 1,000 watchers opened and closed from 8 threads while a writer keeps changing the settings.
# The writer's states are numbered s1, s2, ... and never repeat, so what each watcher is told
# must be an increasing run of them: nothing before the state written when it opened, nothing
# after the state written when its close() returned. Each watcher is also waited on, before it
# is closed, until it has been told of a state at least as new as the one written then, and
# then once more for a state written after that (a watch that lost its notifications never gets
# there); in the last round the writer stops and writes one final state, which every watcher
# still open must end on. After each close() the watcher's own
# thread is gone and on_change is not called again; once the 200 watchers of a round are all
# closed, no watch thread, registry key or handle is left.
STRESS_PROGRAM = r"""
import os, sys, threading, time
sys.path.insert(0, HERE)
import _zelvane_sim as sim, zelvane
from conftest import watch_threads

THREADS, ROUNDS, BATCH = 8, 5, 25  # up to 200 watchers open at once
sim.reset()
sim.set_ie_config(proxy="s0.example:1")
write_lock = threading.Lock()
written = [0]  # the newest state whose write has returned
stop_writing = threading.Event()
faults = []


def write(n):
    with write_lock:
        sim.set_ie_config(proxy=f"s{n}.example:1")
        written[0] = n


def state():
    with write_lock:
        return written[0]


def writer():
    n = 0
    while not stop_writing.is_set():
        n += 1
        write(n)
        time.sleep(0.005)


class Seen:
    def __init__(self):
        self.states, self.errors, self.tids = [], [], set()

    def __call__(self, err, snap):
        self.tids.add(threading.get_native_id())
        if err is not None:
            self.errors.append((err.code, str(err)))
            return
        (proxy,) = {p["host"] for p in snap.to_dict()["mode"]["proxies"].values()}
        self.states.append(int(proxy[1:].removesuffix(".example")))

    def calls(self):
        return len(self.states) + len(self.errors)


def settled(condition):
    # The kernel may list a joined thread for a moment after the join has returned.
    deadline = time.monotonic() + 0.5
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.001)
    return condition()


def open_one():
    seen = Seen()
    before = state()
    return zelvane.watch(seen, env={}), seen, before


def close_one(k, w, seen, before, final):
    if k % 2:
        w.close()
    else:
        w.__exit__(None, None, None)
    after = state()
    told = seen.calls()
    if not settled(lambda: not any(os.path.exists(f"/proc/self/task/{t}") for t in seen.tids)):
        faults.append("the watch thread outlived close()")
    s = seen.states
    if seen.errors:
        faults.append(f"errors {seen.errors}")
    if any(a >= b for a, b in zip(s, s[1:])):
        faults.append(f"out of order or repeated: {s}")
    if s and not before < s[0]:
        faults.append(f"told of s{s[0]}, written before the watch opened (s{before})")
    if s and not s[-1] <= after:
        faults.append(f"told of s{s[-1]}, written after close() returned (s{after})")
    if final is not None and s[-1:] != [final]:
        faults.append(f"ended on {s[-1:]}, not on the final s{final}")
    return seen, told


def catch_up(batch, target):
    deadline = time.monotonic() + 10
    for _, seen, _ in batch:
        while not (seen.states and seen.states[-1] >= target):
            if time.monotonic() > deadline:
                faults.append(f"never told of s{target} or newer: {seen.states[-5:]}")
                return
            time.sleep(0.005)


def last_write():
    stop_writing.set()
    writing.join()
    write(state() + 1)


def quiet():
    # Every watcher of the round is closed: nothing of theirs may be left.
    if not settled(lambda: watch_threads() == []):
        faults.append(f"left alive: {watch_threads()}")
    if sim.live_keys() or sim.live_handles():
        faults.append(f"leaks: keys {sim.live_keys()}, handles {sim.live_handles()}")


writing = threading.Thread(target=writer)
last_round = threading.Barrier(THREADS, action=last_write, timeout=60)
round_end = threading.Barrier(THREADS, action=quiet, timeout=60)


def worker():
    closed = []
    try:
        for r in range(ROUNDS):
            batch = [open_one() for _ in range(BATCH)]
            catch_up(batch, state())
            # Told again of what was written after that: each watch is armed anew after a change.
            final = None
            if r == ROUNDS - 1:
                last_round.wait()
                final = state()
            catch_up(batch, state())
            closed += [close_one(k, *opened, final) for k, opened in enumerate(batch)]
            if faults:  # the first ones tell; the others need not wait their turn
                raise RuntimeError("stopped at the first faults")
            round_end.wait()
    except threading.BrokenBarrierError:
        pass
    except Exception as exc:
        faults.append(repr(exc))
        last_round.abort()
        round_end.abort()
    for seen, told in closed:
        if seen.calls() != told:
            faults.append("on_change was called after close() returned")


start = time.monotonic()
writing.start()
workers = [threading.Thread(target=worker) for _ in range(THREADS)]
for t in workers:
    t.start()
for t in workers:
    t.join()
stop_writing.set()
print("\n".join(faults[:20]) or "ok", file=sys.stderr if faults else sys.stdout)
print(f"{THREADS * ROUNDS * BATCH} watchers, {state()} states, {time.monotonic() - start:.1f} s",
      file=sys.stderr)
"""


@stress
def test_a_thousand_watchers_from_eight_threads_are_told_each_change_in_order():
    import os
    code = STRESS_PROGRAM.replace("HERE", repr(os.path.dirname(os.path.abspath(__file__))), 1)
    status, out, err = run_program(code, timeout=120)
    assert (status, out.strip()) == (0, "ok"), err
