// The one error type of the core, the PAC evaluation and the system services. The variant
// order, the messages and their wording are part of the module's interface: the Python
// module indexes its codes by variant and shows the message as it stands.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "model/rejected.hpp"
#include "model/scheme.hpp"
#include "value/time.hpp"
#include "value/url.hpp"

namespace zelvane::model {

using value::Duration;
using value::Url;
using value::UrlError;

class Error;

// An operating-system failure: a Windows error code or HRESULT, or an error with a message
// of its own (which may itself wrap an Error).
struct OsError {
  std::optional<std::int32_t> code;
  std::string message;                  // for errors without a code
  std::shared_ptr<const Error> inner;   // an Error wrapped as the cause

  static OsError from_code(std::int32_t c) { return {c, {}, nullptr}; }
  static OsError other(std::string text) { return {std::nullopt, std::move(text), nullptr}; }
  static OsError wrapping(Error error);
};
void debug_fmt(std::string& out, const OsError& e);

class Error {
 public:
  struct InvalidProxyServer { std::string input, reason; };
  struct InvalidBypassPattern { std::string input, reason; };
  struct InvalidProxyUrl { std::string input; UrlError source; };
  struct UnsupportedProxyScheme { std::string scheme; };
  struct CgiHttpProxy { std::string variable; };
  struct Io { std::string context; OsError source; };
  struct Sandboxed { std::string sandbox, reason; };
  struct Unsupported {};
  struct PacNotSupported { std::string mode; };
  struct ProxyEntryUnusable { SchemeSlot scheme; RejectedValue rejected; };
  struct PacFetchRequired { Url url; };
  struct PacEvaluation { std::string reason; };
  struct PacTimeout { Duration timeout; };
  struct PacSaturated { Duration timeout; std::uint64_t limit; };
  struct PacInvalidResult { std::string result; };
  struct PacEngineUnavailable {};

  using Value = std::variant<InvalidProxyServer, InvalidBypassPattern, InvalidProxyUrl,
                             UnsupportedProxyScheme, CgiHttpProxy, Io, Sandboxed, Unsupported,
                             PacNotSupported, ProxyEntryUnusable, PacFetchRequired, PacEvaluation,
                             PacTimeout, PacSaturated, PacInvalidResult, PacEngineUnavailable>;

  // Builds the variant as given: inputs must already be redacted (the constructors below
  // do it for the variants whose makers share them).
  template <class V>
    requires std::is_constructible_v<Value, V&&>
  Error(V&& v) : value_(std::forward<V>(v)) {}

  // The input passes through util::redact.
  static Error invalid_proxy_server(std::string_view input, std::string_view reason);
  static Error invalid_bypass_pattern(std::string_view input, std::string_view reason);
  static Error invalid_bypass_pattern_owned(std::string_view input, std::string reason);
  static Error io(std::string_view context, OsError source);

  // The index of the variant (0 to 15), which the Python module's codes follow.
  std::size_t index() const { return value_.index(); }
  const Value& value() const { return value_; }
  template <class T>
  const T* get_if() const {
    return std::get_if<T>(&value_);
  }

  std::string message() const;
  // The URL parser's failure of InvalidProxyUrl, the OS error of Io, none otherwise.
  std::optional<std::variant<UrlError, OsError>> source() const;

 private:
  Value value_;
};

void debug_fmt(std::string& out, const Error& e);

template <class T>
using Result = std::expected<T, Error>;

}  // namespace zelvane::model
