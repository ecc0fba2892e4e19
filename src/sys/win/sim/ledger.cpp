#include "sys/win/sim/ledger.hpp"

#include <algorithm>
#include <string>

#include "sys/win/sim/state.hpp"
#include "util/ascii.hpp"

namespace zelvane::sys::win::sim {

namespace {

bool same_text(std::string_view a, std::string_view b) { return util::equals_ignore_ascii_case(a, b); }

}  // namespace

std::optional<Fault> Ledger::take_fault(const Call& call) {
  std::optional<Fault> due;
  for (auto it = faults_.begin(); it != faults_.end();) {
    const Fault& f = it->fault;
    const bool matches = f.op == call.op && (f.key.empty() || same_text(f.key, call.key)) &&
                         (!f.value || (call.value && same_text(*f.value, *call.value)));
    if (matches && --it->calls_left == 0) {
      if (!due) due = f;
      it = faults_.erase(it);
    } else {
      ++it;
    }
  }
  return due;
}

void Ledger::record(Call call) {
  if (log_limit_ == 0) {
    ++log_first_;
    ++log_dropped_;
    return;
  }
  while (log_.size() >= log_limit_) drop_oldest();
  log_.push_back(std::move(call));
}

void Ledger::drop_oldest() {
  log_.pop_front();
  ++log_first_;
  ++log_dropped_;
}

void Ledger::amend(std::uint64_t entry, std::uint32_t status) {
  if (entry < log_first_ || entry - log_first_ >= log_.size()) return;
  log_[static_cast<std::size_t>(entry - log_first_)].status = status;
}

void Ledger::add_fault(Fault fault) {
  const std::uint32_t nth = std::max<std::uint32_t>(fault.nth, 1);
  faults_.push_back({std::move(fault), nth});
}

void Ledger::clear_log() {
  log_first_ += log_.size();
  log_.clear();
  log_dropped_ = 0;
}

void Ledger::set_log_limit(std::size_t limit) {
  log_limit_ = limit;
  while (log_.size() > limit) drop_oldest();
}

void Ledger::reset() {
  faults_.clear();
  clear_log();
}

// ---- the control side

void Control::fail_next(Fault fault) {
  locked([&](auto& s) { s.ledger.add_fault(std::move(fault)); });
}

void Control::fail_next(Op op, std::string key, std::uint32_t status, std::uint32_t nth) {
  fail_next(Fault{op, std::move(key), std::nullopt, status, nth});
}

std::vector<Call> Control::log() const {
  return locked([](auto& s) { return s.ledger.log(); });
}

void Control::clear_log() {
  locked([](auto& s) { s.ledger.clear_log(); });
}

void Control::set_log_limit(std::size_t limit) {
  locked([&](auto& s) { s.ledger.set_log_limit(limit); });
}

std::uint64_t Control::log_dropped() const {
  return locked([](auto& s) { return s.ledger.log_dropped(); });
}

}  // namespace zelvane::sys::win::sim
