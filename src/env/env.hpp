// The proxy environment variables (or a caller's mapping in their place) as one layer, with
// its CGI guard, and the merge of that layer into a system reading by precedence.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "model/config.hpp"
#include "model/error.hpp"

namespace zelvane::env {

using namespace model;
using namespace value;

struct EnvLayer {
  PerScheme per_scheme;  // Use or Disabled, never Unusable
  BypassRules bypass;
  std::vector<RejectedValue> rejected;
  WallTime captured_at;

  ProxyMode to_mode() const&;
  ProxyMode to_mode() &&;
};

enum class Precedence : std::uint8_t { BeforeSystem, AfterSystem, Ignore };

// Names compared exactly; values UTF-8.
using EnvVars = std::map<std::string, std::string>;

// Walks the C environment: call it only where no other thread can change the environment
// meanwhile (setenv may move the block mid-walk). The Python module reads os.environ instead.
Result<EnvLayer> read_process_env();
Result<EnvLayer> read_env_map(const EnvVars& vars);
std::optional<std::string_view> lookup(const EnvVars& vars, std::string_view name);
const EnvVars::value_type* find_ignore_case(const EnvVars& vars, std::string_view name);
std::optional<std::string_view> find_http_proxy_key(const EnvVars& vars);
// Whether a variable of this name can change what read_env_map makes of a mapping: the proxy
// variables and REQUEST_METHOD, in any case. A caller may leave every other name out.
bool is_read_name(std::string_view name);

// Joins the layer into a reading by precedence (Ignore never reaches it). `taken` is when the
// layer's variables were read, its own captured_at unless it was kept from an earlier reading
// of the same variables. The rvalue form moves the layer's lists instead of copying them.
ProxyConfig merge(ProxyConfig config, const EnvLayer& layer, Precedence precedence);
ProxyConfig merge(ProxyConfig config, const EnvLayer& layer, Precedence precedence, WallTime taken);
ProxyConfig merge(ProxyConfig config, EnvLayer&& layer, Precedence precedence);

}  // namespace zelvane::env
