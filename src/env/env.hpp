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

struct EnvLayer {
  model::PerScheme per_scheme;  // Use or Disabled, never Unusable
  model::BypassRules bypass;
  std::vector<model::RejectedValue> rejected;
  value::WallTime captured_at;

  model::ProxyMode to_mode() const&;
  model::ProxyMode to_mode() &&;
};

enum class Precedence : std::uint8_t { BeforeSystem, AfterSystem, Ignore };

// Names compared exactly; values UTF-8.
using EnvVars = std::map<std::string, std::string>;

// Reads the process environment. On POSIX it walks the C `environ`: call it only where no
// other thread can change the environment meanwhile (setenv may move the block mid-walk); the
// Python module reads os.environ there instead (process_block_vars).
model::Result<EnvLayer> read_process_env();
model::Result<EnvLayer> read_env_map(const EnvVars& vars);
std::optional<std::string_view> lookup(const EnvVars& vars, std::string_view name);
const EnvVars::value_type* find_ignore_case(const EnvVars& vars, std::string_view name);
std::optional<std::string_view> find_http_proxy_key(const EnvVars& vars);
// Whether a variable of this name can change what read_env_map makes of a mapping: the proxy
// variables and REQUEST_METHOD, in any case. A caller may leave every other name out.
bool is_read_name(std::string_view name);

// The entries of a Windows environment block ("name=value" entries, each ended by a NUL, the
// block by an empty one) as the process environment is read: a name that is not valid Unicode
// (it holds an unpaired surrogate) is skipped, each unpaired surrogate of a value becomes
// U+FFFD, and of two equal names the first stays. The per-drive directories ("=C:=C:\\...")
// come through under names that start with '='. With `keep`, only the names it accepts.
EnvVars gather_block(const char16_t* block, bool (*keep)(std::string_view name) = nullptr);

// The variables that the layer reads, from one consistent copy of the process environment,
// where the system hands one out: Windows copies its block under the process's own lock. None
// elsewhere: walking `environ` races with setenv() on other threads, so the caller reads the
// copy that the program's own writers keep instead (the interpreter's os.environ).
std::optional<EnvVars> process_block_vars();

// Joins the layer into a reading by precedence (Ignore never reaches it). `taken` is when the
// layer's variables were read, its own captured_at unless it was kept from an earlier reading
// of the same variables. The rvalue form moves the layer's lists instead of copying them.
model::ProxyConfig merge(model::ProxyConfig config, const EnvLayer& layer, Precedence precedence);
model::ProxyConfig merge(model::ProxyConfig config, const EnvLayer& layer, Precedence precedence,
                         value::WallTime taken);
model::ProxyConfig merge(model::ProxyConfig config, EnvLayer&& layer, Precedence precedence);

}  // namespace zelvane::env
