// A proxy's address: host, port, the scheme it was named with, and its credentials.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/scheme.hpp"
#include "value/host.hpp"

namespace zelvane::model {

using value::Host;

struct PasswordState {
  enum class Kind : std::uint8_t { Present, Absent, NotRead, InKeychain };
  Kind kind = Kind::Absent;
  std::string text;  // the password, only for Present

  static PasswordState present(std::string password) { return {Kind::Present, std::move(password)}; }
  static PasswordState absent() { return {Kind::Absent, {}}; }
  bool is_present() const { return kind == Kind::Present; }
  friend bool operator==(const PasswordState&, const PasswordState&) = default;
};
std::string_view name(PasswordState::Kind k);

struct ProxyAuth {
  std::string username;
  PasswordState password;
  friend bool operator==(const ProxyAuth&, const ProxyAuth&) = default;
};

struct ProxyEndpoint {
  std::optional<ProxyScheme> scheme_hint;
  Host host;
  std::uint16_t port = 0;
  std::optional<ProxyAuth> auth;
  friend bool operator==(const ProxyEndpoint&, const ProxyEndpoint&) = default;
};

void debug_fmt(std::string& out, PasswordState::Kind k);
void debug_fmt(std::string& out, const ProxyAuth& auth);
void debug_fmt(std::string& out, const ProxyEndpoint& endpoint);

}  // namespace zelvane::model
