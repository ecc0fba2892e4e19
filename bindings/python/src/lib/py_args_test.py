"""The one binder of the module's arguments, seen through the functions that use it: a call it
cannot bind is refused in the words of the interpreter's own argument parser, whether the
arguments came in place (route, read, watch) or as a tuple and a dict (PacPolicy); a call it
binds is converted in the function's own order, and the first refusal in that order decides."""
import pytest

import zelvane
from conftest import PLATFORM, sim_only


def never(err, snapshot):
    pass


SNAP = zelvane.read(env={}, precedence="ignore")


@pytest.mark.parametrize("call, message", [
    (lambda: SNAP.route("http://a/", polcy=None),
     "route() got an unexpected keyword argument 'polcy'. Did you mean 'policy'?"),
    (lambda: SNAP.route(pac=None, engine=1), "route() missing required argument 'url' (pos 1)"),
    (lambda: zelvane.watch(), "watch() missing required argument 'on_change' (pos 1)"),
    (lambda: zelvane.watch(never, {}), "watch() takes at most 1 positional argument (2 given)"),
    (lambda: zelvane.watch(never, on_change=never),
     "argument for watch() given by name ('on_change') and position (1)"),
    (lambda: zelvane.watch(never, pol_interval=1),
     "watch() got an unexpected keyword argument 'pol_interval'. Did you mean 'poll_interval'?"),
    (lambda: zelvane.PacPolicy(5, timeout=1), "PacPolicy() takes no positional arguments"),
    (lambda: zelvane.PacPolicy(timout=5),
     "PacPolicy() got an unexpected keyword argument 'timout'. Did you mean 'timeout'?"),
])
def test_a_call_that_does_not_bind_is_refused_as_the_argument_parser_words_it(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize("call, exc, text", [
    # precedence is converted before env, though env comes first in the signature
    (lambda: zelvane.read(env=5, precedence=1), TypeError, "'precedence'"),
    (lambda: zelvane.watch(5, env=5, precedence=1), TypeError, "'precedence'"),
    (lambda: zelvane.watch(5, env=[("a",)]), TypeError, "on_change must be callable"),
    (lambda: zelvane.watch(never, env=[("a",)], poll_interval=-1), ValueError, "length 1; 2 is required"),
    # every type of route() before any text: the lone surrogate of url is not looked at yet
    (lambda: SNAP.route("\ud800", wpad=1), TypeError, "'wpad'"),
    (lambda: SNAP.route("\ud800", pac="x"), zelvane.ZelvaneError, 'unknown pac "x"'),
    (lambda: zelvane.PacPolicy(timeout="5", my_ip_address=10), TypeError, "'my_ip_address'"),
])
def test_the_first_refusal_in_the_functions_order_decides(call, exc, text):
    with pytest.raises(exc) as info:
        call()
    assert text in str(info.value)


def test_a_parameter_that_goes_by_position_also_goes_by_name():
    with zelvane.watch(on_change=never, env={}) as watcher:
        assert repr(watcher) == "<Watcher open>"
    assert SNAP.route(url="mailto:a@b.test", pac="auto").steps == ["direct"]


def inline_snapshot():
    import _zelvane_sim
    return _zelvane_sim.inline_snapshot('function FindProxyForURL(u, h) { return "DIRECT"; }')


@pytest.mark.parametrize("call, code, message", [
    (lambda: zelvane.read(precedence="\ud800"), "ERR_INVALID_ARG_VALUE", 'unknown precedence "\ufffd"'),
    (lambda: zelvane.watch(never, precedence="a\udfffb"), "ERR_INVALID_ARG_VALUE",
     'unknown precedence "a\ufffdb"'),
    (lambda: zelvane.PacPolicy(my_ip_address="\ud800"), "ERR_INVALID_ARG_VALUE",
     'my IP address "\ufffd" is not an IP address'),
    (lambda: SNAP.route("http://a.test/", pac="\ud800"), "ERR_INVALID_ARG_VALUE", 'unknown pac "\ufffd"'),
    (lambda: SNAP.route("http://x\ud800/"), "ERR_INVALID_URL", "invalid international domain name"),
    (lambda: SNAP.route("http://[\ud800]/"), "ERR_INVALID_URL", "invalid IPv6 address"),
    (lambda: SNAP.route("\udc00"), "ERR_INVALID_URL", "relative URL without a base"),
    # one surrogate of a pair on its own is lone too
    pytest.param(lambda: inline_snapshot().route("http://a.test/", pac="quickjs", script="\ud83d"),
                 "ERR_PAC_EVALUATION", "PAC evaluation failed: the PAC script failed to load: unexpected character",
                 marks=sim_only),
])
def test_a_lone_surrogate_in_a_text_argument_gets_that_arguments_own_refusal(call, code, message):
    # Read as U+FFFD, and shown as such where the message quotes the value.
    with pytest.raises(zelvane.ZelvaneError) as info:
        call()
    assert (info.value.code, str(info.value)) == (code, message)


def test_a_lone_surrogate_where_the_text_allows_any_character_is_read_as_u_fffd():
    manual = zelvane.read(env={"all_proxy": "p.test:1"})
    assert manual.route("http://a.test/\ud800?\udfff").steps == ["http://p.test:1/"]
    # A script is only looked at where a script is run.
    assert manual.route("http://a.test/", pac="quickjs", script="\ud800").steps == ["http://p.test:1/"]
    if PLATFORM == "sim":
        # The script's own lone surrogate and the URL's reach the script as U+FFFD.
        script = ('function FindProxyForURL(u, h) { return "\ud800" == "\\ufffd"'
                  ' && u == "http://a.test/p%EF%BF%BD" ? "DIRECT" : "PROXY other.test:1"; }')
        assert inline_snapshot().route("http://a.test/p\ud800", pac="quickjs", script=script).steps == ["direct"]
