// Pointer probes on Linux. Each page of a range is probed once with a system call
// that reads (or atomically rewrites with its own value) one aligned word of the
// page and reports EFAULT when it cannot; the kernel's fault handling does the
// check, so nothing here can fault. At first use the probes are tried on pages of
// known protection; if the kernel does not answer as expected (a sandbox that
// filters the calls), the probes fall back to reading /proc/self/maps.
#include "port/memprobe.h"

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace cslib::port {
namespace {

std::uintptr_t PageSize() {
  static const std::uintptr_t size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  return size;
}

// Reads the 8-byte word holding `a` as a new signal mask for an invalid `how`: the
// kernel copies the mask in (EFAULT when it cannot) and then rejects `how` with
// EINVAL, leaving the thread's mask alone.
bool SyscallCanReadPage(std::uintptr_t a) {
  const void* word = reinterpret_cast<const void*>(a & ~std::uintptr_t{7});
  long r = syscall(SYS_rt_sigprocmask, -1, word, nullptr, sizeof(std::uint64_t));
  return !(r < 0 && errno == EFAULT);
}

// FUTEX_WAKE_OP ORs 0 into the 4-byte word holding `a`: an atomic read-modify-write
// that needs write access and leaves the value as it was. It wakes no one.
bool SyscallCanWritePage(std::uintptr_t a) {
  static thread_local std::uint32_t dummy = 0;
  void* word = reinterpret_cast<void*>(a & ~std::uintptr_t{3});
  long r = syscall(SYS_futex, &dummy, FUTEX_WAKE_OP | FUTEX_PRIVATE_FLAG, 0, nullptr, word,
                   FUTEX_OP(FUTEX_OP_OR, 0, FUTEX_OP_CMP_EQ, 0));
  return !(r < 0 && errno == EFAULT);
}

// Fallback: the protection of the mapping that holds `a`, from /proc/self/maps.
bool MapsAllowPage(std::uintptr_t a, char perm) {
  std::FILE* f = std::fopen("/proc/self/maps", "re");
  if (!f) return false;
  bool allowed = false;
  unsigned long lo = 0, hi = 0;
  char perms[8] = {0};
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    if (std::sscanf(line, "%lx-%lx %7s", &lo, &hi, perms) != 3) continue;
    if (a >= lo && a < hi) {
      allowed = std::strchr(perms, perm) != nullptr;
      break;
    }
  }
  std::fclose(f);
  return allowed;
}

bool MapsCanReadPage(std::uintptr_t a) {
  return MapsAllowPage(a, 'r');
}
bool MapsCanWritePage(std::uintptr_t a) {
  return MapsAllowPage(a, 'w');
}

using PageProbe = bool (*)(std::uintptr_t);
struct Probes {
  PageProbe read = MapsCanReadPage;
  PageProbe write = MapsCanWritePage;
};

// Chooses the system-call probes when they tell an inaccessible page, a read-only
// page and a writable word apart correctly.
Probes ChooseProbes() {
  Probes probes;
  const std::size_t page = PageSize();
  void* none = mmap(nullptr, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  void* ro = mmap(nullptr, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  std::uint32_t rw = 0;
  if (none != MAP_FAILED && ro != MAP_FAILED) {
    const auto n = reinterpret_cast<std::uintptr_t>(none);
    const auto r = reinterpret_cast<std::uintptr_t>(ro);
    const auto w = reinterpret_cast<std::uintptr_t>(&rw);
    if (!SyscallCanReadPage(n) && SyscallCanReadPage(r) && SyscallCanReadPage(w))
      probes.read = SyscallCanReadPage;
    if (!SyscallCanWritePage(n) && !SyscallCanWritePage(r) && SyscallCanWritePage(w))
      probes.write = SyscallCanWritePage;
  }
  if (none != MAP_FAILED) munmap(none, page);
  if (ro != MAP_FAILED) munmap(ro, page);
  return probes;
}

const Probes& ActiveProbes() {
  static const Probes probes = ChooseProbes();
  return probes;
}

constexpr std::size_t kNoLimit = static_cast<std::size_t>(-1);

bool EveryPage(const void* p, std::size_t size, PageProbe probe) {
  if (p == nullptr) return false;
  if (size == 0) return true;
  const auto first = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t last = first + (size - 1);
  if (last < first) return false;  // wraps around
  const std::uintptr_t mask = ~(PageSize() - 1);
  for (std::uintptr_t page = first & mask;; page += PageSize()) {
    if (!probe(page < first ? first : page)) return false;
    if (page == (last & mask)) return true;
  }
}

const char* FindZero(const char* p, std::size_t n) {
  return static_cast<const char*>(std::memchr(p, 0, n));
}
const wchar_t* FindZero(const wchar_t* p, std::size_t n) {
  return std::wmemchr(p, 0, n);
}

// Probes the characters up to the end of each page in one go and searches them for
// the terminator in one go. A character that straddles two pages is probed on both.
template <typename Char>
long ReadableLength(const Char* p, std::size_t max) {
  if (p == nullptr) return -1;
  const PageProbe probe = ActiveProbes().read;
  std::size_t n = 0;
  while (n < max) {
    const Char* at = p + n;
    const auto first = reinterpret_cast<std::uintptr_t>(at);
    // Wraps to the distance to the end of the address space on its last page.
    const std::uintptr_t page_end = (first | (PageSize() - 1)) + 1;
    std::size_t count = std::max<std::size_t>((page_end - first) / sizeof(Char), 1);
    count = std::min(count, max - n);
    if (!EveryPage(at, count * sizeof(Char), probe)) return -1;
    if (const Char* zero = FindZero(at, count)) return static_cast<long>(n + (zero - at));
    n += count;
  }
  return static_cast<long>(max);
}

}  // namespace

bool CanRead(const void* p, std::size_t size) {
  return EveryPage(p, size, ActiveProbes().read);
}

bool CanWrite(const void* p, std::size_t size) {
  return EveryPage(p, size, ActiveProbes().write);
}

long ReadableStrlen(const char* p) {
  return ReadableLength(p, kNoLimit);
}
long ReadableStrnlen(const char* p, std::size_t max) {
  return ReadableLength(p, max);
}
long ReadableWcslen(const wchar_t* p) {
  return ReadableLength(p, kNoLimit);
}
long ReadableWcsnlen(const wchar_t* p, std::size_t max) {
  return ReadableLength(p, max);
}

}  // namespace cslib::port
