#include "sys/win/sim/sim.hpp"

#include <mutex>

#include "sys/win/sim/state.hpp"

namespace zelvane::sys::win::sim {

Windows::Windows() : state_(std::make_unique<State>()) {}

Windows::~Windows() {
  // The callbacks still scheduled are made before the simulation goes; held ones stay held.
  std::unique_lock lock(state_->mutex);
  state_->resolver.stop();
  lock.unlock();
  state_->resolver.join();
}

Control Windows::control() { return Control(*this); }

void Control::reset() {
  locked([](auto& s) {
    s.registry.reset();
    s.settings = Settings{.stored = s.settings.stored};  // the first answers; the count goes on
    s.resolver.forget_scripts();
    s.resolver.set_present(true);
    s.ledger.reset();
  });
}

Windows& default_windows() {
  static Windows* const windows = new Windows;
  return *windows;
}

}  // namespace zelvane::sys::win::sim

namespace zelvane::sys::win {

Platform& default_platform() { return sim::default_windows(); }

}  // namespace zelvane::sys::win
