#include "watcher.hpp"

#include <cmath>
#include <string>
#include <utility>
#include <variant>

#include "detached.hpp"
#include "env_dict.hpp"
#include "finalizing.hpp"
#include "py_args.hpp"
#include "py_entry.hpp"
#include "py_type.hpp"
#include "read.hpp"
#include "snapshot.hpp"
#include "sys/watch.hpp"
#include "threads/thread.hpp"
#include "watch/handle.hpp"

namespace zelvane::python {

using namespace model;
using namespace value;

namespace {

using watch::WatchHandle;

struct WatcherValue {
  std::shared_ptr<WatchHandle> handle;
  bool os_readable = false;
  std::shared_ptr<const ReadOptions> options;
  std::shared_ptr<CallbackCell> callback;
  std::uint32_t creator_pid = 0;
};

using WatcherClass = HeapType<WatcherValue>;

constexpr const char* kClosed = "the watcher is closed";
constexpr const char* kStopped = "the watch has stopped; open a new one";
constexpr const char* kForked = "the watcher belongs to the parent process";

constexpr std::string_view kThreadName = "zelvane-python";

std::atomic<std::uint64_t> settle_delay_ns{200'000'000};

// What the watch thread hands to on_change: a configuration as read, or an error.
using Delivery = std::variant<ProxyConfig, BindingError>;

struct DeliveryClosure {
  std::shared_ptr<const ReadOptions> options;
  std::shared_ptr<CallbackCell> callback;
};

// With the thread attached and a reference to on_change held. Every failure here is reported
// through the unraisable hook; nothing is raised.
void call_on_change(PyObject* on_change, const ReadOptions& options, Delivery delivery) {
  PyRef err;
  PyRef snapshot;
  if (auto* error = std::get_if<BindingError>(&delivery)) {
    to_py_err(*error);
    err = PyRef(PyErr_GetRaisedException());
    if (!err) {
      PyErr_WriteUnraisable(on_change);
      return;
    }
  } else {
    snapshot =
        PyRef(new_snapshot(apply_env_layer(options, std::move(std::get<ProxyConfig>(delivery))), true));
    if (!snapshot) {
      PyErr_WriteUnraisable(on_change);
      return;
    }
  }
  PyRef result(PyObject_CallFunctionObjArgs(on_change, err ? err.get() : Py_None,
                                            snapshot ? snapshot.get() : Py_None, nullptr));
  if (!result) PyErr_WriteUnraisable(on_change);
}

// Calls on_change with one delivery; false once the thread should stop (the interpreter is
// finalising, or on_change was released).
bool deliver_change(const DeliveryClosure& closure, Delivery delivery) {
  if (finalizing()) return false;
  PyGILState_STATE attached = PyGILState_Ensure();
  bool go_on = true;
  PyObject* on_change = closure.callback->get();
  if (on_change == nullptr) {
    go_on = false;
  } else {
    try {
      call_on_change(on_change, *closure.options, std::move(delivery));
    } catch (const std::exception& failure) {
      raise_fault(failure);
      if (PyErr_Occurred()) PyErr_WriteUnraisable(on_change);
    }
    Py_DECREF(on_change);
  }
  PyGILState_Release(attached);
  return go_on;
}

// The thread's loop; returns whether it still has to stop the watch.
bool watch_loop(WatchHandle& handle, ProxyConfig& previous, const DeliveryClosure& closure) {
  handle.record_consumer_thread();
  watch::WakeHandle waker = handle.parker().wake_handle();
  const auto end_step = [&] {
    if (!handle.is_closed()) deliver_change(closure, BindingError{kStopped, kErrZelvane});
  };
  for (;;) {
    if (handle.is_closed()) return true;
    std::optional<watch::WatchPoll> polled = handle.poll(waker);
    // Taken already by close() or destruction, which stopped it.
    if (!polled) return false;
    const watch::WatchPoll& answer = *polled;
    if (answer.is<watch::WatchPoll::Pending>()) {
      handle.parker().park();
      continue;
    }
    if (answer.is<watch::WatchPoll::Closed>()) return true;
    if (const auto* error = answer.get_if<watch::WatchPoll::Error>()) {
      if (!deliver_change(closure, error_parts(error->error))) return true;
      continue;
    }
    const auto& changed = *answer.get_if<watch::WatchPoll::Changed>();
    bool ended = changed.snapshot.diagnostics.ended;
    if (!(changed.snapshot.config == previous)) {
      previous = changed.snapshot.config;
      if (!deliver_change(closure, previous)) return true;
    }
    if (ended) {
      end_step();
      return true;
    }
  }
}

// The body of "zelvane-python". It lets go of on_change only attached, and not at all once the
// interpreter is finalising (the reference is then left behind). A delivery that attaches after
// finalisation has begun ends the thread there (py_entry.hpp): on Linux by a forced unwind,
// which must pass through to the thread's start, so this is not noexcept; on Windows at once,
// without unwinding. Either way the watch is not stopped below, and no lock is held across the
// attach: the poll has returned, and its mutexes with it, before any delivery.
void watch_thread_main(ProxyConfig previous, std::shared_ptr<WatchHandle> handle, DeliveryClosure closure) {
  bool stop = true;
  try {
    stop = watch_loop(*handle, previous, closure);
  } catch (const std::exception&) {
    // Nothing waits for this thread's result; the watch is stopped below all the same.
  }
  if (stop) handle->stop_watch();
  handle.reset();
  if (finalizing()) return;
  PyGILState_STATE attached = PyGILState_Ensure();
  closure.callback->let_go();
  PyGILState_Release(attached);
}

struct Started {
  std::shared_ptr<WatchHandle> handle;
  bool os_readable = false;
};

// Opens the system watch. A system without one (Unsupported) gives a handle with no watch and
// no thread; on_change is then never called.
std::expected<Started, BindingError> spawn_watch(std::optional<value::Duration> poll_interval,
                                                 const DeliveryClosure& closure) {
  watch::WatchOptions options;
  options.settle_delay = value::Duration::from_nanos(settle_delay_ns.load(std::memory_order_relaxed));
  options.poll_interval = poll_interval;
  options.group_policy = true;
  auto stream = sys::open_system_watch(options);
  if (!stream) {
    if (stream.error().get_if<Error::Unsupported>()) {
      return Started{std::make_shared<WatchHandle>(std::nullopt), false};
    }
    return std::unexpected(error_parts(stream.error()));
  }
  // The configuration current at the start is never delivered; taking the baseline (rather
  // than polling once and throwing the answer away) keeps every change owed after it.
  ProxyConfig baseline = stream->take_baseline();
  auto handle = std::make_shared<WatchHandle>(std::move(*stream));
  closure.callback->owners.fetch_add(1, std::memory_order_acq_rel);
  auto thread =
      threads::start_thread(kThreadName, [baseline = std::move(baseline), handle, closure]() mutable {
        watch_thread_main(std::move(baseline), std::move(handle), std::move(closure));
      });
  if (!thread) {
    // The body was never run: the thread's share is given back here (watch() still owns one,
    // so nothing Python is released detached); dropping the handle stops the watch.
    closure.callback->owners.fetch_sub(1, std::memory_order_acq_rel);
    return std::unexpected(BindingError{thread.error().text, kErrZelvane});
  }
  handle->set_thread(std::move(*thread));
  return Started{std::move(handle), true};
}

// ---- the Python class

PyObject* watcher_current(PyObject* self, PyObject*) {
  return guarded([&]() -> std::expected<PyObject*, BindingError> {
    const WatcherValue& w = WatcherClass::of(self);
    if (threads::process_id() != w.creator_pid) return std::unexpected(BindingError{kForked, kErrForked});
    auto config = w.handle->current();
    if (!config) {
      if (config.error() == WatchHandle::Gone::Closed)
        return std::unexpected(BindingError{kClosed, kErrWatcherClosed});
      return std::unexpected(BindingError{kStopped, kErrZelvane});
    }
    return new_snapshot(apply_env_layer(*w.options, std::move(*config)), w.os_readable);
  });
}

// close() and __exit__: never raises.
void stop(WatcherValue& w) {
  if (threads::process_id() == w.creator_pid) {
    std::shared_ptr<WatchHandle> handle = w.handle;
    run_detached([&] { handle->stop_and_join(); });
  }
  w.callback->clear();
}

PyObject* watcher_close(PyObject* self, PyObject*) {
  stop(WatcherClass::of(self));
  Py_RETURN_NONE;
}

PyObject* watcher_enter(PyObject* self, PyObject*) { return Py_NewRef(self); }

PyObject* watcher_exit(PyObject* self, PyObject*) {
  stop(WatcherClass::of(self));
  Py_RETURN_NONE;
}

PyObject* watcher_repr(PyObject* self) {
  const WatcherValue& w = WatcherClass::of(self);
  const char* state = threads::process_id() != w.creator_pid ? "forked"
                      : w.handle->is_closed()                ? "closed"
                                                             : "open";
  return PyUnicode_FromFormat("<Watcher %s>", state);
}

int watcher_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  CallbackCell& cell = *WatcherClass::of(self).callback;
  // A cell held elsewhere (a delivery taking its reference) is skipped rather than waited on:
  // the collector must not block on a thread that may need the collector's own lock.
  if (!cell.mutex.try_lock()) return 0;
  PyObject* on_change = cell.on_change;
  cell.mutex.unlock();
  Py_VISIT(on_change);
  return 0;
}

int watcher_clear(PyObject* self) {
  WatcherClass::of(self).callback->clear();
  return 0;
}

void watcher_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  WatcherValue& w = WatcherClass::of(self);
  // In a child of fork the thread and the watch are the parent's: only references go.
  if (threads::process_id() == w.creator_pid) w.handle->signal_stop();
  w.callback->let_go();
  WatcherClass::dealloc(self);
}

PyMethodDef watcher_methods[] = {
    {"current", watcher_current, METH_NOARGS,
     "current($self)\n--\n\nThe latest configuration, layered with the environment captured at the "
     "start. In a\nchild of `fork` it raises with `code` `ERR_FORKED`."},
    {"close", watcher_close, METH_NOARGS,
     "close($self)\n--\n\nStop watching and wait for the watch thread. Safe to call more than once, "
     "and from\n`on_change`."},
    {"__enter__", watcher_enter, METH_NOARGS, nullptr},
    {"__exit__", watcher_exit, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot watcher_slots[] = {
    {Py_tp_methods, watcher_methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(watcher_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(watcher_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(watcher_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(watcher_repr)},
    {Py_tp_doc, const_cast<char*>("A running watch. Use it as a context manager, or call `close()`.")},
    {0, nullptr},
};

PyType_Spec watcher_spec = {
    "zelvane.Watcher",
    WatcherClass::basic_size,
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC,
    watcher_slots,
};

constinit WatcherClass watcher_class{watcher_spec};

// ---- watch()

// poll_interval as seconds, or none for None; its value is checked once the options are read.
bool seconds_or_none(PyObject* poll, std::optional<double>& seconds, const char* name) {
  if (poll == Py_None) return true;
  double v = PyFloat_AsDouble(poll);
  if (v == -1.0 && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
      // An int past every float is past every Duration too: refused as a value, not a type.
      PyErr_Clear();
      PyRef zero(PyLong_FromLong(0));
      if (!zero) return false;
      int negative = PyObject_RichCompareBool(poll, zero.get(), Py_LT);
      if (negative < 0) return false;
      seconds = negative ? -INFINITY : INFINITY;
      return true;
    }
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyErr_Clear();
    return wrong_type(name, "a float or None", poll);
  }
  seconds = v;
  return true;
}

struct WatchArgs : ReadArgs {
  PyObject* on_change = nullptr;
  std::optional<double> poll_seconds;
};

using WatchParam = Param<WatchArgs>;
// The types of precedence and poll_interval, then on_change, then the copy of env.
constexpr Signature kWatchSignature{
    "watch",
    {
        WatchParam::of<&WatchArgs::on_change, callable>("on_change", Pass::Either, Need::Required),
        WatchParam::of<&WatchArgs::env, env_vars>("env", Pass::Name),
        WatchParam::of<&WatchArgs::precedence, lossy_text_or_none>("precedence", Pass::Name),
        WatchParam::of<&WatchArgs::poll_seconds, seconds_or_none>("poll_interval", Pass::Name),
    },
    {"precedence", "poll_interval", "on_change", "env"}};

PyObject* watch_impl(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  WatchArgs raw;
  if (!bind<kWatchSignature>(args, nargs, kwnames, raw)) return nullptr;
  auto read = read_options(raw);
  if (!read) return nullptr;
  auto options = std::make_shared<const ReadOptions>(std::move(*read));

  std::optional<value::Duration> interval;
  if (raw.poll_seconds) {
    auto converted = value::Duration::from_secs_f64(*raw.poll_seconds);
    if (!converted) {
      PyErr_Format(PyExc_ValueError, "poll_interval: %.*s", static_cast<int>(converted.error().size()),
                   converted.error().data());
      return nullptr;
    }
    interval = *converted;
  }

  auto callback = std::make_shared<CallbackCell>(raw.on_change);
  DeliveryClosure closure{options, callback};
  auto started = run_detached([&] { return spawn_watch(interval, closure); });
  if (!started) {
    callback->let_go();
    return to_py_err(started.error());
  }

  std::shared_ptr<WatchHandle> handle = started->handle;
  PyObject* self = watcher_class.create(
      WatcherValue{started->handle, started->os_readable, options, callback, threads::process_id()});
  if (self == nullptr) {
    handle->signal_stop();
    callback->let_go();
  }
  return self;
}

PyObject* watch_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] { return watch_impl(args, nargs, kwnames); });
}

}  // namespace

PyObject* CallbackCell::get() {
  std::lock_guard lock(mutex);
  return Py_XNewRef(on_change);
}

void CallbackCell::clear() {
  PyObject* taken = nullptr;
  {
    std::lock_guard lock(mutex);
    taken = std::exchange(on_change, nullptr);
  }
  Py_XDECREF(taken);
}

PyTypeObject* watcher_type() { return watcher_class.type(); }

void set_watch_settle_delay(std::uint64_t nanoseconds) {
  settle_delay_ns.store(nanoseconds, std::memory_order_relaxed);
}

PyMethodDef watch_def = {
    "watch", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(watch_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "watch(on_change, *, env=None, precedence=None, poll_interval=None)\n--\n\n"
    "Watch the OS settings, calling `on_change(err, snapshot)` after each change on a thread\n"
    "of the watcher's own. A watch that stops on its own calls it a last time with\n"
    "`ERR_ZELVANE`.\n\n"
    "`env` and `precedence` are as for `read()`, captured once. `poll_interval` (seconds)\n"
    "also re-reads on that interval; it is required where the OS gives no change notification\n"
    "(a Flatpak or Snap sandbox, iOS, Android below API 26 or where in-memory code loading is\n"
    "refused, or a Linux session without a D-Bus session bus). Anything under 0.2, zero\n"
    "included, is raised to 0.2; `None` turns the timer off. A negative, infinite or NaN\n"
    "value raises `ValueError`, and an `on_change` that is not callable `TypeError`.\n"
    "`on_change` can run before this returns."};

}  // namespace zelvane::python
