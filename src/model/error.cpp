#include "model/error.hpp"

#include "value/debug.hpp"
#include "util/redact.hpp"

namespace zelvane::model {

using namespace value;

OsError OsError::wrapping(Error error) {
  OsError e;
  e.message = error.message();
  e.inner = std::make_shared<const Error>(std::move(error));
  return e;
}

void debug_fmt(std::string& out, const OsError& e) {
  if (e.code) {
    RecordBuilder(out, "Os").field("code", *e.code).finish();
  } else if (e.inner) {
    RecordBuilder(out, "Custom").field("kind", Unquoted{"Other"}).field("error", *e.inner).finish();
  } else {
    RecordBuilder(out, "Custom").field("kind", Unquoted{"Other"}).field("error", e.message).finish();
  }
}

Error Error::invalid_proxy_server(std::string_view input, std::string_view reason) {
  return InvalidProxyServer{util::redact(input), std::string(reason)};
}

Error Error::invalid_bypass_pattern(std::string_view input, std::string_view reason) {
  return InvalidBypassPattern{util::redact(input), std::string(reason)};
}

Error Error::invalid_bypass_pattern_owned(std::string_view input, std::string reason) {
  return InvalidBypassPattern{util::redact(input), std::move(reason)};
}

Error Error::io(std::string_view context, OsError source) {
  return Io{std::string(context), std::move(source)};
}

std::string Error::message() const {
  return std::visit(
      [](const auto& e) -> std::string {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, InvalidProxyServer>) {
          return "invalid proxy server specification " + quoted(e.input) + ": " + e.reason;
        } else if constexpr (std::is_same_v<T, InvalidBypassPattern>) {
          return "invalid bypass pattern " + quoted(e.input) + ": " + e.reason;
        } else if constexpr (std::is_same_v<T, InvalidProxyUrl>) {
          return "invalid proxy URL " + quoted(e.input) + ": " + std::string(value::message(e.source));
        } else if constexpr (std::is_same_v<T, UnsupportedProxyScheme>) {
          return "unsupported proxy scheme " + quoted(e.scheme);
        } else if constexpr (std::is_same_v<T, CgiHttpProxy>) {
          return "refusing to use " + e.variable + " value in CGI environment";
        } else if constexpr (std::is_same_v<T, Io>) {
          return e.context;
        } else if constexpr (std::is_same_v<T, Sandboxed>) {
          return "running inside a " + e.sandbox + " sandbox: " + e.reason;
        } else if constexpr (std::is_same_v<T, Unsupported>) {
          return "watching the system proxy configuration is not supported on this platform";
        } else if constexpr (std::is_same_v<T, PacNotSupported>) {
          return "resolving this URL requires evaluating a proxy auto-config script (" + e.mode + ")";
        } else if constexpr (std::is_same_v<T, ProxyEntryUnusable>) {
          return "the configured " + std::string(slot_text(e.scheme)) +
                 " proxy could not be used and nothing else covers this request";
        } else if constexpr (std::is_same_v<T, PacFetchRequired>) {
          return "the PAC script at " + util::redact_credentials(e.url.href()) +
                 " must be fetched by the caller before it can be evaluated";
        } else if constexpr (std::is_same_v<T, PacEvaluation>) {
          return "PAC evaluation failed: " + e.reason;
        } else if constexpr (std::is_same_v<T, PacTimeout>) {
          std::string m = "PAC evaluation exceeded its ";
          write_duration(m, e.timeout);
          return m + " budget";
        } else if constexpr (std::is_same_v<T, PacSaturated>) {
          std::string m = "no PAC evaluation slot came free within ";
          write_duration(m, e.timeout);
          return m + " (" + std::to_string(e.limit) + " still running)";
        } else if constexpr (std::is_same_v<T, PacInvalidResult>) {
          return "PAC script returned no usable proxy candidate: " + e.result;
        } else {
          return "no PAC JavaScript engine is enabled; build with `pac-quickjs` (not on Android "
                 "or iOS), or attach a native resolver through `pac::PacResolver`";
        }
      },
      value_);
}

std::optional<std::variant<UrlError, OsError>> Error::source() const {
  if (const auto* e = get_if<InvalidProxyUrl>()) return std::variant<UrlError, OsError>(e->source);
  if (const auto* e = get_if<Io>()) return std::variant<UrlError, OsError>(e->source);
  return std::nullopt;
}

void debug_fmt(std::string& out, const Error& error) {
  std::visit(
      [&](const auto& e) {
        using T = std::decay_t<decltype(e)>;
        using E = Error;
        if constexpr (std::is_same_v<T, E::InvalidProxyServer>) {
          RecordBuilder(out, "InvalidProxyServer").field("input", e.input).field("reason", e.reason).finish();
        } else if constexpr (std::is_same_v<T, E::InvalidBypassPattern>) {
          RecordBuilder(out, "InvalidBypassPattern").field("input", e.input).field("reason", e.reason).finish();
        } else if constexpr (std::is_same_v<T, E::InvalidProxyUrl>) {
          RecordBuilder(out, "InvalidProxyUrl").field("input", e.input).field("source", e.source).finish();
        } else if constexpr (std::is_same_v<T, E::UnsupportedProxyScheme>) {
          write_variant(out, "UnsupportedProxyScheme", e.scheme);
        } else if constexpr (std::is_same_v<T, E::CgiHttpProxy>) {
          RecordBuilder(out, "CgiHttpProxy").field("variable", e.variable).finish();
        } else if constexpr (std::is_same_v<T, E::Io>) {
          RecordBuilder(out, "Io").field("context", e.context).field("source", e.source).finish();
        } else if constexpr (std::is_same_v<T, E::Sandboxed>) {
          RecordBuilder(out, "Sandboxed").field("sandbox", e.sandbox).field("reason", e.reason).finish();
        } else if constexpr (std::is_same_v<T, E::Unsupported>) {
          out += "Unsupported";
        } else if constexpr (std::is_same_v<T, E::PacNotSupported>) {
          RecordBuilder(out, "PacNotSupported").field("mode", e.mode).finish();
        } else if constexpr (std::is_same_v<T, E::ProxyEntryUnusable>) {
          RecordBuilder(out, "ProxyEntryUnusable").field("scheme", e.scheme).field("rejected", e.rejected).finish();
        } else if constexpr (std::is_same_v<T, E::PacFetchRequired>) {
          std::string url = util::redact_credentials(e.url.href());
          RecordBuilder(out, "PacFetchRequired").field("url", Unquoted{url}).finish();
        } else if constexpr (std::is_same_v<T, E::PacEvaluation>) {
          RecordBuilder(out, "PacEvaluation").field("reason", e.reason).finish();
        } else if constexpr (std::is_same_v<T, E::PacTimeout>) {
          RecordBuilder(out, "PacTimeout").field("timeout", e.timeout).finish();
        } else if constexpr (std::is_same_v<T, E::PacSaturated>) {
          RecordBuilder(out, "PacSaturated").field("timeout", e.timeout).field("limit", e.limit).finish();
        } else if constexpr (std::is_same_v<T, E::PacInvalidResult>) {
          RecordBuilder(out, "PacInvalidResult").field("result", e.result).finish();
        } else {
          out += "PacEngineUnavailable";
        }
      },
      error.value());
}

}  // namespace zelvane::model
