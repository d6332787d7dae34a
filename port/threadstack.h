// Where the calling thread's stack lies. Out-pointers handed to the library are most
// often locals of the caller; a range inside the live part of the caller's stack is
// known to be writable without asking the kernel.
#ifndef CSLIB_PORT_THREADSTACK_H
#define CSLIB_PORT_THREADSTACK_H

#include <cstddef>
#include <cstdint>

namespace cslib::port {

// One past the highest address of the calling thread's stack: 0 until the thread first
// asks, 1 when its stack could not be told. Plain per-thread data (no initialisation
// guard), in the static TLS block so that reading it is one load.
extern __thread std::uintptr_t tStackTop __attribute__((tls_model("initial-exec")));

// Asks the thread library once per thread and records the answer in tStackTop.
std::uintptr_t LearnStackTop();

// True when [p, p + size) lies between the frame of the function this is inlined into
// and the top of the calling thread's stack, that is in the frames of its callers.
// False says nothing: the range may still be writable. Inline: it sits on every lock
// and allocation path.
__attribute__((always_inline)) inline bool InLiveStack(const void* p, std::size_t size) {
  std::uintptr_t top = tStackTop;
  if (__builtin_expect(top == 0, 0)) top = LearnStackTop();
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  // Everything from this frame up to the top is mapped and in use by live frames.
  const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  return a >= frame && a < top && size <= top - a;
}

}  // namespace cslib::port

#endif  // CSLIB_PORT_THREADSTACK_H
