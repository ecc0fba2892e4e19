// The native engine's own parts, for session.cpp and its tests: what a session asks WinHTTP
// for, the state one resolution shares with WinHTTP's callback, and the reading of its answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "model/route_step.hpp"
#include "pac/winhttp/session.hpp"
#include "sys/win/platform.hpp"
#include "sys/win/win32util.hpp"
#include "value/time.hpp"

namespace zelvane::pac::winhttp {

// The agent every session is opened with.
inline constexpr std::u16string_view kAgent = u"zelvane";
// The notifications a session's callback asks for: an answer, and a failure.
inline constexpr std::uint32_t kCallbackNotifications =
    sys::win::kWinHttpCallbackFlagGetProxyForUrlComplete | sys::win::kWinHttpCallbackFlagRequestError;
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
  static model::Result<CompletionContext*> create(Platform& platform);

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

// The steps of WinHTTP's answer, in order, without duplicates, at most 64: a direct entry,
// or an HTTP, HTTPS or SOCKS (as SOCKS4) proxy whose host reads as an address or a URL host
// (port 0: the scheme's default). Entries of other schemes, without a host or with one that
// does not read are skipped; no usable entry is PacInvalidResult naming the count.
model::Result<std::vector<model::RouteStep>> candidates_from_proxy_result(
    std::uint32_t count, const std::optional<std::vector<sys::win::ProxyResultEntry>>& entries);

// 12166 (the script could not run) is PacEvaluation; any other code Io "{context} (WinHTTP
// status 0x........)" with the code as its source.
model::Error winhttp_error(std::string_view context, std::uint32_t code);

// The sessions' status callback, on a WinHTTP thread: an answer (status 0) or a failure (its
// error, 12004 when none came with it) is stored into the request's context, whose event is
// then set and whose callback reference is released. Other notifications are passed over.
void winhttp_status_callback(std::uintptr_t context, std::uint32_t status,
                             const std::uint32_t* error) noexcept;

// Milliseconds of a duration for WinHTTP's time-outs: at most 0x7FFFFFFF, at least 1.
std::int32_t timeout_ms(value::Duration d);
// Milliseconds of a duration for the wait of an answer: at most 0xFFFFFFFE, never infinite.
std::uint32_t wait_ms(value::Duration d);

}  // namespace zelvane::pac::winhttp
