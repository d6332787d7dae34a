// Replaces the global allocation functions of a test program so that allocation can be
// made to fail on purpose. Include in exactly one source file of the program.
// cstest::FailAllocationsAfter(n) lets n more allocations through, then fails every
// one until cstest::AllowAllocations(). cstest::FailingSize fails only the library's
// nothrow requests of one size (its working buffers), leaving every other one alone.
#ifndef CSLIB_TESTS_SUPPORT_ALLOCFAIL_H
#define CSLIB_TESTS_SUPPORT_ALLOCFAIL_H

#include <cstdlib>
#include <new>

namespace cstest {

inline long& AllocationsLeft() {
  static long left = -1;  // -1: no limit
  return left;
}
inline void FailAllocationsAfter(long n) {
  AllocationsLeft() = n;
}
inline void AllowAllocations() {
  AllocationsLeft() = -1;
}

inline std::size_t& SizeToFail() {
  static std::size_t size = 0;  // 0: none
  return size;
}

inline void* TestAllocate(std::size_t size) {
  long& left = AllocationsLeft();
  if (left == 0) return nullptr;
  if (left > 0) --left;
  return std::malloc(size ? size : 1);
}

inline void* TestAllocateNoThrow(std::size_t size) {
  if (SizeToFail() != 0 && size == SizeToFail()) return nullptr;
  return TestAllocate(size);
}

// Kept out of line so that the compiler does not pair free() with operator new.
__attribute__((noinline)) inline void TestRelease(void* p) {
  std::free(p);
}

// RAII form: allocation fails from the given count on, until the end of the scope.
class FailingAllocations {
 public:
  explicit FailingAllocations(long after = 0) { FailAllocationsAfter(after); }
  ~FailingAllocations() { AllowAllocations(); }
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;
};

// RAII form: nothrow requests of exactly `size` bytes fail until the end of the scope.
class FailingSize {
 public:
  explicit FailingSize(std::size_t size) { SizeToFail() = size; }
  ~FailingSize() { SizeToFail() = 0; }
  FailingSize(const FailingSize&) = delete;
  FailingSize& operator=(const FailingSize&) = delete;
};

}  // namespace cstest

void* operator new(std::size_t size) {
  void* p = cstest::TestAllocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return cstest::TestAllocateNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return cstest::TestAllocateNoThrow(size);
}
void operator delete(void* p) noexcept {
  cstest::TestRelease(p);
}
void operator delete[](void* p) noexcept {
  cstest::TestRelease(p);
}
void operator delete(void* p, std::size_t) noexcept {
  cstest::TestRelease(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  cstest::TestRelease(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  cstest::TestRelease(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  cstest::TestRelease(p);
}

#endif  // CSLIB_TESTS_SUPPORT_ALLOCFAIL_H
