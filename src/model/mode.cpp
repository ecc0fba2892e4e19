#include "model/mode.hpp"

#include <type_traits>

#include "util/overloaded.hpp"
#include "util/redact.hpp"
#include "value/debug.hpp"

namespace zelvane::model {
namespace {

struct Hex16 {
  std::uint64_t v;
};
void debug_fmt(std::string& out, Hex16 h) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = 60; shift >= 0; shift -= 4) out += kDigits[(h.v >> shift) & 0xf];
}

}  // namespace

std::uint64_t fnv1a64(std::string_view bytes) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char b : bytes) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  return h;
}

ProxyMode ProxyMode::attach_rejected(std::vector<RejectedValue> list) && {
  const auto keep = [&](std::vector<RejectedValue>& rejected) { rejected = std::move(list); };
  std::visit(util::Overloaded{
                 [](Direct&) {},
                 [&](Manual& m) {
                   for (const auto& r : list) {
                     if (r.scheme && !m.per_scheme.contains(*r.scheme)) {
                       m.per_scheme.emplace(*r.scheme, SchemeEntry{SchemeEntry::Unusable{r}});
                     }
                   }
                   keep(m.rejected);
                 },
                 [&](Pac& m) { keep(m.rejected); },
                 [&](PacInline& m) { keep(m.rejected); },
                 [](WpadAutoDetect&) {},
             },
             value);
  return std::move(*this);
}

void debug_fmt(std::string& out, const SchemeEntry& entry) {
  std::visit(util::Overloaded{
                 [&](const SchemeEntry::Use& e) { value::write_variant(out, "Use", e.endpoint); },
                 [&](const SchemeEntry::Disabled&) { out += "Disabled"; },
                 [&](const SchemeEntry::Unusable& e) { value::write_variant(out, "Unusable", e.rejected); },
             },
             entry.value);
}

void debug_fmt(std::string& out, const ProxyMode& mode) {
  using value::RecordBuilder;
  std::visit(util::Overloaded{
                 [&](const ProxyMode::Direct&) { out += "Direct"; },
                 [&](const ProxyMode::WpadAutoDetect&) { out += "WpadAutoDetect"; },
                 [&](const ProxyMode::Manual& m) {
                   RecordBuilder(out, "Manual")
                       .field("per_scheme", m.per_scheme)
                       .field("bypass", m.bypass)
                       .field("rejected", m.rejected)
                       .finish();
                 },
                 [&](const ProxyMode::Pac& m) {
                   std::string url = util::redact_credentials(m.url.href());
                   RecordBuilder(out, "Pac")
                       .field("url", value::Unquoted{url})
                       .field("rejected", m.rejected)
                       .finish();
                 },
                 [&](const ProxyMode::PacInline& m) {
                   RecordBuilder(out, "PacInline")
                       .field("len", m.script.size())
                       .field("fnv1a", Hex16{fnv1a64(m.script)})
                       .field("rejected", m.rejected)
                       .finish();
                 },
             },
             mode.value);
}

}  // namespace zelvane::model
