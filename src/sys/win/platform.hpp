// The seam between the Windows logic and Windows itself: the system calls the logic makes,
// one virtual function per call, at the level of Win32 with its status codes. Two
// implementations exist, chosen at link time: the real calls (platform_win32.cpp) and the
// simulated Windows (sim/). Every decision (which status means "not found", the HRESULT
// form of an error, retries, what is fatal, the messages) stays above this seam; an
// implementation only makes the call and copies its results.
//
// The rules every implementation keeps:
// - Text crosses undecoded: names and paths go in as UTF-16 units, and the system sees the
//   units up to the first NUL, as a NUL-terminated Win32 string would; strings the system
//   returns come back as the UTF-16 units before their terminating NUL; registry data comes
//   back as raw bytes.
// - A failing call answers the Win32 last error read right after it, inside the
//   implementation (a later read would see whatever the cleanup calls left behind). The
//   last error of a call that succeeded is 0.
// - Failures are answers, never exceptions.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "threads/thread.hpp"

namespace zelvane::sys::win {

// A registry key (HKEY), as its pointer bits; 0 is null.
struct KeyHandle {
  std::uintptr_t value = 0;
  explicit operator bool() const { return value != 0; }
  friend bool operator==(KeyHandle, KeyHandle) = default;
};

// A kernel object handle (HANDLE), as its pointer bits; 0 is null.
struct Handle {
  std::uintptr_t value = 0;
  explicit operator bool() const { return value != 0; }
  friend bool operator==(Handle, Handle) = default;
};

// A WinHTTP handle (HINTERNET): a session or a proxy resolver, as its pointer bits; 0 is null.
struct NetHandle {
  std::uintptr_t value = 0;
  explicit operator bool() const { return value != 0; }
  friend bool operator==(NetHandle, NetHandle) = default;
};

// The predefined roots carry the bits Win32 gives them: a 32-bit value, sign-extended.
inline constexpr KeyHandle predefined_key(std::uint32_t bits) {
  return {static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<std::int32_t>(bits)))};
}
inline constexpr KeyHandle kHkeyCurrentUser = predefined_key(0x80000001);
inline constexpr KeyHandle kHkeyLocalMachine = predefined_key(0x80000002);
inline constexpr Handle kInvalidHandleValue{~std::uintptr_t{0}};

// Win32 status codes and last errors the logic or the tests compare against.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorBadPathname = 161;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorIoPending = 997;
inline constexpr std::uint32_t kErrorKeyDeleted = 1018;

// WinHTTP's own errors.
inline constexpr std::uint32_t kErrorWinHttpInternalError = 12004;
inline constexpr std::uint32_t kErrorWinHttpInvalidUrl = 12005;
inline constexpr std::uint32_t kErrorWinHttpOperationCancelled = 12017;
inline constexpr std::uint32_t kErrorWinHttpIncorrectHandleType = 12018;
inline constexpr std::uint32_t kErrorWinHttpIncorrectHandleState = 12019;
inline constexpr std::uint32_t kErrorWinHttpBadAutoProxyScript = 12166;
inline constexpr std::uint32_t kErrorWinHttpUnableToDownloadScript = 12167;
inline constexpr std::uint32_t kErrorWinHttpAutoProxyServiceError = 12178;
inline constexpr std::uint32_t kErrorWinHttpAutodetectionFailed = 12180;

// Registry access rights and value types.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeyNotify = 0x0010;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegDwordBigEndian = 5;
inline constexpr std::uint32_t kRegMultiSz = 7;

// RegNotifyChangeKeyValue filters: a subkey added or deleted, a key's attributes, a value set
// or deleted, a key's security; and a registration that does not end with its thread.
inline constexpr std::uint32_t kRegNotifyChangeName = 0x1;
inline constexpr std::uint32_t kRegNotifyChangeAttributes = 0x2;
inline constexpr std::uint32_t kRegNotifyChangeLastSet = 0x4;
inline constexpr std::uint32_t kRegNotifyChangeSecurity = 0x8;
inline constexpr std::uint32_t kRegNotifyThreadAgnostic = 0x10000000;

// Waits.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 0x102;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr std::size_t kMaximumWaitObjects = 64;

// WINHTTP_PROXY_INFO access types.
inline constexpr std::uint32_t kWinHttpAccessTypeNoProxy = 1;
inline constexpr std::uint32_t kWinHttpAccessTypeNamedProxy = 3;

// WinHttpOpen: a session whose calls complete through the status callback.
inline constexpr std::uint32_t kWinHttpFlagAsync = 0x10000000;
// The status callback's notifications: the flags that choose them, and the status values that
// announce them (the same bits).
inline constexpr std::uint32_t kWinHttpCallbackFlagGetProxyForUrlComplete = 0x01000000;
inline constexpr std::uint32_t kWinHttpCallbackFlagRequestError = 0x00200000;
inline constexpr std::uint32_t kWinHttpCallbackStatusGetProxyForUrlComplete = 0x01000000;
inline constexpr std::uint32_t kWinHttpCallbackStatusRequestError = 0x00200000;
// WINHTTP_AUTOPROXY_OPTIONS: what to ask, and how to discover.
inline constexpr std::uint32_t kWinHttpAutoProxyAutoDetect = 1;
inline constexpr std::uint32_t kWinHttpAutoProxyConfigUrl = 2;
inline constexpr std::uint32_t kWinHttpAutoDetectTypeDhcp = 1;
inline constexpr std::uint32_t kWinHttpAutoDetectTypeDnsA = 2;
// WINHTTP_PROXY_RESULT_ENTRY::ProxyScheme.
inline constexpr std::uint32_t kInternetSchemeHttp = 1;
inline constexpr std::uint32_t kInternetSchemeHttps = 2;
inline constexpr std::uint32_t kInternetSchemeFtp = 3;
inline constexpr std::uint32_t kInternetSchemeSocks = 4;

// A call that answers a BOOL.
struct CallResult {
  bool ok = true;
  std::uint32_t last_error = 0;
};

// CreateEventW: the handle as the system gave it (null or INVALID_HANDLE_VALUE on failure).
struct EventResult {
  Handle handle;
  std::uint32_t last_error = 0;
};

// WaitForSingleObject / WaitForMultipleObjects: WAIT_OBJECT_0 + i, WAIT_TIMEOUT, WAIT_FAILED
// or any other value the system gave; the last error of any answer but a signalled handle
// and WAIT_TIMEOUT.
struct WaitResult {
  std::uint32_t code = kWaitFailed;
  std::uint32_t last_error = 0;
};

// WINHTTP_CURRENT_USER_IE_PROXY_CONFIG, copied out; none stands for a null pointer. The
// system's strings are released by the implementation.
struct IeProxyConfig {
  bool auto_detect = false;
  std::optional<std::u16string> auto_config_url, proxy, proxy_bypass;
  friend bool operator==(const IeProxyConfig&, const IeProxyConfig&) = default;
};

// WINHTTP_PROXY_INFO, copied out in the same way.
struct ProxyInfo {
  std::uint32_t access_type = 0;
  std::optional<std::u16string> proxy, proxy_bypass;
  friend bool operator==(const ProxyInfo&, const ProxyInfo&) = default;
};

// WinHttpOpen: the session as the system gave it (null on failure).
struct NetResult {
  NetHandle handle;
  std::uint32_t last_error = 0;
};

// WINHTTP_AUTOPROXY_OPTIONS; the reserved fields are null and 0 in every implementation.
struct AutoProxyOptions {
  std::uint32_t flags = 0;              // dwFlags
  std::uint32_t auto_detect_flags = 0;  // dwAutoDetectFlags
  // lpszAutoConfigUrl, none for a null pointer; the system sees it up to its first NUL.
  std::optional<std::u16string> auto_config_url;
  bool auto_logon_if_challenged = false;  // fAutoLogonIfChallenged
  friend bool operator==(const AutoProxyOptions&, const AutoProxyOptions&) = default;
};

// One WINHTTP_PROXY_RESULT_ENTRY, copied out (fBypass is not).
struct ProxyResultEntry {
  bool proxy = false;                  // fProxy
  std::uint32_t scheme = 0;            // ProxyScheme
  std::optional<std::u16string> host;  // pwszProxy, none for a null pointer
  std::uint16_t port = 0;              // ProxyPort
  friend bool operator==(const ProxyResultEntry&, const ProxyResultEntry&) = default;
};

// WINHTTP_PROXY_RESULT, copied out: the count the system gave, and its entries (none for a
// null entry array; otherwise as many as the count says). The implementation releases the
// system's record (WinHttpFreeProxyResult) once it is copied.
struct ProxyResult {
  std::uint32_t count = 0;
  std::optional<std::vector<ProxyResultEntry>> entries;
  friend bool operator==(const ProxyResult&, const ProxyResult&) = default;
};

// The status callback of a WinHTTP session, as the logic receives it: the context value of the
// request, the status (the notification), and the dwError of the WINHTTP_ASYNC_RESULT that
// comes with it (null when the system passed none). It runs on a thread of the system's.
using StatusSink = void (*)(std::uintptr_t context, std::uint32_t status,
                            const std::uint32_t* error) noexcept;

using threads::SpawnError;
using threads::ThreadBody;
using threads::ThreadHandle;

class Platform {
 public:
  virtual ~Platform() = default;

  // ---- registry (advapi32)
  // RegOpenKeyExW(root, path, 0, access, &key): the status; key is null unless it is 0.
  virtual std::uint32_t reg_open_key(KeyHandle root, std::u16string_view path, std::uint32_t access,
                                     KeyHandle& key) = 0;
  // RegQueryValueExW(key, name, nullptr, &type, data, &size). A null data pointer asks for the
  // size. Status 0 fills type and size (the value's size in bytes, the data when a buffer was
  // given); ERROR_MORE_DATA, for a buffer smaller than size (given in), fills both as well.
  virtual std::uint32_t reg_query_value(KeyHandle key, std::u16string_view name, std::uint32_t& type,
                                        std::byte* data, std::uint32_t& size) = 0;
  // RegCloseKey: the status, which callers other than the tests ignore.
  virtual std::uint32_t reg_close_key(KeyHandle key) noexcept = 0;
  // RegNotifyChangeKeyValue(key, watch_subtree, filter, event, asynchronous): the status. An
  // asynchronous registration sets the event once: at the next change that the filter names,
  // of the key itself or (with watch_subtree) of any key below it, or when the key is closed or
  // deleted. The key must be armed again after each. The key needs KEY_NOTIFY; a key deleted
  // meanwhile answers ERROR_KEY_DELETED.
  virtual std::uint32_t reg_notify_change_key_value(KeyHandle key, bool watch_subtree, std::uint32_t filter,
                                                    Handle event, bool asynchronous) = 0;

  // ---- kernel objects (kernel32)
  // CreateEventW(nullptr, manual_reset, FALSE, nullptr): an unnamed event, created clear.
  virtual EventResult create_event(bool manual_reset) = 0;
  virtual CallResult set_event(Handle event) noexcept = 0;
  virtual CallResult close_handle(Handle handle) noexcept = 0;
  // WaitForSingleObject(handle, timeout_ms); INFINITE waits without a time-out.
  virtual WaitResult wait_one(Handle handle, std::uint32_t timeout_ms) = 0;
  // WaitForMultipleObjects(count, handles, FALSE, timeout_ms): WAIT_OBJECT_0 + i for the lowest
  // signalled handle i; a wait that returns an auto-reset event resets it.
  virtual WaitResult wait_any(std::span<const Handle> handles, std::uint32_t timeout_ms) = 0;

  // ---- WinHTTP, reading the proxy settings
  virtual CallResult winhttp_get_ie_proxy_config_for_current_user(IeProxyConfig& config) = 0;
  virtual CallResult winhttp_get_default_proxy_configuration(ProxyInfo& info) = 0;

  // ---- WinHTTP, the proxy resolver of the native PAC engine
  // Whether WinHTTP has its proxy resolver (WinHttpCreateProxyResolver, WinHttpGetProxyForUrlEx,
  // WinHttpGetProxyResult). The module imports them, so Windows loads it only where they are
  // and this is true there; the simulated Windows can be without them.
  virtual bool winhttp_has_proxy_resolver() const noexcept = 0;
  // WinHttpOpen(agent, access_type, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, flags).
  virtual NetResult winhttp_open(std::u16string_view agent, std::uint32_t access_type,
                                 std::uint32_t flags) = 0;
  // WinHttpSetTimeouts(session, resolve, connect, send, receive), in milliseconds.
  virtual CallResult winhttp_set_timeouts(NetHandle session, std::int32_t resolve, std::int32_t connect,
                                          std::int32_t send, std::int32_t receive) = 0;
  // WinHttpSetStatusCallback(session, callback, notifications, 0): the session's callback from
  // now on, for the notifications named; resolvers made from the session report to it. A
  // failure (WINHTTP_INVALID_STATUS_CALLBACK) answers its last error. The sink is the one
  // function of the process that every session reports to.
  virtual CallResult winhttp_set_status_callback(NetHandle session, StatusSink sink,
                                                 std::uint32_t notifications) = 0;
  // WinHttpCreateProxyResolver(session, &resolver): the status; resolver is null unless it is 0.
  virtual std::uint32_t winhttp_create_proxy_resolver(NetHandle session, NetHandle& resolver) = 0;
  // WinHttpGetProxyForUrlEx(resolver, url, &options, context): ERROR_IO_PENDING when the answer
  // comes through the callback (with `context`), 0 when it is ready at once, else the error.
  // The system sees the URL up to its first NUL.
  virtual std::uint32_t winhttp_get_proxy_for_url_ex(NetHandle resolver, std::u16string_view url,
                                                     const AutoProxyOptions& options,
                                                     std::uintptr_t context) = 0;
  // WinHttpGetProxyResult(resolver, &result) on a record starting with zero entries, copied into
  // `result`, then WinHttpFreeProxyResult: the status.
  virtual std::uint32_t winhttp_get_proxy_result(NetHandle resolver, ProxyResult& result) = 0;
  // WinHttpCloseHandle: closing a resolver with a pending request cancels it.
  virtual CallResult winhttp_close_handle(NetHandle handle) noexcept = 0;

  // ---- threads and clocks
  // A thread with the given name and the default stack size. Naming is best effort: a name the
  // system refuses or shortens never fails the spawn.
  virtual std::expected<ThreadHandle, SpawnError> spawn_thread(std::string_view name, ThreadBody body) = 0;
  virtual std::chrono::steady_clock::time_point monotonic_now() noexcept = 0;
};

// The platform of this build: the real Windows or the simulated one.
Platform& default_platform();

}  // namespace zelvane::sys::win
