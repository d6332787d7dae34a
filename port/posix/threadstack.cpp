// The calling thread's stack bounds, asked of the thread library once per thread.
#include "port/threadstack.h"

#include <pthread.h>

#include <cstdint>

namespace cslib::port {
namespace {

// One past the highest address of the calling thread's stack; 0 when unknown.
__attribute__((noinline)) std::uintptr_t AskStackTop() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  void* base = nullptr;
  std::size_t size = 0;
  std::uintptr_t top = 0;
  if (pthread_attr_getstack(&attr, &base, &size) == 0)
    top = reinterpret_cast<std::uintptr_t>(base) + size;
  pthread_attr_destroy(&attr);
  return top;
}

// Plain data, so the per-thread slot needs no initialisation guard; 1 marks a thread
// whose stack could not be told.
thread_local std::uintptr_t tStackTop __attribute__((tls_model("initial-exec"))) = 0;

// Kept apart so that the common path, on a thread whose stack is known, saves no
// registers.
__attribute__((noinline)) std::uintptr_t LearnStackTop() {
  const std::uintptr_t top = AskStackTop();
  tStackTop = top != 0 ? top : 1;
  return tStackTop;
}

}  // namespace

bool InLiveStack(const void* p, std::size_t size) {
  std::uintptr_t top = tStackTop;
  if (__builtin_expect(top == 0, 0)) top = LearnStackTop();
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  // Everything from this frame up to the top is mapped and in use by live frames.
  const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  return a >= frame && a < top && size <= top - a;
}

}  // namespace cslib::port
