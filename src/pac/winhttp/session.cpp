#include "pac/winhttp/session.hpp"

#include "pac/winhttp/session_internal.hpp"

#include <bit>
#include <cstdio>
#include <new>
#include <string>
#include <utility>

#include "pac/native.hpp"
#include "pac/route_entry.hpp"
#include "parse/candidates.hpp"
#include "route/static_route.hpp"
#include "sys/win/reader.hpp"
#include "util/redact.hpp"
#include "util/trim.hpp"
#include "value/host.hpp"
#include "value/ip.hpp"

namespace zelvane::pac::winhttp {

using namespace model;
using namespace value;

namespace win = sys::win;

namespace {

std::atomic<std::size_t> g_live_contexts{0};

// The caller's reference to a context, released on every road.
class ContextRef {
 public:
  explicit ContextRef(CompletionContext* context) : context_(context) {}
  ContextRef(const ContextRef&) = delete;
  ContextRef& operator=(const ContextRef&) = delete;
  ~ContextRef() { context_->release(); }
  CompletionContext* operator->() const { return context_; }
  CompletionContext* get() const { return context_; }

 private:
  CompletionContext* context_;
};

// An entry's host: an address literal, else a URL host; none for what neither reads.
std::optional<Host> entry_host(const std::optional<std::u16string>& text) {
  const std::optional<std::string> decoded = win::wide_to_string(text);
  if (!decoded) return std::nullopt;
  const std::string_view trimmed = util::trim_unicode_whitespace(*decoded);
  if (trimmed.empty()) return std::nullopt;
  if (const std::optional<IpAddr> ip = parse_ip_standard(trimmed)) {
    if (const auto* v4 = std::get_if<Ipv4Addr>(&ip->value)) return Host{*v4};
    return Host{std::get<Ipv6Addr>(ip->value)};
  }
  auto host = parse_url_host(trimmed);
  if (!host) return std::nullopt;
  return std::move(*host);
}

}  // namespace

// ---- handles

WinHttpHandle::WinHttpHandle(WinHttpHandle&& other) noexcept
    : platform_(other.platform_), handle_(std::exchange(other.handle_, win::NetHandle{})) {}

WinHttpHandle& WinHttpHandle::operator=(WinHttpHandle&& other) noexcept {
  if (this != &other) {
    release();
    platform_ = other.platform_;
    handle_ = std::exchange(other.handle_, win::NetHandle{});
  }
  return *this;
}

void WinHttpHandle::release() noexcept {
  const win::NetHandle handle = std::exchange(handle_, win::NetHandle{});
  if (handle && platform_ != nullptr) platform_->winhttp_close_handle(handle);
}

// ---- the completion context

CompletionContext::CompletionContext(Platform& platform, win::HandleGuard event)
    : platform_(&platform), event_(std::move(event)) {
  g_live_contexts.fetch_add(1, std::memory_order_relaxed);
}

CompletionContext::~CompletionContext() { g_live_contexts.fetch_sub(1, std::memory_order_relaxed); }

Result<CompletionContext*> CompletionContext::create(Platform& platform) {
  auto event = win::create_event(platform, true, "creating the PAC resolution completion event");
  if (!event) return std::unexpected(std::move(event.error()));
  return new CompletionContext(platform, std::move(*event));
}

void CompletionContext::complete(std::int32_t status) noexcept {
  status_.store(status, std::memory_order_release);
  platform_->set_event(event_.get());
}

void CompletionContext::release() noexcept {
  if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

std::size_t CompletionContext::live() { return g_live_contexts.load(std::memory_order_relaxed); }

void winhttp_status_callback(std::uintptr_t context, std::uint32_t status,
                             const std::uint32_t* error) noexcept {
  std::uint32_t code = 0;
  if (status == win::kWinHttpCallbackStatusGetProxyForUrlComplete) {
    code = 0;
  } else if (status == win::kWinHttpCallbackStatusRequestError) {
    code = error != nullptr ? *error : win::kErrorWinHttpInternalError;
  } else {
    return;
  }
  if (context == 0) return;
  auto* completion = reinterpret_cast<CompletionContext*>(context);
  completion->complete(std::bit_cast<std::int32_t>(code));
  completion->release();
}

// ---- mapping

std::int32_t timeout_ms(Duration d) {
  return static_cast<std::int32_t>(std::max<std::uint64_t>(d.millis_at_most(0x7FFFFFFF), 1));
}

std::uint32_t wait_ms(Duration d) {
  // 0xFFFFFFFF would be INFINITE.
  return static_cast<std::uint32_t>(d.millis_at_most(0xFFFFFFFEu));
}

Error winhttp_error(std::string_view context, std::uint32_t code) {
  if (code == win::kErrorWinHttpBadAutoProxyScript) {
    return Error::PacEvaluation{
        util::sanitize_message(std::string(context) + ": the PAC script could not be executed by WinHTTP")};
  }
  char hex[11];
  std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(code));
  return win::io_error_from_win32(std::string(context) + " (WinHTTP status " + hex + ")", code);
}

Result<std::vector<RouteStep>> candidates_from_proxy_result(
    std::uint32_t count, const std::optional<std::vector<win::ProxyResultEntry>>& entries) {
  parse::CandidateList list;
  if (entries) {
    const std::size_t n = std::min<std::size_t>(count, entries->size());
    for (std::size_t i = 0; i < n && list.size() < parse::CandidateList::kLimit; ++i) {
      const win::ProxyResultEntry& e = (*entries)[i];
      if (!e.proxy) {
        list.push(RouteStep{RouteStep::Direct{}});
        continue;
      }
      ProxyScheme hint = ProxyScheme::Http;
      std::uint16_t default_port = 0;
      switch (e.scheme) {
        case win::kInternetSchemeHttp:
          hint = ProxyScheme::Http, default_port = 80;
          break;
        case win::kInternetSchemeHttps:
          hint = ProxyScheme::Https, default_port = 443;
          break;
        case win::kInternetSchemeSocks:
          hint = ProxyScheme::Socks4, default_port = 1080;
          break;
        default:
          continue;
      }
      std::optional<Host> host = entry_host(e.host);
      if (!host) continue;
      ProxyEndpoint endpoint{hint, std::move(*host), e.port != 0 ? e.port : default_port, std::nullopt};
      switch (e.scheme) {
        case win::kInternetSchemeHttp:
          list.push(RouteStep{RouteStep::Http{std::move(endpoint)}});
          break;
        case win::kInternetSchemeHttps:
          list.push(RouteStep{RouteStep::Https{std::move(endpoint)}});
          break;
        default:
          list.push(RouteStep{RouteStep::Socks4{std::move(endpoint)}});
          break;
      }
    }
  }
  if (auto steps = std::move(list).finish()) return std::move(*steps);
  return std::unexpected(Error(Error::PacInvalidResult{util::sanitize_message(
      "WinHTTP returned " + std::to_string(count) + " proxy entries, none of them usable")}));
}

win::AutoProxyOptions autoproxy_options(const ResolutionRequest& request) {
  win::AutoProxyOptions options;
  const bool detect = request.mode != AutoProxyMode::ConfigUrl;
  const bool config = request.mode != AutoProxyMode::DetectOnly;
  options.flags =
      (detect ? win::kWinHttpAutoProxyAutoDetect : 0) | (config ? win::kWinHttpAutoProxyConfigUrl : 0);
  options.auto_detect_flags = detect ? win::kWinHttpAutoDetectTypeDhcp | win::kWinHttpAutoDetectTypeDnsA : 0;
  if (config && request.pac_url) options.auto_config_url = win::utf8_to_utf16(request.pac_url->href());
  options.auto_logon_if_challenged = false;
  return options;
}

// ---- the session

Result<WinHttpSession> WinHttpSession::create() { return open(kDefaultTimeout); }

Result<WinHttpSession> WinHttpSession::open(Duration timeout) {
  return open(win::default_platform(), timeout);
}

Result<WinHttpSession> WinHttpSession::open(Platform& platform, Duration timeout) {
  const win::NetResult opened =
      platform.winhttp_open(kAgent, win::kWinHttpAccessTypeNoProxy, win::kWinHttpFlagAsync);
  if (!opened.handle) return std::unexpected(win::io_error_from_win32("WinHttpOpen", opened.last_error));
  WinHttpHandle handle(platform, opened.handle);
  const std::int32_t t = timeout_ms(timeout);
  if (const win::CallResult r = platform.winhttp_set_timeouts(handle.get(), t, t, t, t); !r.ok) {
    handle.release();
    return std::unexpected(
        win::io_error_from_hresult("WinHttpSetTimeouts", win::hresult_from_win32(r.last_error)));
  }
  if (const win::CallResult r =
          platform.winhttp_set_status_callback(handle.get(), winhttp_status_callback, kCallbackNotifications);
      !r.ok) {
    handle.release();
    return std::unexpected(win::io_error_from_win32("WinHttpSetStatusCallback", r.last_error));
  }
  return WinHttpSession(platform, std::move(handle), timeout);
}

Result<std::vector<RouteStep>> WinHttpSession::route(const ProxyConfig& config, const Url& url) const {
  const ProxyMode& mode = config.effective;
  if (mode.is<ProxyMode::WpadAutoDetect>()) {
    if (!wpad_fallback_) return std::unexpected(Error(Error::PacNotSupported{"wpad"}));
    // The user's own settings back discovery only when they are what the reading found.
    sys::win::WpadFallback fallback;
    const SourceEntry* registry = nullptr;
    for (const SourceEntry& s : config.sources) {
      if (s.kind == SourceKind::Registry) {
        registry = &s;
        break;
      }
    }
    if (registry != nullptr && registry->mode == mode) {
      auto read = sys::win::read_wpad_fallback(*platform_);
      if (!read) return std::unexpected(std::move(read.error()));
      fallback = std::move(*read);
    }
    ResolutionRequest request{AutoProxyMode::DetectOnly, std::nullopt};
    if (fallback.auto_config_url) request = {AutoProxyMode::Both, fallback.auto_config_url};
    auto resolved = resolve(url, request);
    if (!resolved) return std::unexpected(std::move(resolved.error()));
    if (*resolved) return std::move(**resolved);
    if (fallback.manual.is<ProxyMode::Manual>()) {
      const ProxyConfig manual = ProxyConfig::from_sources({{SourceKind::Registry, fallback.manual}});
      return route::route_static(manual, url);
    }
    return route::direct_route();
  }
  // pac::resolve asks nothing else; another setting is refused as the engine without a
  // resolver refuses it.
  const auto* pac = mode.get_if<ProxyMode::Pac>();
  if (pac == nullptr) return std::unexpected(unevaluable(mode));
  auto resolved = resolve(url, {AutoProxyMode::ConfigUrl, pac->url});
  if (!resolved) return std::unexpected(std::move(resolved.error()));
  // Without discovery WinHTTP's "nothing found" is an error, so an answer is always there.
  if (*resolved) return std::move(**resolved);
  return route::direct_route();
}

Result<std::optional<std::vector<RouteStep>>> WinHttpSession::resolve(
    const Url& url, const ResolutionRequest& request) const {
  using Answer = Result<std::optional<std::vector<RouteStep>>>;
  Platform& platform = *platform_;
  win::NetHandle raw;
  if (const std::uint32_t c = platform.winhttp_create_proxy_resolver(handle_.get(), raw);
      c != win::kErrorSuccess)
    return std::unexpected(winhttp_error("WinHttpCreateProxyResolver", c));
  WinHttpHandle resolver(platform, raw);

  std::string text = prepare_url(url).href();
  if (url.scheme() == "ws" || url.scheme() == "wss") text.replace(0, 2, "http");
  const std::u16string wide_url = win::utf8_to_utf16(text);
  const win::AutoProxyOptions options = autoproxy_options(request);
  const bool detects = request.mode != AutoProxyMode::ConfigUrl;

  auto created = CompletionContext::create(platform);
  if (!created) return std::unexpected(std::move(created.error()));
  const ContextRef context(*created);

  const std::uint32_t code = platform.winhttp_get_proxy_for_url_ex(
      resolver.get(), wide_url, options, reinterpret_cast<std::uintptr_t>(context.get()));
  if (code == win::kErrorIoPending) {
    const win::WaitResult waited = platform.wait_one(context->event(), wait_ms(timeout_));
    if (waited.code == win::kWaitObject0) {
      const auto status = std::bit_cast<std::uint32_t>(context->status());
      if (status == win::kErrorWinHttpAutodetectionFailed && detects) return Answer(std::nullopt);
      if (status != win::kErrorSuccess)
        return std::unexpected(winhttp_error("resolving the proxy for a URL", status));
    } else if (waited.code == win::kWaitTimeout) {
      resolver.release();  // cancels the request
      return std::unexpected(Error(Error::PacTimeout{timeout_}));
    } else {
      const std::uint32_t error = waited.last_error;
      resolver.release();
      return std::unexpected(win::io_error_from_win32("waiting for WinHTTP's proxy answer", error));
    }
  } else {
    context->release();  // the callback's reference: no callback will come
    if (code == win::kErrorWinHttpAutodetectionFailed && detects) return Answer(std::nullopt);
    if (code != win::kErrorSuccess) return std::unexpected(winhttp_error("WinHttpGetProxyForUrlEx", code));
  }

  win::ProxyResult result;
  if (const std::uint32_t c = platform.winhttp_get_proxy_result(resolver.get(), result);
      c != win::kErrorSuccess)
    return std::unexpected(winhttp_error("WinHttpGetProxyResult", c));
  auto steps = candidates_from_proxy_result(result.count, result.entries);
  if (!steps) return std::unexpected(std::move(steps.error()));
  return Answer(std::move(*steps));
}

}  // namespace zelvane::pac::winhttp
