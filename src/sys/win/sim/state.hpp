// Inside the simulated Windows (its own files only; tests go through sim.hpp): the state of one
// simulated Windows, a part for each thing it simulates, under one lock.
#pragma once

#include <mutex>

#include "sys/win/sim/kernel.hpp"
#include "sys/win/sim/ledger.hpp"
#include "sys/win/sim/registry.hpp"
#include "sys/win/sim/sim.hpp"
#include "sys/win/sim/winhttp.hpp"

namespace zelvane::sys::win::sim {

struct Windows::State {
  // One lock for the whole system, as the parts reach into each other under it: a registry change
  // sets kernel events, keys, events and WinHTTP handles share one counter, and a call's fault,
  // work and log entry are one step. Every platform call and control function holds it
  // throughout, letting go only to sleep on a condition (a wait, the settling of callbacks, the
  // dispatcher's wait for the next one) and, in the dispatcher, to call a sink.
  mutable std::mutex mutex;
  // What it guards:
  Kernel kernel;
  Registry registry{kernel};
  Settings settings;
  Resolver resolver{kernel, mutex};
  Ledger ledger;
};

inline Windows::State& Control::state() const { return *windows_->state_; }

template <class F>
auto Control::locked(F f) const {
  Windows::State& s = state();
  std::lock_guard lock(s.mutex);
  return f(s);
}

}  // namespace zelvane::sys::win::sim
