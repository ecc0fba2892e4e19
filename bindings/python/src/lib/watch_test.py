import gc
import math
import os
import sys
import weakref

import pytest

import zelvane
from conftest import none_only, watch_threads


def never(err, snapshot):
    raise AssertionError(f"on_change was called with {err!r}, {snapshot!r}")


def error_of(call):
    with pytest.raises(zelvane.ZelvaneError) as info:
        call()
    return info.value.code, str(info.value)


@pytest.mark.parametrize("call, kind, text", [
    (lambda: zelvane.watch(), TypeError, "on_change"),
    (lambda: zelvane.watch(never, {}), TypeError, None),
    (lambda: zelvane.watch(never, interval=1), TypeError, "interval"),
    (lambda: zelvane.watch(never, precedence=1), TypeError, "precedence"),
    (lambda: zelvane.watch(never, poll_interval="1"), TypeError, "poll_interval"),
    (lambda: zelvane.watch(5), TypeError, "on_change must be callable"),
    # The callable check comes before the values of the options are looked at.
    (lambda: zelvane.watch(5, precedence="sideways"), TypeError, "on_change must be callable"),
    (lambda: zelvane.watch(5, env=5), TypeError, "on_change must be callable"),
    (lambda: zelvane.watch(5, poll_interval=-1), TypeError, "on_change must be callable"),
    # ... and the type of poll_interval before the callable.
    (lambda: zelvane.watch(5, poll_interval=[]), TypeError, "poll_interval"),
    (lambda: zelvane.watch(never, env=5), TypeError, None),
    (lambda: zelvane.watch(never, env={"http_proxy": 1}), TypeError, None),
    # The options before the interval's value.
    (lambda: zelvane.watch(never, env=5, poll_interval=-1), TypeError, None),
])
def test_argument_checks_in_order(call, kind, text):
    with pytest.raises(kind) as info:
        call()
    if text is not None:
        assert text in str(info.value)


NEGATIVE = "poll_interval: cannot convert float seconds to Duration: value is negative"
TOO_BIG = "poll_interval: cannot convert float seconds to Duration: value is either too big or NaN"


@pytest.mark.parametrize("value, message", [
    (-1, NEGATIVE), (-1e-9, NEGATIVE), (-math.inf, NEGATIVE), (-(2**2000), NEGATIVE),
    (math.nan, TOO_BIG), (math.inf, TOO_BIG), (2.0**64, TOO_BIG), (2**2000, TOO_BIG),
])
def test_poll_interval_out_of_range_is_a_value_error(value, message):
    with pytest.raises(ValueError) as info:
        zelvane.watch(never, poll_interval=value)
    assert str(info.value) == message


def test_unknown_precedence_is_refused_like_read():
    code, text = error_of(lambda: zelvane.watch(never, precedence="Before-System"))
    assert (code, text) == ("ERR_INVALID_ARG_VALUE", 'unknown precedence "Before-System"')


def test_environment_failure_is_raised_like_read():
    env = {"REQUEST_METHOD": "GET", "HTTP_PROXY": "192.0.2.1:3128"}
    code, _ = error_of(lambda: zelvane.watch(never, env=env))
    assert code == "ERR_CGI_HTTP_PROXY"
    zelvane.watch(never, env=env, precedence="ignore").close()


@pytest.mark.parametrize("value", [0, 0.0, -0.0, 0.1, 1, 2.5, 2.0**63, True])
def test_poll_interval_in_range_is_accepted(value):
    with zelvane.watch(never, poll_interval=value):
        pass


def test_watcher_cannot_be_made_from_python():
    with pytest.raises(TypeError):
        zelvane.Watcher()
    w = zelvane.watch(never)
    with pytest.raises((AttributeError, TypeError)):
        w.extra = 1
    w.close()


@none_only
def test_without_a_system_current_is_the_environment_layer():
    env = {"http_proxy": "192.0.2.1:3128"}
    w = zelvane.watch(never, env=env)
    assert watch_threads() == []  # nothing to watch: no thread is started
    snap = w.current()
    assert snap.diagnostics().os_readable is False
    assert snap.diagnostics().sources == ["Env"]
    assert snap.to_dict() == zelvane.read(env=env).to_dict()
    # Captured once: a later change of the mapping is not seen.
    env["http_proxy"] = "192.0.2.9:1"
    assert w.current().to_dict()["mode"] == snap.to_dict()["mode"]
    assert repr(w) == "<Watcher open>"
    w.close()


@none_only
def test_without_a_system_and_without_environment_current_is_direct():
    with zelvane.watch(never, env={}, precedence="ignore") as w:
        snap = w.current()
        assert snap.to_dict()["mode"] == {"kind": "direct"}
        assert snap.diagnostics().sources == []
        assert repr(snap).startswith("<Snapshot os_readable=False ProxyConfig { effective: Direct")


def test_close_is_final_and_idempotent():
    w = zelvane.watch(never, env={})
    assert w.close() is None
    assert w.close() is None
    assert repr(w) == "<Watcher closed>"
    assert error_of(w.current) == ("ERR_WATCHER_CLOSED", "the watcher is closed")


def test_context_manager_closes_and_lets_the_exception_through():
    with pytest.raises(KeyError):
        with zelvane.watch(never, env={}) as w:
            assert isinstance(w, zelvane.Watcher)
            raise KeyError("inside")
    assert repr(w) == "<Watcher closed>"
    assert w.__exit__(1, 2, 3, 4) is None


def test_on_change_may_be_given_by_keyword_and_is_released_on_close():
    class Callback:
        def __call__(self, err, snapshot):
            pass

    callback = Callback()
    ref = weakref.ref(callback)
    w = zelvane.watch(on_change=callback, env={})
    del callback
    assert ref() is not None
    w.close()
    assert ref() is None


def test_a_cycle_through_on_change_is_collected():
    class Holder:
        pass

    holder = Holder()
    holder.watcher = zelvane.watch(lambda err, snap, h=holder: None, env={})
    ref = weakref.ref(holder)
    del holder
    gc.collect()
    assert ref() is None


@none_only  # a watch thread keeps on_change until it ends (the sim tests wait for that)
def test_dropping_an_open_watcher_releases_on_change():
    def callback(err, snapshot):
        pass

    ref = weakref.ref(callback)
    w = zelvane.watch(callback, env={})
    del callback
    del w
    assert ref() is None


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_a_watcher_in_a_child_of_fork_is_the_parents():
    w = zelvane.watch(never, env={})
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        status = 1
        try:
            try:
                w.current()
            except zelvane.ZelvaneError as exc:
                if (exc.code, str(exc)) == ("ERR_FORKED", "the watcher belongs to the parent process"):
                    status = 0
            if repr(w) != "<Watcher forked>" or w.close() is not None:
                status = 1
            if repr(w) != "<Watcher forked>":
                status = 1
            os.write(write_end, bytes([status]))
        finally:
            os._exit(0)
    os.close(write_end)
    _, status = os.waitpid(pid, 0)
    answer = os.read(read_end, 1)
    os.close(read_end)
    assert answer == b"\x00"
    # The child's close() left the parent's watcher open.
    assert repr(w) == "<Watcher open>"
    w.current()
    w.close()
