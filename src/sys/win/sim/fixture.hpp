// Test-only: a fresh simulated Windows per test, which must end with every key and handle it
// gave out closed again, and no WinHTTP callback still owed.
#pragma once

#include <gtest/gtest.h>

#include "sys/win/sim/sim.hpp"

namespace zelvane::sys::win::sim {

class SimTest : public ::testing::Test {
 protected:
  void TearDown() override {
    control().settle_callbacks();  // the callbacks already on their way
    EXPECT_EQ(control().live_keys(), 0u) << "a registry key was left open";
    EXPECT_EQ(control().live_handles(), 0u) << "a kernel handle was left open";
    EXPECT_EQ(control().live_sessions(), 0u) << "a WinHTTP session was left open";
    EXPECT_EQ(control().live_resolvers(), 0u) << "a WinHTTP resolver was left open";
    EXPECT_EQ(control().held_callbacks(), 0u) << "a resolution's callback is still owed";
  }

  Platform& platform() { return windows_; }
  Control control() { return windows_.control(); }

  // The calls of one operation in the log, in order.
  std::vector<Call> calls(Op op) {
    std::vector<Call> out;
    for (Call& c : control().log()) {
      if (c.op == op) out.push_back(std::move(c));
    }
    return out;
  }

 private:
  Windows windows_;
};

}  // namespace zelvane::sys::win::sim
