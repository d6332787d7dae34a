// Cost of the registry store on a warm process (its database already open): a string
// Store and Retrieve through CISReg with a three-level key list, and the registry
// calls one Retrieve is made of. Runs in a scratch Windows directory of its own.
#include <benchmark/benchmark.h>
#include <cslib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/scratch_windir.h"
#include "port/registry.h"

namespace {

namespace port = cslib::port;

// A scratch Windows directory for the whole run, removed at the end.
ScratchWindir scratch;

// The key list Software\Example\Settings under the local machine, with one value.
struct Fixture {
  CISStringList list;
  CISRegErr result = CISRegErrFailed;
  CISReg* reg = nullptr;
  Fixture() {
    list.Add("Software");
    list.Add("Example");
    list.Add("Settings");
    port::RegHandle key = nullptr;
    port::CreateRegistryKey(port::RootHandle(port::kRegLocalMachine), "Software\\Example", &key,
                            nullptr);
    port::CloseRegistryKey(key);
    reg = new CISReg(&result, "HKEY_LOCAL_MACHINE", &list);
    reg->Store("Port", "LPT1:", CISsamNormal);
  }
  ~Fixture() { delete reg; }
};

void BM_CISRegStoreString(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) {
    if (f.reg->Store("Port", "LPT1:", CISsamNormal) != CISRegOk) state.SkipWithError("Store");
  }
}
BENCHMARK(BM_CISRegStoreString);

void BM_CISRegRetrieveString(benchmark::State& state) {
  Fixture f;
  char buffer[64];
  for (auto _ : state) {
    if (f.reg->Retrieve("Port", buffer, sizeof buffer - 1, nullptr) != CISRegOk)
      state.SkipWithError("Retrieve");
  }
}
BENCHMARK(BM_CISRegRetrieveString);

// The registry calls under one Retrieve: open the path, open the leaf, query, close both.
void BM_PortOpenQueryClose(benchmark::State& state) {
  Fixture f;
  char buffer[64];
  for (auto _ : state) {
    port::RegHandle path = nullptr, leaf = nullptr;
    port::OpenRegistryKey(port::RootHandle(port::kRegLocalMachine), "Software\\Example", &path);
    port::OpenRegistryKey(path, "Settings", &leaf);
    unsigned long size = sizeof buffer;
    port::QueryRegistryValue(leaf, "Port", nullptr, buffer, &size);
    port::CloseRegistryKey(leaf);
    port::CloseRegistryKey(path);
  }
}
BENCHMARK(BM_PortOpenQueryClose);

void BM_PortQueryOnly(benchmark::State& state) {
  Fixture f;
  port::RegHandle leaf = nullptr;
  port::OpenRegistryKey(port::RootHandle(port::kRegLocalMachine), "Software\\Example\\Settings",
                        &leaf);
  char buffer[64];
  for (auto _ : state) {
    unsigned long size = sizeof buffer;
    port::QueryRegistryValue(leaf, "Port", nullptr, buffer, &size);
  }
  port::CloseRegistryKey(leaf);
}
BENCHMARK(BM_PortQueryOnly);

}  // namespace

BENCHMARK_MAIN();
