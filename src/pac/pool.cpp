#include "pac/pool.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <tuple>
#include <utility>

#include "pac/channel.hpp"
#include "util/locks.hpp"
#include "util/redact.hpp"

#ifndef _WIN32
#include <pthread.h>
#endif

namespace zelvane::pac {

using namespace model;
using namespace value;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kThreadName = "zelvane-pac";
constexpr std::string_view kSpawnContext = "spawning the PAC evaluation thread";
constexpr std::string_view kNoResult = "the PAC evaluation thread ended without producing a result";

using namespace std::chrono_literals;

// How long a thread that has just answered waits actively for its next task before it parks:
// long enough for a caller that comes straight back (its wake-up included) to find it awake,
// short enough that the end of a burst costs less than one evaluation. A parked thread then
// costs nothing until its task or its idle exit.
constexpr std::chrono::nanoseconds kNextTaskSpin = 50us;
// A caller waits actively for its answer when the evaluation is expected within this time
// (evaluations that take longer would burn more than a wake-up costs)...
constexpr std::chrono::nanoseconds kLongestAnswerSpin = 250us;
// ... for the expected time, a quarter of it and this margin more, and then parks.
constexpr std::chrono::nanoseconds kAnswerSpinMargin = 20us;

PacAnswer failure(Error error) { return std::unexpected(std::move(error)); }

// Every pool thread of the process takes its id from here.
std::atomic<std::uint64_t> next_worker_id{0};

}  // namespace

// ---------------------------------------------------------------------------------------------

PacAnswer PacJob::call_once(std::optional<MonotonicInstant> deadline) && {
  auto run = std::move(work);
  if (!run)
    return failure(Error::PacEvaluation{util::sanitize_message("the PAC evaluation had nothing to run")});
  PacAnswer answer = run(deadline);
  if (!answer && deadline && Clock::now() >= *deadline) return failure(Error::PacTimeout{budget});
  return answer;
}

std::size_t default_max_slots() noexcept {
  return std::max<std::size_t>(std::thread::hardware_concurrency(), 4);
}

struct PacPool::State {
  explicit State(PacPoolOptions options);
  ~State();

  // One slot, proven taken; released exactly once, when the job has run or when its task is
  // dropped unrun. It remembers the process that took it: in a forked child the count starts
  // again from zero, and the parent's slots are not taken from it.
  class Permit {
   public:
    Permit(State* state, std::uint32_t pid) : state_(state), pid_(pid) {}
    Permit(Permit&& other) noexcept : state_(std::exchange(other.state_, nullptr)), pid_(other.pid_) {}
    Permit& operator=(Permit&&) = delete;
    ~Permit() { release(); }
    // The slots still taken once this one is released.
    std::size_t release() noexcept {
      State* s = std::exchange(state_, nullptr);
      return s != nullptr ? s->release_slot(pid_) : 0;
    }

   private:
    State* state_;
    std::uint32_t pid_;
  };

  struct BoxedJob {
    PacJob job;
    std::optional<MonotonicInstant> deadline;
  };

  struct Task {
    Sender<PacAnswer> reply;
    BoxedJob job;
    Permit permit;
  };

  struct IdleWorker {
    Sender<Task> job_sender;
    std::uint64_t worker_id;
    std::uint32_t pid;
  };

  // No thread holds the two locks together but around fork(): what takes one excludes both.

  // The permit, and how many slots are taken with it.
  std::optional<std::pair<Permit, std::size_t>> take_slot(std::optional<MonotonicInstant> deadline)
      EXCLUDES(active_mutex, idle_mutex);
  // The slots still taken after it.
  std::size_t release_slot(std::uint32_t pid) noexcept EXCLUDES(active_mutex, idle_mutex);
  // Counts taken in another process belong to threads that do not exist here.
  void adopt_process_locked() noexcept REQUIRES(active_mutex);

  std::optional<IdleWorker> pop_idle() EXCLUDES(active_mutex, idle_mutex);
  void push_idle(IdleWorker entry) EXCLUDES(active_mutex, idle_mutex);
  bool remove_idle(std::uint64_t worker_id) EXCLUDES(active_mutex, idle_mutex);

  // fork(): both locks, in their order, from before the fork until after it in each process.
  void lock_for_fork() ACQUIRE(active_mutex, idle_mutex);
  // In the child the condition variable is made anew: its waiters are gone with their threads.
  void unlock_after_fork(bool child) RELEASE(active_mutex, idle_mutex);

  // How long a caller of an evaluation that shares the pool with `busy` others (its own
  // included) waits actively for the answer before it parks.
  std::chrono::nanoseconds answer_spin(std::size_t busy) const noexcept;
  void record_run(std::chrono::nanoseconds took) noexcept;

  const std::chrono::nanoseconds idle_timeout;
  const std::size_t max_slots;
  const PacThreadStarter start_thread;

  util::Mutex active_mutex;
  util::CondVar slot_freed;
  std::size_t active GUARDED_BY(active_mutex) = 0;
  std::uint32_t active_pid GUARDED_BY(active_mutex) = threads::process_id();

  util::Mutex idle_mutex ACQUIRED_AFTER(active_mutex);
  std::vector<IdleWorker> idle GUARDED_BY(idle_mutex);

  std::atomic<std::uint64_t> started{0};

  // The time jobs have lately taken, as an average that follows the last few; 0 before any.
  std::atomic<std::int64_t> typical_run_ns{0};
  // While at most this many evaluations run, their callers may wait actively: the job and its
  // waiting caller then each have a core.
  const std::size_t spin_room = std::thread::hardware_concurrency() / 2;
};

namespace {

using State = PacPool::State;

// ---------------------------------------------------------------------------------------------
// fork(): the child is a copy of one thread. A pool lock held by any other thread at that
// moment would stay locked in the child for ever, and a condition variable may still count
// waiters that do not exist there. So every pool's two locks are taken around fork() (which
// also leaves its lists in one piece), after the registry's, and the child makes its condition
// variables anew.

struct Registry {
  util::Mutex mutex;
  std::vector<State*> pools GUARDED_BY(mutex);
};

std::atomic<Registry*> registry_ptr{nullptr};

#ifndef _WIN32
// The handlers hold the locks from one to the next, and a lock for every pool: more than the
// analysis follows. lock_for_fork and unlock_after_fork hold each pool's pair to its rules.
void before_fork() noexcept NO_THREAD_SAFETY_ANALYSIS {
  Registry* r = registry_ptr.load(std::memory_order_acquire);
  if (r == nullptr) return;
  r->mutex.lock();
  for (State* s : r->pools) s->lock_for_fork();
}

void after_fork(bool child) noexcept NO_THREAD_SAFETY_ANALYSIS {
  Registry* r = registry_ptr.load(std::memory_order_acquire);
  if (r == nullptr) return;
  for (State* s : r->pools) s->unlock_after_fork(child);
  r->mutex.unlock();
}

void after_fork_parent() noexcept { after_fork(false); }
void after_fork_child() noexcept { after_fork(true); }
#endif

Registry& registry() {
  static Registry* const r = [] {
    auto* created = new Registry;  // never destroyed: handlers may run until the process ends
    registry_ptr.store(created, std::memory_order_release);
#ifndef _WIN32
    pthread_atfork(before_fork, after_fork_parent, after_fork_child);
#endif
    return created;
  }();
  return *r;
}

// ---------------------------------------------------------------------------------------------
// The worker.

// Runs the task and answers; gives the slots still taken once its own was released. No lock is
// held while a job runs or a message is passed.
std::size_t run_task(State& state, std::uint64_t worker_id, const Sender<State::Task>& self, State::Task task)
    EXCLUDES(state.active_mutex, state.idle_mutex) {
  std::optional<PacAnswer> answer;
  try {
    const auto began = Clock::now();
    answer.emplace(std::move(task.job.job).call_once(task.job.deadline));
    state.record_run(Clock::now() - began);
  } catch (const std::exception&) {
    // The evaluation is given up: its reply end goes unsent, which tells the caller. Anything
    // else thrown (a forced unwind among them) ends the thread, and the task goes with the
    // stack: its slot is released and its caller told all the same.
  }
  // Listed as idle before the slot is released, so that a caller woken by the release finds
  // this thread instead of starting another; the answer goes last.
  state.push_idle(State::IdleWorker{self, worker_id, threads::process_id()});
  const std::size_t busy = task.permit.release();
  if (answer) {
    // Fails when the caller has stopped waiting: the answer is dropped.
    std::ignore = task.reply.send(std::move(*answer));
  }
  return busy;
}

void worker_loop(State& state, std::uint64_t worker_id, const Sender<State::Task>& self,
                 Receiver<State::Task>& tasks) {
  std::optional<State::Task> task;
  if (tasks.receive(task, std::nullopt) != Received::Message) return;
  const std::chrono::nanoseconds spin = std::min(kNextTaskSpin, state.idle_timeout);
  for (;;) {
    if (!task) return;
    State::Task current = std::move(*task);
    task.reset();
    // A busy pool parks at once: its callers park too, so the next task comes only after a
    // wake-up, and a thread waiting actively meanwhile takes a core that an evaluation needs.
    const std::size_t busy = run_task(state, worker_id, self, std::move(current));
    const std::chrono::nanoseconds wait = busy < state.spin_room ? spin : std::chrono::nanoseconds::zero();
    switch (tasks.receive(task, Clock::now() + state.idle_timeout, wait)) {
      case Received::Message:
        continue;
      case Received::Closed:
        return;
      case Received::TimedOut:
        break;
    }
    if (state.remove_idle(worker_id)) return;
    // A caller has taken this thread's entry and is sending, or has sent, a task: it must run.
    if (tasks.receive(task, std::nullopt) != Received::Message) return;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

PacPool::State::State(PacPoolOptions options)
    : idle_timeout(options.idle_timeout),
      max_slots(std::max<std::size_t>(options.max_slots, 1)),
      start_thread(options.start_thread ? std::move(options.start_thread)
                                        : PacThreadStarter(threads::start_thread)) {
  idle.reserve(std::min<std::size_t>(max_slots, 64));
  Registry& r = registry();
  util::MutexLock lock(r.mutex);
  r.pools.push_back(this);
}

PacPool::State::~State() {
  Registry& r = registry();
  util::MutexLock lock(r.mutex);
  std::erase(r.pools, this);
}

void PacPool::State::lock_for_fork() {
  active_mutex.lock();
  idle_mutex.lock();
}

void PacPool::State::unlock_after_fork(bool child) {
  // The old one is abandoned, not destroyed: its waiters are gone with their threads.
  if (child) std::construct_at(&slot_freed);
  idle_mutex.unlock();
  active_mutex.unlock();
}

void PacPool::State::adopt_process_locked() noexcept {
  const std::uint32_t pid = threads::process_id();
  if (pid != active_pid) {
    active = 0;
    active_pid = pid;
  }
}

std::optional<std::pair<State::Permit, std::size_t>> PacPool::State::take_slot(
    std::optional<MonotonicInstant> deadline) {
  util::UniqueLock lock(active_mutex);
  adopt_process_locked();
  while (active >= max_slots) {
    if (!deadline) {
      slot_freed.wait(lock);
    } else {
      if (Clock::now() >= *deadline) return std::nullopt;
      slot_freed.wait_until(lock, *deadline);
    }
  }
  ++active;
  return std::pair<Permit, std::size_t>(Permit(this, active_pid), active);
}

std::size_t PacPool::State::release_slot(std::uint32_t pid) noexcept {
  std::size_t left = 0;
  {
    util::MutexLock lock(active_mutex);
    adopt_process_locked();
    if (pid == active_pid && active > 0) --active;
    left = active;
  }
  slot_freed.notify_one();
  return left;
}

std::optional<State::IdleWorker> PacPool::State::pop_idle() {
  util::MutexLock lock(idle_mutex);
  if (idle.empty()) return std::nullopt;
  std::optional<IdleWorker> last(std::move(idle.back()));
  idle.pop_back();
  return last;
}

void PacPool::State::push_idle(IdleWorker entry) {
  util::MutexLock lock(idle_mutex);
  idle.push_back(std::move(entry));
}

bool PacPool::State::remove_idle(std::uint64_t worker_id) {
  std::optional<IdleWorker> mine;  // dropped after the unlock
  util::MutexLock lock(idle_mutex);
  const auto it =
      std::find_if(idle.begin(), idle.end(), [&](const IdleWorker& w) { return w.worker_id == worker_id; });
  if (it == idle.end()) return false;
  mine.emplace(std::move(*it));
  // The others keep their order: the most recently idle stays the next one taken.
  idle.erase(it);
  return true;
}

std::chrono::nanoseconds PacPool::State::answer_spin(std::size_t busy) const noexcept {
  if (busy > spin_room) return std::chrono::nanoseconds::zero();
  const std::chrono::nanoseconds typical(typical_run_ns.load(std::memory_order_relaxed));
  if (typical <= std::chrono::nanoseconds::zero() || typical > kLongestAnswerSpin)
    return std::chrono::nanoseconds::zero();
  return std::min(kLongestAnswerSpin, typical + typical / 4 + kAnswerSpinMargin);
}

void PacPool::State::record_run(std::chrono::nanoseconds took) noexcept {
  // Workers that record at once may lose a sample; an average loses little by it.
  const std::int64_t sample = took.count();
  const std::int64_t before = typical_run_ns.load(std::memory_order_relaxed);
  typical_run_ns.store(before == 0 ? sample : before + (sample - before) / 8, std::memory_order_relaxed);
}

namespace {

// A caller's answer channel, used again once its last use is over (a late worker may still
// hold the previous one: a new one is made then).
std::shared_ptr<ChannelCore<PacAnswer>> answer_channel() {
  thread_local std::shared_ptr<ChannelCore<PacAnswer>> last;
  if (!last || !last->spent()) last = std::make_shared<ChannelCore<PacAnswer>>();
  return last;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

PacPool& PacPool::process() {
  // Reached through an atomic first: a lock held at fork() by a thread that is creating the
  // pool would never be released in the child. Losing the race costs one pool, destroyed unused.
  static std::atomic<PacPool*> instance{nullptr};
  if (PacPool* p = instance.load(std::memory_order_acquire)) return *p;
  auto fresh = std::make_unique<PacPool>(PacPoolOptions{});
  PacPool* expected = nullptr;
  if (instance.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) {
    return *fresh.release();  // lives until the process ends
  }
  return *expected;
}

PacPool::PacPool(PacPoolOptions options) : state_(std::make_shared<State>(std::move(options))) {}

PacPool::~PacPool() = default;

std::size_t PacPool::max_slots() const noexcept { return state_->max_slots; }

std::chrono::nanoseconds PacPool::idle_timeout() const noexcept { return state_->idle_timeout; }

PacPoolStats PacPool::stats() const {
  PacPoolStats out;
  {
    util::MutexLock lock(state_->active_mutex);
    state_->adopt_process_locked();
    out.active = state_->active;
  }
  {
    util::MutexLock lock(state_->idle_mutex);
    out.idle = state_->idle.size();
  }
  out.started = state_->started.load(std::memory_order_relaxed);
  return out;
}

PacAnswer PacPool::evaluate(PacJob job) {
  State& state = *state_;
  const Duration budget = job.budget;
  if (budget == Duration{}) return failure(Error::PacTimeout{Duration{}});

  // Time spent waiting for a slot counts against the same deadline the script runs under; a
  // budget past what the clock holds leaves every wait without end.
  const std::optional<MonotonicInstant> deadline = value::deadline_after(Clock::now(), budget);
  auto slot = state.take_slot(deadline);
  if (!slot) return failure(Error::PacSaturated{budget, state.max_slots});
  const std::chrono::nanoseconds spin = state.answer_spin(slot->second);

  auto [reply, answer] = open_channel(answer_channel());
  std::optional<State::Task> task(
      State::Task{std::move(reply), State::BoxedJob{std::move(job), deadline}, std::move(slot->first)});
  slot.reset();

  for (;;) {
    std::optional<State::IdleWorker> entry = state.pop_idle();
    if (!entry) {
      auto [sender, receiver] = make_channel<State::Task>();
      std::ignore = sender.send(std::move(*task));  // its receiver is right here
      task.reset();
      const std::uint64_t worker_id = next_worker_id.fetch_add(1, std::memory_order_relaxed);
      threads::ThreadBody body = [owner = state_, worker_id, self = std::move(sender),
                                  tasks = std::move(receiver)]() mutable {
        worker_loop(*owner, worker_id, self, tasks);
      };
      // A thread that cannot start drops its body unrun, with the task in it: the slot is
      // released and the reply end closed.
      // Counted first, so that a job seen running is already counted.
      state.started.fetch_add(1, std::memory_order_relaxed);
      auto started = state.start_thread(kThreadName, std::move(body));
      if (!started) {
        state.started.fetch_sub(1, std::memory_order_relaxed);
        return failure(Error::io(kSpawnContext, OsError::other(started.error().text)));
      }
      started->let_go();
      break;
    }
    // An entry recorded in another process names a thread that does not exist here.
    if (entry->pid != threads::process_id()) continue;
    std::optional<State::Task> back = entry->job_sender.send(std::move(*task));
    task.reset();
    if (!back) break;
    task.emplace(std::move(*back));  // that thread is gone; try the next
  }

  std::optional<PacAnswer> result;
  switch (answer.receive(result, deadline, spin)) {
    case Received::Message:
      if (result) return std::move(*result);
      break;
    case Received::TimedOut:
      return failure(Error::PacTimeout{budget});
    case Received::Closed:
      break;
  }
  return failure(Error::PacEvaluation{util::sanitize_message(kNoResult)});
}

}  // namespace zelvane::pac
