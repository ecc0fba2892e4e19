// Test-only: a scheme map as short texts, so that a failed expectation shows which slot went
// wrong.
#pragma once

#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "model/mode.hpp"
#include "util/overloaded.hpp"

namespace zelvane::parse {

// "slot=kind" texts of a map, in slot order: "http=use a:1", "ftp=disabled", "all=unusable".
inline std::vector<std::string> entries(const model::PerScheme& map) {
  std::vector<std::string> out;
  for (const auto& [slot, entry] : map) {
    std::string text(slot_text(slot));
    std::visit(util::Overloaded{
                   [&](const model::SchemeEntry::Use& e) {
                     text += "=use " + url_text(e.endpoint.host) + ":" + std::to_string(e.endpoint.port);
                     if (e.endpoint.scheme_hint) text += " " + std::string(name(*e.endpoint.scheme_hint));
                   },
                   [&](const model::SchemeEntry::Disabled&) { text += "=disabled"; },
                   [&](const model::SchemeEntry::Unusable&) { text += "=unusable"; },
               },
               entry.value);
    out.push_back(text);
  }
  return out;
}

}  // namespace zelvane::parse
