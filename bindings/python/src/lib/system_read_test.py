"""read() against simulated Windows systems (the sim build)."""
import pytest

import zelvane
from conftest import sim_only

pytestmark = sim_only

USER = r"Software\Microsoft\Windows\CurrentVersion\Internet Settings"
POLICY = r"Software\Policies\Microsoft\Windows\CurrentVersion\Internet Settings"


def read(**kwargs):
    kwargs.setdefault("env", {})
    return zelvane.read(**kwargs)


def sources(snap):
    return [s["source"] for s in snap.to_dict()["sources"]]


def test_manual_proxy_with_bypass(windows):
    windows.set_ie_config(proxy="http=proxy.corp:8080;https=secure.corp:8443",
                          proxy_bypass="*.corp;<local>")
    snap = read()
    d = snap.to_dict()
    assert d["os_readable"] is True
    assert sources(snap) == ["Registry", "WinHttpDefault"]
    mode = d["mode"]
    assert mode["kind"] == "manual"
    assert mode["proxies"]["http"]["host"] == "proxy.corp"
    assert mode["proxies"]["https"]["port"] == 8443
    assert mode["bypass"]["patterns"] == [".corp", "<local>"]
    assert mode["bypass"]["implicit"] == "WinInet"
    assert snap.diagnostics() == snap.diagnostics()
    assert repr(snap).startswith("<Snapshot os_readable=True ProxyConfig { effective: Manual")


def test_pac_url_and_wpad(windows):
    windows.set_ie_config(auto_config_url="http://alice:pw@wpad.corp/proxy.pac")
    snap = read()
    assert snap.to_dict()["mode"] == {"kind": "pac", "url": "http://alice:pw@wpad.corp/proxy.pac",
                                      "rejected": []}
    assert "pw@" not in repr(snap) and "alice:***@wpad.corp" in repr(snap)
    windows.set_ie_config(auto_detect=True, auto_config_url="http://wpad.corp/proxy.pac")
    assert read().to_dict()["mode"] == {"kind": "wpad"}


def test_refused_pac_url_raises(windows):
    windows.set_ie_config(auto_config_url="http://alice:pw@[zz]/proxy.pac")
    with pytest.raises(zelvane.ZelvaneError) as info:
        read()
    assert info.value.code == "ERR_INVALID_PROXY_URL"
    assert str(info.value) == 'invalid proxy URL "http://alice:***@[zz]/proxy.pac": invalid IPv6 address'


@pytest.mark.parametrize("last_error, fallbacks", [(2, []), (5, ["Registry"])])
def test_current_user_call_failing(windows, last_error, fallbacks):
    windows.fail_ie_config(last_error)
    windows.set_dword("HKCU", USER, "ProxyEnable", 1)
    windows.set_string("HKCU", USER, "ProxyServer", "hkcu.proxy:3128")
    snap = read()
    assert snap.diagnostics().fallbacks == fallbacks
    assert sources(snap) == ["Registry", "WinHttpDefault"]
    assert snap.to_dict()["mode"]["proxies"]["all"]["host"] == "hkcu.proxy"


def test_hkcu_failures_raise_io_errors(windows):
    windows.fail_ie_config(2)
    windows.fail_next("reg_open_key", 5, key="HKCU\\" + USER)
    with pytest.raises(zelvane.ZelvaneError) as info:
        read()
    assert (info.value.code, str(info.value)) == ("ERR_IO", "opening HKCU Internet Settings key")

    windows.set_string("HKCU", USER, "AutoConfigURL", "http://x/p.pac")
    windows.fail_next("reg_query_value", 5, value="AutoConfigURL")
    with pytest.raises(zelvane.ZelvaneError) as info:
        read()
    assert info.value.code == "ERR_IO"
    assert str(info.value) == "reading registry value AutoConfigURL under HKCU\\" + USER


def test_group_policy_present_or_failing(windows):
    windows.set_ie_config(proxy="user.proxy:1")
    windows.set_dword("HKLM", POLICY, "ProxyEnable", 1)
    windows.set_string("HKLM", POLICY, "ProxyServer", "policy.proxy:2")
    snap = read()
    assert sources(snap) == ["Registry", "GroupPolicy", "WinHttpDefault"]
    # The user's setting stays in force.
    assert snap.to_dict()["mode"]["proxies"]["all"]["host"] == "user.proxy"

    windows.fail_next("reg_open_key", 5, key="HKLM\\" + POLICY)
    snap = read()
    assert sources(snap) == ["Registry", "WinHttpDefault"]
    assert snap.diagnostics().fallbacks == ["GroupPolicy"]


def test_winhttp_default(windows):
    windows.set_default_proxy(3, "winhttp.proxy:8080", "")
    snap = read()
    default = snap.to_dict()["sources"][1]
    assert default["source"] == "WinHttpDefault"
    assert default["mode"]["proxies"]["all"]["host"] == "winhttp.proxy"
    windows.fail_default_proxy(1234)
    assert read().diagnostics().fallbacks == ["WinHttpDefault"]
    windows.fail_default_proxy(2)
    assert read().diagnostics().fallbacks == []


def test_environment_before_and_after_the_system(windows):
    windows.set_ie_config(proxy="system.proxy:1")
    env = {"http_proxy": "env.proxy:2"}
    before = read(env=env)
    assert before.diagnostics().sources == ["Env", "Registry", "WinHttpDefault"]
    assert before.to_dict()["mode"]["proxies"]["http"]["host"] == "env.proxy"
    after = read(env=env, precedence="after-system")
    assert after.diagnostics().sources == ["Registry", "WinHttpDefault", "Env"]
    assert after.to_dict()["mode"]["proxies"]["all"]["host"] == "system.proxy"
    ignored = read(env=env, precedence="ignore")
    assert ignored.diagnostics().sources == ["Registry", "WinHttpDefault"]


def test_manual_setting_whose_only_entry_was_refused(windows):
    windows.set_ie_config(proxy="gopher=g:70")
    d = read().to_dict()
    assert d["mode"]["proxies"] == {}
    assert d["mode"]["rejected"] == ["UnknownProxyScheme from ProxyServer: gopher=g:70"]
    assert d["rejected"] == ["UnknownProxyScheme from ProxyServer: gopher=g:70"]


def test_registry_text_is_decoded_like_the_system_does(windows):
    windows.fail_ie_config(2)
    windows.set_string("HKCU", USER, "AutoConfigURL", "http://h/%USERNAME%.pac", type=2)
    assert read().to_dict()["mode"]["url"] == "http://h/%USERNAME%.pac"
    windows.set_value("HKCU", USER, "AutoConfigURL", 1, "http://h/a\0b".encode("utf-16-le"))
    assert read().to_dict()["mode"]["url"] == "http://h/a"
