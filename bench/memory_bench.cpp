// Costs of the memory layer against the least each operation must do: a memory
// object's allocate-lock-unlock-dispose cycle against two mallocs and frees (and a
// stripped model of a memory object beside it), a CSList against std::list, and
// in-order reading of a string list (one step per entry).
#include <benchmark/benchmark.h>
#include <cslib.h>

#include <cstdlib>
#include <cstring>
#include <list>
#include <new>
#include <string>

#include "port/threadstack.h"

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

// The least any memory object can do in the same cycle, as a bound for the ratio above:
// a class with virtual storage operations made through operator new, its storage from
// malloc behind a back pointer, the check and state words, and the out-pointers checked
// against the caller's stack. None of alignment, the full validity rule, probing of
// pointers off the stack or the library's other paths. The four entry points are kept
// out of line, as calls into the library are.
namespace model {

// The library's own test of an out-pointer on the caller's stack.
inline bool OnStack(const void* p) {
  return cslib::port::InLiveStack(p, sizeof(void*));
}

struct Object {
  virtual long OSAllocate(unsigned long size) = 0;
  virtual unsigned char* OSLock() = 0;
  virtual void OSUnlock() = 0;
  virtual long OSFree() = 0;
  virtual ~Object() { *static_cast<volatile unsigned short*>(&check) = 0; }
  unsigned short flags = 0;
  unsigned short check = 0xABCD;
  void* user = nullptr;
  int align = 0;
};

struct HeapObject : Object {
  void* raw = nullptr;
  long OSAllocate(unsigned long size) override {
    if (size > static_cast<unsigned long>(-1) - sizeof(void*)) return -2907;
    raw = std::malloc(size + sizeof(void*));
    if (!raw) return -2907;
    HeapObject* self = this;
    std::memcpy(raw, &self, sizeof self);
    return 0;
  }
  unsigned char* OSLock() override {
    return raw ? static_cast<unsigned char*>(raw) + sizeof(void*) : nullptr;
  }
  void OSUnlock() override {}
  long OSFree() override {
    std::free(raw);
    raw = nullptr;
    return 0;
  }
  ~HeapObject() override { std::free(raw); }
};

[[gnu::noinline]] long Alloc(unsigned long size, int align, Object** out) {
  if (!OnStack(out)) return -2900;
  auto* obj = new (std::nothrow) HeapObject;
  *out = obj;
  if (!obj) return -2907;
  if (align < 0 || align > 5) return -2905;
  obj->align = align;
  const long r = obj->OSAllocate(size);
  if (r == 0) obj->flags |= 0x4000;
  return r;
}

[[gnu::noinline]] long Lock(Object* obj, unsigned char** data) {
  if (!obj || obj->check != 0xABCD || !OnStack(data)) return -2900;
  *data = nullptr;
  if ((obj->flags & 0xC000) == 0) return -2904;
  if ((obj->flags & 0x3FFF) == 0x3FFF) return -2902;
  unsigned char* p = obj->OSLock();
  if (!p) return -2909;
  ++obj->flags;
  *data = p;
  return 0;
}

[[gnu::noinline]] long Unlock(Object* obj) {
  if (!obj || obj->check != 0xABCD) return -2900;
  if ((obj->flags & 0x3FFF) == 0) return -2901;
  --obj->flags;
  obj->OSUnlock();
  return 0;
}

[[gnu::noinline]] long Dispose(Object* obj) {
  if (!obj || obj->check != 0xABCD) return -2900;
  long r = 0;
  if ((obj->flags & 0x3FFF) != 0) {
    r = -2902;
  } else if ((obj->flags & 0x4000) != 0) {
    r = obj->OSFree();
    obj->flags &= ~0x4000;
  }
  delete obj;
  return r;
}

}  // namespace model

void MemObjectCycleModel(benchmark::State& state) {
  for (auto _ : state) {
    model::Object* m = nullptr;
    model::Alloc(64, 0, &m);
    unsigned char* p = nullptr;
    model::Lock(m, &p);
    benchmark::DoNotOptimize(p);
    model::Unlock(m);
    model::Dispose(m);
  }
}
BENCHMARK(MemObjectCycleModel);

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
