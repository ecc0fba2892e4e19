#include "layer_cache.hpp"

#include <cstddef>
#include <utility>

namespace zelvane::python {
namespace {

// Variables larger than this are never kept for a later reading.
constexpr std::size_t kKeptTextLimit = 4096;

// Only the time of the reading differs from one reading of the same variables to the next.
// Each thread keeps its own, so no reading waits on another or on a lock that a fork() could
// leave held.
struct KeptLayer {
  std::shared_ptr<const env::EnvVars> vars;
  std::shared_ptr<env::EnvLayer> layer;
};
thread_local KeptLayer kept;

}  // namespace

bool small_enough_to_keep(const env::EnvVars& vars) {
  std::size_t size = 0;
  for (const auto& [name, value] : vars) size += name.size() + value.size();
  return size <= kKeptTextLimit;
}

std::shared_ptr<env::EnvLayer> kept_layer(const env::EnvVars& vars) {
  if (kept.layer && (kept.vars.get() == &vars || *kept.vars == vars)) return kept.layer;
  return nullptr;
}

void keep_layer(std::shared_ptr<const env::EnvVars> vars, const std::shared_ptr<env::EnvLayer>& layer) {
  if (!small_enough_to_keep(*vars)) return;
  kept = KeptLayer{std::move(vars), layer};
}

}  // namespace zelvane::python
