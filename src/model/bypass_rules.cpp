#include "model/bypass_rules.hpp"

#include <functional>

#include "model/hash.hpp"
#include "model/name_table.hpp"
#include "value/debug.hpp"
#include "util/overloaded.hpp"

namespace zelvane::model {
namespace {

constexpr std::array<std::string_view, 4> kImplicitNames = {"Broad", "WinInet", "CfNetwork", "Empty"};

struct NetText {
  const IpNet& net;
};
void debug_fmt(std::string& out, NetText n) { out += to_string(n.net); }

}  // namespace

std::string_view name(ImplicitBypass b) { return name_in(kImplicitNames, b); }

std::size_t BypassRule::hash() const {
  std::size_t h = value.index();
  std::visit(util::Overloaded{
                 [&](const Cidr& r) {
                   h = hash_mix(h, r.net.addr.value.index());
                   std::visit(
                       [&](const auto& a) {
                         for (auto b : a.octets) h = hash_mix(h, b);
                       },
                       r.net.addr.value);
                   h = hash_mix(h, r.net.prefix);
                 },
                 [&](const Exact& r) { h = hash_mix(hash_mix(h, hash_host(r.host)), hash_port(r.port)); },
                 [&](const Domain& r) {
                   h = hash_mix(h, std::hash<std::string>{}(r.suffix));
                   h = hash_mix(hash_mix(h, r.match_self), hash_port(r.port));
                 },
                 [&](const Wildcard& r) {
                   h = hash_mix(hash_mix(h, std::hash<std::string>{}(r.pattern)), hash_port(r.port));
                 },
                 [&](const All&) {},
                 [&](const Local&) {},
                 [&](const SubtractImplicit&) {},
             },
             value);
  return h;
}

void debug_fmt(std::string& out, ImplicitBypass b) { out += name(b); }

void debug_fmt(std::string& out, const BypassRule& rule) {
  using value::RecordBuilder;
  using value::write_variant;
  std::visit(util::Overloaded{
                 [&](const BypassRule::All&) { out += "All"; },
                 [&](const BypassRule::Local&) { out += "Local"; },
                 [&](const BypassRule::SubtractImplicit&) { out += "SubtractImplicit"; },
                 [&](const BypassRule::Cidr& r) { write_variant(out, "Cidr", NetText{r.net}); },
                 [&](const BypassRule::Exact& r) {
                   RecordBuilder(out, "Exact").field("host", r.host).field("port", r.port).finish();
                 },
                 [&](const BypassRule::Domain& r) {
                   RecordBuilder(out, "Domain")
                       .field("suffix", r.suffix)
                       .field("match_self", r.match_self)
                       .field("port", r.port)
                       .finish();
                 },
                 [&](const BypassRule::Wildcard& r) {
                   RecordBuilder(out, "Wildcard").field("pattern", r.pattern).field("port", r.port).finish();
                 },
             },
             rule.value);
}

void debug_fmt(std::string& out, const BypassRules& rules) {
  value::RecordBuilder(out, "BypassRules")
      .field("patterns", rules.patterns)
      .field("exclude_simple_hostnames", rules.exclude_simple_hostnames)
      .field("reversed_exceptions", rules.reversed_exceptions)
      .field("rejected", rules.rejected)
      .field("require_explicit_port", rules.require_explicit_port)
      .field("implicit", rules.implicit)
      .field("ipv4_mapped_as_ipv4", rules.ipv4_mapped_as_ipv4)
      .field("strip_trailing_dot", rules.strip_trailing_dot)
      .finish();
}

}  // namespace zelvane::model
