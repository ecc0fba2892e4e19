#include "parse/candidates.hpp"

#include <chrono>
#include <cstdint>
#include <exception>
#include <random>

namespace zelvane::parse {

using namespace model;
using namespace value;

namespace {

// Keys of the duplicate test: drawn from the system once per thread, then stepped for each
// list (cheap, never fails, and no two lists share a key).
std::size_t next_hash_key() {
  thread_local std::size_t key = [] {
    std::size_t seed = reinterpret_cast<std::uintptr_t>(&seed);
    try {
      std::random_device device;
      seed ^= (static_cast<std::size_t>(device()) << 32) | device();
    } catch (const std::exception&) {
      // No entropy source: the address and the clock still differ between processes.
      seed ^= static_cast<std::size_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    return seed;
  }();
  return key += 0x9e3779b97f4a7c15ull;
}

}  // namespace

std::size_t CandidateList::KeyedHash::operator()(const RouteStep& s) const {
  std::size_t h = s.hash() ^ key;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return h;
}

CandidateList::CandidateList() : seen_(0, KeyedHash{next_hash_key()}) {}

void CandidateList::push(RouteStep step) {
  if (steps_.size() >= kLimit) return;
  if (!seen_.insert(step).second) return;
  steps_.push_back(std::move(step));
}

std::optional<std::vector<RouteStep>> CandidateList::finish() && {
  if (steps_.empty()) return std::nullopt;
  return std::move(steps_);
}

}  // namespace zelvane::parse
