#include "model/config.hpp"

#include "value/debug.hpp"

namespace zelvane::model {

ProxyConfig ProxyConfig::from_sources(std::vector<SourceEntry> sources) {
  ProxyConfig config;
  if (!sources.empty()) config.effective = sources.front().mode;
  config.sources = std::move(sources);
  config.captured_at = WallTime::now();
  return config;
}

ProxyConfig ProxyConfig::empty() { return from_sources({}); }

void debug_fmt(std::string& out, const ProxyConfig& config) {
  value::RecordBuilder(out, "ProxyConfig")
      .field("effective", config.effective)
      .field("sources", config.sources)
      .field("fallbacks", config.fallbacks)
      .field("captured_at", config.captured_at)
      .finish();
}

}  // namespace zelvane::model
