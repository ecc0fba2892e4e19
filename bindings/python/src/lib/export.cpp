#include "export.hpp"

#include "bypass/rules.hpp"
#include "diagnostic_texts.hpp"
#include "util/overloaded.hpp"

// g++ 12 takes a moved PlainValue holding a scalar for one whose list is uninitialised (a known
// false alarm on std::variant moves at -O2).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace zelvane::python {

using namespace model;
using namespace value;

namespace {

PlainValue str(std::string_view text) { return {std::string(text)}; }
PlainValue name_of(std::string_view text) { return {PlainName{text}}; }
PlainValue none() { return {std::monostate{}}; }

PlainValue endpoint_to_value(const ProxyEndpoint& e) {
  PlainDict d;
  d.reserve(7);
  d.emplace_back("kind", name_of("use"));
  d.emplace_back("scheme", e.scheme_hint ? name_of(scheme_text(*e.scheme_hint)) : none());
  d.emplace_back("host", str(url_text(e.host)));
  d.emplace_back("port", PlainValue{std::int64_t{e.port}});
  d.emplace_back("username", e.auth ? str(e.auth->username) : none());
  d.emplace_back("password", e.auth && e.auth->password.is_present() ? str(e.auth->password.text) : none());
  d.emplace_back("password_state", e.auth ? name_of(name(e.auth->password.kind)) : none());
  return {std::move(d)};
}

PlainValue bypass_to_value(const BypassRules& rules) {
  PlainDict d;
  d.reserve(8);
  d.emplace_back("patterns", patterns_to_values(rules));
  d.emplace_back("implicit", name_of(name(rules.implicit)));
  d.emplace_back("exclude_simple_hostnames", PlainValue{rules.exclude_simple_hostnames});
  d.emplace_back("reversed_exceptions", PlainValue{rules.reversed_exceptions});
  d.emplace_back("require_explicit_port", PlainValue{rules.require_explicit_port});
  d.emplace_back("ipv4_mapped_as_ipv4", PlainValue{rules.ipv4_mapped_as_ipv4});
  d.emplace_back("strip_trailing_dot", PlainValue{rules.strip_trailing_dot});
  d.emplace_back("rejected", rejected_to_values(rules.rejected));
  return {std::move(d)};
}

}  // namespace

PlainValue strings_to_values(const std::vector<std::string>& texts) {
  PlainList list;
  list.reserve(texts.size());
  for (const auto& t : texts) list.push_back(str(t));
  return {std::move(list)};
}

PlainValue rejected_to_values(const std::vector<RejectedValue>& rejected) {
  return {PlainRejected{&rejected}};
}

PlainValue patterns_to_values(const BypassRules& rules) {
  PlainList list;
  list.reserve(rules.patterns.size());
  for (const auto& p : rules.patterns) list.push_back(str(bypass::to_text(p)));
  return {std::move(list)};
}

PlainValue fallbacks_to_values(const std::vector<SourceKind>& fallbacks) {
  return strings_to_values(fallback_names(fallbacks));
}

std::optional<std::pair<std::string_view, PlainValue>> proxy_entry_to_value(const PerScheme& per_scheme,
                                                                            SchemeSlot slot) {
  auto it = per_scheme.find(slot);
  if (it == per_scheme.end()) return std::nullopt;
  PlainValue entry =
      std::visit(util::Overloaded{
                     [](const SchemeEntry::Use& e) -> PlainValue { return endpoint_to_value(e.endpoint); },
                     [](const SchemeEntry::Disabled&) -> PlainValue {
                       PlainDict d;
                       d.emplace_back("kind", name_of("disabled"));
                       return {std::move(d)};
                     },
                     [](const SchemeEntry::Unusable& e) -> PlainValue {
                       PlainDict d;
                       d.reserve(2);
                       d.emplace_back("kind", name_of("unusable"));
                       d.emplace_back("rejected", str(rejected_text(e.rejected)));
                       return {std::move(d)};
                     },
                 },
                 it->second.value);
  return std::pair{slot_text(slot), std::move(entry)};
}

PlainValue proxies_to_value(const PerScheme& per_scheme) {
  PlainDict d;
  d.reserve(per_scheme.size());
  for (SchemeSlot slot : kAllSlots) {
    if (auto entry = proxy_entry_to_value(per_scheme, slot)) d.push_back(std::move(*entry));
  }
  return {std::move(d)};
}

PlainValue mode_to_value(const ProxyMode& mode) {
  PlainDict d;
  d.reserve(4);
  std::visit(util::Overloaded{
                 [&](const ProxyMode::Direct&) { d.emplace_back("kind", name_of("direct")); },
                 [&](const ProxyMode::Manual& m) {
                   d.emplace_back("kind", name_of("manual"));
                   d.emplace_back("proxies", proxies_to_value(m.per_scheme));
                   d.emplace_back("bypass", bypass_to_value(m.bypass));
                   d.emplace_back("rejected", rejected_to_values(m.rejected));
                 },
                 [&](const ProxyMode::Pac& m) {
                   d.emplace_back("kind", name_of("pac"));
                   d.emplace_back("url", str(m.url.href()));
                   d.emplace_back("rejected", rejected_to_values(m.rejected));
                 },
                 [&](const ProxyMode::PacInline& m) {
                   d.emplace_back("kind", name_of("pac-inline"));
                   d.emplace_back("script", str(m.script));
                   d.emplace_back("rejected", rejected_to_values(m.rejected));
                 },
                 [&](const ProxyMode::WpadAutoDetect&) { d.emplace_back("kind", name_of("wpad")); },
             },
             mode.value);
  return {std::move(d)};
}

PlainValue sources_to_value(const std::vector<SourceEntry>& sources) {
  PlainList list;
  list.reserve(sources.size());
  // Built in place: a braced list would copy each mode's whole tree.
  for (const auto& s : sources) {
    PlainDict d;
    d.reserve(2);
    d.emplace_back("source", name_of(name(s.kind)));
    d.emplace_back("mode", mode_to_value(s.mode));
    list.push_back({std::move(d)});
  }
  return {std::move(list)};
}

PlainValue snapshot_to_value(const ProxyConfig& config, bool os_readable) {
  PlainDict d;
  d.reserve(5);
  d.emplace_back("mode", mode_to_value(config.effective));
  d.emplace_back("sources", sources_to_value(config.sources));
  d.emplace_back("fallbacks", fallbacks_to_values(config.fallbacks));
  d.emplace_back("rejected", PlainValue{PlainAllRejected{&config}});
  d.emplace_back("os_readable", PlainValue{os_readable});
  return {std::move(d)};
}

}  // namespace zelvane::python
