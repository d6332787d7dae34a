// Cost of the formatted print beside the C library's snprintf on the kinds of text the
// library builds (object names, hex values), and of a long text argument, whose
// pointer probes are the formatter's own overhead.
#include <benchmark/benchmark.h>
#include <cslib.h>

#include <cstdio>
#include <string>

namespace {

void BM_SprintfName(benchmark::State& state) {
  char buffer[1024];
  for (auto _ : state) benchmark::DoNotOptimize(CSSprintf(buffer, "SHRMEM_%s", "LPT1,Model 500"));
}
BENCHMARK(BM_SprintfName);

void BM_SnprintfName(benchmark::State& state) {
  char buffer[1024];
  for (auto _ : state)
    benchmark::DoNotOptimize(std::snprintf(buffer, sizeof buffer, "SHRMEM_%s", "LPT1,Model 500"));
}
BENCHMARK(BM_SnprintfName);

void BM_SprintfNumbers(benchmark::State& state) {
  char buffer[1024];
  for (auto _ : state)
    benchmark::DoNotOptimize(CSSprintf(buffer, "%08lx %d %u", 0xBEEFul, -42, 7u));
}
BENCHMARK(BM_SprintfNumbers);

void BM_SnprintfNumbers(benchmark::State& state) {
  char buffer[1024];
  for (auto _ : state)
    benchmark::DoNotOptimize(
        std::snprintf(buffer, sizeof buffer, "%08lx %d %u", 0xBEEFul, -42, 7u));
}
BENCHMARK(BM_SnprintfNumbers);

void BM_SprintfLongText(benchmark::State& state) {
  const std::string text(1000, 'a');
  char buffer[1024];
  for (auto _ : state) benchmark::DoNotOptimize(CSSprintf(buffer, "%s", text.c_str()));
}
BENCHMARK(BM_SprintfLongText);

void BM_SnprintfLongText(benchmark::State& state) {
  const std::string text(1000, 'a');
  char buffer[1024];
  for (auto _ : state)
    benchmark::DoNotOptimize(std::snprintf(buffer, sizeof buffer, "%s", text.c_str()));
}
BENCHMARK(BM_SnprintfLongText);

}  // namespace

BENCHMARK_MAIN();
