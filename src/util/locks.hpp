// Lock rules the compiler checks. Clang's thread-safety analysis reads the annotations below:
// which mutex guards a field (GUARDED_BY), which mutex a function needs held (REQUIRES) or must
// not be called under because it takes that mutex itself (EXCLUDES), and in which order two
// mutexes nest (ACQUIRED_AFTER). The locks build of scripts/test compiles the project with
// -Wthread-safety -Wthread-safety-beta as errors (the beta group holds the order checks); other
// compilers see the macros empty.
//
// libstdc++'s std::mutex and its locks carry no annotations, so the project locks through the
// annotated types here, which cost what the standard ones cost: Mutex, MutexLock (a lock for a
// scope), UniqueLock (one that may let go and take the mutex again, and what a CondVar waits
// with) and CondVar.
//
// The analysis reads each function on its own, and a lambda is a function of its own: one that
// reads a guarded field says what it needs, as a condition variable's predicate does
// (`[this]() REQUIRES(mutex_) { return ready_; }`). It cannot follow a lock taken in one
// function and let go in another but through ACQUIRE and RELEASE on both.
//
// An object may hold by reference a mutex that another one owns, and guard its own fields by it
// (GUARDED_BY and REQUIRES name the reference; RETURN_CAPABILITY on the function that hands the
// reference out lets others name it too). The analysis tells mutexes apart by the expressions
// that name them, so it cannot see that the owner's name and the reference are one mutex: the
// owner hands the object out through a function marked ASSERT_CAPABILITY, which tells the
// analysis that the object's name for the mutex is held
// (`Part& part() REQUIRES(mutex) ASSERT_CAPABILITY(part().mutex())`). That is believed, not
// checked, so such a function says what makes it true, and a REQUIRES on it checks what it can.
// It is believed up to the end of the calling function, past any unlock: such a function is for
// bodies that hold the lock to their end, never for one that lets go of it.
//
// Includes nothing of the project.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#if defined(__clang__)
#define ZELVANE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZELVANE_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(name) ZELVANE_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY ZELVANE_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(mutex) ZELVANE_THREAD_ANNOTATION(guarded_by(mutex))
#define ACQUIRED_AFTER(...) ZELVANE_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) ZELVANE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ZELVANE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) ZELVANE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZELVANE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ZELVANE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(mutex) ZELVANE_THREAD_ANNOTATION(lock_returned(mutex))
#define ASSERT_CAPABILITY(...) ZELVANE_THREAD_ANNOTATION(assert_capability(__VA_ARGS__))
// For the few functions whose locking the analysis cannot follow; each says why.
#define NO_THREAD_SAFETY_ANALYSIS ZELVANE_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace zelvane::util {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  friend class UniqueLock;
  std::mutex mutex_;
};

// Holds the mutex from its construction to the end of its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex.lock(); }
  ~MutexLock() RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// Holds the mutex for its scope, except between an unlock() and the lock() after it; a CondVar
// lets go of it while it waits.
class SCOPED_CAPABILITY UniqueLock {
 public:
  explicit UniqueLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~UniqueLock() RELEASE() = default;
  UniqueLock(const UniqueLock&) = delete;
  UniqueLock& operator=(const UniqueLock&) = delete;

  void lock() ACQUIRE() { lock_.lock(); }
  void unlock() RELEASE() { lock_.unlock(); }

 private:
  friend class CondVar;
  std::unique_lock<std::mutex> lock_;
};

class CondVar {
 public:
  void notify_one() noexcept { cv_.notify_one(); }
  void notify_all() noexcept { cv_.notify_all(); }

  void wait(UniqueLock& lock) { cv_.wait(lock.lock_); }
  template <class Predicate>
  void wait(UniqueLock& lock, Predicate ready) {
    cv_.wait(lock.lock_, std::move(ready));
  }
  template <class Clock, class Duration>
  std::cv_status wait_until(UniqueLock& lock, const std::chrono::time_point<Clock, Duration>& until) {
    return cv_.wait_until(lock.lock_, until);
  }
  template <class Rep, class Period, class Predicate>
  bool wait_for(UniqueLock& lock, const std::chrono::duration<Rep, Period>& timeout, Predicate ready) {
    return cv_.wait_for(lock.lock_, timeout, std::move(ready));
  }

 private:
  std::condition_variable cv_;
};

}  // namespace zelvane::util
