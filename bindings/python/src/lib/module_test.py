import subprocess
import sys

import pytest

import zelvane


def test_import_leaves_the_gil_off():
    # A fresh interpreter: another test's import must not hide a GIL turned back on.
    out = subprocess.run(
        [sys.executable, "-W", "error", "-c",
         "import sys, zelvane; print(sys._is_gil_enabled())"],
        capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "False"


def test_zelvane_error_class():
    cls = zelvane.ZelvaneError
    assert cls.__module__ == "zelvane"
    assert cls.__qualname__ == "ZelvaneError"
    assert cls.__mro__[1] is Exception
    assert cls.__doc__ == (
        "A failure; `code` names it, as `ERR_INVALID_URL` or `ERR_WATCHER_CLOSED`.")


def test_user_made_error_has_no_code():
    err = zelvane.ZelvaneError("mine")
    assert err.args == ("mine",)
    assert not hasattr(err, "code")


def test_all_lists_what_is_registered_in_order():
    assert zelvane.__all__ == ["ZelvaneError", "Route", "PacPolicy", "Diagnostics", "Snapshot", "read"]
    for name in zelvane.__all__:
        assert hasattr(zelvane, name)


def test_finalizing_hook_is_registered_but_not_exposed():
    assert not hasattr(zelvane, "_finalizing")
    # The hook runs at exit without complaint.
    out = subprocess.run([sys.executable, "-c", "import zelvane"], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stderr == ""


def test_snapshot_cannot_be_made_from_python():
    with pytest.raises(TypeError):
        zelvane.Snapshot()
    assert zelvane.Snapshot.__doc__ == "One reading of the proxy configuration."
    assert zelvane.Snapshot.__module__ == "zelvane"


def test_module_docstring_is_empty():
    assert zelvane.__doc__ == ""
