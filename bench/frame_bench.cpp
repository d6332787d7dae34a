// Cost of the pointer checks that guard every public operation: a short string (one
// page probed) and a 4 KiB buffer (two pages when it straddles a boundary).
#include <benchmark/benchmark.h>

#include <cslib.h>

#include <cstdlib>
#include <vector>

namespace {

void BM_ReadCheckShortString(benchmark::State& state) {
  const char* text = "LPT1,Model 500";
  for (auto _ : state) benchmark::DoNotOptimize(CSIsValidReadPtr(text, 1));
}
BENCHMARK(BM_ReadCheckShortString);

void BM_WriteCheckShortString(benchmark::State& state) {
  char text[32] = "LPT1,Model 500";
  for (auto _ : state) benchmark::DoNotOptimize(CSIsValidWritePtr(text, sizeof text));
}
BENCHMARK(BM_WriteCheckShortString);

void BM_StrlenShortString(benchmark::State& state) {
  const char* text = "LPT1,Model 500";
  for (auto _ : state) benchmark::DoNotOptimize(CSStrlen(text));
}
BENCHMARK(BM_StrlenShortString);

// A 4 KiB buffer that starts in the middle of a page, so two pages are probed.
void BM_ReadCheck4KiB(benchmark::State& state) {
  std::vector<char> storage(3 * 4096);
  const char* buffer = storage.data() + 2048;
  for (auto _ : state) benchmark::DoNotOptimize(CSIsValidReadPtr(buffer, 4096));
}
BENCHMARK(BM_ReadCheck4KiB);

void BM_WriteCheck4KiB(benchmark::State& state) {
  std::vector<char> storage(3 * 4096);
  char* buffer = storage.data() + 2048;
  for (auto _ : state) benchmark::DoNotOptimize(CSIsValidWritePtr(buffer, 4096));
}
BENCHMARK(BM_WriteCheck4KiB);

}  // namespace

BENCHMARK_MAIN();
