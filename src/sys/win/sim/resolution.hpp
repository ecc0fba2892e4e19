// WinHTTP's proxy resolver in the simulated Windows, as the control side sees it: how one request
// is answered, and what the simulation keeps of the sessions and requests it saw.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sys/win/platform.hpp"

namespace zelvane::sys::win::sim {

// How the simulated WinHTTP answers one WinHttpGetProxyForUrlEx. The resolutions scripted with
// Control::script_resolution answer the calls in order, one each; a call with none left gets
// the answer of a fresh system: one direct entry, through the callback at once.
struct Resolution {
  enum class Delivery : std::uint8_t {
    AtOnce,    // the call answers `status` itself (0: the answer is ready; no callback)
    Callback,  // the call answers ERROR_IO_PENDING; after `delay` another thread calls back
    Never,     // the call answers ERROR_IO_PENDING; no callback comes by itself
  };
  // What closing the resolver does to a request still pending.
  enum class OnClose : std::uint8_t {
    Cancel,  // as Windows: the callback comes at once with REQUEST_ERROR 12017
    Keep,    // the scripted callback still comes at its time, after the caller has gone
    Drop,    // nothing ever comes; the context stays with the simulation (held_callbacks)
  };
  Delivery delivery = Delivery::Callback;
  // AtOnce: the call's own answer. Callback: 0 is GETPROXYFORURL_COMPLETE, anything else
  // REQUEST_ERROR with that dwError.
  std::uint32_t status = 0;
  std::chrono::milliseconds delay{0};
  OnClose on_close = OnClose::Cancel;
  // REQUEST_ERROR without its WINHTTP_ASYNC_RESULT (a null pointer).
  bool no_error_info = false;
  // Notifications sent before the answer, with the same context (ones the logic must pass over).
  std::vector<std::uint32_t> extra_notifications;
  // What WinHttpGetProxyResult answers once the answer is in: 0 and `result`, or that error.
  std::uint32_t result_status = 0;
  ProxyResult result{1, std::vector<ProxyResultEntry>{ProxyResultEntry{}}};
};

// What a WinHTTP session was opened and set up with.
struct SessionInfo {
  std::u16string agent;
  std::uint32_t access_type = 0;
  std::uint32_t flags = 0;
  std::optional<std::array<std::int32_t, 4>> timeouts;  // resolve, connect, send, receive
  bool callback = false;                                // a sink was set
  std::uint32_t notifications = 0;
  bool open = true;
};

// One WinHttpGetProxyForUrlEx the simulation answered.
struct ResolutionRequest {
  std::u16string url;
  AutoProxyOptions options;
  std::uintptr_t context = 0;
};

}  // namespace zelvane::sys::win::sim
