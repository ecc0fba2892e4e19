// One reading of the proxy configuration: the setting in force, the sources it was read from,
// the sources tried without an answer, and when it was taken. Plain owned values throughout
// the model: copies are deep, equality is field by field, and the debug text never holds a
// password or the text of an inline script.
#pragma once

#include <string>
#include <vector>

#include "model/source.hpp"
#include "value/time.hpp"

namespace zelvane::model {

using value::WallTime;

struct ProxyConfig {
  ProxyMode effective;
  std::vector<SourceEntry> sources;
  std::vector<SourceKind> fallbacks;
  WallTime captured_at;

  // effective = a copy of the first source's mode (Direct without sources), captured now.
  static ProxyConfig from_sources(std::vector<SourceEntry> sources);
  static ProxyConfig empty();

  // Two readings with the same content are equal whenever they were taken.
  friend bool operator==(const ProxyConfig& a, const ProxyConfig& b) {
    return a.effective == b.effective && a.sources == b.sources && a.fallbacks == b.fallbacks;
  }
};

void debug_fmt(std::string& out, const ProxyConfig& config);

}  // namespace zelvane::model
