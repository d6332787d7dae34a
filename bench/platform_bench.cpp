// Cost of the stopwatch against the clock it reads: Start, Stop and Elapsed each
// make one reading and allocate nothing, so a run costs about two clock reads.
#include <benchmark/benchmark.h>
#include <cslib.h>

#include "port/clock.h"

namespace {

void BM_ClockRead(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(cslib::port::MonotonicTicks());
}
BENCHMARK(BM_ClockRead);

void BM_WatchStartStop(benchmark::State& state) {
  CSWatch watch;
  for (auto _ : state) {
    watch.Start();
    watch.Stop();
  }
  benchmark::DoNotOptimize(watch.Elapsed());
}
BENCHMARK(BM_WatchStartStop);

void BM_WatchElapsedWhileRunning(benchmark::State& state) {
  CSWatch watch;
  watch.Start();
  for (auto _ : state) benchmark::DoNotOptimize(watch.Elapsed());
}
BENCHMARK(BM_WatchElapsedWhileRunning);

void BM_DriverDirectory(benchmark::State& state) {
  char buffer[512];
  for (auto _ : state) benchmark::DoNotOptimize(CSGetPrinterDriverDirectory(buffer));
}
BENCHMARK(BM_DriverDirectory);

}  // namespace

BENCHMARK_MAIN();
