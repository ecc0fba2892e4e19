#include "watch/wake.hpp"

#include <atomic>
#include <utility>

#include "util/locks.hpp"

namespace zelvane::watch {

WakeHandle::WakeHandle(WakeHandle&& other) noexcept
    : vtable_(std::exchange(other.vtable_, nullptr)), data_(std::exchange(other.data_, nullptr)) {}

WakeHandle& WakeHandle::operator=(WakeHandle&& other) noexcept {
  if (this != &other) {
    std::move(*this).drop();
    vtable_ = std::exchange(other.vtable_, nullptr);
    data_ = std::exchange(other.data_, nullptr);
  }
  return *this;
}

namespace {

void* noop_clone(void* data) noexcept { return data; }
void noop_wake(void*) noexcept {}

constexpr WakeHandle::VTable kNoop{noop_clone, noop_wake, noop_wake, noop_wake};

}  // namespace

WakeHandle WakeHandle::noop() noexcept { return WakeHandle(kNoop, nullptr); }

WakeHandle WakeHandle::clone() const noexcept {
  if (vtable_ == nullptr) return noop();
  return WakeHandle(*vtable_, vtable_->clone(data_));
}

void WakeHandle::wake() && noexcept {
  const VTable* vtable = std::exchange(vtable_, nullptr);
  if (vtable != nullptr) vtable->wake(std::exchange(data_, nullptr));
}

void WakeHandle::wake_by_ref() const noexcept {
  if (vtable_ != nullptr) vtable_->wake_by_ref(data_);
}

void WakeHandle::drop() && noexcept {
  const VTable* vtable = std::exchange(vtable_, nullptr);
  if (vtable != nullptr) vtable->drop(std::exchange(data_, nullptr));
}

struct ThreadParker::Shared {
  std::atomic<std::size_t> references{1};
  util::Mutex mutex;
  util::CondVar unparked;
  bool token GUARDED_BY(mutex) = false;

  void unpark() noexcept EXCLUDES(mutex) {
    {
      util::MutexLock lock(mutex);
      token = true;
    }
    // The waiter may be gone already; the reference the caller holds keeps this alive.
    unparked.notify_one();
  }

  void add_reference() noexcept { references.fetch_add(1, std::memory_order_relaxed); }
  void release() noexcept {
    if (references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  static Shared* of(void* data) { return static_cast<Shared*>(data); }
  static void* clone(void* data) noexcept {
    of(data)->add_reference();
    return data;
  }
  static void wake(void* data) noexcept {
    of(data)->unpark();
    of(data)->release();
  }
  static void wake_by_ref(void* data) noexcept { of(data)->unpark(); }
  static void drop(void* data) noexcept { of(data)->release(); }

  static const WakeHandle::VTable kVTable;
};

const WakeHandle::VTable ThreadParker::Shared::kVTable{clone, wake, wake_by_ref, drop};

ThreadParker::ThreadParker() : shared_(new Shared) {}
ThreadParker::~ThreadParker() { shared_->release(); }

void ThreadParker::park() {
  util::UniqueLock lock(shared_->mutex);
  shared_->unparked.wait(lock, [this]() REQUIRES(shared_->mutex) { return shared_->token; });
  shared_->token = false;
}

bool ThreadParker::park_for(std::chrono::nanoseconds timeout) {
  util::UniqueLock lock(shared_->mutex);
  if (!shared_->unparked.wait_for(lock, timeout,
                                  [this]() REQUIRES(shared_->mutex) { return shared_->token; }))
    return false;
  shared_->token = false;
  return true;
}

void ThreadParker::unpark() noexcept { shared_->unpark(); }

WakeHandle ThreadParker::wake_handle() noexcept {
  shared_->add_reference();
  return WakeHandle(Shared::kVTable, shared_);
}

}  // namespace zelvane::watch
