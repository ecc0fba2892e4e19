"""watch() against the simulated Windows (the sim build): what on_change sees, and how the
watch thread stops."""
import gc
import queue
import sys
import textwrap
import time
import weakref

import pytest

import zelvane
from conftest import run_program, sim_only, stress

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
