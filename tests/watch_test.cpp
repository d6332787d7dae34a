// The stopwatch: its states with the null timer and watches without a timer, and
// runs measured on the real clock against bounds taken around them.
#include <cslib.h>

#include <chrono>
#include <thread>

#include "support/testenv.h"

namespace {

using Clock = std::chrono::steady_clock;

long long Micros(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

TEST(Watch, NullTimerReadsZeroThroughEveryState) {
  CSWatch w(CSWatchModeNull);
  EXPECT_EQ(w.ResolutionFreq(), 1ul);
  EXPECT_EQ(w.WatchMode(), CSWatchModePerfCounter);
  w.Stop();  // not running: nothing
  w.Start();
  w.Start();
  EXPECT_EQ(w.Elapsed(), 0ul);
  w.Stop();
  w.Reset();
  EXPECT_EQ(w.Elapsed(), 0ul);
}

TEST(Watch, WithoutATimerNothingHappens) {
  for (int mode : {1, 3, -1, 1000}) {
    SCOPED_TRACE(mode);
    CSWatch w(static_cast<CSWatchMode>(mode));
    w.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(w.Elapsed(), 0ul);
    w.Stop();
    w.Reset();
    EXPECT_EQ(w.Elapsed(), 0ul);
    EXPECT_EQ(w.ResolutionFreq(), 1ul);
    EXPECT_EQ(w.WatchMode(), CSWatchModePerfCounter);
  }
}

TEST(Watch, WatchModeSetAcceptsOnlyThePerformanceCounterAndChangesNothing) {
  CSWatch w(CSWatchModeNull);
  EXPECT_EQ(w.WatchModeSet(CSWatchModePerfCounter), 0);
  EXPECT_EQ(w.WatchModeSet(CSWatchModeNull), CSWatchErrMode);
  EXPECT_EQ(w.WatchModeSet(CSWatchModeReserved), -5);
  EXPECT_EQ(w.ResolutionFreq(), 1ul);  // still the null timer

  CSWatch real;
  EXPECT_EQ(real.WatchModeSet(CSWatchModeNull), -5);
  EXPECT_EQ(real.ResolutionFreq(), 1000000ul);
}

// Elapsed ticks of one run, in microseconds, lie between the sleep inside it and
// the time measured outside it.
TEST(Watch, PerformanceCounterRunsSumAndExcludeTheGaps) {
  CSWatch w;
  ASSERT_EQ(w.ResolutionFreq(), 1000000ul);
  EXPECT_EQ(w.Elapsed(), 0ul);
  const auto sleep = std::chrono::milliseconds(15);

  auto t0 = Clock::now();
  w.Start();
  std::this_thread::sleep_for(sleep);
  w.Stop();
  const long long outer1 = Micros(Clock::now() - t0);
  const unsigned long first = w.Elapsed();
  EXPECT_GE(first, 15000ul);
  EXPECT_LE(static_cast<long long>(first), outer1);

  std::this_thread::sleep_for(sleep);  // between runs: not counted
  w.Stop();                            // not running: nothing
  EXPECT_EQ(w.Elapsed(), first);

  t0 = Clock::now();
  w.Start();
  std::this_thread::sleep_for(sleep);
  const unsigned long running = w.Elapsed();
  w.Start();  // already running: keeps its first reading
  std::this_thread::sleep_for(sleep);
  w.Stop();
  const long long outer2 = Micros(Clock::now() - t0);
  const unsigned long both = w.Elapsed();
  EXPECT_GE(running, first + 15000);
  EXPECT_GE(both, first + 30000);
  EXPECT_LE(static_cast<long long>(both), outer1 + outer2);
  EXPECT_EQ(w.Elapsed(), both);

  // A copy shares the timer and takes the counts.
  CSWatch copy(CSWatchModeNull);
  copy = w;
  EXPECT_EQ(copy.Elapsed(), both);
  EXPECT_EQ(copy.ResolutionFreq(), 1000000ul);
}

TEST(Watch, ResetWhileRunningStopsAndClears) {
  CSWatch w;
  w.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  w.Reset();
  EXPECT_EQ(w.Elapsed(), 0ul);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(w.Elapsed(), 0ul);  // not running any more
  w.Stop();
  EXPECT_EQ(w.Elapsed(), 0ul);
  w.Start();  // a reset watch starts again
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_GE(w.Elapsed(), 2000ul);
}

}  // namespace
