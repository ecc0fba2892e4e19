// watch() and Watcher: following the system's configuration over time, with the caller's
// on_change called from a thread of the watcher's own.
#pragma once

#include "py.hpp"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace zelvane::python {

// Holds on_change; emptied by close() and the garbage collector's clear, never refilled. The
// reference is released only with the interpreter attached, never under the mutex.
//
// The cell never releases on_change from its destructor: the last owner may be the watch
// thread, detached, or ended where it attached at the interpreter's exit (unwinding on Linux,
// without running any destructor on Windows; py_entry.hpp). Each
// owner (the Watcher, the thread) lets go through let_go() while attached instead; the last
// one empties the cell. An owner that cannot attach any more leaves the reference behind.
struct CallbackCell {
  std::mutex mutex;
  PyObject* on_change = nullptr;  // strong
  std::atomic<int> owners{1};

  explicit CallbackCell(PyObject* callable) : on_change(Py_NewRef(callable)) {}
  CallbackCell(const CallbackCell&) = delete;
  CallbackCell& operator=(const CallbackCell&) = delete;

  // A new reference to on_change, or null once emptied.
  PyObject* get();
  // Empties the cell; the caller is attached.
  void clear();
  // One owner is done; the caller is attached.
  void let_go() {
    if (owners.fetch_sub(1, std::memory_order_acq_rel) == 1) clear();
  }
};

PyTypeObject* watcher_type();

// The quiet time after a change before a watch re-reads: 0.2 s. Only the simulated Windows'
// control module sets another, so that a benchmark can time a watch without that wait; a
// watch keeps the delay it opened with.
void set_watch_settle_delay(std::uint64_t nanoseconds);

extern PyMethodDef watch_def;

}  // namespace zelvane::python
