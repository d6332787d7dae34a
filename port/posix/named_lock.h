// The named mutex's state as every process sees it in the shared object: a futex word
// holding the owner's thread id, the owner's nesting depth, and who the owner is, so
// that a waiter can tell a dead owner from a live one. Kept in a header of its own so
// that tests can forge the states a dead or reused owner leaves behind.
#ifndef CSLIB_PORT_POSIX_NAMED_LOCK_H
#define CSLIB_PORT_POSIX_NAMED_LOCK_H

#include <atomic>
#include <cstdint>

namespace cslib::port {

struct NamedLockState {
  // Thread ids stay below 2^22, so the top bit of the word is free for the waiters flag.
  static constexpr std::uint32_t kWaiters = 0x80000000u;
  static constexpr std::uint32_t kThreadMask = ~kWaiters;
  // Above every thread id: a word left by another kind of lock never passes for it.
  static constexpr std::uint32_t kMagic = 0x4E4D5831u;

  std::uint32_t magic;
  std::atomic<std::uint32_t> word;   // 0 free; else owner's thread id, maybe | kWaiters
  std::atomic<std::uint32_t> depth;  // the owner's acquisitions; only the owner touches it
  std::uint32_t reserved;
  // OwnerIdentity of the owner, written just after it took the word; 0 once released.
  std::atomic<std::uint64_t> owner;
};

// A thread as a waiter can check it later: its id, and the low bits of its start time
// (clock ticks since boot, 0 when unknown), which tell it from a later thread that
// got the same id.
constexpr std::uint64_t OwnerIdentity(std::uint32_t thread, std::uint64_t start_time) {
  return std::uint64_t{thread} << 32 | (start_time & 0xFFFFFFFFu);
}

// The calling thread's id and identity; cheap after the first call in a thread.
std::uint32_t CurrentThreadId();
std::uint64_t CurrentThreadIdentity();

}  // namespace cslib::port

#endif  // CSLIB_PORT_POSIX_NAMED_LOCK_H
