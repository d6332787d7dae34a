// The calling thread's stack bounds, asked of the thread library once per thread.
#include "port/threadstack.h"

#include <pthread.h>

#include <cstdint>

namespace cslib::port {
namespace {

struct StackTop {
  std::uintptr_t top = 0;  // one past the highest stack address; 0 when unknown
  StackTop() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* base = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attr, &base, &size) == 0)
      top = reinterpret_cast<std::uintptr_t>(base) + size;
    pthread_attr_destroy(&attr);
  }
};

}  // namespace

bool InLiveStack(const void* p, std::size_t size) {
  static thread_local const StackTop stack;
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  // Everything from this frame up to the top is mapped and in use by live frames.
  const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  return stack.top != 0 && a >= frame && a < stack.top && size <= stack.top - a;
}

}  // namespace cslib::port
