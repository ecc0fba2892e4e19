// The native engine of the Windows builds: the two process-wide sessions, one per value of
// wpad, behind the portable entry; on a platform whose WinHTTP has no resolver, the answers of
// the build without the engine.
#include <array>
#include <atomic>

#include "pac/native.hpp"
#include "pac/winhttp/session.hpp"

namespace zelvane::pac {

using namespace model;
using namespace value;

namespace winhttp {

namespace {
// Filled once each and never emptied: the sessions outlive every caller, to the process's end.
std::array<std::atomic<const WinHttpSession*>, 2> g_sessions{};
}  // namespace

Result<const WinHttpSession*> shared_session(bool wpad) {
  std::atomic<const WinHttpSession*>& slot = g_sessions[wpad ? 1 : 0];
  if (const WinHttpSession* session = slot.load(std::memory_order_acquire)) return session;
  // Created unlocked: two first callers may both open one; one is published, the other closed.
  auto created = WinHttpSession::create();
  if (!created) return std::unexpected(std::move(created.error()));
  created->set_wpad_fallback(wpad);
  auto* fresh = new WinHttpSession(std::move(*created));
  const WinHttpSession* published = nullptr;
  if (slot.compare_exchange_strong(published, fresh, std::memory_order_acq_rel, std::memory_order_acquire))
    return fresh;
  delete fresh;
  return published;
}

}  // namespace winhttp

bool native_engine_present() { return sys::win::default_platform().winhttp_has_proxy_resolver(); }

model::Result<std::vector<model::RouteStep>> route_native(const model::ProxyConfig& config,
                                                          const value::Url& url, bool wpad) {
  // A WinHTTP without its resolver: no session is opened, and the answer is the none build's.
  if (!native_engine_present()) return std::unexpected(unevaluable(config.effective));
  auto session = winhttp::shared_session(wpad);
  if (!session) return std::unexpected(std::move(session.error()));
  return (*session)->route(config, url);
}

}  // namespace zelvane::pac
