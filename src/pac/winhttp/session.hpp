// The native PAC engine: the operating system's WinHTTP proxy resolver asked for the route of
// one URL under a PAC URL or WPAD discovery. WinHTTP downloads and runs the script itself (or
// discovers one); its answer becomes route steps. Each resolution has its own resolver handle
// and completion context, so any number of threads may share one session.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "model/config.hpp"
#include "model/error.hpp"
#include "model/route_step.hpp"
#include "sys/win/platform.hpp"
#include "sys/win/win32util.hpp"
#include "value/time.hpp"
#include "value/url.hpp"

namespace zelvane::pac::winhttp {

using namespace model;
using namespace value;
using sys::win::Platform;

// The agent every session is opened with.
inline constexpr std::u16string_view kAgent = u"zelvane";
// The notifications a session's callback asks for: an answer, and a failure.
inline constexpr std::uint32_t kCallbackNotifications =
    sys::win::kWinHttpCallbackFlagGetProxyForUrlComplete | sys::win::kWinHttpCallbackFlagRequestError;
// The time-out of the sessions the module creates.
inline constexpr Duration kDefaultTimeout{5, 0};

// Owns one WinHTTP handle (a session or a resolver); releasing it closes the handle and
// ignores a failure.
class WinHttpHandle {
 public:
  WinHttpHandle() = default;
  WinHttpHandle(Platform& platform, sys::win::NetHandle handle) : platform_(&platform), handle_(handle) {}
  WinHttpHandle(WinHttpHandle&& other) noexcept;
  WinHttpHandle& operator=(WinHttpHandle&& other) noexcept;
  WinHttpHandle(const WinHttpHandle&) = delete;
  WinHttpHandle& operator=(const WinHttpHandle&) = delete;
  ~WinHttpHandle() { release(); }

  sys::win::NetHandle get() const { return handle_; }
  explicit operator bool() const { return static_cast<bool>(handle_); }
  void release() noexcept;

 private:
  Platform* platform_ = nullptr;
  sys::win::NetHandle handle_;
};

// What a resolution asks WinHTTP to do.
enum class AutoProxyMode : std::uint8_t {
  DetectOnly,  // discovery only
  ConfigUrl,   // the PAC file at the given URL
  Both,        // discovery and the given URL
};

struct ResolutionRequest {
  AutoProxyMode mode = AutoProxyMode::DetectOnly;
  std::optional<Url> pac_url;  // for ConfigUrl and Both
};

// WINHTTP_AUTOPROXY_OPTIONS for a request: the flags of its mode, DHCP and DNS discovery when it
// detects, and the PAC URL's serialisation as it stands (not prepared).
sys::win::AutoProxyOptions autoproxy_options(const ResolutionRequest& request);

// The state one resolution shares with WinHTTP's callback. It is counted by references: the
// caller's and the one handed to WinHTTP with the request, which the callback releases; the
// last release closes the event and frees the record, so a callback that comes after the caller
// gave up touches nothing freed.
class CompletionContext {
 public:
  // A context holding two references, with a new manual-reset event, created clear.
  static Result<CompletionContext*> create(Platform& platform);

  sys::win::Handle event() const { return event_.get(); }
  // 0 for a completed resolution, else WinHTTP's error; read after the event was seen set.
  std::int32_t status() const { return status_.load(std::memory_order_acquire); }
  // Stores the status, then sets the event (a failure of that is ignored).
  void complete(std::int32_t status) noexcept;
  void release() noexcept;

  // The contexts alive in the process; for the tests that show none is leaked or freed early.
  static std::size_t live();

 private:
  CompletionContext(Platform& platform, sys::win::HandleGuard event);
  ~CompletionContext();

  Platform* platform_;
  sys::win::HandleGuard event_;
  std::atomic<std::int32_t> status_{0};
  std::atomic<std::uint32_t> references_{2};
};

class WinHttpSession {
 public:
  // open with the module's 5 s, on the platform of this build. Fails only with Io.
  static Result<WinHttpSession> create();
  // An asynchronous session with no proxy of its own, whose WinHTTP time-outs are `timeout`
  // and whose callback is winhttp_status_callback; wpad_fallback is clear.
  static Result<WinHttpSession> open(Duration timeout);
  static Result<WinHttpSession> open(Platform& platform, Duration timeout);

  // The route of a URL under the configuration's effective setting: direct and manual ones
  // statically, a PAC URL through WinHTTP, WPAD by discovery (when wpad_fallback is set, with
  // the user's own settings as fallback; else PacNotSupported "wpad"); an inline script is
  // PacNotSupported "pac-inline". A URL without a usable host goes direct.
  Result<std::vector<RouteStep>> route(const ProxyConfig& config, const Url& url) const;
  // One question to WinHTTP: the steps, or none when discovery found no PAC script.
  Result<std::optional<std::vector<RouteStep>>> resolve(const Url& url,
                                                        const ResolutionRequest& request) const;

  sys::win::NetHandle handle() const { return handle_.get(); }
  Duration timeout() const { return timeout_; }
  bool wpad_fallback() const { return wpad_fallback_; }
  // Set before the session is shared.
  void set_wpad_fallback(bool on) { wpad_fallback_ = on; }

 private:
  WinHttpSession(Platform& platform, WinHttpHandle handle, Duration timeout)
      : platform_(&platform), handle_(std::move(handle)), timeout_(timeout) {}

  Platform* platform_;
  WinHttpHandle handle_;
  Duration timeout_;
  bool wpad_fallback_ = false;
};

// The steps of WinHTTP's answer, in order, without duplicates, at most 64: a direct entry,
// or an HTTP, HTTPS or SOCKS (as SOCKS4) proxy whose host reads as an address or a URL host
// (port 0: the scheme's default). Entries of other schemes, without a host or with one that
// does not read are skipped; no usable entry is PacInvalidResult naming the count.
Result<std::vector<RouteStep>> candidates_from_proxy_result(
    std::uint32_t count, const std::optional<std::vector<sys::win::ProxyResultEntry>>& entries);

// 12166 (the script could not run) is PacEvaluation; any other code Io "{context} (WinHTTP
// status 0x........)" with the code as its source.
Error winhttp_error(std::string_view context, std::uint32_t code);

// The sessions' status callback, on a WinHTTP thread: an answer (status 0) or a failure (its
// error, 12004 when none came with it) is stored into the request's context, whose event is
// then set and whose callback reference is released. Other notifications are passed over.
void winhttp_status_callback(std::uintptr_t context, std::uint32_t status,
                             const std::uint32_t* error) noexcept;

// The process-wide session for a value of wpad (its wpad_fallback), created on first use with
// the 5 s time-out and never destroyed; a failed creation leaves the slot empty for the next.
Result<const WinHttpSession*> shared_session(bool wpad);

// Milliseconds of a duration for WinHTTP's time-outs: at most 0x7FFFFFFF, at least 1.
std::int32_t timeout_ms(Duration d);
// Milliseconds of a duration for the wait of an answer: at most 0xFFFFFFFE, never infinite.
std::uint32_t wait_ms(Duration d);

}  // namespace zelvane::pac::winhttp
