// Cost of typed reads and section moves: a warm RetrieveOrStoreDWord of an existing key
// in a 1,000-entry section (beside a RetrieveStr of the same section, for the ratio),
// and a MoveSection of 200 entries (every entry a locked, synced file replacement).
#include <benchmark/benchmark.h>
#include <cslib.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bench/scratch_windir.h"

namespace {

// A database whose section "Bench" holds `entries` double words, Key0 to Key<n-1>.
void WriteSection(const std::string& windir, int entries) {
  std::ofstream db(windir + "/QZFMRC15.INI", std::ios::binary);
  db << "[Other]\nx=1\n[Bench]\n";
  for (int i = 0; i < entries; ++i)
    db << "Key" << i << "="
       << "0a0b0c0d\n";
  db << "[Last]\ny=2\n";
}

// The first reads write the keys' section-map entries; let the files age past the
// timestamp tick so that the measured reads are warm.
void LetFilesSettle() {
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void BM_RetrieveOrStoreDWord(benchmark::State& state) {
  ScratchWindir windir;
  WriteSection(windir.path(), 1000);
  CISErr result;
  CrossInstanceStore store(result, "Bench", CISTypeMachine, "");
  unsigned long fallback = 7;
  if (store.RetrieveOrStoreDWord("key500", fallback) != 0x0d0c0b0aUL) {
    state.SkipWithError("set-up read failed");
    return;
  }
  LetFilesSettle();
  for (auto _ : state) benchmark::DoNotOptimize(store.RetrieveOrStoreDWord("key500", fallback));
}
BENCHMARK(BM_RetrieveOrStoreDWord);

void BM_RetrieveStrBeside(benchmark::State& state) {
  ScratchWindir windir;
  WriteSection(windir.path(), 1000);
  CISErr result;
  CrossInstanceStore store(result, "Bench", CISTypeMachine, "");
  char buffer[16];
  if (store.RetrieveStr("key500", buffer, sizeof buffer) != CISOk) {
    state.SkipWithError("set-up read failed");
    return;
  }
  LetFilesSettle();
  for (auto _ : state) benchmark::DoNotOptimize(store.RetrieveStr("key500", buffer, sizeof buffer));
}
BENCHMARK(BM_RetrieveStrBeside);

// Each iteration moves the 200 entries to the other of two sections.
void BM_MoveSection(benchmark::State& state) {
  ScratchWindir windir;
  WriteSection(windir.path(), 200);
  CISErr result;
  CrossInstanceStore store(result, "Own", CISTypeMachine, "");
  bool back = false;
  for (auto _ : state) {
    const CISErr moved =
        back ? store.MoveSection("Moved", "Bench") : store.MoveSection("Bench", "Moved");
    if (moved != CISOk) {
      state.SkipWithError("move failed");
      return;
    }
    back = !back;
  }
}
BENCHMARK(BM_MoveSection)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
