// Ports and host:port texts.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace zelvane::util {

// An empty text is no port; otherwise decimal digits up to 65535, or a message.
std::expected<std::optional<std::uint16_t>, std::string> parse_port(std::string_view text);

struct HostPort {
  std::string_view host;  // a part of the input, unchanged
  std::optional<std::uint16_t> port;
};
// host, host:port, [v6], [v6]:port, or a bare IPv6 literal (two or more ':').
std::expected<HostPort, std::string> split_host_port(std::string_view text);

}  // namespace zelvane::util
