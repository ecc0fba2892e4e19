#include "model/endpoint.hpp"

#include "model/name_table.hpp"
#include "value/debug.hpp"

namespace zelvane::model {
namespace {

constexpr std::array<std::string_view, 4> kPasswordNames = {"Present", "Absent", "NotRead", "InKeychain"};

}  // namespace

std::string_view name(PasswordState::Kind k) { return name_in(kPasswordNames, k); }

void debug_fmt(std::string& out, PasswordState::Kind k) { out += name(k); }

void debug_fmt(std::string& out, const ProxyAuth& auth) {
  // A user name with a colon may be "user:password" stored whole: show what precedes it.
  std::string username = auth.username;
  if (auto colon = username.find(':'); colon != std::string::npos) {
    username = username.substr(0, colon) + ":***";
  }
  std::optional<std::string> password;
  if (auth.password.is_present()) password = "***";
  value::RecordBuilder(out, "ProxyAuth").field("username", username).field("password", password).finish();
}

void debug_fmt(std::string& out, const ProxyEndpoint& e) {
  value::RecordBuilder(out, "ProxyEndpoint")
      .field("scheme_hint", e.scheme_hint)
      .field("host", e.host)
      .field("port", e.port)
      .field("auth", e.auth)
      .finish();
}

}  // namespace zelvane::model
