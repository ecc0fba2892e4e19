#include "model/mode.hpp"

#include <type_traits>

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
  std::visit(
      [&](auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Manual>) {
          for (const auto& r : list) {
            if (r.scheme && !m.per_scheme.contains(*r.scheme)) {
              m.per_scheme.emplace(*r.scheme, SchemeEntry{SchemeEntry::Unusable{r}});
            }
          }
          m.rejected = std::move(list);
        } else if constexpr (std::is_same_v<T, Pac> || std::is_same_v<T, PacInline>) {
          m.rejected = std::move(list);
        }
      },
      value);
  return std::move(*this);
}

void debug_fmt(std::string& out, const SchemeEntry& entry) {
  std::visit(
      [&](const auto& e) {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, SchemeEntry::Use>) {
          value::write_variant(out, "Use", e.endpoint);
        } else if constexpr (std::is_same_v<T, SchemeEntry::Disabled>) {
          out += "Disabled";
        } else {
          value::write_variant(out, "Unusable", e.rejected);
        }
      },
      entry.value);
}

void debug_fmt(std::string& out, const ProxyMode& mode) {
  using value::RecordBuilder;
  std::visit(
      [&](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, ProxyMode::Direct>) {
          out += "Direct";
        } else if constexpr (std::is_same_v<T, ProxyMode::WpadAutoDetect>) {
          out += "WpadAutoDetect";
        } else if constexpr (std::is_same_v<T, ProxyMode::Manual>) {
          RecordBuilder(out, "Manual")
              .field("per_scheme", m.per_scheme)
              .field("bypass", m.bypass)
              .field("rejected", m.rejected)
              .finish();
        } else if constexpr (std::is_same_v<T, ProxyMode::Pac>) {
          std::string url = util::redact_credentials(m.url.href());
          RecordBuilder(out, "Pac")
              .field("url", value::Unquoted{url})
              .field("rejected", m.rejected)
              .finish();
        } else {
          RecordBuilder(out, "PacInline")
              .field("len", m.script.size())
              .field("fnv1a", Hex16{fnv1a64(m.script)})
              .field("rejected", m.rejected)
              .finish();
        }
      },
      mode.value);
}

}  // namespace zelvane::model
