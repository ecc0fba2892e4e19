"""PacPolicy: the keyword checks in their order, the stored record, equality and repr."""
import collections.abc
import math

import pytest

import zelvane
from zelvane import PacPolicy, ZelvaneError

DEFAULT_REPR = ("<PacPolicy { resolve_dns: false, allow_internal_addresses: false, my_ip_address: None, "
                "timeout: Some(5s), local_utc_offset: 0, now: None }>")


def refused(message, **kwargs):
    with pytest.raises(ZelvaneError) as info:
        PacPolicy(**kwargs)
    assert info.value.code == "ERR_INVALID_ARG_VALUE"
    assert str(info.value) == message
    assert info.value.args == (message,)


def test_defaults_and_their_spellings_are_equal():
    base = PacPolicy()
    assert repr(base) == DEFAULT_REPR
    for same in (PacPolicy(timeout=5), PacPolicy(timeout=5.0), PacPolicy(resolve_dns=False),
                 PacPolicy(my_ip_address=None), PacPolicy(utc_offset_seconds=None, timeout=None)):
        assert same == base and not (same != base)
    assert PacPolicy(resolve_dns=True) != base
    assert PacPolicy(allow_internal_addresses=True) != base
    assert PacPolicy(utc_offset_seconds=3600) != base
    assert PacPolicy(my_ip_address="10.0.0.1") != base


@pytest.mark.parametrize("seconds, shown", [
    (0.0001, "Some(1ms)"), (0.0015, "Some(2ms)"), (1.5, "Some(1.5s)"), (60, "Some(60s)"), (True, "Some(1s)"),
])
def test_timeout_rounds_up_to_whole_milliseconds(seconds, shown):
    assert f"timeout: {shown}," in repr(PacPolicy(timeout=seconds))


def test_timeouts_equal_after_rounding():
    assert PacPolicy(timeout=1.0001) == PacPolicy(timeout=1.001)
    assert PacPolicy(timeout=1.0001) != PacPolicy(timeout=1.002)


@pytest.mark.parametrize("kwargs, message", [
    ({"timeout": 0}, "timeout 0 is not a positive number of seconds"),
    ({"timeout": -0.0}, "timeout -0 is not a positive number of seconds"),
    ({"timeout": -1}, "timeout -1 is not a positive number of seconds"),
    ({"timeout": -2.5}, "timeout -2.5 is not a positive number of seconds"),
    ({"timeout": math.nan}, "timeout NaN is not a positive number of seconds"),
    ({"timeout": math.inf}, "timeout inf is not a positive number of seconds"),
    ({"timeout": -math.inf}, "timeout -inf is not a positive number of seconds"),
    ({"timeout": 61}, "a timeout of 61000 ms is not between 1 ms and 60000 ms"),
    ({"timeout": 60.0001}, "a timeout of 60001 ms is not between 1 ms and 60000 ms"),
    ({"timeout": 1e300}, "a timeout of 18446744073709551615 ms is not between 1 ms and 60000 ms"),
    ({"utc_offset_seconds": 86400}, "a UTC offset of 86400 s is not within a day"),
    ({"utc_offset_seconds": -86400}, "a UTC offset of -86400 s is not within a day"),
    ({"my_ip_address": "010.0.0.1"}, 'my IP address "010.0.0.1" is not an IP address'),
    ({"my_ip_address": " 10.0.0.1"}, 'my IP address " 10.0.0.1" is not an IP address'),
    ({"my_ip_address": "[::1]"}, 'my IP address "[::1]" is not an IP address'),
    ({"my_ip_address": "fe80::1%1"}, 'my IP address "fe80::1%1" is not an IP address'),
    ({"my_ip_address": "1.2.3.4\n"}, 'my IP address "1.2.3.4\\n" is not an IP address'),
    ({"my_ip_address": ""}, 'my IP address "" is not an IP address'),
    # The first check in order decides.
    ({"my_ip_address": "nope", "timeout": -1}, "timeout -1 is not a positive number of seconds"),
    ({"my_ip_address": "nope", "utc_offset_seconds": 10**6}, 'my IP address "nope" is not an IP address'),
    ({"utc_offset_seconds": 10**6, "timeout": 100}, "a UTC offset of 1000000 s is not within a day"),
])
def test_value_checks(kwargs, message):
    refused(message, **kwargs)


@pytest.mark.parametrize("kwargs", [
    {"my_ip_address": "10.0.0.1"}, {"my_ip_address": "fe80::1"}, {"my_ip_address": "::ffff:10.0.0.1"},
    {"utc_offset_seconds": 86399}, {"utc_offset_seconds": -86399}, {"utc_offset_seconds": True},
    {"timeout": 60}, {"resolve_dns": True, "allow_internal_addresses": True},
])
def test_accepted_values(kwargs):
    assert repr(PacPolicy(**kwargs)).startswith("<PacPolicy {")


@pytest.mark.parametrize("kwargs, exc", [
    ({"timeout": "5"}, TypeError),
    ({"timeout": 10**400}, OverflowError),
    ({"utc_offset_seconds": 2**31}, OverflowError),
    ({"utc_offset_seconds": -2**31 - 1}, OverflowError),
    ({"utc_offset_seconds": 2**70}, OverflowError),
    ({"utc_offset_seconds": 3600.0}, TypeError),
    ({"utc_offset_seconds": "3600"}, TypeError),
    ({"my_ip_address": 10}, TypeError),
    ({"my_ip_address": b"10.0.0.1"}, TypeError),
    ({"resolve_dns": 1}, TypeError),
    ({"allow_internal_addresses": "yes"}, TypeError),
    # A type error comes before any value error.
    ({"my_ip_address": "nope", "resolve_dns": 1}, TypeError),
    ({"timeout": -1, "resolve_dns": 1}, TypeError),
])
def test_type_and_range_errors_are_the_interpreters(kwargs, exc):
    with pytest.raises(exc) as info:
        PacPolicy(**kwargs)
    if exc is TypeError:
        assert next(iter(kwargs)) in str(info.value) or "resolve_dns" in str(info.value)


def test_bad_calls():
    with pytest.raises(TypeError):
        PacPolicy(5)
    with pytest.raises(TypeError):
        PacPolicy(timeout_ms=5)


def test_lone_surrogate_address_is_refused_cleanly():
    with pytest.raises(ZelvaneError) as info:
        PacPolicy(my_ip_address="\ud800")
    assert info.value.code == "ERR_INVALID_ARG_VALUE"


def test_comparison_and_hash():
    p = PacPolicy()
    assert (p == "x") is False and (p != "x") is True
    with pytest.raises(TypeError):
        p < PacPolicy()
    with pytest.raises(TypeError):
        hash(p)
    with pytest.raises(TypeError):
        {p}
    # Unhashable as the interpreter's own classes are: `__hash__` is None, so the ABC agrees.
    assert PacPolicy.__hash__ is None
    assert not isinstance(p, collections.abc.Hashable)


def test_is_opaque_and_immutable():
    p = PacPolicy(timeout=1)
    with pytest.raises(AttributeError):
        p.timeout = 2
    assert not [n for n in dir(p) if not n.startswith("_")]
    with pytest.raises(TypeError):
        class Sub(PacPolicy):
            pass


def test_registered_in_order():
    assert zelvane.__all__[:3] == ["ZelvaneError", "Route", "PacPolicy"]
