// The C run-time heap and the address space on Linux: malloc_usable_size, and the
// address-space limit and mapped size of the process (getrlimit, /proc/self/statm).
// glibc's heap check (mcheck) must be switched on before the first allocation, which
// a library cannot do, so the heap counts as sound.
#include "port/heap.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

namespace cslib::port {

std::size_t HeapUsableSize(void* p) {
  return p ? malloc_usable_size(p) : 0;
}

bool HeapIsSound() {
  return true;
}

unsigned long FreeAddressSpace() {
  // The user half of the address space: 47 bits on 64-bit Linux hosts, 3 GiB on
  // 32-bit ones.
  unsigned long limit = sizeof(void*) == 8 ? (1UL << 47) : 0xC0000000UL;
  struct rlimit rl;
  if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur < limit)
    limit = static_cast<unsigned long>(rl.rlim_cur);
  std::FILE* f = std::fopen("/proc/self/statm", "re");
  if (!f) return 0;
  unsigned long pages = 0;
  const int got = std::fscanf(f, "%lu", &pages);
  std::fclose(f);
  if (got != 1) return 0;
  const unsigned long mapped = pages * static_cast<unsigned long>(sysconf(_SC_PAGESIZE));
  return mapped < limit ? limit - mapped : 0;
}

}  // namespace cslib::port
