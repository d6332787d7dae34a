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

}  // namespace

bool InLiveStack(const void* p, std::size_t size) {
  // Plain data, so the per-thread slot needs no initialisation guard; 1 marks a
  // thread whose stack could not be told.
  static thread_local std::uintptr_t top __attribute__((tls_model("initial-exec"))) = 0;
  if (top == 0) {
    top = AskStackTop();
    if (top == 0) top = 1;
  }
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  // Everything from this frame up to the top is mapped and in use by live frames.
  const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  return a >= frame && a < top && size <= top - a;
}

}  // namespace cslib::port
