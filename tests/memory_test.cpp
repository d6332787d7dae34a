// Byte-range utilities and memory objects: state word and result codes, alignment and
// the back pointer before the data, resizing, bad pointers and exhausted memory.
#include <cslib.h>
#include <sys/mman.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "support/allocfail.h"
#include "support/testenv.h"

namespace {

using cstest::MappedPages;
using Bytes = std::vector<unsigned char>;

// ---- Byte ranges

TEST(ByteRange, TrailingByteTests) {
  struct Case {
    Bytes bytes;
    unsigned long zeros, ffs;
  } cases[] = {
      {{}, 0, 0},
      {{0, 0, 0, 0, 0, 0}, 0, 6},
      {{1, 0, 0, 0, 0, 0}, 1, 6},
      {{0, 0, 0, 0, 0, 7}, 6, 6},
      {{0xFF, 0xFF, 0, 0xFF, 0xFF}, 5, 3},
      {{0xFF, 0xFF, 0xFF, 0xFF}, 4, 0},
      {{0, 0, 9, 0, 0, 0, 0, 0, 0}, 3, 9},  // differing byte inside a whole word
      {{0, 0, 0, 0, 0, 0, 0, 5, 0}, 8, 9},  // last byte of a word, before the tail
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(CSIsAllZeros(c.bytes.data(), c.bytes.size()), c.zeros);
    EXPECT_EQ(CSIsAllFFs(c.bytes.data(), c.bytes.size()), c.ffs);
  }
}

// Every word-wise function gives what a byte-by-byte pass gives, at any offset and
// length, and leaves the bytes around the range alone.
TEST(ByteRange, WordFunctionsMatchBytewiseReference) {
  Bytes a(32), b(32), c(32);
  for (int i = 0; i < 32; ++i) {
    a[i] = static_cast<unsigned char>(i * 37 + 1);
    b[i] = static_cast<unsigned char>(i * 91 + 5);
    c[i] = static_cast<unsigned char>(0x80 >> (i % 8));
  }
  for (unsigned long off = 0; off < 4; ++off) {
    for (unsigned long n = 0; n <= 13; ++n) {
      SCOPED_TRACE(testing::Message() << "offset " << off << " count " << n);
      auto run = [&](auto fn, auto ref) {
        Bytes got = a, want = a;
        fn(got.data() + off);
        for (unsigned long i = 0; i < n; ++i) want[off + i] = ref(want[off + i], off + i);
        EXPECT_EQ(got, want);
      };
      run([&](unsigned char* d) { CSZeroMemory(d, n); },
          [](unsigned char, unsigned long) { return 0; });
      run([&](unsigned char* d) { CSSetMemory(d, n, 0xA5); },
          [](unsigned char, unsigned long) { return 0xA5; });
      run([&](unsigned char* d) { CSCopyMemory(b.data() + off, d, n); },
          [&](unsigned char, unsigned long i) { return b[i]; });
      run([&](unsigned char* d) { CSFlipMemory(d, b.data() + off, n); },
          [&](unsigned char, unsigned long i) { return static_cast<unsigned char>(~b[i]); });
      run([&](unsigned char* d) { CSFlipMemory(d, d, n); },
          [&](unsigned char x, unsigned long) { return static_cast<unsigned char>(~x); });
      run([&](unsigned char* d) { CSOrMemory(d, b.data() + off, n); },
          [&](unsigned char x, unsigned long i) { return static_cast<unsigned char>(x | b[i]); });
      run([&](unsigned char* d) { CSMergeOrMemory(d, b.data() + off, c.data() + off, n); },
          [&](unsigned char x, unsigned long i) {
            return static_cast<unsigned char>(x | b[i] | c[i]);
          });
    }
  }
}

TEST(ByteRange, SmallFixtures) {
  unsigned char flip[] = {0x00, 0xFF, 0x0F};
  CSFlipMemory(flip, flip, 3);
  EXPECT_EQ(Bytes(flip, flip + 3), (Bytes{0xFF, 0x00, 0xF0}));
  unsigned char dest = 1, a = 2, b = 4;
  CSMergeOrMemory(&dest, &a, &b, 1);
  EXPECT_EQ(dest, 7);
}

TEST(ByteRange, CompareIsUnsignedAndOnlyThreeValues) {
  const unsigned char x[] = {0x01, 0x00, 0x10};
  const unsigned char y[] = {0x80, 0x00, 0x01};
  EXPECT_EQ(CSCompareMemory(x, y, 1), -1);
  EXPECT_EQ(CSCompareMemory(y, x, 1), 1);
  EXPECT_EQ(CSCompareMemory(x + 1, y + 1, 1), 0);
  EXPECT_EQ(CSCompareMemory(x + 2, y + 2, 1), 1);  // 0x10 - 0x01 is 15, reported as 1
  EXPECT_EQ(CSCompareMemory(x, y, 0), 0);
}

TEST(ByteRange, MoveHandlesOverlapBothWays) {
  unsigned char up[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(CSMoveMemory(up, up + 1, 10), up + 1);
  EXPECT_EQ(Bytes(up, up + 12), (Bytes{0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11}));
  unsigned char down[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  CSMoveMemory(down + 2, down, 10);
  EXPECT_EQ(Bytes(down, down + 12), (Bytes{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 10, 11}));
}

TEST(ByteRange, AddressFunctions) {
  EXPECT_EQ(CSBytesLeftInSeg(nullptr), 0UL);
  unsigned char buf[8];
  const auto at = reinterpret_cast<std::uintptr_t>(buf);
  // The distance to the end of the (64-bit) address space.
  EXPECT_EQ(CSBytesLeftInSeg(buf), static_cast<unsigned long>(0 - at));
  EXPECT_EQ(CSBytesLeftInSeg(reinterpret_cast<void*>(~std::uintptr_t{0xFFF})), 4096UL);
  EXPECT_EQ(CSMakeNormalPointer(buf + 5, -3, 99), buf + 2);
}

TEST(ByteRange, HeapAndFreeAddressSpace) {
  EXPECT_EQ(CSValidHeap(), 0);
  const unsigned long before = CSGetFreeMemory();
  ASSERT_GT(before, 0UL);
  const std::size_t big = 256UL << 20;
  void* p = mmap(nullptr, big, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(p, MAP_FAILED);
  const unsigned long during = CSGetFreeMemory();
  munmap(p, big);
  EXPECT_LE(during + big, before + (16UL << 20));  // allow for unrelated small mappings
}

// ---- Memory objects

// Exposes the protected state of a heap memory object.
class Inspect : public CSHeapMemObject {
 public:
  explicit Inspect(void* user = nullptr) : CSHeapMemObject(user) {}
  CSMemOSAlign Align() const { return GetAlignVal(); }
  unsigned short Flags() const { return fFlags; }
  unsigned short Count() const { return GetLockCount(); }
  void* Raw() const { return fRawBlock; }
  const unsigned char* CheckWord() const { return reinterpret_cast<const unsigned char*>(&fCheck); }
};

unsigned long SizeOf(CSMemObject& m) {
  unsigned long size = 12345;
  EXPECT_EQ(m.GetSize(&size), 0);
  return size;
}

TEST(MemObject, ZeroLengthLifecycle) {
  Inspect m;
  ASSERT_EQ(m.Allocate(0, CSMemAlign8), 0);
  EXPECT_EQ(m.Flags(), 0x8000);
  EXPECT_EQ(SizeOf(m), 0UL);
  EXPECT_EQ(m.Valid(), 0);
  unsigned char* p = nullptr;
  ASSERT_EQ(m.Lock(&p), 0);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(m.IsLocked(), CSMemErrLocked);
  EXPECT_EQ(m.Unlock(), 0);
  EXPECT_EQ(m.Dispose(), 0);
  EXPECT_EQ(m.Flags(), 0);
  EXPECT_EQ(m.Dispose(), CSMemErrNotAllocated);
  EXPECT_EQ(m.Lock(&p), CSMemErrNotAllocated);
  EXPECT_EQ(p, nullptr);
  unsigned long untouched = 77;
  EXPECT_EQ(m.GetSize(&untouched), CSMemErrNotAllocated);
  EXPECT_EQ(untouched, 77UL);
}

TEST(MemObject, FailedAllocateKeepsStateAndAlignment) {
  Inspect m;
  ASSERT_EQ(m.Allocate(16, CSMemAlign4), 0);
  EXPECT_EQ(m.Allocate(16, CSMemAlign64), CSMemErrAlreadyAllocated);
  EXPECT_EQ(m.Align(), CSMemAlign4);
  Inspect z;
  ASSERT_EQ(z.Allocate(0, CSMemAlign2), 0);
  EXPECT_EQ(z.Allocate(4, CSMemAlign8), CSMemErrAlreadyAllocated);
  EXPECT_EQ(z.Align(), CSMemAlign2);
  Inspect e;
  EXPECT_EQ(e.Allocate(10, static_cast<CSMemOSAlign>(6)), CSMemErrBadAlign);
  EXPECT_EQ(e.Align(), CSMemAlignNone);
  EXPECT_EQ(e.Flags(), 0);
  // A size whose header would wrap the request is refused, not shrunk.
  EXPECT_EQ(e.Allocate(ULONG_MAX - 3, CSMemAlign64), CSMemErrNoMemory);
  EXPECT_EQ(e.Flags(), 0);
  EXPECT_EQ(e.Align(), CSMemAlignNone);
}

TEST(MemObject, ReAllocateRules) {
  Inspect m;
  ASSERT_EQ(m.Allocate(8, CSMemAlign4), 0);
  EXPECT_EQ(m.ReAllocate(40, CSMemAlign8), CSMemErrAlignChanged);
  EXPECT_EQ(m.Align(), CSMemAlign4);
  EXPECT_EQ(m.ReAllocate(40, static_cast<CSMemOSAlign>(9)), CSMemErrBadAlign);
  ASSERT_EQ(m.ReAllocate(40, CSMemAlignNone), 0);  // keeps 4
  EXPECT_EQ(m.Align(), CSMemAlign4);
  EXPECT_GE(SizeOf(m), 40UL);
  // To size 0: storage released, ZeroLength; then back to Allocated.
  ASSERT_EQ(m.ReAllocate(0, CSMemAlignNone), 0);
  EXPECT_EQ(m.Flags(), 0x8000);
  EXPECT_EQ(m.Raw(), nullptr);
  ASSERT_EQ(m.ReAllocate(100, CSMemAlignNone), 0);
  EXPECT_EQ(m.Flags(), 0x4000);
  EXPECT_EQ(m.Valid(), 0);
  // After Dispose, ReAllocate is a first allocation with the released alignment.
  ASSERT_EQ(m.Dispose(), 0);
  ASSERT_EQ(m.ReAllocate(10, CSMemAlignNone), 0);
  EXPECT_EQ(m.Align(), CSMemAlign4);
  // A huge resize fails and keeps the storage and its contents.
  unsigned char* p;
  ASSERT_EQ(m.Lock(&p), 0);
  std::memcpy(p, "0123456789", 10);
  m.Unlock();
  EXPECT_EQ(m.ReAllocate(ULONG_MAX - 2, CSMemAlignNone), CSMemErrNoMemory);
  EXPECT_EQ(m.ReAllocate(ULONG_MAX / 2, CSMemAlignNone), CSMemErrNoMemory);
  ASSERT_EQ(m.Lock(&p), 0);
  EXPECT_EQ(std::memcmp(p, "0123456789", 10), 0);
  m.Unlock();
  EXPECT_EQ(m.Flags(), 0x4000);
}

TEST(MemObject, LockCounting) {
  Inspect m;
  ASSERT_EQ(m.Allocate(4, CSMemAlignNone), 0);
  unsigned char *a, *b;
  ASSERT_EQ(m.Lock(&a), 0);
  ASSERT_EQ(m.Lock(&b), 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(m.IsLocked(), CSMemErrLocked);
  EXPECT_EQ(m.Dispose(), CSMemErrLocked);
  EXPECT_EQ(m.ReAllocate(64, CSMemAlignNone), CSMemErrLocked);
  EXPECT_EQ(m.Flags(), 0x4000 | 2);
  EXPECT_EQ(m.Unlock(), 0);
  EXPECT_EQ(m.Unlock(), 0);
  EXPECT_EQ(m.Unlock(), CSMemErrNotLocked);
  EXPECT_EQ(m.IsLocked(), 0);
}

TEST(MemObject, LockCountDoesNotWrap) {
  Inspect m;
  ASSERT_EQ(m.Allocate(4, CSMemAlignNone), 0);
  unsigned char* p;
  for (int i = 0; i < 16383; ++i) ASSERT_EQ(m.Lock(&p), 0);
  EXPECT_EQ(m.Lock(&p), CSMemErrLocked);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(m.Count(), 16383);
  EXPECT_EQ(m.Flags() & 0xC000, 0x4000);
  for (int i = 0; i < 16383; ++i) ASSERT_EQ(m.Unlock(), 0);
  EXPECT_EQ(m.IsLocked(), 0);
}

// A destroyed object carries check word 0, which is what every method tests first.
// (Calling it after destruction is left out: that is undefined for the sanitizers.)
TEST(MemObject, DestroyedObjectIsInvalid) {
  void* space = std::malloc(sizeof(Inspect));
  auto* m = new (space) Inspect;
  ASSERT_EQ(m->Allocate(8, CSMemAlignNone), 0);
  unsigned char* p;
  ASSERT_EQ(m->Lock(&p), 0);
  const unsigned char* check = m->CheckWord();
  unsigned short word;
  std::memcpy(&word, check, sizeof word);
  EXPECT_EQ(word, 0xABCD);
  m->~Inspect();
  std::memcpy(&word, check, sizeof word);
  EXPECT_EQ(word, 0);
  std::free(space);
  unsigned long size;
  EXPECT_EQ(CSDisposeMemory(nullptr), CSMemErrInvalidObject);
  EXPECT_EQ(CSLockMemory(nullptr, &p), CSMemErrInvalidObject);
  EXPECT_EQ(CSUnlockMemory(nullptr), CSMemErrInvalidObject);
  EXPECT_EQ(CSSizeMemory(nullptr, &size), CSMemErrInvalidObject);
  EXPECT_EQ(CSValidMemory(nullptr), CSMemErrInvalidObject);
}

TEST(MemObject, DisposeMemoryDestroysLockedObject) {
  CSMemObject* m = nullptr;
  ASSERT_EQ(CSAllocMemory(100, CSMemAlign8, &m, nullptr), 0);
  unsigned char* p;
  ASSERT_EQ(CSLockMemory(m, &p), 0);
  // Locked: reported, but the object and its storage are released all the same (the
  // leak checker of the sanitizer build sees any storage left behind).
  EXPECT_EQ(CSDisposeMemory(m), CSMemErrLocked);
}

TEST(MemObject, Copy) {
  CSMemObject *ten, *four, *zero, *empty;
  ASSERT_EQ(CSAllocMemory(10, CSMemAlignNone, &ten, nullptr), 0);
  ASSERT_EQ(CSAllocMemory(4, CSMemAlignNone, &four, nullptr), 0);
  ASSERT_EQ(CSAllocMemory(0, CSMemAlignNone, &zero, nullptr), 0);
  empty = CSMemObjectFactory(nullptr);
  ASSERT_NE(empty, nullptr);
  unsigned char *t, *f;
  ASSERT_EQ(ten->Lock(&t), 0);
  std::memcpy(t, "ABCDEFGHIJ", 10);
  ten->Unlock();
  ASSERT_EQ(four->Lock(&f), 0);
  std::memcpy(f, "wxyz", 4);
  four->Unlock();
  EXPECT_EQ(four->Copy(ten), 0);
  ASSERT_EQ(four->Lock(&f), 0);
  EXPECT_EQ(std::memcmp(f, "ABCD", 4), 0);
  four->Unlock();
  EXPECT_EQ(four->Copy(zero), 0);
  EXPECT_EQ(zero->Copy(ten), 0);
  EXPECT_EQ(four->Copy(empty), CSMemErrNotAllocated);
  EXPECT_EQ(four->Copy(nullptr), CSMemErrInvalidObject);
  EXPECT_EQ(four->IsLocked(), 0);
  EXPECT_EQ(ten->IsLocked(), 0);
  for (CSMemObject* m : {ten, four, zero, empty}) CSDisposeMemory(m);
}

// Every alignment choice: the data address is a multiple of n, the back pointer leads
// to the object, and the data survives resizes that move the heap block to another
// alignment residue.
TEST(MemObject, AlignmentBackPointerAndMovingResize) {
  const struct {
    CSMemOSAlign align;
    unsigned long n;
  } choices[] = {{CSMemAlignNone, 1}, {CSMemAlign1, 1}, {CSMemAlign2, 2},
                 {CSMemAlign4, 4},    {CSMemAlign8, 8}, {CSMemAlign64, 64}};
  for (const auto& choice : choices) {
    SCOPED_TRACE(choice.n);
    int user = 0;
    Inspect m(&user);
    ASSERT_EQ(m.Allocate(1, choice.align), 0);
    std::vector<void*> spacers;
    int residueChanges = 0;
    unsigned long size = 1;
    unsigned char* p;
    ASSERT_EQ(m.Lock(&p), 0);
    p[0] = 0x5A;
    m.Unlock();
    for (int round = 0; round < 60; ++round) {
      const auto residue = reinterpret_cast<std::uintptr_t>(m.Raw()) % 64;
      const unsigned long grown = size + 7 + round * 13;
      spacers.push_back(std::malloc(24 + round % 5 * 8));  // keeps realloc moving
      ASSERT_EQ(m.ReAllocate(grown, CSMemAlignNone), 0);
      if (reinterpret_cast<std::uintptr_t>(m.Raw()) % 64 != residue) ++residueChanges;
      ASSERT_EQ(m.Lock(&p), 0);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % choice.n, 0u);
      for (unsigned long i = 0; i < size; ++i)
        ASSERT_EQ(p[i], static_cast<unsigned char>(0x5A + i)) << "byte " << i;
      for (unsigned long i = size; i < grown; ++i) p[i] = static_cast<unsigned char>(0x5A + i);
      void* found = nullptr;
      EXPECT_EQ(CSGetUserPointer(p, &found), 0);
      EXPECT_EQ(found, &user);
      m.Unlock();
      size = grown;
    }
    if (choice.n > 16) {
      EXPECT_GT(residueChanges, 0);
    }
    for (void* s : spacers) std::free(s);
  }
}

TEST(MemObject, OutPointersAreChecked) {
  MappedPages ro(1, PROT_READ);
  MappedPages none(1, PROT_NONE);
  Inspect m;
  ASSERT_EQ(m.Allocate(8, CSMemAlignNone), 0);
  EXPECT_EQ(m.Lock(nullptr), CSMemErrInvalidObject);
  EXPECT_EQ(m.Lock(reinterpret_cast<unsigned char**>(ro.data())), CSMemErrInvalidObject);
  EXPECT_EQ(m.Count(), 0);
  EXPECT_EQ(m.GetSize(nullptr), CSMemErrInvalidObject);
  EXPECT_EQ(m.GetSize(reinterpret_cast<unsigned long*>(ro.data())), CSMemErrInvalidObject);
  EXPECT_EQ(CSAllocMemory(8, CSMemAlignNone, nullptr, nullptr), CSMemErrInvalidObject);
  EXPECT_EQ(CSAllocMemory(8, CSMemAlignNone, reinterpret_cast<CSMemObject**>(ro.data()), nullptr),
            CSMemErrInvalidObject);
  EXPECT_EQ(CSReAllocMemory(8, CSMemAlignNone, nullptr), CSMemErrInvalidObject);
  EXPECT_EQ(CSReAllocMemory(8, CSMemAlignNone, reinterpret_cast<CSMemObject**>(none.data())),
            CSMemErrInvalidObject);
  // A heap out-pointer (not on the caller's stack) is probed and accepted.
  auto* heapOut = new unsigned char*;
  EXPECT_EQ(m.Lock(heapOut), 0);
  EXPECT_NE(*heapOut, nullptr);
  m.Unlock();
  delete heapOut;
}

TEST(MemObject, UserPointerIsNotTrustedFromArbitraryAddresses) {
  MappedPages none(1, PROT_NONE);
  MappedPages rw(1, PROT_READ | PROT_WRITE);
  int user = 0;
  Inspect real(&user);
  ASSERT_EQ(real.Allocate(32, CSMemAlign8), 0);
  unsigned char* data;
  ASSERT_EQ(real.Lock(&data), 0);
  void* found = &found;
  // An address whose slot would lie in an unreadable page.
  EXPECT_EQ(CSGetUserPointer(reinterpret_cast<unsigned char*>(none.data()) + 4, &found),
            CSMemErrInvalidObject);
  // A look-alike: the slot before it names a live object, but that object's data is
  // elsewhere.
  Inspect* self = &real;
  std::memcpy(rw.data() + 64, &self, sizeof self);
  EXPECT_EQ(
      CSGetUserPointer(reinterpret_cast<unsigned char*>(rw.data() + 64 + sizeof self), &found),
      CSMemErrInvalidObject);
  // A slot naming readable memory that holds no object at all.
  unsigned char* nothing = reinterpret_cast<unsigned char*>(rw.data() + 1024);
  std::memcpy(rw.data() + 128, &nothing, sizeof nothing);
  EXPECT_EQ(
      CSGetUserPointer(reinterpret_cast<unsigned char*>(rw.data() + 128 + sizeof nothing), &found),
      CSMemErrInvalidObject);
  // Garbage before the address.
  std::memset(rw.data() + 256, 0x41, 16);
  EXPECT_EQ(CSGetUserPointer(reinterpret_cast<unsigned char*>(rw.data() + 264), &found),
            CSMemErrInvalidObject);
  EXPECT_EQ(CSGetUserPointer(nullptr, &found), CSMemErrInvalidObject);
  EXPECT_EQ(found, &found);
  EXPECT_EQ(CSGetUserPointer(data, nullptr), CSMemErrInvalidObject);
  EXPECT_EQ(CSGetUserPointer(data, &found), 0);
  EXPECT_EQ(found, &user);
  real.Unlock();
  // Once disposed, the old data address no longer leads anywhere.
  ASSERT_EQ(real.Dispose(), 0);
  ASSERT_EQ(real.Allocate(0, CSMemAlignNone), 0);
  ASSERT_EQ(real.Lock(&data), 0);  // ZeroLength: an address with no storage behind it
  EXPECT_EQ(CSGetUserPointer(data, &found), CSMemErrInvalidObject);
  real.Unlock();
}

TEST(MemObject, ExhaustedMemory) {
  CSMemObject* m = reinterpret_cast<CSMemObject*>(&m);
  {
    cstest::FailingAllocations fail;
    EXPECT_EQ(CSMemObjectFactory(nullptr), nullptr);
    EXPECT_EQ(CSAllocMemory(8, CSMemAlignNone, &m, nullptr), CSMemErrNoMemory);
  }
  EXPECT_EQ(m, nullptr);
  // The heap's own failure: the object stays Empty and is released by the caller.
  ASSERT_EQ(CSAllocMemory(ULONG_MAX / 2, CSMemAlignNone, &m, nullptr), CSMemErrNoMemory);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(CSValidMemory(m), 0);
  EXPECT_EQ(CSDisposeMemory(m), CSMemErrNotAllocated);
}

}  // namespace
