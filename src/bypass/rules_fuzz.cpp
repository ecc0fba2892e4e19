// Bypass lists in both styles: any text is read without a crash, and no_proxy rules read back
// from their own list text (what the export shows, and what a user copies into no_proxy) are
// the same rules. The list text is the no_proxy form, so the Windows style is not asked to
// read it back (it refuses ".example.com", the text of "*.example.com"). A planted password
// (fuzz/plant.hpp) shows in no refused entry and no rule text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "bypass/rules.hpp"
#include "fuzz/check.hpp"
#include "fuzz/plant.hpp"
#include "value/debug.hpp"

namespace {

using namespace zelvane;
using namespace zelvane::model;
using namespace zelvane::value;

// The rules as they match: a wildcard "*" without a port ("*:" in a list) writes as "*", which
// reads back as the keyword that bypasses everything, the same destinations (and then a
// duplicate of a "*" beside it).
std::vector<BypassRule> as_matched(std::vector<BypassRule> rules) {
  for (auto& rule : rules) {
    if (const auto* w = std::get_if<BypassRule::Wildcard>(&rule.value); w && w->pattern == "*" && !w->port) {
      rule = BypassRule{BypassRule::All{}};
    }
  }
  bypass::dedup_rules(rules);
  return rules;
}

void check_round_trip(std::string_view text) {
  const BypassRules rules = bypass::parse(text, ",", BypassDialect::NoProxyStyle);
  std::string written;
  for (const auto& rule : rules.patterns) {
    if (!written.empty()) written += ',';
    written += bypass::to_text(rule);
  }
  const BypassRules again = bypass::parse(written, ",", BypassDialect::NoProxyStyle);
  ZELVANE_FUZZ_CHECK(as_matched(again.patterns) == as_matched(rules.patterns),
                     fuzz::shown(text) + " -> " + fuzz::shown(written) + " -> " + debug_text(again.patterns) +
                         ", not " + debug_text(rules.patterns));
  ZELVANE_FUZZ_CHECK(again.rejected.empty(), fuzz::shown(text) + " -> " + fuzz::shown(written) + " refuses " +
                                                 debug_text(again.rejected));
}

void check_plant(std::string_view text) {
  for (const auto& [separators, dialect] :
       {std::pair{",", BypassDialect::NoProxyStyle}, std::pair{";", BypassDialect::WindowsStyle}}) {
    const BypassRules rules = bypass::parse(text, separators, dialect);
    for (const auto& r : rules.rejected) fuzz::check_hidden("a refused bypass entry", text, debug_text(r));
    for (const auto& rule : rules.patterns) fuzz::check_hidden("a rule's text", text, bypass::to_text(rule));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  for (const auto& plant : fuzz::plants(text)) check_plant(plant.address);
  check_round_trip(text);
  const BypassRules windows = bypass::parse(text, ";, \t\r\n", BypassDialect::WindowsStyle);
  for (const auto& rule : windows.patterns) (void)bypass::to_text(rule);
  return 0;
}
