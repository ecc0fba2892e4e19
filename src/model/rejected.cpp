#include "model/rejected.hpp"

#include "model/name_table.hpp"
#include "value/debug.hpp"

namespace zelvane::model {
namespace {

constexpr std::array<std::string_view, 4> kRejectedKindNames = {
    "InvalidProxyEndpoint", "InvalidBypassPattern", "UnknownProxyScheme", "UnsupportedMapping"};
constexpr std::array<std::string_view, 7> kRejectedSourceNames = {
    "ProxyServer",         "BypassList", "EnvironmentVariable", "Kioslaverc", "GSettings",
    "SystemConfiguration", "ProxyInfo"};

}  // namespace

std::string_view name(RejectedKind k) { return name_in(kRejectedKindNames, k); }

void debug_fmt(std::string& out, RejectedKind k) { out += name(k); }

void debug_fmt(std::string& out, const RejectedSource& source) {
  auto n = name_in(kRejectedSourceNames, source.kind);
  switch (source.kind) {
    case RejectedSource::Kind::ProxyServer:
    case RejectedSource::Kind::BypassList:
      out += n;
      break;
    default:
      value::write_variant(out, n, source.text);
  }
}

void debug_fmt(std::string& out, const RejectedValue& v) {
  value::RecordBuilder(out, "RejectedValue")
      .field("kind", v.kind)
      .field("source", v.source)
      .field("redacted_input", v.redacted_input)
      .field("scheme", v.scheme)
      .finish();
}

}  // namespace zelvane::model
