// The monotonic clock behind the stopwatch's performance counter. It never goes
// back and is not moved by changes of the wall-clock time.
#ifndef CSLIB_PORT_CLOCK_H
#define CSLIB_PORT_CLOCK_H

#include <cstdint>

namespace cslib::port {

// Ticks of the monotonic clock per second. One tick is a microsecond, so the low
// 32 bits of a reading wrap only after about 71 minutes.
inline constexpr std::uint32_t kMonotonicTicksPerSecond = 1000000;

// The current reading of the monotonic clock in ticks since an arbitrary origin.
std::uint64_t MonotonicTicks();

}  // namespace cslib::port

#endif  // CSLIB_PORT_CLOCK_H
