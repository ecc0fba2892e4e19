// Test-only: a scheme map as short texts, so that a failed expectation shows which slot went
// wrong.
#pragma once

#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "model/mode.hpp"

namespace zelvane::parse {

using namespace model;
using namespace value;

// "slot=kind" texts of a map, in slot order: "http=use a:1", "ftp=disabled", "all=unusable".
inline std::vector<std::string> entries(const PerScheme& map) {
  std::vector<std::string> out;
  for (const auto& [slot, entry] : map) {
    std::string text(slot_text(slot));
    std::visit(
        [&](const auto& e) {
          using T = std::decay_t<decltype(e)>;
          if constexpr (std::is_same_v<T, SchemeEntry::Use>) {
            text += "=use " + url_text(e.endpoint.host) + ":" + std::to_string(e.endpoint.port);
            if (e.endpoint.scheme_hint) text += " " + std::string(name(*e.endpoint.scheme_hint));
          } else if constexpr (std::is_same_v<T, SchemeEntry::Disabled>) {
            text += "=disabled";
          } else {
            text += "=unusable";
          }
        },
        entry.value);
    out.push_back(text);
  }
  return out;
}

}  // namespace zelvane::parse
