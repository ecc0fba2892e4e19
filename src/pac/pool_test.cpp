#include "pac/pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zelvane::pac {

using namespace model;
using namespace value;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kNoResult = "the PAC evaluation thread ended without producing a result";

Duration millis(std::uint64_t n) { return Duration::from_millis(n); }

// An answer of `n` direct steps: tells apart whose answer a caller got.
PacAnswer steps(std::size_t n) { return std::vector<RouteStep>(n, RouteStep{RouteStep::Direct{}}); }

PacJob make_job(Duration budget, std::move_only_function<PacAnswer(std::optional<MonotonicInstant>)> work) {
  return PacJob{std::move(work), budget};
}

PacJob answering(std::size_t n, Duration budget = millis(20'000)) {
  return make_job(budget, [n](auto) { return steps(n); });
}

// A job that reports the thread it ran on, then answers `n` steps.
PacJob reporting(std::shared_ptr<std::promise<std::thread::id>> where, std::size_t n,
                 Duration budget = millis(20'000)) {
  return make_job(budget, [where = std::move(where), n](auto) {
    where->set_value(std::this_thread::get_id());
    return steps(n);
  });
}

std::thread::id thread_of(PacPool& pool, std::size_t n = 1) {
  auto where = std::make_shared<std::promise<std::thread::id>>();
  auto seen = where->get_future();
  const PacAnswer answer = pool.evaluate(reporting(where, n));
  EXPECT_TRUE(answer.has_value());
  return seen.get();
}

// A gate that opens once, as a std::latch of one. Not std::latch itself: GCC 12's, on a target
// without a futex (mingw-w64: the Windows build), can miss a count_down that comes while a
// thread is starting to wait, and that thread then waits for ever.
class Gate {
 public:
  void count_down() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// A job held until its gate opens; `finished` opens when it has returned.
struct Held {
  std::shared_ptr<Gate> gate = std::make_shared<Gate>();
  std::shared_ptr<Gate> finished = std::make_shared<Gate>();
  std::shared_ptr<std::promise<std::thread::id>> where = std::make_shared<std::promise<std::thread::id>>();
  std::future<std::thread::id> seen = where->get_future();

  PacJob job(std::size_t n, Duration budget) {
    return make_job(budget, [gate = gate, finished = finished, where = where, n](auto) {
      where->set_value(std::this_thread::get_id());
      gate->wait();
      finished->count_down();
      return steps(n);
    });
  }
};

template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = 10s) {
  const auto until = Clock::now() + limit;
  while (!pred()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

PacPoolOptions options(std::size_t slots, std::chrono::nanoseconds idle = 10s) {
  PacPoolOptions o;
  o.max_slots = slots;
  o.idle_timeout = idle;
  return o;
}

template <class E>
const E* error_of(const PacAnswer& answer) {
  return answer ? nullptr : answer.error().get_if<E>();
}

// ---------------------------------------------------------------------------------------------

TEST(PacJob, LateFailureBecomesTheTimeout) {
  const auto past = Clock::now() - 1ms;
  const auto future = Clock::now() + 1h;
  const Error failure = Error::PacEvaluation{"the PAC script failed to load: interrupted"};
  struct Case {
    const char* name;
    bool fails;
    std::optional<MonotonicInstant> deadline;
    bool becomes_timeout;
  };
  const std::vector<Case> cases = {
      {"failure after the deadline", true, past, true},
      {"failure before the deadline", true, future, false},
      {"failure without a deadline", true, std::nullopt, false},
      {"success after the deadline", false, past, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<MonotonicInstant> given;
    PacJob job = make_job(millis(250), [&](std::optional<MonotonicInstant> d) -> PacAnswer {
      given = d;
      if (c.fails) return std::unexpected(failure);
      return steps(2);
    });
    const PacAnswer answer = std::move(job).call_once(c.deadline);
    EXPECT_EQ(given, c.deadline);
    if (c.becomes_timeout) {
      const auto* timeout = error_of<Error::PacTimeout>(answer);
      ASSERT_NE(timeout, nullptr);
      EXPECT_EQ(timeout->timeout, millis(250));
    } else if (c.fails) {
      ASSERT_FALSE(answer);
      EXPECT_EQ(answer.error().message(), failure.message());
    } else {
      ASSERT_TRUE(answer);
      EXPECT_EQ(answer->size(), 2u);
    }
  }
}

TEST(PacPool, ProcessPoolIsOneAndBoundedBelowByFour) {
  PacPool& pool = PacPool::process();
  EXPECT_EQ(&pool, &PacPool::process());
  EXPECT_EQ(pool.max_slots(), default_max_slots());
  EXPECT_GE(pool.max_slots(), 4u);
  EXPECT_EQ(pool.idle_timeout(), 30s);
  const PacAnswer answer = pool.evaluate(answering(3));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->size(), 3u);
}

TEST(PacPool, AnswersComeBackUnchangedFromANamedThread) {
  PacPool pool(options(4));
  const PacAnswer ok = pool.evaluate(answering(2));
  ASSERT_TRUE(ok);
  EXPECT_EQ(*ok, *steps(2));

  const PacAnswer refused = pool.evaluate(make_job(millis(20'000), [](auto) -> PacAnswer {
    return std::unexpected(Error(Error::PacInvalidResult{"BOGUS"}));
  }));
  const auto* invalid = error_of<Error::PacInvalidResult>(refused);
  ASSERT_NE(invalid, nullptr);
  EXPECT_EQ(invalid->result, "BOGUS");

#ifdef __linux__
  std::string name;
  ASSERT_TRUE(pool.evaluate(make_job(millis(20'000), [&](auto) {
    char buffer[32] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    name = buffer;
    return steps(1);
  })));
  EXPECT_EQ(name, "zelvane-pac");
#endif
}

TEST(PacPool, ZeroBudgetTimesOutAtOnceWithoutRunning) {
  PacPool pool(options(4));
  bool ran = false;
  const PacAnswer answer = pool.evaluate(make_job(Duration{}, [&](auto) {
    ran = true;
    return steps(1);
  }));
  const auto* timeout = error_of<Error::PacTimeout>(answer);
  ASSERT_NE(timeout, nullptr);
  EXPECT_EQ(timeout->timeout, Duration{});
  EXPECT_FALSE(ran);
  EXPECT_EQ(pool.stats().started, 0u);
}

TEST(PacPool, JobRunsAgainstTheCallersDeadline) {
  PacPool pool(options(4));
  struct Case {
    const char* name;
    Duration budget;
    bool has_deadline;
  };
  const std::vector<Case> cases = {
      {"a short budget", millis(1500), true},
      {"a budget of an hour", Duration{3600, 0}, true},
      {"a budget the clock cannot hold", Duration{std::numeric_limits<std::uint64_t>::max(), 999'999'999},
       false},
      {"285 years", Duration{9'000'000'000, 0}, true},
      {"just past what the clock can hold", Duration{9'300'000'000, 0}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<MonotonicInstant> given;
    const auto before = Clock::now();
    ASSERT_TRUE(pool.evaluate(make_job(c.budget, [&](std::optional<MonotonicInstant> d) {
      given = d;
      return steps(1);
    })));
    const auto after = Clock::now();
    ASSERT_EQ(given.has_value(), c.has_deadline);
    if (given) {
      const auto budget = std::chrono::seconds(c.budget.secs) + std::chrono::nanoseconds(c.budget.nanos);
      EXPECT_GE(*given, before + budget);
      EXPECT_LE(*given, after + budget);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Threads: reuse, order, idle exit

TEST(PacPool, OneCallerAfterAnotherRunsOnTheSameThread) {
  PacPool pool(options(4));
  const std::thread::id first = thread_of(pool);
  const std::thread::id second = thread_of(pool);
  EXPECT_EQ(first, second);
  EXPECT_NE(first, std::this_thread::get_id());
  EXPECT_EQ(pool.stats().started, 1u);
}

TEST(PacPool, IdleThreadLeavesAndTheNextCallStartsAnother) {
  PacPool pool(options(4, 50ms));
  ASSERT_TRUE(pool.evaluate(answering(1)));
  EXPECT_EQ(pool.stats().started, 1u);
  ASSERT_TRUE(eventually([&] { return pool.stats().idle == 0; }));
  ASSERT_TRUE(pool.evaluate(answering(1)));
  EXPECT_EQ(pool.stats().started, 2u);
}

// Three threads go idle one after the other; the first leaves. The next call must take the one
// that went idle last, so the leaving thread's entry must not reorder the others. Only a call
// made before the second thread can have left shows it; a run slowed past that (a loaded
// machine) is tried again.
void most_recently_idle_first(bool& conclusive) {
  constexpr auto kIdle = 1500ms;
  PacPool pool(options(3, kIdle));
  Held a, b, c;
  auto run = [&](Held& h, std::size_t n) {
    return std::async(std::launch::async, [&pool, job = h.job(n, millis(20'000))]() mutable {
      return pool.evaluate(std::move(job));
    });
  };
  auto fa = run(a, 1);
  auto fb = run(b, 2);
  auto fc = run(c, 3);
  const std::thread::id ta = a.seen.get(), tb = b.seen.get(), tc = c.seen.get();
  ASSERT_EQ(pool.stats().started, 3u);

  a.gate->count_down();
  ASSERT_TRUE(fa.get());  // its thread is listed idle before the answer goes out
  std::this_thread::sleep_for(1000ms);
  const auto b_idle = Clock::now();  // b cannot leave before b_idle + kIdle
  b.gate->count_down();
  ASSERT_TRUE(fb.get());
  std::this_thread::sleep_for(200ms);
  c.gate->count_down();
  ASSERT_TRUE(fc.get());
  ASSERT_TRUE(eventually([&] { return pool.stats().idle == 2; }));  // a has left
  const std::thread::id next = thread_of(pool);
  conclusive = Clock::now() < b_idle + kIdle;
  if (!conclusive) return;
  EXPECT_EQ(next, tc);
  EXPECT_NE(next, tb);
  EXPECT_NE(next, ta);
  EXPECT_EQ(pool.stats().started, 3u);
}

TEST(PacPool, MostRecentlyIdleThreadIsTakenFirst) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    bool conclusive = false;
    most_recently_idle_first(conclusive);
    if (HasFatalFailure() || conclusive) return;
  }
  GTEST_SKIP() << "the machine was too slow to keep the second thread idle until the call";
}

// ---------------------------------------------------------------------------------------------
// Slots and budgets

TEST(PacPool, NoFreeSlotInTimeIsSaturatedAndTheJobNeverRuns) {
  PacPool pool(options(2));
  Held a, b;
  auto fa = std::async(std::launch::async, [&, job = a.job(1, millis(20'000))]() mutable {
    return pool.evaluate(std::move(job));
  });
  auto fb = std::async(std::launch::async, [&, job = b.job(2, millis(20'000))]() mutable {
    return pool.evaluate(std::move(job));
  });
  a.seen.wait();
  b.seen.wait();

  std::atomic<bool> ran{false};
  const auto before = Clock::now();
  const PacAnswer answer = pool.evaluate(make_job(millis(150), [&](auto) {
    ran = true;
    return steps(9);
  }));
  const auto waited = Clock::now() - before;
  const auto* saturated = error_of<Error::PacSaturated>(answer);
  ASSERT_NE(saturated, nullptr);
  EXPECT_EQ(saturated->timeout, millis(150));
  EXPECT_EQ(saturated->limit, 2u);
  EXPECT_GE(waited, 150ms);
  EXPECT_LT(waited, 10s);

  a.gate->count_down();
  b.gate->count_down();
  const PacAnswer ra = fa.get(), rb = fb.get();
  ASSERT_TRUE(ra);
  ASSERT_TRUE(rb);
  EXPECT_EQ(ra->size(), 1u);
  EXPECT_EQ(rb->size(), 2u);
  EXPECT_FALSE(ran);
  EXPECT_EQ(pool.stats().active, 0u);
}

// The freed slot wakes the waiting caller, which finds the thread that freed it already idle.
TEST(PacPool, WaitingCallerTakesTheFreedSlotAndItsThread) {
  PacPool pool(options(1));
  Held a;
  auto fa = std::async(std::launch::async, [&, job = a.job(1, millis(20'000))]() mutable {
    return pool.evaluate(std::move(job));
  });
  const std::thread::id ta = a.seen.get();
  auto where = std::make_shared<std::promise<std::thread::id>>();
  auto seen = where->get_future();
  auto fb = std::async(std::launch::async, [&] { return pool.evaluate(reporting(where, 2)); });
  std::this_thread::sleep_for(50ms);  // let it wait for the slot
  a.gate->count_down();
  ASSERT_TRUE(fa.get());
  const PacAnswer rb = fb.get();
  ASSERT_TRUE(rb);
  EXPECT_EQ(rb->size(), 2u);
  EXPECT_EQ(seen.get(), ta);
  EXPECT_EQ(pool.stats().started, 1u);
}

TEST(PacPool, OverrunTimesOutTheCallerAndItsLateAnswerIsDropped) {
  PacPool pool(options(1));
  Held a;
  const auto before = Clock::now();
  const PacAnswer answer = pool.evaluate(a.job(7, millis(150)));
  EXPECT_GE(Clock::now() - before, 150ms);
  const auto* timeout = error_of<Error::PacTimeout>(answer);
  ASSERT_NE(timeout, nullptr);
  EXPECT_EQ(timeout->timeout, millis(150));
  // The job still runs and holds the only slot.
  EXPECT_EQ(pool.stats().active, 1u);

  a.gate->count_down();
  a.finished->wait();
  ASSERT_TRUE(eventually([&] { return pool.stats().active == 0 && pool.stats().idle == 1; }));
  // The next caller gets its own answer from the same thread, not the dropped one.
  const PacAnswer next = pool.evaluate(answering(2));
  ASSERT_TRUE(next);
  EXPECT_EQ(next->size(), 2u);
  EXPECT_EQ(pool.stats().started, 1u);
}

// ---------------------------------------------------------------------------------------------
// Threads that end without an answer, and threads that cannot start

TEST(PacPool, ThreadEndingWithoutAnAnswerTellsTheCallerAndFreesTheSlot) {
  struct Case {
    const char* name;
    std::function<void()> fail;
    bool thread_survives;
  };
  const std::vector<Case> cases = {
      {"a std::exception", [] { throw std::runtime_error("boom"); }, true},
      {"something else thrown", [] { throw 42; }, false},
#ifndef _WIN32
      {"the thread exits", [] { pthread_exit(nullptr); }, false},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PacPool pool(options(1));
    const PacAnswer answer = pool.evaluate(make_job(millis(20'000), [&](auto) -> PacAnswer {
      c.fail();
      return steps(1);
    }));
    const auto* evaluation = error_of<Error::PacEvaluation>(answer);
    ASSERT_NE(evaluation, nullptr);
    EXPECT_EQ(evaluation->reason, kNoResult);
    // The only slot is free again, so this cannot be saturated.
    const PacAnswer next = pool.evaluate(answering(3, millis(5'000)));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->size(), 3u);
    EXPECT_EQ(pool.stats().started, c.thread_survives ? 1u : 2u);
  }
}

TEST(PacPool, ThreadThatCannotStartIsIoAndFreesTheSlot) {
  auto refusals = std::make_shared<std::atomic<int>>(1);
  PacPoolOptions o = options(1);
  o.start_thread =
      [refusals](std::string_view name,
                 threads::ThreadBody body) -> std::expected<threads::ThreadHandle, threads::SpawnError> {
    if (refusals->fetch_sub(1) > 0) return std::unexpected(threads::SpawnError{"no more threads", 11});
    return threads::start_thread(name, std::move(body));
  };
  PacPool pool(std::move(o));
  bool ran = false;
  const PacAnswer answer = pool.evaluate(make_job(millis(20'000), [&](auto) {
    ran = true;
    return steps(1);
  }));
  const auto* io = error_of<Error::Io>(answer);
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->context, "spawning the PAC evaluation thread");
  EXPECT_EQ(io->source.message, "no more threads");
  EXPECT_FALSE(ran);
  EXPECT_EQ(pool.stats().active, 0u);
  EXPECT_EQ(pool.stats().started, 0u);

  const PacAnswer next = pool.evaluate(answering(2, millis(5'000)));
  ASSERT_TRUE(next);
  EXPECT_EQ(next->size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Many callers, threads that idle out while callers arrive

TEST(PacPool, ManyCallersEachGetTheirOwnAnswer) {
  struct Case {
    const char* name;
    std::size_t slots;
    std::chrono::nanoseconds idle;
  };
  // An idle time of a millisecond makes threads leave while callers are taking their entries.
  const std::vector<Case> cases = {{"threads kept", 4, 10s}, {"threads leaving all the time", 3, 1ms}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PacPool pool(options(c.slots, c.idle));
    constexpr std::size_t kCallers = 12, kCalls = 40;
    std::atomic<std::size_t> wrong{0};
    std::vector<std::thread> callers;
    for (std::size_t t = 0; t < kCallers; ++t) {
      callers.emplace_back([&, t] {
        std::minstd_rand random(static_cast<unsigned>(t + 1));
        for (std::size_t i = 0; i < kCalls; ++i) {
          const std::size_t n = 1 + (t * kCalls + i) % 17;
          const auto pause = std::chrono::microseconds(random() % 1500);
          const PacAnswer answer = pool.evaluate(make_job(millis(30'000), [n, pause](auto) {
            std::this_thread::sleep_for(pause);
            return steps(n);
          }));
          if (!answer || answer->size() != n) wrong.fetch_add(1);
          std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
        }
      });
    }
    for (auto& t : callers) t.join();
    EXPECT_EQ(wrong.load(), 0u);
    EXPECT_EQ(pool.stats().active, 0u);
  }
}

// ---------------------------------------------------------------------------------------------
// fork()

#ifndef _WIN32
#if defined(__SANITIZE_THREAD__)
constexpr bool kForkedChildrenMayStartThreads = false;
#elif defined(__has_feature)
constexpr bool kForkedChildrenMayStartThreads = !__has_feature(thread_sanitizer);
#else
constexpr bool kForkedChildrenMayStartThreads = true;
#endif
// AddressSanitizer's allocator takes no lock around fork(): a child may find one held by a
// thread of its parent, and wait for ever in its first allocation on a new thread.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kForkedChildrenMayAllocate = false;
#elif defined(__has_feature)
constexpr bool kForkedChildrenMayAllocate = !__has_feature(address_sanitizer);
#else
constexpr bool kForkedChildrenMayAllocate = true;
#endif

// ThreadSanitizer cannot follow a child of a multi-threaded process that starts threads (it
// takes the child's new threads for its parent's); the other builds run these.
class PacPoolFork : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kForkedChildrenMayStartThreads)
      GTEST_SKIP() << "ThreadSanitizer does not support threads after fork()";
  }
};

// Run in a forked child: one evaluation, which must succeed and leave no slot taken.
int evaluate_in_child(PacPool& pool) {
  const PacAnswer answer = pool.evaluate(answering(4, millis(10'000)));
  if (!answer) {
    const Error& e = answer.error();
    return e.get_if<Error::PacSaturated>() ? 12 : e.get_if<Error::PacTimeout>() ? 13 : 14;
  }
  if (answer->size() != 4) return 15;
  if (pool.stats().active != 0) return 16;
  return 0;
}
constexpr const char* kChildCodes =
    "12: saturated, 13: timed out, 14: other error, 15: wrong answer, 16: slot left";

// The child has none of the parent's pool threads: a slot one of them held must not count
// there, nor may its idle entry be taken.
TEST_F(PacPoolFork, ChildCountsNoneOfTheParentsThreads) {
  struct Case {
    const char* name;
    bool hold_slot;
  };
  for (const Case c : {Case{"a slot held at fork", true}, Case{"an idle thread at fork", false}}) {
    SCOPED_TRACE(c.name);
    PacPool pool(options(1));
    Held held;
    std::future<PacAnswer> busy;
    if (c.hold_slot) {
      busy = std::async(std::launch::async, [&, job = held.job(1, millis(20'000))]() mutable {
        return pool.evaluate(std::move(job));
      });
      held.seen.wait();
    } else {
      ASSERT_TRUE(pool.evaluate(answering(1)));
      ASSERT_EQ(pool.stats().idle, 1u);
    }

    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) _exit(evaluate_in_child(pool));

    int status = 0;
    const bool ended = eventually([&] { return waitpid(child, &status, WNOHANG) == child; }, 30s);
    if (!ended) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
    }
    EXPECT_TRUE(ended) << "the child hung";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "2: saturated, 3: timed out, 4: other error, 5: wrong answer, 6: slot left";

    // The parent's pool goes on as before.
    if (c.hold_slot) {
      held.gate->count_down();
      ASSERT_TRUE(busy.get());
    }
    const PacAnswer after = pool.evaluate(answering(2));
    ASSERT_TRUE(after);
    EXPECT_EQ(pool.stats().started, 1u);
  }
}

// Forks while other threads are in and out of the pool's locks all the time: a lock that one
// of them held at that moment must not stay locked in the child.
TEST_F(PacPoolFork, ChildFindsThePoolsLocksFree) {
  if (!kForkedChildrenMayAllocate) GTEST_SKIP() << "AddressSanitizer's allocator is not safe across fork()";
  PacPool pool(options(2));
  ASSERT_TRUE(pool.evaluate(answering(1)));
  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  busy.reserve(4);
  for (int t = 0; t < 4; ++t) {
    busy.emplace_back([&] {
      while (!stop.load()) std::ignore = pool.stats();
    });
  }
  int hung = 0, failed = 0;
  for (int round = 0; round < 12; ++round) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) _exit(evaluate_in_child(pool));
    int status = 0;
    if (!eventually([&] { return waitpid(child, &status, WNOHANG) == child; }, 20s)) {
      ++hung;
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      ++failed;
      ADD_FAILURE() << "child status " << status << "; " << kChildCodes;
    }
  }
  stop = true;
  for (auto& t : busy) t.join();
  EXPECT_EQ(hung, 0);
  EXPECT_EQ(failed, 0);
}
#endif

}  // namespace
}  // namespace zelvane::pac
