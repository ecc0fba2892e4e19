#include "model/error.hpp"

#include "value/debug.hpp"
#include "util/overloaded.hpp"
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
      util::Overloaded{
          [](const InvalidProxyServer& e) -> std::string {
            return "invalid proxy server specification " + quoted(e.input) + ": " + e.reason;
          },
          [](const InvalidBypassPattern& e) -> std::string {
            return "invalid bypass pattern " + quoted(e.input) + ": " + e.reason;
          },
          [](const InvalidProxyUrl& e) -> std::string {
            return "invalid proxy URL " + quoted(e.input) + ": " + std::string(value::message(e.source));
          },
          [](const UnsupportedProxyScheme& e) -> std::string {
            return "unsupported proxy scheme " + quoted(e.scheme);
          },
          [](const CgiHttpProxy& e) -> std::string {
            return "refusing to use " + e.variable + " value in CGI environment";
          },
          [](const Io& e) -> std::string { return e.context; },
          [](const Sandboxed& e) -> std::string {
            return "running inside a " + e.sandbox + " sandbox: " + e.reason;
          },
          [](const Unsupported&) -> std::string {
            return "watching the system proxy configuration is not supported on this platform";
          },
          [](const PacNotSupported& e) -> std::string {
            return "resolving this URL requires evaluating a proxy auto-config script (" + e.mode + ")";
          },
          [](const ProxyEntryUnusable& e) -> std::string {
            return "the configured " + std::string(slot_text(e.scheme)) +
                   " proxy could not be used and nothing else covers this request";
          },
          [](const PacFetchRequired& e) -> std::string {
            return "the PAC script at " + util::redact_credentials(e.url.href()) +
                   " must be fetched by the caller before it can be evaluated";
          },
          [](const PacEvaluation& e) -> std::string { return "PAC evaluation failed: " + e.reason; },
          [](const PacTimeout& e) -> std::string {
            std::string m = "PAC evaluation exceeded its ";
            write_duration(m, e.timeout);
            return m + " budget";
          },
          [](const PacSaturated& e) -> std::string {
            std::string m = "no PAC evaluation slot came free within ";
            write_duration(m, e.timeout);
            return m + " (" + std::to_string(e.limit) + " still running)";
          },
          [](const PacInvalidResult& e) -> std::string {
            return "PAC script returned no usable proxy candidate: " + e.result;
          },
          [](const PacEngineUnavailable&) -> std::string {
            return "no PAC JavaScript engine is enabled; build with `pac-quickjs` (not on Android "
                   "or iOS), or attach a native resolver through `pac::PacResolver`";
          },
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
      util::Overloaded{
          [&](const Error::InvalidProxyServer& e) {
            RecordBuilder(out, "InvalidProxyServer")
                .field("input", e.input)
                .field("reason", e.reason)
                .finish();
          },
          [&](const Error::InvalidBypassPattern& e) {
            RecordBuilder(out, "InvalidBypassPattern")
                .field("input", e.input)
                .field("reason", e.reason)
                .finish();
          },
          [&](const Error::InvalidProxyUrl& e) {
            RecordBuilder(out, "InvalidProxyUrl").field("input", e.input).field("source", e.source).finish();
          },
          [&](const Error::UnsupportedProxyScheme& e) {
            write_variant(out, "UnsupportedProxyScheme", e.scheme);
          },
          [&](const Error::CgiHttpProxy& e) {
            RecordBuilder(out, "CgiHttpProxy").field("variable", e.variable).finish();
          },
          [&](const Error::Io& e) {
            RecordBuilder(out, "Io").field("context", e.context).field("source", e.source).finish();
          },
          [&](const Error::Sandboxed& e) {
            RecordBuilder(out, "Sandboxed").field("sandbox", e.sandbox).field("reason", e.reason).finish();
          },
          [&](const Error::Unsupported&) { out += "Unsupported"; },
          [&](const Error::PacNotSupported& e) {
            RecordBuilder(out, "PacNotSupported").field("mode", e.mode).finish();
          },
          [&](const Error::ProxyEntryUnusable& e) {
            RecordBuilder(out, "ProxyEntryUnusable")
                .field("scheme", e.scheme)
                .field("rejected", e.rejected)
                .finish();
          },
          [&](const Error::PacFetchRequired& e) {
            std::string url = util::redact_credentials(e.url.href());
            RecordBuilder(out, "PacFetchRequired").field("url", Unquoted{url}).finish();
          },
          [&](const Error::PacEvaluation& e) {
            RecordBuilder(out, "PacEvaluation").field("reason", e.reason).finish();
          },
          [&](const Error::PacTimeout& e) {
            RecordBuilder(out, "PacTimeout").field("timeout", e.timeout).finish();
          },
          [&](const Error::PacSaturated& e) {
            RecordBuilder(out, "PacSaturated").field("timeout", e.timeout).field("limit", e.limit).finish();
          },
          [&](const Error::PacInvalidResult& e) {
            RecordBuilder(out, "PacInvalidResult").field("result", e.result).finish();
          },
          [&](const Error::PacEngineUnavailable&) { out += "PacEngineUnavailable"; },
      },
      error.value());
}

}  // namespace zelvane::model
