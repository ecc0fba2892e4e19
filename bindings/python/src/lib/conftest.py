import os
import threading

import pytest

PLATFORM = os.environ.get("ZELVANE_TEST_PLATFORM", "none")

none_only = pytest.mark.skipif(PLATFORM != "none", reason="needs the build without a system reader")
sim_only = pytest.mark.skipif(PLATFORM != "sim", reason="needs the simulated Windows")


@pytest.fixture
def windows():
    """The simulated Windows, reset; after the test no key, handle or WinHTTP resolver may be
    left open, and no WinHTTP callback owed."""
    import _zelvane_sim
    _zelvane_sim.reset()
    yield _zelvane_sim
    # A callback may still be on its way to a caller that has its answer: it frees the
    # resolution's event.
    _zelvane_sim.settle_callbacks()
    held = _zelvane_sim.held_callbacks()
    _zelvane_sim.deliver_held_callbacks()  # so that one leak does not fail the tests after it
    assert held == 0
    assert _zelvane_sim.live_keys() == 0
    assert _zelvane_sim.live_handles() == 0
    assert _zelvane_sim.live_resolvers() == 0
    _zelvane_sim.reset()

def watch_threads():
    """The names of this process's live watch threads ("zelvane-python" and "zelvane-registry",
    which Linux cuts to 15 bytes); threading.enumerate() does not see native threads. The PAC
    pool's threads, which outlive the evaluations that started them, are left out."""
    names = []
    for task in os.listdir("/proc/self/task"):
        try:
            with open(f"/proc/self/task/{task}/comm", encoding="utf-8") as f:
                name = f.read().strip()
        except OSError:  # the thread ended meanwhile
            continue
        if name in ("zelvane-python", "zelvane-registry"[:15]):
            names.append(name)
    return sorted(names)


# Stress programs run in their own interpreter, bounded in time: a crash or a hang there
# fails the test instead of taking pytest down with it.
stress = pytest.mark.stress


def run_program(code, timeout, env=None, hang_fails=True):
    """Runs `code` in a fresh interpreter; returns (returncode, stdout, stderr). A program
    that does not end within `timeout` seconds is killed and fails the test, or with
    hang_fails=False gives the return code None."""
    import subprocess
    import sys
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    try:
        out = subprocess.run([sys.executable, "-X", "faulthandler", "-c", code],
                             capture_output=True, text=True, timeout=timeout, env=full_env)
    except subprocess.TimeoutExpired as exc:
        if not hang_fails:
            return None, "", f"did not end within {timeout} s"
        pytest.fail(f"the program did not end within {timeout} s:\n{exc.stderr}")
    return out.returncode, out.stdout, out.stderr


def run_threads(fn, n=8):
    """fn(i) on n threads started together; their results in thread order. An exception in any
    thread fails the caller's test."""
    results, errors = [None] * n, []
    barrier = threading.Barrier(n)

    def body(i):
        try:
            barrier.wait()
            results[i] = fn(i)
        except BaseException as e:  # noqa: BLE001 (reported below)
            errors.append(e)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, errors
    return results
