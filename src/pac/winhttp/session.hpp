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

using sys::win::Platform;

// The time-out of the sessions the module creates.
inline constexpr value::Duration kDefaultTimeout{5, 0};

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
  std::optional<value::Url> pac_url;  // for ConfigUrl and Both
};

class WinHttpSession {
 public:
  // open with the module's 5 s, on the platform of this build. Fails only with Io.
  static model::Result<WinHttpSession> create();
  // An asynchronous session with no proxy of its own, whose WinHTTP time-outs are `timeout`
  // and whose callback is winhttp_status_callback; wpad_fallback is clear.
  static model::Result<WinHttpSession> open(value::Duration timeout);
  static model::Result<WinHttpSession> open(Platform& platform, value::Duration timeout);

  // The route of a URL under the configuration's effective setting, the native engine's one
  // question: a PAC URL through WinHTTP, WPAD by discovery (when wpad_fallback is set, with the
  // user's own settings as fallback; else PacNotSupported "wpad"). pac::resolve asks it only
  // those two, and only for a URL with a usable host; any other setting is pac::unevaluable.
  model::Result<std::vector<model::RouteStep>> route(const model::ProxyConfig& config,
                                                     const value::Url& url) const;
  // One question to WinHTTP: the steps, or none when discovery found no PAC script.
  model::Result<std::optional<std::vector<model::RouteStep>>> resolve(const value::Url& url,
                                                                      const ResolutionRequest& request) const;

  sys::win::NetHandle handle() const { return handle_.get(); }
  value::Duration timeout() const { return timeout_; }
  bool wpad_fallback() const { return wpad_fallback_; }
  // Set before the session is shared.
  void set_wpad_fallback(bool on) { wpad_fallback_ = on; }

 private:
  WinHttpSession(Platform& platform, WinHttpHandle handle, value::Duration timeout)
      : platform_(&platform), handle_(std::move(handle)), timeout_(timeout) {}

  Platform* platform_;
  WinHttpHandle handle_;
  value::Duration timeout_;
  bool wpad_fallback_ = false;
};

// The process-wide session for a value of wpad (its wpad_fallback), created on first use with
// the 5 s time-out and never destroyed; a failed creation leaves the slot empty for the next.
model::Result<const WinHttpSession*> shared_session(bool wpad);

}  // namespace zelvane::pac::winhttp
