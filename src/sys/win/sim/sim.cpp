#include "sys/win/sim/sim.hpp"

#include <thread>

#include "sys/win/sim/state.hpp"

namespace zelvane::sys::win::sim {

Windows::Windows() : state_(std::make_unique<State>()) {}

Windows::~Windows() {
  // The callbacks still scheduled are made before the simulation goes; held ones stay held.
  std::thread dispatcher;
  {
    util::MutexLock lock(state_->mutex);
    dispatcher = state_->parts().resolver().stop();
  }
  if (dispatcher.joinable()) dispatcher.join();
}

Control Windows::control() { return Control(*this); }

void Control::reset() {
  locked([this](auto& s) {
    s.registry.reset();
    s.settings = Settings{.stored = s.settings.stored};  // the first answers; the count goes on
    s.resolver().forget_scripts();
    state().resolver_present.store(true, std::memory_order_relaxed);
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
