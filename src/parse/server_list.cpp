#include "parse/server_list.hpp"

#include "parse/endpoint.hpp"
#include "util/redact.hpp"
#include "util/split.hpp"
#include "util/trim.hpp"

namespace zelvane::parse {

using namespace model;
using namespace value;

namespace {

constexpr std::string_view kServerSeparators = "; \t\r\n";

void set_entry(PerScheme& map, SchemeSlot slot, SchemeEntry entry) {
  map.insert_or_assign(slot, std::move(entry));
}

RejectedValue refused(RejectedKind kind, std::string_view entry, std::optional<SchemeSlot> slot) {
  return {kind, RejectedSource::proxy_server(), util::redact(entry), slot};
}

}  // namespace

ProxyServerList parse_proxy_server(std::string_view text) {
  ProxyServerList list;
  util::split_at_any(text, kServerSeparators, [&](std::string_view piece) {
    std::string_view entry = util::trim_unicode_whitespace(piece);
    if (entry.empty()) return;
    std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos || entry.find_first_of("/?:#") < eq) {
      if (auto e = parse_endpoint(entry, 80)) {
        set_entry(list.per_scheme, SchemeSlot::All, {SchemeEntry::Use{std::move(*e)}});
      } else {
        list.rejected.push_back(refused(RejectedKind::InvalidProxyEndpoint, entry, SchemeSlot::All));
      }
      return;
    }
    auto slot = parse_scheme_slot(entry.substr(0, eq));
    if (!slot) {
      list.rejected.push_back(refused(RejectedKind::UnknownProxyScheme, entry, std::nullopt));
      return;
    }
    std::string_view value = util::trim_unicode_whitespace(entry.substr(eq + 1));
    if (value.empty()) {
      set_entry(list.per_scheme, *slot, {SchemeEntry::Disabled{}});
      return;
    }
    const bool socks = *slot == SchemeSlot::Socks;
    if (auto e = parse_endpoint(value, socks ? 1080 : 80)) {
      if (socks && !e->scheme_hint) e->scheme_hint = ProxyScheme::Socks4;
      set_entry(list.per_scheme, *slot, {SchemeEntry::Use{std::move(*e)}});
    } else {
      // A refused socks entry stands for every scheme, as a working one would (below).
      list.rejected.push_back(
          refused(RejectedKind::InvalidProxyEndpoint, entry, socks ? SchemeSlot::All : *slot));
    }
  });
  // A lone SOCKS proxy serves every scheme that names no proxy of its own.
  if (!list.per_scheme.contains(SchemeSlot::All)) {
    auto socks = list.per_scheme.find(SchemeSlot::Socks);
    if (socks != list.per_scheme.end() && std::holds_alternative<SchemeEntry::Use>(socks->second.value)) {
      SchemeEntry copy = socks->second;
      for (SchemeSlot s : {SchemeSlot::Http, SchemeSlot::Https, SchemeSlot::Ftp, SchemeSlot::All}) {
        list.per_scheme.try_emplace(s, copy);
      }
    }
  }
  return list;
}

}  // namespace zelvane::parse
