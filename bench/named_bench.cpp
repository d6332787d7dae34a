// Cost of the named mutex against process-shared pthread mutexes, and of creating and
// opening a shared block.
#include <benchmark/benchmark.h>
#include <cslib.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace {

std::string Name(const char* what) {
  return what + std::to_string(getpid());
}

void BM_MutexAquireRelease(benchmark::State& state) {
  CSMutex mutex(Name("bm").c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(mutex.Aquire());
    benchmark::DoNotOptimize(mutex.Release());
  }
}
BENCHMARK(BM_MutexAquireRelease);

void PthreadLockUnlock(benchmark::State& state, bool robustRecursive) {
  void* memory = mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  auto* m = static_cast<pthread_mutex_t*>(memory);
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  if (robustRecursive) {
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  }
  pthread_mutex_init(m, &attr);
  for (auto _ : state) {
    benchmark::DoNotOptimize(pthread_mutex_lock(m));
    benchmark::DoNotOptimize(pthread_mutex_unlock(m));
  }
  pthread_mutex_destroy(m);
  munmap(memory, sizeof(pthread_mutex_t));
}

void BM_PthreadSharedLockUnlock(benchmark::State& state) {
  PthreadLockUnlock(state, false);
}
BENCHMARK(BM_PthreadSharedLockUnlock);

// For comparison: what the system's own handling of dead owners and recursion costs.
void BM_PthreadRobustRecursiveLockUnlock(benchmark::State& state) {
  PthreadLockUnlock(state, true);
}
BENCHMARK(BM_PthreadRobustRecursiveLockUnlock);

long Zero(CSSharedMemBlock*, unsigned char* data) {
  data[0] = 0;
  return 0;
}

// Every round creates the memory and its mutex afresh and removes both again.
void BM_SharedBlockCreateAndFree(benchmark::State& state) {
  const std::string name = Name("bc");
  for (auto _ : state) {
    CSSharedMemBlock block(name.c_str(), 4096, Zero, 0, nullptr);
    benchmark::DoNotOptimize(block.Valid());
  }
}
BENCHMARK(BM_SharedBlockCreateAndFree);

// Opening memory another holder keeps alive.
void BM_SharedBlockOpenAndFree(benchmark::State& state) {
  const std::string name = Name("bo");
  CSSharedMemBlock holder(name.c_str(), 4096, Zero, 0, nullptr);
  for (auto _ : state) {
    CSSharedMemBlock block(name.c_str(), 4096, Zero, 0, nullptr);
    benchmark::DoNotOptimize(block.Valid());
  }
}
BENCHMARK(BM_SharedBlockOpenAndFree);

}  // namespace

BENCHMARK_MAIN();
