// Inside the simulated Windows (its own files only; tests go through sim.hpp): the faults waiting
// for their call, the log of the calls answered, and Ledger::answer, the bookkeeping every
// platform call goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "sys/win/platform.hpp"
#include "sys/win/sim/calls.hpp"

namespace zelvane::sys::win::sim {

// A spawn's answer up to the start of its thread, which comes after the bookkeeping.
using SpawnAnswer = std::expected<void, SpawnError>;

// For each kind of answer: what a fault makes of it, and what its log entry keeps as the status.
template <class Result>
struct Outcome;

template <>
struct Outcome<std::uint32_t> {
  static std::uint32_t failed(const Fault& fault) { return fault.status; }
  static std::uint32_t status(std::uint32_t result) { return result; }
};

template <>
struct Outcome<CallResult> {
  static CallResult failed(const Fault& fault) { return {false, fault.status}; }
  static std::uint32_t status(const CallResult& result) { return result.last_error; }
};

template <>
struct Outcome<EventResult> {
  static EventResult failed(const Fault& fault) { return {Handle{}, fault.status}; }
  static std::uint32_t status(const EventResult& result) { return result.last_error; }
};

template <>
struct Outcome<NetResult> {
  static NetResult failed(const Fault& fault) { return {NetHandle{}, fault.status}; }
  static std::uint32_t status(const NetResult& result) { return result.last_error; }
};

template <>
struct Outcome<WaitResult> {
  static WaitResult failed(const Fault& fault) { return {fault.wait_code, fault.status}; }
  static std::uint32_t status(const WaitResult& result) { return result.code; }
};

template <>
struct Outcome<SpawnAnswer> {
  static SpawnAnswer failed(const Fault& fault) {
    return std::unexpected(SpawnError{"the simulated Windows refused to start the thread",
                                      static_cast<std::int32_t>(fault.status)});
  }
  static std::uint32_t status(const SpawnAnswer& result) {
    return result ? 0 : static_cast<std::uint32_t>(result.error().code);
  }
};

// What a call that a fault answers still does.
enum class OnFault : std::uint8_t {
  Nothing,
  // Its work (a close, whose answer the fault replaces), so that the leak counts keep meaning
  // what they say.
  Close,
};

class Ledger {
 public:
  // One platform call, with the lock held: the fault that comes due on `call` answers it,
  // instead of `body` or over its answer as `on_fault` says; else `body` does. The answer then
  // goes into the log as `call` with its status. `body` may let go of the lock while it runs (a
  // wait), so that the entry is logged when the call returns.
  template <class Body>
  std::invoke_result_t<Body&> answer(Call call, Body&& body, OnFault on_fault = OnFault::Nothing) {
    using Result = std::invoke_result_t<Body&>;
    const std::optional<Fault> fault = take_fault(call);
    Result result = [&]() -> Result {
      if (!fault) return body();
      if (on_fault == OnFault::Close) body();
      return Outcome<Result>::failed(*fault);
    }();
    call.status = Outcome<Result>::status(result);
    call.injected = fault.has_value();
    record(std::move(call));
    return result;
  }

  // The number the next entry will have (counting every call logged, fallen out or not), and a
  // status learned after its entry was logged (a thread that did not start); nothing once the
  // entry has fallen out.
  std::uint64_t next_entry() const { return log_first_ + log_.size(); }
  void amend(std::uint64_t entry, std::uint32_t status);

  void add_fault(Fault fault);
  std::vector<Call> log() const { return {log_.begin(), log_.end()}; }
  void clear_log();  // also the count of calls that fell out
  void set_log_limit(std::size_t limit);
  std::uint64_t log_dropped() const { return log_dropped_; }
  // No faults, an empty log.
  void reset();

 private:
  struct PendingFault {
    Fault fault;
    std::uint32_t calls_left;
  };

  // The fault that answers this call, if one comes due; every fault it matches counts it.
  std::optional<Fault> take_fault(const Call& call);
  void record(Call call);
  void drop_oldest();

  std::vector<PendingFault> faults_;
  std::deque<Call> log_;
  std::uint64_t log_first_ = 0;  // the number of log_.front(), counting every call from the first
  std::uint64_t log_dropped_ = 0;
  std::size_t log_limit_ = std::size_t{1} << 16;
};

}  // namespace zelvane::sys::win::sim
