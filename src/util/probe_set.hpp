// A set of small handles (positions plus one, pointers) that stand for values held elsewhere,
// for sets of millions of entries: open addressing, one handle a slot and at most half of them
// full, where a node set costs some forty bytes an entry. The zero handle marks a free slot.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace zelvane::util {

template <class Handle, class Hash, class Equal>
class ProbeSet {
 public:
  ProbeSet(Hash hash, Equal equal) : hash_(std::move(hash)), equal_(std::move(equal)) {}

  // Whether no handle equal to `h` was in; `h` is in from then on.
  bool insert(Handle h) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    Handle* slot = find(slots_, h);
    if (*slot != Handle{}) return false;
    *slot = h;
    ++count_;
    return true;
  }

  void clear() {
    slots_.clear();
    count_ = 0;
  }

 private:
  // The slot that holds a handle equal to `h`, else the free slot where `h` belongs.
  Handle* find(std::vector<Handle>& slots, Handle h) const {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = hash_(h) & mask;; i = (i + 1) & mask) {
      if (slots[i] == Handle{} || equal_(slots[i], h)) return &slots[i];
    }
  }

  void grow() {
    std::vector<Handle> next(std::max<std::size_t>(16, slots_.size() * 2), Handle{});
    for (Handle h : slots_) {
      if (h != Handle{}) *find(next, h) = h;
    }
    slots_.swap(next);
  }

  Hash hash_;
  Equal equal_;
  std::vector<Handle> slots_;  // a power of two in size, or empty
  std::size_t count_ = 0;
};

}  // namespace zelvane::util
