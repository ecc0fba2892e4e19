import struct

import pytest

import zelvane
from conftest import none_only


def read(env, precedence=None):
    return zelvane.read(env=env, precedence=precedence)


def test_manual_mode_shape():
    snap = read({"https_proxy": "socks5h://u:p%40ss@[::1]:1080", "http_proxy": "192.0.2.10:80",
                 "ftp_proxy": " ", "all_proxy": "[zz", "no_proxy": "example.com,.b.example,a b"})
    mode = snap.to_dict()["mode"]
    assert list(mode) == ["kind", "proxies", "bypass", "rejected"]
    assert mode["kind"] == "manual"
    proxies = mode["proxies"]
    assert list(proxies) == ["http", "https", "ftp", "all"]
    assert proxies["http"] == {"kind": "use", "scheme": None, "host": "192.0.2.10", "port": 80,
                               "username": None, "password": None, "password_state": None}
    assert proxies["https"] == {"kind": "use", "scheme": "socks5h", "host": "[::1]",
                                "port": 1080, "username": "u", "password": "p@ss",
                                "password_state": "Present"}
    assert proxies["ftp"] == {"kind": "disabled"}
    refused = 'InvalidProxyEndpoint from EnvironmentVariable("all_proxy"): [zz'
    assert proxies["all"] == {"kind": "unusable", "rejected": refused}
    assert mode["rejected"] == [refused]
    assert mode["bypass"] == {
        "patterns": ["example.com", ".b.example"], "implicit": "Broad",
        "exclude_simple_hostnames": False, "reversed_exceptions": False,
        "require_explicit_port": False, "ipv4_mapped_as_ipv4": True, "strip_trailing_dot": True,
        "rejected": ["InvalidBypassPattern from BypassList: a b"]}
    top = snap.to_dict()
    assert list(top) == ["mode", "sources", "fallbacks", "rejected", "os_readable"]
    # The effective mode is the Env source's: its refused values are listed once.
    assert top["rejected"] == [refused, "InvalidBypassPattern from BypassList: a b"]
    env_source = [s for s in top["sources"] if s["source"] == "Env"][0]
    assert env_source["mode"]["rejected"] == [refused]


def test_user_without_password():
    entry = read({"http_proxy": "bob@proxy:3128"}).to_dict()["mode"]["proxies"]["http"]
    assert (entry["username"], entry["password"], entry["password_state"]) == ("bob", None, "Absent")


def test_ipv6_hosts_use_the_url_form():
    proxies = read({"http_proxy": "[2001:db8:0:0:1:0:0:1]:8080",
                    "https_proxy": "[::ffff:127.0.0.1]:1"}).to_dict()["mode"]["proxies"]
    assert proxies["http"]["host"] == "[2001:db8::1:0:0:1]"
    assert proxies["https"]["host"] == "[::ffff:7f00:1]"


def test_to_dict_gives_new_objects_each_time():
    snap = read({"http_proxy": "p:1"})
    first = snap.to_dict()
    first["mode"]["proxies"].clear()
    assert snap.to_dict()["mode"]["proxies"]["http"]["port"] == 1


@none_only
def test_empty_reading_exports_its_shape():
    assert read({}).to_dict() == {"mode": {"kind": "direct"}, "sources": [], "fallbacks": [],
                                  "rejected": [], "os_readable": False}
    env = read({"http_proxy": "p:1"}).to_dict()
    assert [s["source"] for s in env["sources"]] == ["Env"]


@none_only
def test_diagnostics_of_an_empty_reading():
    d = read({}).diagnostics()
    assert repr(d) == "Diagnostics(os_readable=False, sources=[], fallbacks=[], rejected=[])"
    assert d.os_readable is False
    assert d.sources == [] and d.fallbacks == [] and d.rejected == []


def test_diagnostics_attributes_and_docstrings():
    cls = zelvane.Diagnostics
    assert cls.__doc__ == ("Where a snapshot's answer came from, without the proxy addresses or "
                           "credentials.")
    assert cls.os_readable.__doc__ == "Whether the OS had proxy settings to read."
    assert cls.sources.__doc__ == ("The sources that produced a configuration, highest "
                                   "precedence first.")
    assert cls.fallbacks.__doc__ == "Sources that could not be read and were left out."
    assert cls.rejected.__doc__ == (
        "Values the sources held but the snapshot dropped (settings that silently stopped\n"
        'applying), each as `"<kind> from <source>: <value>"`, credentials masked.')
    with pytest.raises(TypeError):
        cls()
    d = read({"http_proxy": "[::1"}).diagnostics()
    with pytest.raises(AttributeError):
        d.sources = []
    assert d.sources is not d.sources  # a new list each read
    assert "Env" in d.sources


def test_snapshot_method_docstrings():
    assert zelvane.Snapshot.to_dict.__doc__ == (
        "The whole configuration as plain dicts and lists, the stub file describes the\n"
        "shape. A proxy's password, and one in a PAC URL, is in it as the value.")
    assert zelvane.Snapshot.diagnostics.__doc__ == "Which sources the snapshot came from."


def test_diagnostics_rejected_quotes_like_python():
    d = read({"http_proxy": "it's[:1"}).diagnostics()
    assert d.rejected == ["InvalidProxyEndpoint from EnvironmentVariable(\"http_proxy\"): it's[:1"]
    # Python's own list repr picks the quotes.
    assert repr(d).endswith("rejected=" + repr(d.rejected) + ")")


def sip13(data: bytes, k0: int = 0, k1: int = 0, as_python_hash: bool = True) -> int:
    """SipHash-1-3, written from the algorithm's description; zero keys unless given."""
    mask = (1 << 64) - 1
    rotl = lambda x, b: ((x << b) | (x >> (64 - b))) & mask
    v = [k0 ^ 0x736F6D6570736575, k1 ^ 0x646F72616E646F6D, k0 ^ 0x6C7967656E657261,
         k1 ^ 0x7465646279746573]

    def rnd():
        v[0] = (v[0] + v[1]) & mask; v[1] = rotl(v[1], 13); v[1] ^= v[0]; v[0] = rotl(v[0], 32)
        v[2] = (v[2] + v[3]) & mask; v[3] = rotl(v[3], 16); v[3] ^= v[2]
        v[0] = (v[0] + v[3]) & mask; v[3] = rotl(v[3], 21); v[3] ^= v[0]
        v[2] = (v[2] + v[1]) & mask; v[1] = rotl(v[1], 17); v[1] ^= v[2]; v[2] = rotl(v[2], 32)

    full = len(data) - len(data) % 8
    for i in range(0, full, 8):
        m = int.from_bytes(data[i:i + 8], "little")
        v[3] ^= m; rnd(); v[0] ^= m
    last = int.from_bytes(data[full:], "little") | ((len(data) & 0xFF) << 56)
    v[3] ^= last; rnd(); v[0] ^= last
    v[2] ^= 0xFF
    for _ in range(3):
        rnd()
    h = v[0] ^ v[1] ^ v[2] ^ v[3]
    if not as_python_hash:
        return h
    h = h - (1 << 64) if h >= 1 << 63 else h
    return -2 if h == -1 else h


def stream(d) -> bytes:
    out = bytes([1 if d.os_readable else 0])
    for texts in (d.sources, d.fallbacks, d.rejected):
        out += struct.pack("<Q", len(texts))
        for t in texts:
            out += t.encode() + b"\xff"
    return out


def test_diagnostics_equality_and_hash():
    snap = read({"http_proxy": "[::1", "no_proxy": "a b"})
    a, b = snap.diagnostics(), snap.diagnostics()
    assert a == b and not (a != b)
    assert hash(a) == hash(b) == sip13(stream(a))
    other = read({"http_proxy": "p:1"}).diagnostics()
    assert a != other
    assert hash(other) == sip13(stream(other))
    assert a != ["Env"]
    assert (a == object()) is False
    with pytest.raises(TypeError):
        a < b
    assert len({a, b, other}) == 2


@pytest.mark.parametrize("env, other, equal", [
    ({"http_proxy": "[::1", "no_proxy": "a b,c d"}, {"http_proxy": "[::1", "no_proxy": "a b,c d"}, True),
    ({"no_proxy": "a b,c d"}, {"no_proxy": "c d,a b"}, False),
    ({"no_proxy": "a b,c d"}, {"no_proxy": "a b,c e"}, False),
    ({"http_proxy": "[::1"}, {"https_proxy": "[::1"}, False),
])
def test_diagnostics_of_separate_readings_compare_by_their_texts(env, other, equal):
    a, b = read(env).diagnostics(), read(other).diagnostics()
    assert (a == b) is equal and (a != b) is not equal
    assert (hash(a) == hash(b)) is equal
    assert hash(b) == sip13(stream(b))


def test_diagnostics_and_export_outlive_their_snapshot():
    import gc
    d = read({"http_proxy": "[zz", "no_proxy": "a b,x.example"}).diagnostics()
    gc.collect()
    assert "Env" in d.sources
    assert d.rejected == ['InvalidProxyEndpoint from EnvironmentVariable("http_proxy"): [zz',
                          "InvalidBypassPattern from BypassList: a b"]
    exported = read({"no_proxy": "a b,c d,a b"}).to_dict()
    gc.collect()
    env_source = [s for s in exported["sources"] if s["source"] == "Env"][0]
    assert exported["rejected"] == env_source["mode"]["bypass"]["rejected"] == [
        "InvalidBypassPattern from BypassList: a b", "InvalidBypassPattern from BypassList: c d"]


def test_reference_siphash_matches_the_published_vector():
    # Guards the test's own reference: the first SipHash-1-3 vector (key 00..0f, empty message).
    key = bytes(range(16))
    k0, k1 = int.from_bytes(key[:8], "little"), int.from_bytes(key[8:], "little")
    got = sip13(b"", k0, k1, as_python_hash=False).to_bytes(8, "little")
    assert got == bytes([0xdc, 0xc4, 0x0f, 0x05, 0x58, 0x01, 0xac, 0xab])
