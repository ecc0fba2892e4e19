// Test-only: a route answer as one line of text, so that a test compares whole answers and a
// failure shows what came back: "steps [...] by quickjs", "pac http://... by none",
// "pac-inline <script> by none", "wpad by none", "error: <the error's debug text>".
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "model/route_step.hpp"
#include "model/test_print.hpp"
#include "pac/resolve.hpp"
#include "value/debug.hpp"

namespace zelvane::pac {

inline std::string answer_text(const model::Result<RouteAnswer>& answer) {
  static constexpr std::array<std::string_view, 4> kKinds = {"steps", "pac", "pac-inline", "wpad"};
  static constexpr std::array<std::string_view, 3> kEngines = {"none", "native", "quickjs"};
  if (!answer) return "error: " + value::debug_text(answer.error());
  std::string out(kKinds[static_cast<std::size_t>(answer->kind)]);
  if (answer->kind == RouteKind::Steps) out += " " + value::debug_text(answer->steps);
  if (!answer->text.empty()) out += " " + answer->text;
  if (answer->kind != RouteKind::Steps && !answer->steps.empty()) out += " with steps";
  return out + " by " + std::string(kEngines[static_cast<std::size_t>(answer->engine)]);
}

// The text of an answer of these steps from that engine ("none", "native", "quickjs").
inline std::string steps_by(const std::vector<model::RouteStep>& steps, std::string_view engine) {
  return "steps " + value::debug_text(steps) + " by " + std::string(engine);
}

}  // namespace zelvane::pac
