#include "sys/win/sim/winhttp.hpp"

#include <algorithm>
#include <string>

#include "sys/win/sim/state.hpp"
#include "sys/win/win32util.hpp"

namespace zelvane::sys::win::sim {

namespace {

// WinHTTP keeps its settings in the registry: a new one changes a value under the Connections key
// below its root's Internet Settings.
void store_setting(Registry& registry, Settings& settings, Root root, std::u16string_view name) {
  registry.set_value(root, u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections",
                     name, Value{kRegBinary, dword_bytes(++settings.stored)});
}

}  // namespace

// ---- the resolver

NetResult Resolver::open(std::u16string_view agent, std::uint32_t access_type, std::uint32_t flags) {
  const std::uintptr_t handle = kernel().new_handle();
  sessions_.push_back({std::u16string(agent), access_type, flags, std::nullopt, false, 0, true});
  Net net;
  net.session = true;
  net.info = sessions_.size() - 1;
  nets_.emplace(handle, std::move(net));
  return {NetHandle{handle}, 0};
}

CallResult Resolver::set_timeouts(NetHandle session, std::array<std::int32_t, 4> timeouts) {
  const auto it = nets_.find(session.value);
  if (it == nets_.end()) return {false, kErrorInvalidHandle};
  if (!it->second.session) return {false, kErrorWinHttpIncorrectHandleType};
  for (std::int32_t t : timeouts) {
    if (t < -1) return {false, kErrorInvalidParameter};
  }
  sessions_[it->second.info].timeouts = timeouts;
  return {};
}

CallResult Resolver::set_status_callback(NetHandle session, StatusSink sink, std::uint32_t notifications) {
  const auto it = nets_.find(session.value);
  if (it == nets_.end()) return {false, kErrorInvalidHandle};
  it->second.sink = sink;
  it->second.notifications = notifications;
  if (it->second.session) {
    SessionInfo& info = sessions_[it->second.info];
    info.callback = sink != nullptr;
    info.notifications = notifications;
  }
  return {};
}

std::uint32_t Resolver::create_resolver(NetHandle session, NetHandle& resolver) {
  const auto it = nets_.find(session.value);
  if (it == nets_.end() || !it->second.session) return kErrorInvalidHandle;
  if ((sessions_[it->second.info].flags & kWinHttpFlagAsync) == 0) return kErrorWinHttpIncorrectHandleType;
  const std::uintptr_t handle = kernel().new_handle();
  Net net;
  net.parent = session.value;
  nets_.emplace(handle, std::move(net));
  resolver = NetHandle{handle};
  return kErrorSuccess;
}

std::uint32_t Resolver::get_proxy_for_url(NetHandle resolver, std::u16string_view url,
                                          const AutoProxyOptions& options, std::uintptr_t context) {
  const auto it = nets_.find(resolver.value);
  if (it == nets_.end()) return kErrorInvalidHandle;
  Net& net = it->second;
  if (net.session) return kErrorWinHttpIncorrectHandleType;
  if (net.pending) return kErrorWinHttpIncorrectHandleState;
  AutoProxyOptions seen = options;
  if (seen.auto_config_url) seen.auto_config_url = std::u16string(wide_until_nul(*seen.auto_config_url));
  requests_.push_back({std::u16string(url), std::move(seen), context});
  Resolution script;
  if (!resolutions_.empty()) {
    script = std::move(resolutions_.front());
    resolutions_.pop_front();
  }
  net.answer.reset();
  if (script.delivery == Resolution::Delivery::AtOnce) {
    if (script.status == kErrorSuccess) net.answer.emplace(script.result_status, script.result);
    return script.status;
  }
  const auto session = nets_.find(net.parent);
  Owed o;
  o.resolver = resolver.value;
  o.context = context;
  if (session != nets_.end()) {
    o.sink = session->second.sink;
    o.notifications = session->second.notifications;
  }
  if (script.delivery == Resolution::Delivery::Callback)
    o.due = std::chrono::steady_clock::now() + script.delay;
  o.script = std::move(script);
  net.pending = true;
  owed_.emplace(++last_owed_, std::move(o));
  schedule();
  return kErrorIoPending;
}

std::uint32_t Resolver::get_proxy_result(NetHandle resolver, ProxyResult& result) const {
  const auto it = nets_.find(resolver.value);
  if (it == nets_.end()) return kErrorInvalidHandle;
  if (it->second.session) return kErrorWinHttpIncorrectHandleType;
  if (!it->second.answer) return kErrorWinHttpIncorrectHandleState;
  if (it->second.answer->first != kErrorSuccess) return it->second.answer->first;
  result = it->second.answer->second;
  return kErrorSuccess;
}

CallResult Resolver::close(NetHandle handle) {
  const auto it = nets_.find(handle.value);
  if (it == nets_.end()) return {false, kErrorInvalidHandle};
  if (it->second.session) sessions_[it->second.info].open = false;
  if (it->second.pending) {
    for (auto& [id, o] : owed_) {
      if (o.resolver == handle.value) o.resolver_closed();
    }
    schedule();
  }
  nets_.erase(it);
  return {};
}

std::size_t Resolver::live_sessions() const {
  return static_cast<std::size_t>(
      std::count_if(nets_.begin(), nets_.end(), [](const auto& n) { return n.second.session; }));
}

std::size_t Resolver::live_resolvers() const {
  return static_cast<std::size_t>(
      std::count_if(nets_.begin(), nets_.end(), [](const auto& n) { return !n.second.session; }));
}

void Resolver::Owed::fail_now(std::uint32_t error) {
  script.status = error;
  script.no_error_info = false;
  script.extra_notifications.clear();
  due = std::chrono::steady_clock::now();
}

void Resolver::Owed::resolver_closed() {
  switch (script.on_close) {
    case Resolution::OnClose::Cancel:
      fail_now(kErrorWinHttpOperationCancelled);
      break;
    case Resolution::OnClose::Keep:
      break;
    case Resolution::OnClose::Drop:
      due.reset();
      break;
  }
}

void Resolver::fail_held(std::uint32_t error) {
  for (auto& [id, o] : owed_) o.fail_now(error);
  schedule();
}

void Resolver::settle(util::UniqueLock& lock) {
  dispatched_.wait(lock, [&]() REQUIRES(mutex_) {
    return in_flight_ == 0 &&
           std::none_of(owed_.begin(), owed_.end(), [](const auto& o) { return o.second.due.has_value(); });
  });
}

std::thread Resolver::stop() {
  stopping_ = true;
  // Not a structured binding: clang-tidy 16's unchecked-optional-access check crashes on one here.
  for (auto& entry : owed_) {
    if (entry.second.due) entry.second.due = std::chrono::steady_clock::now();
  }
  dispatch_changed_.notify_all();
  return std::move(dispatcher_);
}

void Resolver::schedule() {
  // Once stopped, the dispatcher stop() gave away makes what is owed until it ends.
  if (!dispatcher_.joinable() && !stopping_) dispatcher_ = std::thread([this] { dispatch(); });
  dispatch_changed_.notify_all();
}

void Resolver::call_back(const Owed& owed, std::uint32_t status) const {
  for (std::uint32_t extra : owed.script.extra_notifications) owed.sink(owed.context, extra, nullptr);
  const bool complete = owed.script.status == 0;
  const std::uint32_t error = owed.script.status;
  owed.sink(owed.context, status, complete || owed.script.no_error_info ? nullptr : &error);
}

void Resolver::dispatch() noexcept {
  util::UniqueLock lock(mutex_);
  for (;;) {
    auto next = owed_.end();
    for (auto it = owed_.begin(); it != owed_.end(); ++it) {
      if (it->second.due && (next == owed_.end() || *it->second.due < *next->second.due)) next = it;
    }
    if (next == owed_.end()) {
      if (stopping_) return;
      dispatch_changed_.wait(lock);
      continue;
    }
    if (*next->second.due > std::chrono::steady_clock::now()) {
      dispatch_changed_.wait_until(lock, *next->second.due);
      continue;
    }
    Owed o = next->second;
    const bool complete = o.script.status == 0;
    const std::uint32_t status =
        complete ? kWinHttpCallbackStatusGetProxyForUrlComplete : kWinHttpCallbackStatusRequestError;
    if (o.sink == nullptr || (o.notifications & status) == 0) {
      next->second.due.reset();  // nobody listens: the context stays held
      dispatched_.notify_all();
      continue;
    }
    owed_.erase(next);
    if (const auto r = nets_.find(o.resolver); r != nets_.end()) {
      r->second.pending = false;
      if (complete) r->second.answer.emplace(o.script.result_status, o.script.result);
    }
    ++in_flight_;
    lock.unlock();
    call_back(o, status);
    lock.lock();
    --in_flight_;
    dispatched_.notify_all();
  }
}

// ---- the platform calls

CallResult Windows::winhttp_get_ie_proxy_config_for_current_user(IeProxyConfig& config) {
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer({.op = Op::WinHttpIeProxyConfig},
                         [&] { return s.settings.ie_config.copy_to(config); });
}

CallResult Windows::winhttp_get_default_proxy_configuration(ProxyInfo& info) {
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer({.op = Op::WinHttpDefaultProxyConfig},
                         [&] { return s.settings.default_proxy.copy_to(info); });
}

bool Windows::winhttp_has_proxy_resolver() const noexcept {
  return state_->resolver_present.load(std::memory_order_relaxed);
}

NetResult Windows::winhttp_open(std::u16string_view agent, std::uint32_t access_type, std::uint32_t flags) {
  agent = wide_until_nul(agent);
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer({.op = Op::WinHttpOpen, .key = utf16_to_utf8(agent)},
                         [&] { return s.resolver().open(agent, access_type, flags); });
}

CallResult Windows::winhttp_set_timeouts(NetHandle session, std::int32_t resolve, std::int32_t connect,
                                         std::int32_t send, std::int32_t receive) {
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer({.op = Op::WinHttpSetTimeouts}, [&] {
    return s.resolver().set_timeouts(session, {resolve, connect, send, receive});
  });
}

CallResult Windows::winhttp_set_status_callback(NetHandle session, StatusSink sink,
                                                std::uint32_t notifications) {
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer({.op = Op::WinHttpSetStatusCallback},
                         [&] { return s.resolver().set_status_callback(session, sink, notifications); });
}

std::uint32_t Windows::winhttp_create_proxy_resolver(NetHandle session, NetHandle& resolver) {
  resolver = {};
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer({.op = Op::WinHttpCreateProxyResolver},
                         [&] { return s.resolver().create_resolver(session, resolver); });
}

std::uint32_t Windows::winhttp_get_proxy_for_url_ex(NetHandle resolver, std::u16string_view url,
                                                    const AutoProxyOptions& options, std::uintptr_t context) {
  url = wide_until_nul(url);
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer({.op = Op::WinHttpGetProxyForUrlEx, .key = utf16_to_utf8(url)},
                         [&] { return s.resolver().get_proxy_for_url(resolver, url, options, context); });
}

std::uint32_t Windows::winhttp_get_proxy_result(NetHandle resolver, ProxyResult& result) {
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer({.op = Op::WinHttpGetProxyResult},
                         [&] { return s.resolver().get_proxy_result(resolver, result); });
}

CallResult Windows::winhttp_close_handle(NetHandle handle) noexcept {
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer(
      {.op = Op::WinHttpCloseHandle}, [&] { return s.resolver().close(handle); }, OnFault::Close);
}

// ---- the control side

void Control::set_ie_config(IeProxyConfig config) {
  locked([&](auto& s) {
    s.settings.ie_config = {true, 0, std::move(config)};
    store_setting(s.registry, s.settings, Root::CurrentUser, u"DefaultConnectionSettings");
  });
}

void Control::fail_ie_config(std::uint32_t last_error) {
  locked([&](auto& s) { s.settings.ie_config = {false, last_error, {}}; });
}

void Control::set_default_proxy(ProxyInfo info) {
  locked([&](auto& s) {
    s.settings.default_proxy = {true, 0, std::move(info)};
    store_setting(s.registry, s.settings, Root::LocalMachine, u"WinHttpSettings");
  });
}

void Control::fail_default_proxy(std::uint32_t last_error) {
  locked([&](auto& s) { s.settings.default_proxy = {false, last_error, {}}; });
}

void Control::script_resolution(Resolution resolution) {
  locked([&](auto& s) { s.resolver().script(std::move(resolution)); });
}

std::size_t Control::scripted_resolutions() const {
  return locked([](auto& s) { return s.resolver().scripted(); });
}

std::vector<SessionInfo> Control::sessions() const {
  return locked([](auto& s) { return s.resolver().sessions(); });
}

std::vector<ResolutionRequest> Control::requests() const {
  return locked([](auto& s) { return s.resolver().requests(); });
}

std::size_t Control::live_sessions() const {
  return locked([](auto& s) { return s.resolver().live_sessions(); });
}

std::size_t Control::live_resolvers() const {
  return locked([](auto& s) { return s.resolver().live_resolvers(); });
}

std::size_t Control::held_callbacks() const {
  return locked([](auto& s) { return s.resolver().held_callbacks(); });
}

void Control::settle_callbacks() {
  auto& s = state();
  util::UniqueLock lock(s.mutex);
  s.parts().resolver().settle(lock);
}

void Control::set_proxy_resolver_present(bool present) {
  state().resolver_present.store(present, std::memory_order_relaxed);
}

void Control::deliver_held_callbacks(std::uint32_t error) {
  auto& s = state();
  util::UniqueLock lock(s.mutex);
  s.parts().resolver().fail_held(error);
  s.parts().resolver().settle(lock);
}

}  // namespace zelvane::sys::win::sim
