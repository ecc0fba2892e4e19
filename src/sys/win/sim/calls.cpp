#include "sys/win/sim/calls.hpp"

#include <array>

namespace zelvane::sys::win::sim {

namespace {

struct OpName {
  Op op;
  std::string_view name;
};

// A row per operation, at the operation's value.
constexpr auto kOpNames = std::to_array<OpName>({
    {Op::RegOpenKey, "reg_open_key"},
    {Op::RegQueryValue, "reg_query_value"},
    {Op::RegCloseKey, "reg_close_key"},
    {Op::RegNotifyChangeKeyValue, "reg_notify_change_key_value"},
    {Op::CreateEvent, "create_event"},
    {Op::SetEvent, "set_event"},
    {Op::CloseHandle, "close_handle"},
    {Op::WaitOne, "wait_one"},
    {Op::WaitAny, "wait_any"},
    {Op::WinHttpIeProxyConfig, "winhttp_get_ie_proxy_config_for_current_user"},
    {Op::WinHttpDefaultProxyConfig, "winhttp_get_default_proxy_configuration"},
    {Op::SpawnThread, "spawn_thread"},
    {Op::WinHttpOpen, "winhttp_open"},
    {Op::WinHttpSetTimeouts, "winhttp_set_timeouts"},
    {Op::WinHttpSetStatusCallback, "winhttp_set_status_callback"},
    {Op::WinHttpCreateProxyResolver, "winhttp_create_proxy_resolver"},
    {Op::WinHttpGetProxyForUrlEx, "winhttp_get_proxy_for_url_ex"},
    {Op::WinHttpGetProxyResult, "winhttp_get_proxy_result"},
    {Op::WinHttpCloseHandle, "winhttp_close_handle"},
});

constexpr bool rows_follow_ops() {
  for (std::size_t i = 0; i < kOpNames.size(); ++i) {
    if (std::to_underlying(kOpNames[i].op) != i) return false;
  }
  return true;
}
static_assert(kOpNames.size() == kOpCount, "kOpNames needs a row for each Op");
static_assert(rows_follow_ops(), "kOpNames lists the operations in the order of Op");

}  // namespace

std::string_view op_name(Op op) { return kOpNames.at(std::to_underlying(op)).name; }

std::optional<Op> op_from_name(std::string_view name) {
  for (const OpName& row : kOpNames) {
    if (row.name == name) return row.op;
  }
  return std::nullopt;
}

}  // namespace zelvane::sys::win::sim
