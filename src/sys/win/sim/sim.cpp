#include "sys/win/sim/sim.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "sys/win/registry.hpp"
#include "sys/win/win32util.hpp"
#include "util/ascii.hpp"

namespace zelvane::sys::win::sim {

namespace {

constexpr std::array<std::string_view, 19> kOpNames = {
    "reg_open_key",
    "reg_query_value",
    "reg_close_key",
    "reg_notify_change_key_value",
    "create_event",
    "set_event",
    "close_handle",
    "wait_one",
    "wait_any",
    "winhttp_get_ie_proxy_config_for_current_user",
    "winhttp_get_default_proxy_configuration",
    "spawn_thread",
    "winhttp_open",
    "winhttp_set_timeouts",
    "winhttp_set_status_callback",
    "winhttp_create_proxy_resolver",
    "winhttp_get_proxy_for_url_ex",
    "winhttp_get_proxy_result",
    "winhttp_close_handle",
};

// The registry compares names regardless of case; the simulation folds ASCII letters.
char16_t fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

std::u16string folded(std::u16string_view text) {
  std::u16string out(text);
  std::transform(out.begin(), out.end(), out.begin(), fold);
  return out;
}

bool same_text(std::string_view a, std::string_view b) { return util::equals_ignore_ascii_case(a, b); }

struct Value {
  std::uint32_t type = kRegNone;
  std::vector<std::uint8_t> data;
};

struct Node {
  std::map<std::u16string, std::shared_ptr<Node>> subkeys;  // by folded name
  std::map<std::u16string, Value> values;                   // by folded name
  std::weak_ptr<Node> parent;                               // none for a root
  bool deleted = false;
};

bool is_below(const Node& ancestor, const Node& node) {
  for (std::shared_ptr<Node> p = node.parent.lock(); p; p = p->parent.lock()) {
    if (p.get() == &ancestor) return true;
  }
  return false;
}

void collect(const std::shared_ptr<Node>& node, std::vector<const Node*>& out) {
  out.push_back(node.get());
  for (const auto& [name, child] : node->subkeys) collect(child, out);
}

// The filter bits a registration may name.
constexpr std::uint32_t kNotifyChanges =
    kRegNotifyChangeName | kRegNotifyChangeAttributes | kRegNotifyChangeLastSet | kRegNotifyChangeSecurity;
constexpr std::uint32_t kDefaultLogLimit = 1u << 16;

void mark_deleted(Node& node) {
  node.deleted = true;
  for (auto& [name, child] : node.subkeys) mark_deleted(*child);
}

// The components of a path, empty ones skipped as Windows does (but for a leading one).
std::vector<std::u16string> components(std::u16string_view path) {
  std::vector<std::u16string> out;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) out.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

IeProxyConfig fresh_ie_config() { return {true, std::nullopt, std::nullopt, std::nullopt}; }
ProxyInfo fresh_default_proxy() { return {kWinHttpAccessTypeNoProxy, std::nullopt, std::nullopt}; }

}  // namespace

struct Windows::State {
  struct OpenKey {
    std::shared_ptr<Node> node;
    std::uint32_t access = 0;
    std::string text;
  };
  struct Event {
    bool manual_reset = false;
    bool signalled = false;
  };
  struct PendingFault {
    Fault fault;
    std::uint32_t calls_left;
  };
  // One asynchronous RegNotifyChangeKeyValue waiting for its change.
  struct Registration {
    std::uintptr_t key;
    std::shared_ptr<Node> node;
    bool subtree;
    std::uint32_t filter;
    std::shared_ptr<Event> event;  // the kernel object lives while a registration refers to it
  };
  template <class T>
  struct Answer {
    bool ok = true;
    std::uint32_t last_error = 0;
    T value;
  };

  // A WinHTTP session or resolver.
  struct Net {
    bool session = false;
    std::size_t info = 0;  // a session's entry in sessions
    StatusSink sink = nullptr;
    std::uint32_t notifications = 0;
    std::uintptr_t parent = 0;                                    // a resolver's session
    bool pending = false;                                         // a resolver's request awaits its callback
    std::optional<std::pair<std::uint32_t, ProxyResult>> answer;  // a resolver's answer, once in
  };
  // A callback owed for a pending request: scheduled for `due`, or held with no time.
  struct Owed {
    std::uintptr_t resolver = 0;
    std::uintptr_t context = 0;
    StatusSink sink = nullptr;
    std::uint32_t notifications = 0;
    Resolution script;
    std::optional<std::chrono::steady_clock::time_point> due;
  };

  mutable std::mutex mutex;
  std::condition_variable event_set;
  std::map<std::uintptr_t, Net> nets;
  std::vector<SessionInfo> session_infos;
  std::vector<ResolutionRequest> requests;
  std::deque<Resolution> resolutions;
  std::map<std::uint64_t, Owed> owed;
  std::uint64_t last_owed = 0;
  std::condition_variable dispatch_changed;  // the dispatcher's wake-up: a callback scheduled, or the end
  std::condition_variable dispatched;        // a callback made
  std::thread dispatcher;
  std::size_t in_flight = 0;  // callbacks being made
  bool stopping = false;
  std::atomic<bool> resolver_present{true};  // read without the lock

  void schedule() {
    if (!dispatcher.joinable()) dispatcher = std::thread([this] { dispatch(); });
    dispatch_changed.notify_all();
  }

  // The thread that makes the callbacks, each once it is due, without the lock held.
  void dispatch() noexcept {
    std::unique_lock lock(mutex);
    for (;;) {
      auto next = owed.end();
      for (auto it = owed.begin(); it != owed.end(); ++it) {
        if (it->second.due && (next == owed.end() || *it->second.due < *next->second.due)) next = it;
      }
      if (next == owed.end()) {
        if (stopping) return;
        dispatch_changed.wait(lock);
        continue;
      }
      if (*next->second.due > std::chrono::steady_clock::now()) {
        dispatch_changed.wait_until(lock, *next->second.due);
        continue;
      }
      Owed o = next->second;
      const bool complete = o.script.status == 0;
      const std::uint32_t status =
          complete ? kWinHttpCallbackStatusGetProxyForUrlComplete : kWinHttpCallbackStatusRequestError;
      if (o.sink == nullptr || (o.notifications & status) == 0) {
        next->second.due.reset();  // nobody listens: the context stays held
        dispatched.notify_all();
        continue;
      }
      owed.erase(next);
      if (const auto r = nets.find(o.resolver); r != nets.end()) {
        r->second.pending = false;
        if (complete) r->second.answer.emplace(o.script.result_status, o.script.result);
      }
      ++in_flight;
      lock.unlock();
      for (std::uint32_t extra : o.script.extra_notifications) o.sink(o.context, extra, nullptr);
      const std::uint32_t error = o.script.status;
      o.sink(o.context, status, complete || o.script.no_error_info ? nullptr : &error);
      lock.lock();
      --in_flight;
      dispatched.notify_all();
    }
  }
  std::shared_ptr<Node> local_machine = std::make_shared<Node>();
  std::shared_ptr<Node> current_user = std::make_shared<Node>();
  std::map<std::uintptr_t, OpenKey> keys;
  std::map<std::uintptr_t, std::shared_ptr<Event>> events;
  std::uintptr_t last_handle = 0x1000;
  Answer<IeProxyConfig> ie_config{true, 0, fresh_ie_config()};
  Answer<ProxyInfo> default_proxy{true, 0, fresh_default_proxy()};
  std::vector<PendingFault> faults;
  std::vector<Registration> registrations;
  std::deque<Call> log;
  std::uint64_t log_first = 0;  // the number of every call before log.front(), counting from the first
  std::uint64_t log_dropped = 0;
  std::size_t log_limit = kDefaultLogLimit;

  // Kernel handles are multiples of four; keys and events share one counter, so that a handle
  // of one kind is never a valid handle of the other.
  std::uintptr_t new_handle() { return last_handle += 4; }

  std::shared_ptr<Node>& root_node(Root root) {
    return root == Root::LocalMachine ? local_machine : current_user;
  }

  // The key a handle stands for (a predefined root or an open key), with its text and access.
  const OpenKey* resolve(KeyHandle key, OpenKey& root_scratch) {
    if (key == kHkeyLocalMachine || key == kHkeyCurrentUser) {
      const Root root = key == kHkeyLocalMachine ? Root::LocalMachine : Root::CurrentUser;
      root_scratch = {root_node(root), ~std::uint32_t{0}, std::string(root_text(key))};
      return &root_scratch;
    }
    const auto it = keys.find(key.value);
    return it == keys.end() ? nullptr : &it->second;
  }

  // The fault that answers this call, if one comes due.
  std::optional<std::uint32_t> take_fault(Op op, std::string_view key,
                                          const std::optional<std::string>& value) {
    std::optional<std::uint32_t> status;
    for (auto it = faults.begin(); it != faults.end();) {
      const Fault& f = it->fault;
      const bool matches = f.op == op && (f.key.empty() || same_text(f.key, key)) &&
                           (!f.value || (value && same_text(*f.value, *value)));
      if (matches && --it->calls_left == 0) {
        if (!status) status = f.status;
        it = faults.erase(it);
      } else {
        ++it;
      }
    }
    return status;
  }

  Call* record(Op op, std::string key, std::optional<std::string> value, std::uint32_t status,
               std::optional<std::uint32_t> buffer = std::nullopt, bool injected = false) {
    if (log_limit == 0) {
      ++log_first;
      ++log_dropped;
      return nullptr;
    }
    while (log.size() >= log_limit) {
      log.pop_front();
      ++log_first;
      ++log_dropped;
    }
    log.push_back(Call{op, std::move(key), std::move(value), status, buffer, injected, std::nullopt});
    return &log.back();
  }

  // The call of that number, if the log still holds it.
  Call* logged(std::uint64_t number) {
    if (number < log_first || number - log_first >= log.size()) return nullptr;
    return &log[static_cast<std::size_t>(number - log_first)];
  }

  void signal(Event& event) {
    event.signalled = true;
    event_set.notify_all();
  }

  // A change of `change` kind at `node`: every registration that sees it fires, once.
  void changed(const Node& node, std::uint32_t change) {
    std::erase_if(registrations, [&](const Registration& r) {
      const bool sees = r.node.get() == &node || (r.subtree && is_below(*r.node, node));
      if (!sees || (r.filter & change) == 0) return false;
      signal(*r.event);
      return true;
    });
  }

  // Keys deleted: registrations on them fire whatever they watch.
  void deleted(const std::vector<const Node*>& nodes) {
    std::erase_if(registrations, [&](const Registration& r) {
      if (std::find(nodes.begin(), nodes.end(), r.node.get()) == nodes.end()) return false;
      signal(*r.event);
      return true;
    });
  }

  // A WinHTTP call: an injected fault, else the scripted answer.
  template <class T>
  CallResult scripted(Op op, const Answer<T>& answer, T& out) {
    std::lock_guard lock(mutex);
    if (const auto error = take_fault(op, {}, std::nullopt)) {
      record(op, {}, std::nullopt, *error, std::nullopt, true);
      return {false, *error};
    }
    record(op, {}, std::nullopt, answer.ok ? 0 : answer.last_error);
    if (!answer.ok) return {false, answer.last_error};
    out = answer.value;
    return {};
  }

  // Walks a path from a node, creating keys on the way when asked (each a change of its parent).
  std::shared_ptr<Node> walk(std::shared_ptr<Node> node, std::u16string_view path, bool create) {
    for (const std::u16string& part : components(path)) {
      const std::u16string name = folded(part);
      const auto it = node->subkeys.find(name);
      if (it != node->subkeys.end()) {
        node = it->second;
      } else if (create) {
        auto child = std::make_shared<Node>();
        child->parent = node;
        node->subkeys[name] = child;
        changed(*node, kRegNotifyChangeName);
        node = std::move(child);
      } else {
        return nullptr;
      }
    }
    return node;
  }

  // What WinHTTP's settings are stored as: a value under the Connections key that changes with
  // each new setting.
  void touch_settings(Root root, std::u16string_view name) {
    std::shared_ptr<Node> node =
        walk(root_node(root), u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections",
             true);
    const std::uint32_t counter = ++settings_counter;
    node->values[folded(name)] =
        Value{kRegBinary,
              {static_cast<std::uint8_t>(counter), static_cast<std::uint8_t>(counter >> 8),
               static_cast<std::uint8_t>(counter >> 16), static_cast<std::uint8_t>(counter >> 24)}};
    changed(*node, kRegNotifyChangeLastSet);
  }
  std::uint32_t settings_counter = 0;
};

std::string_view op_name(Op op) { return kOpNames.at(static_cast<std::size_t>(op)); }

std::optional<Op> op_from_name(std::string_view name) {
  for (std::size_t i = 0; i < kOpNames.size(); ++i) {
    if (kOpNames[i] == name) return static_cast<Op>(i);
  }
  return std::nullopt;
}

Windows::Windows() : state_(std::make_unique<State>()) {}

Windows::~Windows() {
  // The callbacks still scheduled are made before the simulation goes; held ones stay held.
  std::unique_lock lock(state_->mutex);
  state_->stopping = true;
  for (auto& [id, o] : state_->owed) {
    if (o.due) o.due = std::chrono::steady_clock::now();
  }
  state_->dispatch_changed.notify_all();
  lock.unlock();
  if (state_->dispatcher.joinable()) state_->dispatcher.join();
}

Control Windows::control() { return Control(*this); }

std::uint32_t Windows::reg_open_key(KeyHandle root, std::u16string_view path, std::uint32_t access,
                                    KeyHandle& key) {
  key = {};
  path = wide_until_nul(path);
  std::lock_guard lock(state_->mutex);
  State::OpenKey root_scratch;
  const State::OpenKey* base = state_->resolve(root, root_scratch);
  std::string text = base != nullptr ? base->text : "HKEY";
  if (!path.empty()) text += "\\" + utf16_to_utf8(path);

  const auto answer = [&](std::uint32_t status, bool injected = false) {
    state_->record(Op::RegOpenKey, text, std::nullopt, status, std::nullopt, injected);
    return status;
  };
  if (const auto status = state_->take_fault(Op::RegOpenKey, text, std::nullopt))
    return answer(*status, true);
  if (base == nullptr) return answer(kErrorInvalidHandle);
  if (base->node->deleted) return answer(kErrorKeyDeleted);
  if (!path.empty() && path.front() == u'\\') return answer(kErrorBadPathname);
  std::shared_ptr<Node> node = state_->walk(base->node, path, false);
  if (!node) return answer(kErrorFileNotFound);
  const std::uintptr_t handle = state_->new_handle();
  state_->keys.emplace(handle, State::OpenKey{std::move(node), access, text});
  key = KeyHandle{handle};
  return answer(kErrorSuccess);
}

std::uint32_t Windows::reg_query_value(KeyHandle key, std::u16string_view name, std::uint32_t& type,
                                       std::byte* data, std::uint32_t& size) {
  name = wide_until_nul(name);
  std::lock_guard lock(state_->mutex);
  State::OpenKey root_scratch;
  const State::OpenKey* open = state_->resolve(key, root_scratch);
  std::string text = open != nullptr ? open->text : std::string();
  std::string value_name = utf16_to_utf8(name);
  const std::optional<std::uint32_t> buffer = data != nullptr ? std::optional(size) : std::nullopt;

  const auto answer = [&](std::uint32_t status, bool injected = false) {
    state_->record(Op::RegQueryValue, text, value_name, status, buffer, injected);
    return status;
  };
  if (const auto status = state_->take_fault(Op::RegQueryValue, text, value_name))
    return answer(*status, true);
  if (open == nullptr) return answer(kErrorInvalidHandle);
  if (open->node->deleted) return answer(kErrorKeyDeleted);
  if ((open->access & kKeyQueryValue) == 0) return answer(kErrorAccessDenied);
  const auto it = open->node->values.find(folded(name));
  if (it == open->node->values.end()) return answer(kErrorFileNotFound);
  const Value& value = it->second;
  const auto needed = static_cast<std::uint32_t>(value.data.size());
  type = value.type;
  if (data == nullptr) {
    size = needed;
    return answer(kErrorSuccess);
  }
  if (size < needed) {
    size = needed;
    return answer(kErrorMoreData);
  }
  std::transform(value.data.begin(), value.data.end(), data, [](std::uint8_t b) { return std::byte{b}; });
  // As Windows does: text stored without its terminating NUL gets one after the data when the
  // buffer has room for it; the size stays that of the data.
  const bool is_text = value.type == kRegSz || value.type == kRegExpandSz || value.type == kRegMultiSz;
  if (is_text && needed >= 2 && size - needed >= 2 &&
      (value.data[needed - 2] != 0 || value.data[needed - 1] != 0)) {
    data[needed] = data[needed + 1] = std::byte{0};
  }
  size = needed;
  return answer(kErrorSuccess);
}

std::uint32_t Windows::reg_close_key(KeyHandle key) noexcept {
  std::lock_guard lock(state_->mutex);
  const bool predefined = key == kHkeyLocalMachine || key == kHkeyCurrentUser;
  const auto it = state_->keys.find(key.value);
  std::string text = predefined                 ? std::string(root_text(key))
                     : it != state_->keys.end() ? it->second.text
                                                : std::string();
  const std::optional<std::uint32_t> injected = state_->take_fault(Op::RegCloseKey, text, std::nullopt);
  std::uint32_t status = kErrorSuccess;
  if (it != state_->keys.end()) {
    // As on Windows, closing a watched key sets the events of its registrations.
    std::erase_if(state_->registrations, [&](const State::Registration& r) {
      if (r.key != key.value) return false;
      state_->signal(*r.event);
      return true;
    });
    state_->keys.erase(it);
  } else if (!predefined) {
    status = kErrorInvalidHandle;
  }
  state_->record(Op::RegCloseKey, std::move(text), std::nullopt, injected.value_or(status), std::nullopt,
                 injected.has_value());
  return injected.value_or(status);
}

std::uint32_t Windows::reg_notify_change_key_value(KeyHandle key, bool watch_subtree, std::uint32_t filter,
                                                   Handle event, bool asynchronous) {
  std::lock_guard lock(state_->mutex);
  State::OpenKey root_scratch;
  const State::OpenKey* open = state_->resolve(key, root_scratch);
  std::string text = open != nullptr ? open->text : std::string();
  const auto answer = [&](std::uint32_t status, bool injected = false) {
    state_->record(Op::RegNotifyChangeKeyValue, text, std::nullopt, status, std::nullopt, injected);
    return status;
  };
  if (const auto status = state_->take_fault(Op::RegNotifyChangeKeyValue, text, std::nullopt))
    return answer(*status, true);
  if (open == nullptr) return answer(kErrorInvalidHandle);
  if (open->node->deleted) return answer(kErrorKeyDeleted);
  if ((open->access & kKeyNotify) == 0) return answer(kErrorAccessDenied);
  if ((filter & kNotifyChanges) == 0 || (filter & ~(kNotifyChanges | kRegNotifyThreadAgnostic)) != 0 ||
      !asynchronous || !event)
    return answer(kErrorInvalidParameter);
  const auto found = state_->events.find(event.value);
  if (found == state_->events.end()) return answer(kErrorInvalidHandle);
  state_->registrations.push_back({key.value, open->node, watch_subtree, filter, found->second});
  return answer(kErrorSuccess);
}

EventResult Windows::create_event(bool manual_reset) {
  std::lock_guard lock(state_->mutex);
  if (const auto error = state_->take_fault(Op::CreateEvent, {}, std::nullopt)) {
    state_->record(Op::CreateEvent, {}, std::nullopt, *error, std::nullopt, true);
    return {Handle{}, *error};
  }
  const std::uintptr_t handle = state_->new_handle();
  state_->events.emplace(handle, std::make_shared<State::Event>(State::Event{manual_reset, false}));
  state_->record(Op::CreateEvent, {}, std::nullopt, 0);
  return {Handle{handle}, 0};
}

CallResult Windows::set_event(Handle event) noexcept {
  std::lock_guard lock(state_->mutex);
  const std::optional<std::uint32_t> injected = state_->take_fault(Op::SetEvent, {}, std::nullopt);
  CallResult result;
  if (injected) {
    result = {false, *injected};
  } else if (const auto it = state_->events.find(event.value); it != state_->events.end()) {
    state_->signal(*it->second);
  } else {
    result = {false, kErrorInvalidHandle};
  }
  state_->record(Op::SetEvent, {}, std::nullopt, result.last_error, std::nullopt, injected.has_value());
  return result;
}

CallResult Windows::close_handle(Handle handle) noexcept {
  std::lock_guard lock(state_->mutex);
  const std::optional<std::uint32_t> injected = state_->take_fault(Op::CloseHandle, {}, std::nullopt);
  CallResult result;
  if (state_->events.erase(handle.value) == 0) result = {false, kErrorInvalidHandle};
  if (injected) result = {false, *injected};
  state_->record(Op::CloseHandle, {}, std::nullopt, result.last_error, std::nullopt, injected.has_value());
  return result;
}

WaitResult Windows::wait_one(Handle handle, std::uint32_t timeout_ms) {
  return wait(Op::WaitOne, std::span<const Handle>(&handle, 1), timeout_ms);
}

WaitResult Windows::wait_any(std::span<const Handle> handles, std::uint32_t timeout_ms) {
  return wait(Op::WaitAny, handles, timeout_ms);
}

WaitResult Windows::wait(Op op, std::span<const Handle> handles, std::uint32_t timeout_ms) {
  std::unique_lock lock(state_->mutex);
  const auto answer = [&](WaitResult result, bool injected = false) {
    if (Call* call = state_->record(op, {}, std::nullopt, result.code, std::nullopt, injected))
      call->timeout_ms = timeout_ms;
    return result;
  };
  std::uint32_t wait_code = kWaitFailed;
  for (const State::PendingFault& f : state_->faults) {
    if (f.fault.op == op && f.fault.key.empty() && f.calls_left == 1) {
      wait_code = f.fault.wait_code;
      break;
    }
  }
  if (const auto error = state_->take_fault(op, {}, std::nullopt)) return answer({wait_code, *error}, true);
  if (handles.empty() || handles.size() > kMaximumWaitObjects)
    return answer({kWaitFailed, kErrorInvalidParameter});
  // The events are held for the whole wait: one closed meanwhile keeps its state, as a kernel
  // object lives on while a wait refers to it.
  std::vector<std::shared_ptr<State::Event>> events;
  for (Handle h : handles) {
    const auto it = state_->events.find(h.value);
    if (it == state_->events.end()) return answer({kWaitFailed, kErrorInvalidHandle});
    events.push_back(it->second);
  }
  const auto take_signalled = [&]() -> std::optional<WaitResult> {
    for (std::size_t i = 0; i < events.size(); ++i) {
      if (events[i]->signalled) {
        if (!events[i]->manual_reset) events[i]->signalled = false;
        return WaitResult{static_cast<std::uint32_t>(kWaitObject0 + i), 0};
      }
    }
    return std::nullopt;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (const auto signalled = take_signalled()) return answer(*signalled);
    if (timeout_ms == kInfinite) {
      state_->event_set.wait(lock);
    } else if (state_->event_set.wait_until(lock, deadline) == std::cv_status::timeout) {
      // An event set right at the deadline still counts.
      if (const auto signalled = take_signalled()) return answer(*signalled);
      return answer({kWaitTimeout, 0});
    }
  }
}

CallResult Windows::winhttp_get_ie_proxy_config_for_current_user(IeProxyConfig& config) {
  return state_->scripted(Op::WinHttpIeProxyConfig, state_->ie_config, config);
}

CallResult Windows::winhttp_get_default_proxy_configuration(ProxyInfo& info) {
  return state_->scripted(Op::WinHttpDefaultProxyConfig, state_->default_proxy, info);
}

bool Windows::winhttp_has_proxy_resolver() const noexcept {
  return state_->resolver_present.load(std::memory_order_relaxed);
}

NetResult Windows::winhttp_open(std::u16string_view agent, std::uint32_t access_type, std::uint32_t flags) {
  agent = wide_until_nul(agent);
  std::lock_guard lock(state_->mutex);
  std::string text = utf16_to_utf8(agent);
  if (const auto error = state_->take_fault(Op::WinHttpOpen, text, std::nullopt)) {
    state_->record(Op::WinHttpOpen, std::move(text), std::nullopt, *error, std::nullopt, true);
    return {NetHandle{}, *error};
  }
  const std::uintptr_t handle = state_->new_handle();
  state_->session_infos.push_back({std::u16string(agent), access_type, flags, std::nullopt, false, 0, true});
  State::Net net;
  net.session = true;
  net.info = state_->session_infos.size() - 1;
  state_->nets.emplace(handle, std::move(net));
  state_->record(Op::WinHttpOpen, std::move(text), std::nullopt, 0);
  return {NetHandle{handle}, 0};
}

CallResult Windows::winhttp_set_timeouts(NetHandle session, std::int32_t resolve, std::int32_t connect,
                                         std::int32_t send, std::int32_t receive) {
  std::lock_guard lock(state_->mutex);
  const auto answer = [&](CallResult result, bool injected = false) {
    state_->record(Op::WinHttpSetTimeouts, {}, std::nullopt, result.last_error, std::nullopt, injected);
    return result;
  };
  if (const auto error = state_->take_fault(Op::WinHttpSetTimeouts, {}, std::nullopt))
    return answer({false, *error}, true);
  const auto it = state_->nets.find(session.value);
  if (it == state_->nets.end()) return answer({false, kErrorInvalidHandle});
  if (!it->second.session) return answer({false, kErrorWinHttpIncorrectHandleType});
  for (std::int32_t t : {resolve, connect, send, receive}) {
    if (t < -1) return answer({false, kErrorInvalidParameter});
  }
  state_->session_infos[it->second.info].timeouts =
      std::array<std::int32_t, 4>{resolve, connect, send, receive};
  return answer({});
}

CallResult Windows::winhttp_set_status_callback(NetHandle session, StatusSink sink,
                                                std::uint32_t notifications) {
  std::lock_guard lock(state_->mutex);
  const auto answer = [&](CallResult result, bool injected = false) {
    state_->record(Op::WinHttpSetStatusCallback, {}, std::nullopt, result.last_error, std::nullopt, injected);
    return result;
  };
  if (const auto error = state_->take_fault(Op::WinHttpSetStatusCallback, {}, std::nullopt))
    return answer({false, *error}, true);
  const auto it = state_->nets.find(session.value);
  if (it == state_->nets.end()) return answer({false, kErrorInvalidHandle});
  it->second.sink = sink;
  it->second.notifications = notifications;
  if (it->second.session) {
    SessionInfo& info = state_->session_infos[it->second.info];
    info.callback = sink != nullptr;
    info.notifications = notifications;
  }
  return answer({});
}

std::uint32_t Windows::winhttp_create_proxy_resolver(NetHandle session, NetHandle& resolver) {
  resolver = {};
  std::lock_guard lock(state_->mutex);
  const auto answer = [&](std::uint32_t status, bool injected = false) {
    state_->record(Op::WinHttpCreateProxyResolver, {}, std::nullopt, status, std::nullopt, injected);
    return status;
  };
  if (const auto error = state_->take_fault(Op::WinHttpCreateProxyResolver, {}, std::nullopt))
    return answer(*error, true);
  const auto it = state_->nets.find(session.value);
  if (it == state_->nets.end() || !it->second.session) return answer(kErrorInvalidHandle);
  if ((state_->session_infos[it->second.info].flags & kWinHttpFlagAsync) == 0)
    return answer(kErrorWinHttpIncorrectHandleType);
  const std::uintptr_t handle = state_->new_handle();
  State::Net net;
  net.parent = session.value;
  state_->nets.emplace(handle, std::move(net));
  resolver = NetHandle{handle};
  return answer(kErrorSuccess);
}

std::uint32_t Windows::winhttp_get_proxy_for_url_ex(NetHandle resolver, std::u16string_view url,
                                                    const AutoProxyOptions& options, std::uintptr_t context) {
  url = wide_until_nul(url);
  std::lock_guard lock(state_->mutex);
  std::string text = utf16_to_utf8(url);
  const auto answer = [&](std::uint32_t status, bool injected = false) {
    state_->record(Op::WinHttpGetProxyForUrlEx, text, std::nullopt, status, std::nullopt, injected);
    return status;
  };
  if (const auto error = state_->take_fault(Op::WinHttpGetProxyForUrlEx, text, std::nullopt))
    return answer(*error, true);
  const auto it = state_->nets.find(resolver.value);
  if (it == state_->nets.end()) return answer(kErrorInvalidHandle);
  State::Net& net = it->second;
  if (net.session) return answer(kErrorWinHttpIncorrectHandleType);
  if (net.pending) return answer(kErrorWinHttpIncorrectHandleState);
  AutoProxyOptions seen = options;
  if (seen.auto_config_url) seen.auto_config_url = std::u16string(wide_until_nul(*seen.auto_config_url));
  state_->requests.push_back({std::u16string(url), std::move(seen), context});
  Resolution script;
  if (!state_->resolutions.empty()) {
    script = std::move(state_->resolutions.front());
    state_->resolutions.pop_front();
  }
  net.answer.reset();
  if (script.delivery == Resolution::Delivery::AtOnce) {
    if (script.status == kErrorSuccess) net.answer.emplace(script.result_status, script.result);
    return answer(script.status);
  }
  const auto session = state_->nets.find(net.parent);
  State::Owed o;
  o.resolver = resolver.value;
  o.context = context;
  if (session != state_->nets.end()) {
    o.sink = session->second.sink;
    o.notifications = session->second.notifications;
  }
  if (script.delivery == Resolution::Delivery::Callback)
    o.due = std::chrono::steady_clock::now() + script.delay;
  o.script = std::move(script);
  net.pending = true;
  state_->owed.emplace(++state_->last_owed, std::move(o));
  state_->schedule();
  return answer(kErrorIoPending);
}

std::uint32_t Windows::winhttp_get_proxy_result(NetHandle resolver, ProxyResult& result) {
  std::lock_guard lock(state_->mutex);
  const auto answer = [&](std::uint32_t status, bool injected = false) {
    state_->record(Op::WinHttpGetProxyResult, {}, std::nullopt, status, std::nullopt, injected);
    return status;
  };
  if (const auto error = state_->take_fault(Op::WinHttpGetProxyResult, {}, std::nullopt))
    return answer(*error, true);
  const auto it = state_->nets.find(resolver.value);
  if (it == state_->nets.end()) return answer(kErrorInvalidHandle);
  if (it->second.session) return answer(kErrorWinHttpIncorrectHandleType);
  if (!it->second.answer) return answer(kErrorWinHttpIncorrectHandleState);
  if (it->second.answer->first != kErrorSuccess) return answer(it->second.answer->first);
  result = it->second.answer->second;
  return answer(kErrorSuccess);
}

CallResult Windows::winhttp_close_handle(NetHandle handle) noexcept {
  std::lock_guard lock(state_->mutex);
  const std::optional<std::uint32_t> injected = state_->take_fault(Op::WinHttpCloseHandle, {}, std::nullopt);
  CallResult result;
  const auto it = state_->nets.find(handle.value);
  if (it == state_->nets.end()) {
    result = {false, kErrorInvalidHandle};
  } else {
    if (it->second.session) state_->session_infos[it->second.info].open = false;
    if (it->second.pending) {
      for (auto& [id, o] : state_->owed) {
        if (o.resolver != handle.value) continue;
        switch (o.script.on_close) {
          case Resolution::OnClose::Cancel:
            o.script.status = kErrorWinHttpOperationCancelled;
            o.script.no_error_info = false;
            o.script.extra_notifications.clear();
            o.due = std::chrono::steady_clock::now();
            break;
          case Resolution::OnClose::Keep:
            break;
          case Resolution::OnClose::Drop:
            o.due.reset();
            break;
        }
      }
      state_->schedule();
    }
    state_->nets.erase(it);
  }
  if (injected) result = {false, *injected};
  state_->record(Op::WinHttpCloseHandle, {}, std::nullopt, result.last_error, std::nullopt,
                 injected.has_value());
  return result;
}

std::expected<ThreadHandle, SpawnError> Windows::spawn_thread(std::string_view name, ThreadBody body) {
  std::uint64_t entry = 0;
  {
    // Logged before the thread starts, so that the spawn comes before whatever the thread does.
    std::lock_guard lock(state_->mutex);
    const std::optional<std::uint32_t> injected = state_->take_fault(Op::SpawnThread, name, std::nullopt);
    entry = state_->log_first + state_->log.size();
    state_->record(Op::SpawnThread, std::string(name), std::nullopt, injected.value_or(0), std::nullopt,
                   injected.has_value());
    if (injected) {
      return std::unexpected(SpawnError{"the simulated Windows refused to start the thread",
                                        static_cast<std::int32_t>(*injected)});
    }
  }
  auto started = sys::start_thread(name, std::move(body));
  if (!started) {
    std::lock_guard lock(state_->mutex);
    if (Call* call = state_->logged(entry)) call->status = static_cast<std::uint32_t>(started.error().code);
  }
  return started;
}

std::chrono::steady_clock::time_point Windows::monotonic_now() noexcept {
  return std::chrono::steady_clock::now();
}

// ---- the control side

void Control::create_key(Root root, std::string_view path) {
  auto& s = *windows_->state_;
  std::lock_guard lock(s.mutex);
  s.walk(s.root_node(root), utf8_to_utf16(path), true);
}

void Control::set_value(Root root, std::string_view path, std::string_view name, std::uint32_t type,
                        std::vector<std::uint8_t> data) {
  auto& s = *windows_->state_;
  std::lock_guard lock(s.mutex);
  std::shared_ptr<Node> node = s.walk(s.root_node(root), utf8_to_utf16(path), true);
  node->values[folded(utf8_to_utf16(name))] = Value{type, std::move(data)};
  s.changed(*node, kRegNotifyChangeLastSet);
}

void Control::set_dword(Root root, std::string_view path, std::string_view name, std::uint32_t value) {
  set_value(root, path, name, kRegDword,
            {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
             static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

void Control::set_string(Root root, std::string_view path, std::string_view name, std::u16string_view text,
                         std::uint32_t type) {
  std::vector<std::uint8_t> data;
  data.reserve(text.size() * 2 + 2);
  for (char16_t unit : text) {
    data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    data.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  data.push_back(0);
  data.push_back(0);
  set_value(root, path, name, type, std::move(data));
}

bool Control::delete_value(Root root, std::string_view path, std::string_view name) {
  auto& s = *windows_->state_;
  std::lock_guard lock(s.mutex);
  const std::shared_ptr<Node> node = s.walk(s.root_node(root), utf8_to_utf16(path), false);
  if (!node || node->values.erase(folded(utf8_to_utf16(name))) == 0) return false;
  s.changed(*node, kRegNotifyChangeLastSet);
  return true;
}

bool Control::delete_key(Root root, std::string_view path) {
  auto& s = *windows_->state_;
  std::lock_guard lock(s.mutex);
  std::vector<std::u16string> parts = components(utf8_to_utf16(path));
  if (parts.empty()) return false;  // a root cannot be deleted
  const std::u16string last = folded(parts.back());
  parts.pop_back();
  std::shared_ptr<Node> parent = s.root_node(root);
  for (const auto& part : parts) {
    const auto it = parent->subkeys.find(folded(part));
    if (it == parent->subkeys.end()) return false;
    parent = it->second;
  }
  const auto it = parent->subkeys.find(last);
  if (it == parent->subkeys.end()) return false;
  std::vector<const Node*> gone;
  collect(it->second, gone);
  s.deleted(gone);
  mark_deleted(*it->second);
  parent->subkeys.erase(it);
  s.changed(*parent, kRegNotifyChangeName);
  return true;
}

void Control::set_ie_config(IeProxyConfig config) {
  std::lock_guard lock(windows_->state_->mutex);
  windows_->state_->ie_config = {true, 0, std::move(config)};
  windows_->state_->touch_settings(Root::CurrentUser, u"DefaultConnectionSettings");
}

void Control::fail_ie_config(std::uint32_t last_error) {
  std::lock_guard lock(windows_->state_->mutex);
  windows_->state_->ie_config = {false, last_error, {}};
}

void Control::set_default_proxy(ProxyInfo info) {
  std::lock_guard lock(windows_->state_->mutex);
  windows_->state_->default_proxy = {true, 0, std::move(info)};
  windows_->state_->touch_settings(Root::LocalMachine, u"WinHttpSettings");
}

void Control::fail_default_proxy(std::uint32_t last_error) {
  std::lock_guard lock(windows_->state_->mutex);
  windows_->state_->default_proxy = {false, last_error, {}};
}

void Control::script_resolution(Resolution resolution) {
  std::lock_guard lock(windows_->state_->mutex);
  windows_->state_->resolutions.push_back(std::move(resolution));
}

std::size_t Control::scripted_resolutions() const {
  std::lock_guard lock(windows_->state_->mutex);
  return windows_->state_->resolutions.size();
}

std::vector<SessionInfo> Control::sessions() const {
  std::lock_guard lock(windows_->state_->mutex);
  return windows_->state_->session_infos;
}

std::vector<ResolutionRequest> Control::requests() const {
  std::lock_guard lock(windows_->state_->mutex);
  return windows_->state_->requests;
}

std::size_t Control::live_sessions() const {
  std::lock_guard lock(windows_->state_->mutex);
  return static_cast<std::size_t>(std::count_if(windows_->state_->nets.begin(), windows_->state_->nets.end(),
                                                [](const auto& n) { return n.second.session; }));
}

std::size_t Control::live_resolvers() const {
  std::lock_guard lock(windows_->state_->mutex);
  return static_cast<std::size_t>(std::count_if(windows_->state_->nets.begin(), windows_->state_->nets.end(),
                                                [](const auto& n) { return !n.second.session; }));
}

std::size_t Control::held_callbacks() const {
  std::lock_guard lock(windows_->state_->mutex);
  return windows_->state_->owed.size();
}

void Control::settle_callbacks() {
  auto& s = *windows_->state_;
  std::unique_lock lock(s.mutex);
  s.dispatched.wait(lock, [&] {
    return s.in_flight == 0 &&
           std::none_of(s.owed.begin(), s.owed.end(), [](const auto& o) { return o.second.due.has_value(); });
  });
}

void Control::deliver_held_callbacks(std::uint32_t error) {
  auto& s = *windows_->state_;
  std::unique_lock lock(s.mutex);
  for (auto& [id, o] : s.owed) {
    o.script.status = error;
    o.script.no_error_info = false;
    o.script.extra_notifications.clear();
    o.due = std::chrono::steady_clock::now();
  }
  s.schedule();
  s.dispatched.wait(lock, [&] {
    return s.in_flight == 0 &&
           std::none_of(s.owed.begin(), s.owed.end(), [](const auto& o) { return o.second.due.has_value(); });
  });
}

void Control::set_proxy_resolver_present(bool present) {
  windows_->state_->resolver_present.store(present, std::memory_order_relaxed);
}

void Control::fail_next(Fault fault) {
  std::lock_guard lock(windows_->state_->mutex);
  const std::uint32_t nth = std::max<std::uint32_t>(fault.nth, 1);
  windows_->state_->faults.push_back({std::move(fault), nth});
}

void Control::fail_next(Op op, std::string key, std::uint32_t status, std::uint32_t nth) {
  fail_next(Fault{op, std::move(key), std::nullopt, status, nth});
}

std::vector<Call> Control::log() const {
  std::lock_guard lock(windows_->state_->mutex);
  return {windows_->state_->log.begin(), windows_->state_->log.end()};
}

void Control::clear_log() {
  auto& s = *windows_->state_;
  std::lock_guard lock(s.mutex);
  s.log_first += s.log.size();
  s.log.clear();
  s.log_dropped = 0;
}

void Control::set_log_limit(std::size_t limit) {
  auto& s = *windows_->state_;
  std::lock_guard lock(s.mutex);
  s.log_limit = limit;
  while (s.log.size() > limit) {
    s.log.pop_front();
    ++s.log_first;
    ++s.log_dropped;
  }
}

std::uint64_t Control::log_dropped() const {
  std::lock_guard lock(windows_->state_->mutex);
  return windows_->state_->log_dropped;
}

std::size_t Control::live_notifications() const {
  std::lock_guard lock(windows_->state_->mutex);
  return windows_->state_->registrations.size();
}

std::size_t Control::live_keys() const {
  std::lock_guard lock(windows_->state_->mutex);
  return windows_->state_->keys.size();
}

std::size_t Control::live_handles() const {
  std::lock_guard lock(windows_->state_->mutex);
  return windows_->state_->events.size();
}

void Control::reset() {
  auto& s = *windows_->state_;
  std::lock_guard lock(s.mutex);
  for (auto* root : {&s.local_machine, &s.current_user}) {
    mark_deleted(**root);
    *root = std::make_shared<Node>();
  }
  for (auto& r : s.registrations) s.signal(*r.event);
  s.registrations.clear();
  s.ie_config = {true, 0, fresh_ie_config()};
  s.default_proxy = {true, 0, fresh_default_proxy()};
  s.faults.clear();
  s.resolutions.clear();
  s.resolver_present.store(true, std::memory_order_relaxed);
  s.log_first += s.log.size();
  s.log.clear();
  s.log_dropped = 0;
}

Windows& default_windows() {
  static Windows* const windows = new Windows;
  return *windows;
}

}  // namespace zelvane::sys::win::sim

namespace zelvane::sys::win {

Platform& default_platform() { return sim::default_windows(); }

}  // namespace zelvane::sys::win
