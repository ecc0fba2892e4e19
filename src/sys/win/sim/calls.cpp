#include "sys/win/sim/calls.hpp"

#include <array>
#include <cstddef>

namespace zelvane::sys::win::sim {

namespace {

constexpr std::array<std::string_view, 19> kOpNames = {
    "reg_open_key",
    "reg_query_value",
    "reg_close_key",
    "reg_notify_change_key_value",
    "create_event",
    "set_event",
    "close_handle",
    "wait_one",
    "wait_any",
    "winhttp_get_ie_proxy_config_for_current_user",
    "winhttp_get_default_proxy_configuration",
    "spawn_thread",
    "winhttp_open",
    "winhttp_set_timeouts",
    "winhttp_set_status_callback",
    "winhttp_create_proxy_resolver",
    "winhttp_get_proxy_for_url_ex",
    "winhttp_get_proxy_result",
    "winhttp_close_handle",
};

}  // namespace

std::string_view op_name(Op op) { return kOpNames.at(static_cast<std::size_t>(op)); }

std::optional<Op> op_from_name(std::string_view name) {
  for (std::size_t i = 0; i < kOpNames.size(); ++i) {
    if (kOpNames[i] == name) return static_cast<Op>(i);
  }
  return std::nullopt;
}

}  // namespace zelvane::sys::win::sim
