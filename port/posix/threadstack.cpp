// The calling thread's stack bounds, asked of the thread library once per thread.
#include "port/threadstack.h"

#include <pthread.h>

namespace cslib::port {

__thread std::uintptr_t tStackTop __attribute__((tls_model("initial-exec"))) = 0;

namespace {

// One past the highest address of the calling thread's stack; 0 when unknown.
std::uintptr_t AskStackTop() {
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

// Out of line and cold, so that the inline check saves no registers for it.
__attribute__((noinline, cold)) std::uintptr_t LearnStackTop() {
  const std::uintptr_t top = AskStackTop();
  tStackTop = top != 0 ? top : 1;
  return tStackTop;
}

}  // namespace cslib::port
