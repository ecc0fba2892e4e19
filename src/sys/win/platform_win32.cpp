// The real Windows: each operation is the Win32 call it is named after.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <string>
#include <vector>

#include "sys/win/platform.hpp"
#include "sys/win/win32util.hpp"

namespace zelvane::sys::win {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

HKEY to_hkey(KeyHandle key) { return reinterpret_cast<HKEY>(key.value); }
HANDLE to_handle(Handle handle) { return reinterpret_cast<HANDLE>(handle.value); }

// The system reads a name up to its first NUL, as it would any Win32 string.
std::wstring nul_terminated(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::optional<std::u16string> copy_string(const wchar_t* text) {
  if (text == nullptr) return std::nullopt;
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}

void global_free(LPWSTR text) {
  if (text != nullptr) GlobalFree(text);
}

// The strings WinHTTP allocated for the caller, released on every road once copied.
struct IeProxyConfigGuard {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  IeProxyConfigGuard() = default;
  IeProxyConfigGuard(const IeProxyConfigGuard&) = delete;
  IeProxyConfigGuard& operator=(const IeProxyConfigGuard&) = delete;
  ~IeProxyConfigGuard() {
    global_free(config.lpszAutoConfigUrl);
    global_free(config.lpszProxy);
    global_free(config.lpszProxyBypass);
  }
};

struct ProxyInfoGuard {
  WINHTTP_PROXY_INFO info{};
  ProxyInfoGuard() = default;
  ProxyInfoGuard(const ProxyInfoGuard&) = delete;
  ProxyInfoGuard& operator=(const ProxyInfoGuard&) = delete;
  ~ProxyInfoGuard() {
    global_free(info.lpszProxy);
    global_free(info.lpszProxyBypass);
  }
};

HINTERNET to_hinternet(NetHandle handle) { return reinterpret_cast<HINTERNET>(handle.value); }

// The logic's status callback; every session reports to it through the trampoline.
std::atomic<StatusSink> g_status_sink{nullptr};

void CALLBACK status_trampoline(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
  const StatusSink sink = g_status_sink.load(std::memory_order_acquire);
  if (sink == nullptr) return;
  const std::uint32_t* error = nullptr;
  std::uint32_t copied = 0;
  if (status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR && info != nullptr) {
    copied = static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError;
    error = &copied;
  }
  sink(static_cast<std::uintptr_t>(context), status, error);
}

// The record WinHttpGetProxyResult filled, released on every road once copied.
struct ProxyResultGuard {
  WINHTTP_PROXY_RESULT result{};
  bool filled = false;
  ProxyResultGuard() = default;
  ProxyResultGuard(const ProxyResultGuard&) = delete;
  ProxyResultGuard& operator=(const ProxyResultGuard&) = delete;
  ~ProxyResultGuard() {
    if (filled) WinHttpFreeProxyResult(&result);
  }
};

CallResult bool_result(BOOL ok) {
  if (ok) return {};
  const DWORD error = GetLastError();
  return {false, error};
}

WaitResult wait_result(DWORD code, std::size_t count) {
  if (code == WAIT_TIMEOUT || code - WAIT_OBJECT_0 < count) return {code, 0};
  const DWORD error = GetLastError();
  return {code, error};
}

class Win32Platform final : public Platform {
 public:
  std::uint32_t reg_open_key(KeyHandle root, std::u16string_view path, std::uint32_t access,
                             KeyHandle& key) override {
    const std::wstring wide = nul_terminated(path);
    HKEY hkey = nullptr;
    const LSTATUS status = RegOpenKeyExW(to_hkey(root), wide.c_str(), 0, access, &hkey);
    key = status == ERROR_SUCCESS ? KeyHandle{reinterpret_cast<std::uintptr_t>(hkey)} : KeyHandle{};
    return static_cast<std::uint32_t>(status);
  }

  std::uint32_t reg_query_value(KeyHandle key, std::u16string_view name, std::uint32_t& type, std::byte* data,
                                std::uint32_t& size) override {
    const std::wstring wide = nul_terminated(name);
    DWORD value_type = type;
    DWORD value_size = size;
    const LSTATUS status = RegQueryValueExW(to_hkey(key), wide.c_str(), nullptr, &value_type,
                                            reinterpret_cast<LPBYTE>(data), &value_size);
    type = value_type;
    size = value_size;
    return static_cast<std::uint32_t>(status);
  }

  std::uint32_t reg_close_key(KeyHandle key) noexcept override {
    return static_cast<std::uint32_t>(RegCloseKey(to_hkey(key)));
  }

  std::uint32_t reg_notify_change_key_value(KeyHandle key, bool watch_subtree, std::uint32_t filter,
                                            Handle event, bool asynchronous) override {
    return static_cast<std::uint32_t>(RegNotifyChangeKeyValue(
        to_hkey(key), watch_subtree ? TRUE : FALSE, filter, to_handle(event), asynchronous ? TRUE : FALSE));
  }

  EventResult create_event(bool manual_reset) override {
    HANDLE event = CreateEventW(nullptr, manual_reset ? TRUE : FALSE, FALSE, nullptr);
    if (event == nullptr || event == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return {Handle{reinterpret_cast<std::uintptr_t>(event)}, error};
    }
    return {Handle{reinterpret_cast<std::uintptr_t>(event)}, 0};
  }

  CallResult set_event(Handle event) noexcept override { return bool_result(SetEvent(to_handle(event))); }

  CallResult close_handle(Handle handle) noexcept override {
    return bool_result(CloseHandle(to_handle(handle)));
  }

  WaitResult wait_one(Handle handle, std::uint32_t timeout_ms) override {
    return wait_result(WaitForSingleObject(to_handle(handle), timeout_ms), 1);
  }

  WaitResult wait_any(std::span<const Handle> handles, std::uint32_t timeout_ms) override {
    std::vector<HANDLE> raw;
    raw.reserve(handles.size());
    for (Handle h : handles) raw.push_back(to_handle(h));
    const DWORD code = WaitForMultipleObjects(static_cast<DWORD>(raw.size()), raw.data(), FALSE, timeout_ms);
    return wait_result(code, raw.size());
  }

  CallResult winhttp_get_ie_proxy_config_for_current_user(IeProxyConfig& config) override {
    IeProxyConfigGuard guard;
    if (!WinHttpGetIEProxyConfigForCurrentUser(&guard.config)) {
      const DWORD error = GetLastError();
      return {false, error};
    }
    config.auto_detect = guard.config.fAutoDetect != FALSE;
    config.auto_config_url = copy_string(guard.config.lpszAutoConfigUrl);
    config.proxy = copy_string(guard.config.lpszProxy);
    config.proxy_bypass = copy_string(guard.config.lpszProxyBypass);
    return {};
  }

  CallResult winhttp_get_default_proxy_configuration(ProxyInfo& info) override {
    ProxyInfoGuard guard;
    if (!WinHttpGetDefaultProxyConfiguration(&guard.info)) {
      const DWORD error = GetLastError();
      return {false, error};
    }
    info.access_type = guard.info.dwAccessType;
    info.proxy = copy_string(guard.info.lpszProxy);
    info.proxy_bypass = copy_string(guard.info.lpszProxyBypass);
    return {};
  }

  // The resolver's calls are imported: a Windows without them does not load the module.
  bool winhttp_has_proxy_resolver() const noexcept override { return true; }

  NetResult winhttp_open(std::u16string_view agent, std::uint32_t access_type, std::uint32_t flags) override {
    const std::wstring wide = nul_terminated(agent);
    HINTERNET session =
        WinHttpOpen(wide.c_str(), access_type, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, flags);
    if (session == nullptr) {
      const DWORD error = GetLastError();
      return {NetHandle{}, error};
    }
    return {NetHandle{reinterpret_cast<std::uintptr_t>(session)}, 0};
  }

  CallResult winhttp_set_timeouts(NetHandle session, std::int32_t resolve, std::int32_t connect,
                                  std::int32_t send, std::int32_t receive) override {
    return bool_result(WinHttpSetTimeouts(to_hinternet(session), resolve, connect, send, receive));
  }

  CallResult winhttp_set_status_callback(NetHandle session, StatusSink sink,
                                         std::uint32_t notifications) override {
    g_status_sink.store(sink, std::memory_order_release);
    const WINHTTP_STATUS_CALLBACK previous = WinHttpSetStatusCallback(
        to_hinternet(session), sink != nullptr ? status_trampoline : nullptr, notifications, 0);
    if (previous == WINHTTP_INVALID_STATUS_CALLBACK) {
      const DWORD error = GetLastError();
      return {false, error};
    }
    return {};
  }

  std::uint32_t winhttp_create_proxy_resolver(NetHandle session, NetHandle& resolver) override {
    HINTERNET handle = nullptr;
    const DWORD status = WinHttpCreateProxyResolver(to_hinternet(session), &handle);
    resolver = status == ERROR_SUCCESS ? NetHandle{reinterpret_cast<std::uintptr_t>(handle)} : NetHandle{};
    return status;
  }

  std::uint32_t winhttp_get_proxy_for_url_ex(NetHandle resolver, std::u16string_view url,
                                             const AutoProxyOptions& options,
                                             std::uintptr_t context) override {
    const std::wstring wide_url = nul_terminated(url);
    std::wstring config_url;
    WINHTTP_AUTOPROXY_OPTIONS raw{};
    raw.dwFlags = options.flags;
    raw.dwAutoDetectFlags = options.auto_detect_flags;
    if (options.auto_config_url) {
      config_url = nul_terminated(*options.auto_config_url);
      raw.lpszAutoConfigUrl = config_url.c_str();
    }
    raw.lpvReserved = nullptr;
    raw.dwReserved = 0;
    raw.fAutoLogonIfChallenged = options.auto_logon_if_challenged ? TRUE : FALSE;
    return WinHttpGetProxyForUrlEx(to_hinternet(resolver), wide_url.c_str(), &raw, context);
  }

  std::uint32_t winhttp_get_proxy_result(NetHandle resolver, ProxyResult& result) override {
    ProxyResultGuard guard;
    const DWORD status = WinHttpGetProxyResult(to_hinternet(resolver), &guard.result);
    if (status != ERROR_SUCCESS) return status;
    guard.filled = true;
    result.count = guard.result.cEntries;
    result.entries.reset();
    if (guard.result.pEntries != nullptr) {
      std::vector<ProxyResultEntry> entries;
      entries.reserve(guard.result.cEntries);
      for (DWORD i = 0; i < guard.result.cEntries; ++i) {
        const WINHTTP_PROXY_RESULT_ENTRY& e = guard.result.pEntries[i];
        entries.push_back({e.fProxy != FALSE, static_cast<std::uint32_t>(e.ProxyScheme),
                           copy_string(e.pwszProxy), e.ProxyPort});
      }
      result.entries = std::move(entries);
    }
    return ERROR_SUCCESS;
  }

  CallResult winhttp_close_handle(NetHandle handle) noexcept override {
    return bool_result(WinHttpCloseHandle(to_hinternet(handle)));
  }

  std::expected<ThreadHandle, SpawnError> spawn_thread(std::string_view name, ThreadBody body) override {
    return threads::start_thread(name, std::move(body));
  }

  std::chrono::steady_clock::time_point monotonic_now() noexcept override {
    return std::chrono::steady_clock::now();
  }
};

}  // namespace

Platform& default_platform() {
  // Never destroyed: threads may still call it while the process exits.
  static Win32Platform* const platform = new Win32Platform;
  return *platform;
}

}  // namespace zelvane::sys::win
