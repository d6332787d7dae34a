// The stopwatch and its two timers. The timers hold no state, so one instance of
// each serves every watch: a watch and all its copies can share it, nothing is
// allocated per watch, and nothing is left behind when a watch goes away.
#include <new>

#include "cslib/watch.h"
#include "port/clock.h"

namespace {

enum : std::int32_t { kReset = 0, kRunning = 1, kStopped = 2, kNoTimer = 3 };

// The one instance of a timer class. It is never destroyed, so a watch that lives
// in static storage can still release its timer while the process exits.
template <class Timer>
CSTimer* SharedTimer() {
  alignas(Timer) static unsigned char storage[sizeof(Timer)];
  static Timer* const timer = new (storage) Timer;
  return timer;
}

}  // namespace

CSTimer::~CSTimer() = default;

CSPerfTimer::~CSPerfTimer() = default;
void CSPerfTimer::ReleaseTimer() {}
std::uint32_t CSPerfTimer::GetCount() {
  return static_cast<std::uint32_t>(cslib::port::MonotonicTicks());
}
std::uint32_t CSPerfTimer::GetFrequency() {
  return cslib::port::kMonotonicTicksPerSecond;
}

CSNullTimer::~CSNullTimer() = default;
void CSNullTimer::ReleaseTimer() {}
std::uint32_t CSNullTimer::GetCount() {
  return 0;
}
std::uint32_t CSNullTimer::GetFrequency() {
  return 1;
}

CSWatch::CSWatch(CSWatchMode mode)
    : m_StartCount(0), m_StopCount(0), m_Total(0), m_Timer(GetSysTimer(mode)) {
  m_State = m_Timer ? kReset : kNoTimer;
}

CSWatch::~CSWatch() {
  if (m_Timer) m_Timer->ReleaseTimer();
  m_Timer = nullptr;
}

CSWatch& CSWatch::operator=(const CSWatch& other) = default;

CSTimer* CSWatch::GetSysTimer(CSWatchMode mode) {
  switch (mode) {
    case CSWatchModePerfCounter:
      return SharedTimer<CSPerfTimer>();
    case CSWatchModeNull:
      return SharedTimer<CSNullTimer>();
    default:
      return nullptr;
  }
}

void CSWatch::Reset() {
  if (!m_Timer) return;
  m_State = kReset;
  m_StartCount = m_StopCount = m_Total = 0;
}

void CSWatch::Start() {
  if (!m_Timer || m_State == kRunning) return;
  m_StartCount = m_Timer->GetCount();
  m_State = kRunning;
}

void CSWatch::Stop() {
  if (!m_Timer || m_State != kRunning) return;
  m_StopCount = m_Timer->GetCount();
  m_State = kStopped;
  m_Total += m_StopCount - m_StartCount;
}

unsigned long CSWatch::Elapsed() {
  if (m_Timer && m_State == kRunning) {
    const std::uint32_t now = m_Timer->GetCount();
    return static_cast<std::uint32_t>(m_Total + (now - m_StartCount));
  }
  return m_Total;
}

unsigned long CSWatch::ResolutionFreq() {
  return m_Timer ? m_Timer->GetFrequency() : 1;
}

CSWatchMode CSWatch::WatchMode() {
  return CSWatchModePerfCounter;
}

long CSWatch::WatchModeSet(CSWatchMode mode) {
  return mode == CSWatchModePerfCounter ? 0 : CSWatchErrMode;
}
