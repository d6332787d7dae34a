// The stopwatch: CSWatch accumulates the ticks of several runs (Start to Stop) of
// a timer chosen when the watch is made, until it is reset. Seconds are Elapsed()
// divided by ResolutionFreq(). All tick arithmetic is unsigned 32-bit and wraps.
#ifndef CSLIB_WATCH_H
#define CSLIB_WATCH_H

#include <cstdint>

#include "cslib/export.h"

enum CSWatchMode {
  CSWatchModePerfCounter = 0,  // the performance counter (a monotonic clock)
  CSWatchModeReserved = 1,     // no timer: the watch measures nothing
  CSWatchModeNull = 2          // a timer that always reads 0, frequency 1
};

enum CSWatchErr { CSWatchErrMode = -5 };

// A source of readings. The library's timers hold no data and are shared by every
// watch of their mode; ReleaseTimer is called when a watch using one is destroyed.
class CSLIB_API CSTimer {
 public:
  virtual ~CSTimer();
  virtual void ReleaseTimer() = 0;
  virtual std::uint32_t GetCount() = 0;      // the current reading
  virtual std::uint32_t GetFrequency() = 0;  // readings per second
};

// The performance counter: the low 32 bits of a monotonic clock counting
// microseconds (frequency 1000000), so a run may last up to about 71 minutes.
class CSLIB_API CSPerfTimer : public CSTimer {
 public:
  ~CSPerfTimer() override;
  void ReleaseTimer() override;
  std::uint32_t GetCount() override;
  std::uint32_t GetFrequency() override;
};

// Always reads 0; frequency 1.
class CSLIB_API CSNullTimer : public CSTimer {
 public:
  ~CSNullTimer() override;
  void ReleaseTimer() override;
  std::uint32_t GetCount() override;
  std::uint32_t GetFrequency() override;
};

class CSLIB_API CSWatch {
 public:
  // State 0 (reset) with the mode's timer; state 3 (no timer) for
  // CSWatchModeReserved and any value outside the enumeration.
  CSWatch(CSWatchMode mode = CSWatchModePerfCounter);
  ~CSWatch();
  CSWatch(const CSWatch& other) = default;
  // Copies every field; both watches then read the same timer.
  CSWatch& operator=(const CSWatch& other);

  void Reset();  // with a timer: state 0, every count 0; without: nothing
  void Start();  // from reset or stopped: reads the start, running; else nothing
  void Stop();   // when running: adds the run to the total, stopped; else nothing
  // The total of completed runs, plus the current run when running.
  unsigned long Elapsed();
  // The timer's readings per second; 1 for a watch without a timer, so that
  // Elapsed() / ResolutionFreq() is always defined.
  unsigned long ResolutionFreq();
  CSWatchMode WatchMode();  // always CSWatchModePerfCounter
  // 0 for CSWatchModePerfCounter, else CSWatchErrMode; the watch never changes.
  long WatchModeSet(CSWatchMode mode);

 private:
  CSTimer* GetSysTimer(CSWatchMode mode);

  std::uint32_t m_StartCount;
  std::uint32_t m_StopCount;
  std::uint32_t m_Total;
  std::int32_t m_State;  // 0 reset, 1 running, 2 stopped, 3 no timer
  CSTimer* m_Timer;
};

#endif  // CSLIB_WATCH_H
