// The one error type of the core, the PAC evaluation and the system services. Each kind has
// its ErrorCode, which the Python module's codes are keyed on; the messages and their wording
// are part of the module's interface, shown as they stand.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "model/rejected.hpp"
#include "model/scheme.hpp"
#include "value/time.hpp"
#include "value/url.hpp"

namespace zelvane::model {

using value::Duration;
using value::Url;
using value::UrlError;

// One code per kind of Error. A new kind needs its code here and in its struct (kCode); the
// check below Error refuses to compile until every kind has a code of its own.
enum class ErrorCode : std::uint8_t {
  InvalidProxyServer,
  InvalidBypassPattern,
  InvalidProxyUrl,
  UnsupportedProxyScheme,
  CgiHttpProxy,
  Io,
  Sandboxed,
  Unsupported,
  PacNotSupported,
  ProxyEntryUnusable,
  PacFetchRequired,
  PacEvaluation,
  PacTimeout,
  PacSaturated,
  PacInvalidResult,
  PacEngineUnavailable,
};
inline constexpr std::size_t kErrorCodeCount = static_cast<std::size_t>(ErrorCode::PacEngineUnavailable) + 1;

class Error;

// An operating-system failure: a Windows error code or HRESULT, or an error with a message
// of its own (which may itself wrap an Error).
struct OsError {
  std::optional<std::int32_t> code;
  std::string message;                 // for errors without a code
  std::shared_ptr<const Error> inner;  // an Error wrapped as the cause

  static OsError from_code(std::int32_t c) { return {c, {}, nullptr}; }
  static OsError other(std::string text) { return {std::nullopt, std::move(text), nullptr}; }
  static OsError wrapping(Error error);
};
void debug_fmt(std::string& out, const OsError& e);

class Error {
 public:
  struct InvalidProxyServer {
    static constexpr ErrorCode kCode = ErrorCode::InvalidProxyServer;
    std::string input, reason;
  };
  struct InvalidBypassPattern {
    static constexpr ErrorCode kCode = ErrorCode::InvalidBypassPattern;
    std::string input, reason;
  };
  struct InvalidProxyUrl {
    static constexpr ErrorCode kCode = ErrorCode::InvalidProxyUrl;
    std::string input;
    UrlError source;
  };
  struct UnsupportedProxyScheme {
    static constexpr ErrorCode kCode = ErrorCode::UnsupportedProxyScheme;
    std::string scheme;
  };
  struct CgiHttpProxy {
    static constexpr ErrorCode kCode = ErrorCode::CgiHttpProxy;
    std::string variable;
  };
  struct Io {
    static constexpr ErrorCode kCode = ErrorCode::Io;
    std::string context;
    OsError source;
  };
  struct Sandboxed {
    static constexpr ErrorCode kCode = ErrorCode::Sandboxed;
    std::string sandbox, reason;
  };
  struct Unsupported {
    static constexpr ErrorCode kCode = ErrorCode::Unsupported;
  };
  struct PacNotSupported {
    static constexpr ErrorCode kCode = ErrorCode::PacNotSupported;
    std::string mode;
  };
  struct ProxyEntryUnusable {
    static constexpr ErrorCode kCode = ErrorCode::ProxyEntryUnusable;
    SchemeSlot scheme;
    RejectedValue rejected;
  };
  struct PacFetchRequired {
    static constexpr ErrorCode kCode = ErrorCode::PacFetchRequired;
    Url url;
  };
  struct PacEvaluation {
    static constexpr ErrorCode kCode = ErrorCode::PacEvaluation;
    std::string reason;
  };
  struct PacTimeout {
    static constexpr ErrorCode kCode = ErrorCode::PacTimeout;
    Duration timeout;
  };
  struct PacSaturated {
    static constexpr ErrorCode kCode = ErrorCode::PacSaturated;
    Duration timeout;
    std::uint64_t limit;
  };
  struct PacInvalidResult {
    static constexpr ErrorCode kCode = ErrorCode::PacInvalidResult;
    std::string result;
  };
  struct PacEngineUnavailable {
    static constexpr ErrorCode kCode = ErrorCode::PacEngineUnavailable;
  };

  using Value = std::variant<InvalidProxyServer, InvalidBypassPattern, InvalidProxyUrl,
                             UnsupportedProxyScheme, CgiHttpProxy, Io, Sandboxed, Unsupported,
                             PacNotSupported, ProxyEntryUnusable, PacFetchRequired, PacEvaluation, PacTimeout,
                             PacSaturated, PacInvalidResult, PacEngineUnavailable>;

  // Builds the variant as given: inputs must already be redacted (the constructors below
  // do it for the variants whose makers share them).
  // The constraint keeps Error itself out, so the copy and move constructors are never hidden.
  // NOLINTBEGIN(bugprone-forwarding-reference-overload)
  template <class V>
  requires(!std::is_same_v<std::remove_cvref_t<V>, Error> && std::is_constructible_v<Value, V&&>) Error(V&& v)
      : value_(std::forward<V>(v)) {}
  // NOLINTEND(bugprone-forwarding-reference-overload)

  // The input passes through util::redact.
  static Error invalid_proxy_server(std::string_view input, std::string_view reason);
  static Error invalid_bypass_pattern(std::string_view input, std::string_view reason);
  static Error invalid_bypass_pattern_owned(std::string_view input, std::string reason);
  static Error io(std::string_view context, OsError source);

  ErrorCode code() const {
    return std::visit([](const auto& v) { return std::decay_t<decltype(v)>::kCode; }, value_);
  }
  // The position of the kind in Value, which is its declared order.
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

namespace detail {
// Whether the kinds' codes are all the codes, each once.
template <std::size_t... I>
consteval bool codes_cover_every_kind(std::index_sequence<I...>) {
  bool seen[kErrorCodeCount] = {};
  for (ErrorCode c : {std::variant_alternative_t<I, Error::Value>::kCode...}) {
    const auto i = static_cast<std::size_t>(c);
    if (i >= kErrorCodeCount || seen[i]) return false;
    seen[i] = true;
  }
  return sizeof...(I) == kErrorCodeCount;
}
}  // namespace detail
static_assert(detail::codes_cover_every_kind(std::make_index_sequence<std::variant_size_v<Error::Value>>()),
              "every kind of Error has an ErrorCode of its own");

void debug_fmt(std::string& out, const Error& e);

template <class T>
using Result = std::expected<T, Error>;

}  // namespace zelvane::model
