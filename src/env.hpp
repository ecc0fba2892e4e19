// The proxy environment variables (or a caller's mapping in their place) as one layer, with
// its CGI guard, and the merge of that layer into a system reading by precedence.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "config.hpp"
#include "error.hpp"

namespace zelvane {

struct EnvLayer {
  PerScheme per_scheme;  // Use or Disabled, never Unusable
  BypassRules bypass;
  std::vector<RejectedValue> rejected;
  WallTime captured_at;

  ProxyMode to_mode() const;
};

enum class Precedence : std::uint8_t { BeforeSystem, AfterSystem, Ignore };
// ProxyConfig::merge_env of the model is defined beside the layer.

// Names compared exactly; values UTF-8.
using EnvVars = std::map<std::string, std::string>;

namespace env {

Result<EnvLayer> read_process_env();
Result<EnvLayer> read_env_map(const EnvVars& vars);
std::optional<std::string_view> lookup(const EnvVars& vars, std::string_view name);
const EnvVars::value_type* find_ignore_case(const EnvVars& vars, std::string_view name);
std::optional<std::string_view> find_http_proxy_key(const EnvVars& vars);

}  // namespace env

}  // namespace zelvane
