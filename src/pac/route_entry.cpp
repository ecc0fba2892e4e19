#include "pac/route_entry.hpp"

#include <optional>
#include <string>

#include "pac/pool.hpp"
#include "pac/quickjs.hpp"

namespace zelvane::pac {

using namespace model;
using namespace value;

Url prepare_url(const Url& url) {
  Url prepared = url;
  // Refused (and nothing to clear) for a URL that cannot carry credentials.
  prepared.set_username("");
  prepared.set_password("");
  prepared.remove_fragment();
  if (const std::string_view scheme = prepared.scheme(); scheme == "https" || scheme == "wss") {
    prepared.set_path("/");
    prepared.remove_query();
  }
  return prepared;
}

std::string script_host(const Url& url) {
  const std::optional<Host> host = url.host();
  return host ? url_text(*host) : std::string();
}

Result<std::vector<RouteStep>> evaluate_for_url(const hostfn::PacPolicy& policy, std::string_view script,
                                                const Url& url, std::string_view host) {
  const Url prepared = prepare_url(url);
  if (!policy.timeout) return evaluate_pac_quickjs(script, prepared.href(), host, policy, std::nullopt);
  // The job owns copies of all it reads: the caller may be gone when an overrunning
  // evaluation ends.
  PacJob job{[script = std::string(script), url_text = prepared.href(), host = std::string(host),
              policy](std::optional<MonotonicInstant> deadline) {
               return evaluate_pac_quickjs(script, url_text, host, policy, deadline);
             },
             *policy.timeout};
  return PacPool::process().evaluate(std::move(job));
}

Result<std::vector<RouteStep>> route_with_script(std::string_view script, const Url& url,
                                                 const hostfn::PacPolicy& policy) {
  return evaluate_for_url(policy, script, url, script_host(url));
}

}  // namespace zelvane::pac
