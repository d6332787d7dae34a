// The monotonic clock on POSIX: CLOCK_MONOTONIC, in microseconds.
#include "port/clock.h"

#include <time.h>

namespace cslib::port {

std::uint64_t MonotonicTicks() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);  // cannot fail for this clock id
  return static_cast<std::uint64_t>(ts.tv_sec) * kMonotonicTicksPerSecond +
         static_cast<std::uint64_t>(ts.tv_nsec) / (1000000000 / kMonotonicTicksPerSecond);
}

}  // namespace cslib::port
