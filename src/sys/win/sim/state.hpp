// Inside the simulated Windows (its own files only; tests go through sim.hpp): the state of one
// simulated Windows, a part for each thing it simulates, under one lock.
#pragma once

#include <atomic>

#include "sys/win/sim/kernel.hpp"
#include "sys/win/sim/ledger.hpp"
#include "sys/win/sim/registry.hpp"
#include "sys/win/sim/sim.hpp"
#include "sys/win/sim/winhttp.hpp"
#include "util/locks.hpp"

namespace zelvane::sys::win::sim {

// The parts, which reach into each other: a registry change sets kernel events, keys, events and
// WinHTTP handles share one counter, and a call's fault, work and log entry are one step.
class Parts {
 public:
  // The kernel and the resolver hold the lock of the system by reference and guard their fields
  // by it; the resolver's dispatcher takes it on its own thread.
  explicit Parts(util::Mutex& mutex) : kernel_(mutex), resolver_(kernel_, mutex) {}

  // Holding the parts is holding the lock: State::parts() gives them to a caller that holds it.
  // The kernel and the resolver know the lock by references of their own, which the analysis
  // cannot tell are the State's mutex, so reaching either through here says that its lock is held.
  Kernel& kernel() ASSERT_CAPABILITY(kernel().mutex()) { return kernel_; }
  Resolver& resolver() ASSERT_CAPABILITY(resolver().mutex()) { return resolver_; }

 private:
  Kernel kernel_;
  Resolver resolver_;

 public:
  Registry registry{kernel_};
  Settings settings;
  Ledger ledger;
};

struct Windows::State {
  // One lock for the whole system. Every platform call and control function holds it
  // throughout, letting go only to sleep on a condition (a wait, the settling of callbacks, the
  // dispatcher's wait for the next one) and, in the dispatcher, to call a sink.
  util::Mutex mutex;
  // The parts, for a caller that holds the lock. They are reached through here alone, so that
  // the analysis sees every reach made under the lock, the bodies run inside a call included.
  Parts& parts() REQUIRES(mutex) { return parts_; }
  // Whether WinHTTP has its proxy resolver; read and set without the lock.
  std::atomic<bool> resolver_present{true};

 private:
  Parts parts_ GUARDED_BY(mutex){mutex};
};

inline Windows::State& Control::state() const { return *windows_->state_; }

template <class F>
auto Control::locked(F f) const {
  Windows::State& s = state();
  util::MutexLock lock(s.mutex);
  return f(s.parts());
}

}  // namespace zelvane::sys::win::sim
