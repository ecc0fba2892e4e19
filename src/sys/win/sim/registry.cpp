#include "sys/win/sim/registry.hpp"

#include <algorithm>
#include <utility>

#include "sys/win/registry.hpp"
#include "sys/win/sim/state.hpp"
#include "sys/win/win32util.hpp"

namespace zelvane::sys::win::sim {

namespace {

char16_t fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

std::u16string folded(std::u16string_view text) {
  std::u16string out(text);
  std::transform(out.begin(), out.end(), out.begin(), fold);
  return out;
}

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

// The filter bits a registration may name.
constexpr std::uint32_t kNotifyChanges =
    kRegNotifyChangeName | kRegNotifyChangeAttributes | kRegNotifyChangeLastSet | kRegNotifyChangeSecurity;

}  // namespace

std::vector<std::uint8_t> dword_bytes(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

template <class Pick>
void Registry::fire(Pick fires) {
  std::erase_if(registrations_, [&](const Registration& r) {
    if (!fires(r)) return false;
    kernel().signal(*r.event);
    return true;
  });
}

std::shared_ptr<Node> Registry::walk(std::shared_ptr<Node> node, std::u16string_view path, bool create) {
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

void Registry::changed(const Node& node, std::uint32_t change) {
  fire([&](const Registration& r) {
    const bool sees = r.node.get() == &node || (r.subtree && is_below(*r.node, node));
    return sees && (r.filter & change) != 0;
  });
}

// ---- what the platform calls do

std::optional<OpenKey> Registry::key(KeyHandle handle) const {
  if (handle == kHkeyLocalMachine || handle == kHkeyCurrentUser) {
    return OpenKey{handle == kHkeyLocalMachine ? local_machine_ : current_user_, ~std::uint32_t{0},
                   std::string(root_text(handle))};
  }
  const auto it = keys_.find(handle.value);
  if (it == keys_.end()) return std::nullopt;
  return it->second;
}

std::uint32_t Registry::open(const std::optional<OpenKey>& base, std::u16string_view path,
                             std::uint32_t access, std::string text, KeyHandle& opened) {
  if (!base) return kErrorInvalidHandle;
  if (base->node->deleted) return kErrorKeyDeleted;
  if (!path.empty() && path.front() == u'\\') return kErrorBadPathname;
  std::shared_ptr<Node> node = walk(base->node, path, false);
  if (!node) return kErrorFileNotFound;
  const std::uintptr_t handle = kernel().new_handle();
  keys_.emplace(handle, OpenKey{std::move(node), access, std::move(text)});
  opened = KeyHandle{handle};
  return kErrorSuccess;
}

std::uint32_t Registry::query(const std::optional<OpenKey>& key, std::u16string_view name,
                              std::uint32_t& type, std::byte* data, std::uint32_t& size) const {
  if (!key) return kErrorInvalidHandle;
  if (key->node->deleted) return kErrorKeyDeleted;
  if ((key->access & kKeyQueryValue) == 0) return kErrorAccessDenied;
  const auto it = key->node->values.find(folded(name));
  if (it == key->node->values.end()) return kErrorFileNotFound;
  const Value& value = it->second;
  const auto needed = static_cast<std::uint32_t>(value.data.size());
  type = value.type;
  if (data == nullptr) {
    size = needed;
    return kErrorSuccess;
  }
  if (size < needed) {
    size = needed;
    return kErrorMoreData;
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
  return kErrorSuccess;
}

std::uint32_t Registry::close(KeyHandle handle) {
  const auto it = keys_.find(handle.value);
  if (it == keys_.end()) {
    const bool predefined = handle == kHkeyLocalMachine || handle == kHkeyCurrentUser;
    return predefined ? kErrorSuccess : kErrorInvalidHandle;
  }
  // As on Windows, closing a watched key sets the events of its registrations.
  fire([&](const Registration& r) { return r.key == handle.value; });
  keys_.erase(it);
  return kErrorSuccess;
}

std::uint32_t Registry::notify(const std::optional<OpenKey>& key, KeyHandle handle, bool watch_subtree,
                               std::uint32_t filter, Handle event, bool asynchronous) {
  if (!key) return kErrorInvalidHandle;
  if (key->node->deleted) return kErrorKeyDeleted;
  if ((key->access & kKeyNotify) == 0) return kErrorAccessDenied;
  if ((filter & kNotifyChanges) == 0 || (filter & ~(kNotifyChanges | kRegNotifyThreadAgnostic)) != 0 ||
      !asynchronous || !event)
    return kErrorInvalidParameter;
  std::shared_ptr<Event> target = kernel().event(event);
  if (!target) return kErrorInvalidHandle;
  registrations_.push_back({handle.value, key->node, watch_subtree, filter, std::move(target)});
  return kErrorSuccess;
}

// ---- what the control side does

void Registry::create_key(Root root, std::u16string_view path) { walk(root_node(root), path, true); }

void Registry::set_value(Root root, std::u16string_view path, std::u16string_view name, Value value) {
  std::shared_ptr<Node> node = walk(root_node(root), path, true);
  node->values[folded(name)] = std::move(value);
  changed(*node, kRegNotifyChangeLastSet);
}

bool Registry::delete_value(Root root, std::u16string_view path, std::u16string_view name) {
  const std::shared_ptr<Node> node = walk(root_node(root), path, false);
  if (!node || node->values.erase(folded(name)) == 0) return false;
  changed(*node, kRegNotifyChangeLastSet);
  return true;
}

bool Registry::delete_key(Root root, std::u16string_view path) {
  std::vector<std::u16string> parts = components(path);
  if (parts.empty()) return false;  // a root cannot be deleted
  const std::u16string last = folded(parts.back());
  parts.pop_back();
  std::shared_ptr<Node> parent = root_node(root);
  for (const auto& part : parts) {
    const auto it = parent->subkeys.find(folded(part));
    if (it == parent->subkeys.end()) return false;
    parent = it->second;
  }
  const auto it = parent->subkeys.find(last);
  if (it == parent->subkeys.end()) return false;
  // Registrations on the keys deleted fire whatever they watch.
  std::vector<const Node*> gone;
  collect(it->second, gone);
  fire(
      [&](const Registration& r) { return std::find(gone.begin(), gone.end(), r.node.get()) != gone.end(); });
  mark_deleted(*it->second);
  parent->subkeys.erase(it);
  changed(*parent, kRegNotifyChangeName);
  return true;
}

void Registry::reset() {
  for (auto* root : {&local_machine_, &current_user_}) {
    mark_deleted(**root);
    *root = std::make_shared<Node>();
  }
  fire([](const Registration&) { return true; });
}

// ---- the platform calls

std::uint32_t Windows::reg_open_key(KeyHandle root, std::u16string_view path, std::uint32_t access,
                                    KeyHandle& key) {
  key = {};
  path = wide_until_nul(path);
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  const std::optional<OpenKey> base = s.registry.key(root);
  std::string text = base ? base->text : "HKEY";
  if (!path.empty()) text += "\\" + utf16_to_utf8(path);
  return s.ledger.answer({.op = Op::RegOpenKey, .key = text},
                         [&] { return s.registry.open(base, path, access, text, key); });
}

std::uint32_t Windows::reg_query_value(KeyHandle key, std::u16string_view name, std::uint32_t& type,
                                       std::byte* data, std::uint32_t& size) {
  name = wide_until_nul(name);
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  const std::optional<OpenKey> open = s.registry.key(key);
  Call call{.op = Op::RegQueryValue,
            .key = open ? open->text : std::string(),
            .value = utf16_to_utf8(name),
            .buffer = data != nullptr ? std::optional(size) : std::nullopt};
  return s.ledger.answer(std::move(call), [&] { return s.registry.query(open, name, type, data, size); });
}

std::uint32_t Windows::reg_close_key(KeyHandle key) noexcept {
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  const std::optional<OpenKey> open = s.registry.key(key);
  return s.ledger.answer(
      {.op = Op::RegCloseKey, .key = open ? open->text : std::string()},
      [&] { return s.registry.close(key); }, OnFault::Close);
}

std::uint32_t Windows::reg_notify_change_key_value(KeyHandle key, bool watch_subtree, std::uint32_t filter,
                                                   Handle event, bool asynchronous) {
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  const std::optional<OpenKey> open = s.registry.key(key);
  return s.ledger.answer({.op = Op::RegNotifyChangeKeyValue, .key = open ? open->text : std::string()}, [&] {
    return s.registry.notify(open, key, watch_subtree, filter, event, asynchronous);
  });
}

// ---- the control side

void Control::create_key(Root root, std::string_view path) {
  locked([&](auto& s) { s.registry.create_key(root, utf8_to_utf16(path)); });
}

void Control::set_value(Root root, std::string_view path, std::string_view name, std::uint32_t type,
                        std::vector<std::uint8_t> data) {
  locked([&](auto& s) {
    s.registry.set_value(root, utf8_to_utf16(path), utf8_to_utf16(name), Value{type, std::move(data)});
  });
}

void Control::set_dword(Root root, std::string_view path, std::string_view name, std::uint32_t value) {
  set_value(root, path, name, kRegDword, dword_bytes(value));
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
  return locked(
      [&](auto& s) { return s.registry.delete_value(root, utf8_to_utf16(path), utf8_to_utf16(name)); });
}

bool Control::delete_key(Root root, std::string_view path) {
  return locked([&](auto& s) { return s.registry.delete_key(root, utf8_to_utf16(path)); });
}

std::size_t Control::live_keys() const {
  return locked([](auto& s) { return s.registry.live_keys(); });
}

std::size_t Control::live_notifications() const {
  return locked([](auto& s) { return s.registry.live_notifications(); });
}

}  // namespace zelvane::sys::win::sim
