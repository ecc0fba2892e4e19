// What the simulated Windows keeps of the calls made to it, as the control side sees it: the
// operations it logs and can fail, the log's entry for one call, and a fault to inject.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "sys/win/platform.hpp"

namespace zelvane::sys::win::sim {

// The operations of Platform that the simulation logs and can fail. calls.cpp names each, and
// checks its table against this order and against kOpCount.
enum class Op : std::uint8_t {
  RegOpenKey,
  RegQueryValue,
  RegCloseKey,
  RegNotifyChangeKeyValue,
  CreateEvent,
  SetEvent,
  CloseHandle,
  WaitOne,
  WaitAny,
  WinHttpIeProxyConfig,
  WinHttpDefaultProxyConfig,
  SpawnThread,
  WinHttpOpen,
  WinHttpSetTimeouts,
  WinHttpSetStatusCallback,
  WinHttpCreateProxyResolver,
  WinHttpGetProxyForUrlEx,
  WinHttpGetProxyResult,
  WinHttpCloseHandle,
};
// One past the last operation: an operation added at the end moves it.
inline constexpr std::size_t kOpCount = std::to_underlying(Op::WinHttpCloseHandle) + 1;

// The name of the Platform function: "reg_open_key", "reg_query_value", ...
std::string_view op_name(Op op);
std::optional<Op> op_from_name(std::string_view name);

// One call answered by the simulation.
struct Call {
  Op op;
  // Registry calls: the key as "HKCU\path" (for an open, the root or parent key's text and the
  // path asked for; for the others, the text of the key the handle was opened as). A spawn:
  // the thread's name. WinHttpOpen: the agent; WinHttpGetProxyForUrlEx: the URL asked for.
  // Otherwise empty.
  std::string key{};
  std::optional<std::string> value{};  // the value name of a query
  // The status of a registry call, the last error of a call that answers a BOOL or a handle
  // (0 on success), the code of a wait, the code of a failed spawn (0 on success).
  std::uint32_t status = 0;
  std::optional<std::uint32_t> buffer{};      // a query's buffer size in bytes; none for the size question
  bool injected = false;                      // a fault gave the answer
  std::optional<std::uint32_t> timeout_ms{};  // a wait's time-out
};

// A failure to inject. The fault counts the calls that match it from the moment it is added and
// answers the nth of them; the call then does nothing but fail with `status`: the status of a
// registry call, the last error of a call that answers a BOOL or a handle, the last error of a
// wait answering `wait_code`, the code of a spawn that does not start. RegCloseKey and
// CloseHandle close all the same, so that the leak counts keep meaning what they say. When two
// faults come due on one call, the one added first answers and both are used up.
struct Fault {
  Op op;
  std::string key;                   // compared with Call::key regardless of ASCII case; empty: any
  std::optional<std::string> value;  // compared with Call::value in the same way; none: any
  std::uint32_t status = 0;
  std::uint32_t nth = 1;  // 1: the next matching call
  // What a failed wait answers: WAIT_FAILED, or a code no event gives (WAIT_ABANDONED_0, 0x80).
  std::uint32_t wait_code = kWaitFailed;
};

}  // namespace zelvane::sys::win::sim
