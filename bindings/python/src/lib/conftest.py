import os

import pytest

PLATFORM = os.environ.get("ZELVANE_TEST_PLATFORM", "none")

none_only = pytest.mark.skipif(PLATFORM != "none", reason="needs the build without a system reader")
sim_only = pytest.mark.skipif(PLATFORM != "sim", reason="needs the simulated Windows")


@pytest.fixture
def windows():
    """The simulated Windows, reset; after the test no key or handle may be left open."""
    import _zelvane_sim
    _zelvane_sim.reset()
    yield _zelvane_sim
    assert _zelvane_sim.live_keys() == 0
    assert _zelvane_sim.live_handles() == 0
    _zelvane_sim.reset()
