// Costs of the memory layer against the least each operation must do: a memory
// object's allocate-lock-unlock-dispose cycle against two mallocs and frees, a CSList
// against std::list, and in-order reading of a string list (one step per entry).
#include <benchmark/benchmark.h>
#include <cslib.h>

#include <cstdlib>
#include <list>
#include <string>

namespace {

void MemObjectCycle(benchmark::State& state) {
  for (auto _ : state) {
    CSMemObject* m = nullptr;
    CSAllocMemory(64, CSMemAlignNone, &m, nullptr);
    unsigned char* p = nullptr;
    CSLockMemory(m, &p);
    benchmark::DoNotOptimize(p);
    CSUnlockMemory(m);
    CSDisposeMemory(m);
  }
}
BENCHMARK(MemObjectCycle);

// The floor: the object and its storage, each taken from and given back to the heap.
void MallocFloor(benchmark::State& state) {
  for (auto _ : state) {
    void* object = std::malloc(sizeof(CSHeapMemObject));
    benchmark::DoNotOptimize(object);
    void* storage = std::malloc(64 + sizeof(void*));
    benchmark::DoNotOptimize(storage);
    std::free(storage);
    std::free(object);
  }
}
BENCHMARK(MallocFloor);

constexpr int kElements = 10000;

void ListAppendDelete(benchmark::State& state) {
  for (auto _ : state) {
    CSList list;
    CSListIterator it(list);
    for (int i = 0; i < kElements; ++i) list.Append(it.Tail(), &list);
    it.Head();
    while (it.IsValid()) list.Delete(it);
    benchmark::DoNotOptimize(list.Count());
  }
  state.SetItemsProcessed(state.iterations() * kElements);
}
BENCHMARK(ListAppendDelete);

void StdListAppendDelete(benchmark::State& state) {
  for (auto _ : state) {
    std::list<void*> list;
    for (int i = 0; i < kElements; ++i) list.push_back(&list);
    while (!list.empty()) list.pop_front();
    benchmark::DoNotOptimize(list.size());
  }
  state.SetItemsProcessed(state.iterations() * kElements);
}
BENCHMARK(StdListAppendDelete);

// Reading entries 1 to n in order; time per entry stays flat as n grows.
void StringListReadInOrder(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  CISStringList list;
  for (int i = 0; i < n; ++i) list.Add(("printer " + std::to_string(i)).c_str());
  for (auto _ : state) {
    for (int i = 1; i <= n; ++i) benchmark::DoNotOptimize(list.Find(static_cast<unsigned char>(i)));
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(StringListReadInOrder)->Arg(32)->Arg(64)->Arg(128)->Arg(255);

}  // namespace

BENCHMARK_MAIN();
