// The self-test of the lock rules' check (cmake/thread_safety.cmake): never linked or run, but
// compiled with the locks build's flags once as it is, which must pass, and once for each rule
// broken on purpose (-DZELVANE_BREAK=n), which must be refused with the rule's diagnostic.
// Each break is one of the ways the project's annotated code could go wrong.
#include "util/locks.hpp"

namespace zelvane::util {
namespace {

struct Pair {
  Mutex first;
  Mutex second ACQUIRED_AFTER(first);
  int a GUARDED_BY(first) = 0;
  int b GUARDED_BY(second) = 0;
  CondVar changed;

  void bump() REQUIRES(first) { ++a; }
  void take_first() EXCLUDES(first) {
    MutexLock lock(first);
    bump();
  }
};

// A mutex that one object owns and another holds by reference, guarding the other's field.
struct Part {
  explicit Part(Mutex& mutex) : mutex_(mutex) {}
  Mutex& mutex() const RETURN_CAPABILITY(mutex_) { return mutex_; }
  void bump() REQUIRES(mutex_) { ++c; }

  Mutex& mutex_;
  int c GUARDED_BY(mutex_) = 0;
};

class Whole {
 public:
  Mutex mutex;
  // Holding `mutex` is holding the part's, which is this one.
  Part& part() REQUIRES(mutex) ASSERT_CAPABILITY(part().mutex()) { return part_; }

 private:
  Part part_{mutex};
};

// Every rule kept.
[[maybe_unused]] void kept(Whole& w) {
  MutexLock lock(w.mutex);
  w.part().bump();
  w.part().c = 2;
}

[[maybe_unused]] void kept(Part& p) {
  UniqueLock lock(p.mutex());
  p.c = 1;
  lock.unlock();
  lock.lock();
  p.bump();
}

[[maybe_unused]] void kept(Pair& p) {
  {
    MutexLock one(p.first);
    MutexLock two(p.second);
    p.a = p.b;
  }
  p.take_first();
  UniqueLock lock(p.first);
  p.changed.wait(lock, [&p]() REQUIRES(p.first) { return p.a > 0; });
  lock.unlock();
  lock.lock();
  p.bump();
  if (p.second.try_lock()) {
    p.b = p.a;
    p.second.unlock();
  }
}

#if ZELVANE_BREAK == 1  // a guarded field written without its mutex
[[maybe_unused]] void broken(Pair& p) { p.a = 1; }
#elif ZELVANE_BREAK == 2   // one read without it
[[maybe_unused]] int broken(Pair& p) { return p.b; }
#elif ZELVANE_BREAK == 3   // a function that needs the mutex called without it
[[maybe_unused]] void broken(Pair& p) { p.bump(); }
#elif ZELVANE_BREAK == 4   // a function that takes the mutex called with it held
[[maybe_unused]] void broken(Pair& p) {
  MutexLock lock(p.first);
  p.take_first();
}
#elif ZELVANE_BREAK == 5   // two mutexes taken against their order
[[maybe_unused]] void broken(Pair& p) {
  MutexLock two(p.second);
  MutexLock one(p.first);
}
#elif ZELVANE_BREAK == 6   // a guarded field written between an unlock and the lock after it
[[maybe_unused]] void broken(Pair& p) {
  UniqueLock lock(p.first);
  lock.unlock();
  p.a = 2;
  lock.lock();
}
#elif ZELVANE_BREAK == 7   // a predicate that reads a guarded field without saying it runs under the mutex
[[maybe_unused]] void broken(Pair& p) {
  UniqueLock lock(p.first);
  p.changed.wait(lock, [&p] { return p.a > 0; });
}
#elif ZELVANE_BREAK == 8   // a mutex still held when the function returns
[[maybe_unused]] void broken(Pair& p) { p.first.lock(); }
#elif ZELVANE_BREAK == 9   // a try_lock whose failure is not looked at
[[maybe_unused]] void broken(Pair& p) {
  p.second.try_lock();
  p.b = 3;
  p.second.unlock();
}
#elif ZELVANE_BREAK == 10  // a field guarded by a mutex held by reference, written once the lock is let go
[[maybe_unused]] void broken(Part& p) {
  UniqueLock lock(p.mutex_);
  lock.unlock();
  p.c = 2;
  lock.lock();
}
#endif

}  // namespace
}  // namespace zelvane::util
