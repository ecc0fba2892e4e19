#include "threads/thread.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zelvane::threads {
namespace {

// The id names the process, not the thread: a watcher or an idle pool thread is recognised by
// it from any thread.
TEST(ProcessIdTest, TheSameOnEveryThread) {
  const std::uint32_t here = process_id();
  std::uint32_t there = 0;
  std::thread([&] { there = process_id(); }).join();
  EXPECT_EQ(there, here);
#ifdef _WIN32
  EXPECT_EQ(here, static_cast<std::uint32_t>(GetProcessId(GetCurrentProcess())));
#endif
}

#ifndef _WIN32
// A child of fork() must see its own id, never one kept from the parent: that is how it tells
// the objects it inherited from those it made.
TEST(ProcessIdTest, AChildOfForkHasItsOwn) {
  const std::uint32_t parent = process_id();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::uint32_t own = process_id();
    _exit(own != parent && own == static_cast<std::uint32_t>(getpid()) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
}  // namespace zelvane::threads
