// Parking a thread on a 32-bit word until another thread changes it and wakes it: a futex on
// Linux, WaitOnAddress on Windows. The wake is one system call, and only a parked thread needs
// one, so a handshake that finds its partner still awake costs no call at all.
//
// The protocol is the caller's: park only while the word holds the value that means "nothing
// to do yet", and have the waker change the word before it wakes. A change made before the
// park makes the park return at once, so no wake-up is lost. A park may also return for no
// reason (a signal, a wake meant for an earlier use of the word): callers look at the word
// again and park again if they must.
//
// Includes nothing of the project.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace zelvane::threads {

using ParkClock = std::chrono::steady_clock;

// Blocks while `word` holds `expected`, until a wake or until `until` (no limit without it).
void park(std::atomic<std::uint32_t>& word, std::uint32_t expected,
          std::optional<ParkClock::time_point> until);

// Wakes one thread parked on `word` (at most one), or every one of them.
void unpark_one(std::atomic<std::uint32_t>& word);
void unpark_all(std::atomic<std::uint32_t>& word);

// One step of a spin-wait: tells the processor (and a hypervisor) that this core waits.
inline void cpu_relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  __asm__ __volatile__("yield");
#endif
}

}  // namespace zelvane::threads
