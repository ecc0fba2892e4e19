// Inside the simulated Windows (its own files only; tests go through sim.hpp): the registry, the
// keys open on it and its change notifications.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sys/win/platform.hpp"
#include "sys/win/sim/kernel.hpp"
#include "sys/win/sim/sim.hpp"
#include "util/locks.hpp"

namespace zelvane::sys::win::sim {

struct Value {
  std::uint32_t type = kRegNone;
  std::vector<std::uint8_t> data;
};

// A key. The registry compares names regardless of case; the simulation keeps them with their
// ASCII letters folded.
struct Node {
  std::map<std::u16string, std::shared_ptr<Node>> subkeys;  // by folded name
  std::map<std::u16string, Value> values;                   // by folded name
  std::weak_ptr<Node> parent;                               // none for a root
  bool deleted = false;
};

// What a key handle stands for: its key, the access it was opened with, and its text in the log.
struct OpenKey {
  std::shared_ptr<Node> node;
  std::uint32_t access = 0;
  std::string text;
};

// The data of a REG_DWORD: the value, little-endian.
std::vector<std::uint8_t> dword_bytes(std::uint32_t value);

class Registry {
 public:
  // Notifications set events of `kernel`, and open keys take its handles.
  explicit Registry(Kernel& kernel) : kernel_(kernel) {}

  // ---- the platform calls; `key` is what key(handle) gave for their handle
  // A predefined root or an open key; none for any other handle.
  std::optional<OpenKey> key(KeyHandle handle) const;
  // `text` is the log's text of the key opened.
  std::uint32_t open(const std::optional<OpenKey>& base, std::u16string_view path, std::uint32_t access,
                     std::string text, KeyHandle& opened);
  std::uint32_t query(const std::optional<OpenKey>& key, std::u16string_view name, std::uint32_t& type,
                      std::byte* data, std::uint32_t& size) const;
  std::uint32_t close(KeyHandle handle);
  std::uint32_t notify(const std::optional<OpenKey>& key, KeyHandle handle, bool watch_subtree,
                       std::uint32_t filter, Handle event, bool asynchronous);

  // ---- the control side: paths below a root; keys on the way are created as needed
  void create_key(Root root, std::u16string_view path);
  void set_value(Root root, std::u16string_view path, std::u16string_view name, Value value);
  bool delete_value(Root root, std::u16string_view path, std::u16string_view name);
  bool delete_key(Root root, std::u16string_view path);
  // An empty registry: keys still open lose their key, and every registration fires.
  void reset();
  std::size_t live_keys() const { return keys_.size(); }
  std::size_t live_notifications() const { return registrations_.size(); }

 private:
  // One asynchronous RegNotifyChangeKeyValue waiting for its change.
  struct Registration {
    std::uintptr_t key;
    std::shared_ptr<Node> node;
    bool subtree;
    std::uint32_t filter;
    std::shared_ptr<Event> event;  // the kernel object lives while a registration refers to it
  };

  std::shared_ptr<Node>& root_node(Root root) {
    return root == Root::LocalMachine ? local_machine_ : current_user_;
  }
  // Walks a path from a node, creating keys on the way when asked (each a change of its parent).
  std::shared_ptr<Node> walk(std::shared_ptr<Node> node, std::u16string_view path, bool create);
  // A change of `change` kind at `node`: every registration that sees it fires, once.
  void changed(const Node& node, std::uint32_t change);
  // Sets the event of each registration `fires` picks, and drops the registration.
  template <class Pick>
  void fire(Pick fires);

  // The kernel, which knows the lock by a reference of its own. The registry has no name of its
  // own for the lock, which every caller of its members holds: it is reached only through the
  // parts.
  Kernel& kernel() const ASSERT_CAPABILITY(kernel().mutex()) { return kernel_; }

  Kernel& kernel_;
  std::shared_ptr<Node> local_machine_ = std::make_shared<Node>();
  std::shared_ptr<Node> current_user_ = std::make_shared<Node>();
  std::map<std::uintptr_t, OpenKey> keys_;  // by handle
  std::vector<Registration> registrations_;
};

}  // namespace zelvane::sys::win::sim
