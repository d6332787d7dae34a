// Byte-range utilities: fill, copy, move, compare, invert, OR-merge and trailing-byte
// tests, plus the heap and address-space queries. The word loops handle 32-bit words
// through memcpy so that ranges at any alignment are handled without a misaligned access.
#include <cstdint>
#include <cstring>

#include "cslib/memory.h"
#include "port/heap.h"

namespace {

using Word = std::uint32_t;
constexpr unsigned long kWord = sizeof(Word);

inline Word LoadWord(const unsigned char* p) {
  Word w;
  std::memcpy(&w, p, kWord);
  return w;
}
inline void StoreWord(unsigned char* p, Word w) {
  std::memcpy(p, &w, kWord);
}

// Applies op word by word over count / 4 words, then byte by byte over the rest.
template <typename Op>
void ForEachWord(unsigned char* dest, unsigned long count, Op op) {
  const unsigned long words = count / kWord;
  for (unsigned long i = 0; i < words; ++i) {
    const unsigned long at = i * kWord;
    StoreWord(dest + at, op(LoadWord(dest + at), at, true));
  }
  for (unsigned long at = words * kWord; at < count; ++at)
    dest[at] = static_cast<unsigned char>(op(dest[at], at, false));
}

// Position, counted from 1, of the last byte in p[0, count) that is not `pad`; 0 when
// every byte is. Scans from the end: the count % 4 tail bytes, then whole words.
unsigned long TrimmedLength(const void* p, unsigned long count, unsigned char pad) {
  const auto* bytes = static_cast<const unsigned char*>(p);
  const unsigned long words = count / kWord;
  for (unsigned long at = count; at > words * kWord; --at)
    if (bytes[at - 1] != pad) return at;
  const Word full = pad ? ~Word{0} : Word{0};
  for (unsigned long i = words; i > 0; --i) {
    const unsigned long start = (i - 1) * kWord;
    if (LoadWord(bytes + start) == full) continue;
    for (unsigned long at = start + kWord; at > start; --at)
      if (bytes[at - 1] != pad) return at;
  }
  return 0;
}

}  // namespace

extern "C" {

void CSZeroMemory(void* dest, unsigned long count) {
  CSSetMemory(dest, count, 0);
}

void CSSetMemory(void* dest, unsigned long count, unsigned char value) {
  const Word fill = Word{value} * 0x01010101u;
  ForEachWord(static_cast<unsigned char*>(dest), count,
              [=](Word, unsigned long, bool whole) { return whole ? fill : Word{value}; });
}

void CSCopyMemory(const void* source, void* dest, unsigned long count) {
  const auto* src = static_cast<const unsigned char*>(source);
  ForEachWord(static_cast<unsigned char*>(dest), count, [=](Word, unsigned long at, bool whole) {
    return whole ? LoadWord(src + at) : Word{src[at]};
  });
}

void* CSMoveMemory(const void* source, void* dest, unsigned long count) {
  if (count) std::memmove(dest, source, count);
  return dest;
}

int CSCompareMemory(const void* a, const void* b, unsigned long count) {
  if (!count) return 0;
  const int r = std::memcmp(a, b, count);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void CSFlipMemory(void* dest, const void* source, unsigned long count) {
  const auto* src = static_cast<const unsigned char*>(source);
  ForEachWord(static_cast<unsigned char*>(dest), count, [=](Word, unsigned long at, bool whole) {
    return whole ? ~LoadWord(src + at) : Word{static_cast<unsigned char>(~src[at])};
  });
}

void CSOrMemory(void* dest, const void* source, unsigned long count) {
  const auto* src = static_cast<const unsigned char*>(source);
  ForEachWord(static_cast<unsigned char*>(dest), count, [=](Word d, unsigned long at, bool whole) {
    return d | (whole ? LoadWord(src + at) : Word{src[at]});
  });
}

void CSMergeOrMemory(void* dest, const void* a, const void* b, unsigned long count) {
  const auto* pa = static_cast<const unsigned char*>(a);
  const auto* pb = static_cast<const unsigned char*>(b);
  ForEachWord(static_cast<unsigned char*>(dest), count, [=](Word d, unsigned long at, bool whole) {
    return d | (whole ? LoadWord(pa + at) | LoadWord(pb + at) : Word{pa[at]} | Word{pb[at]});
  });
}

unsigned long CSIsAllZeros(const void* p, unsigned long count) {
  return TrimmedLength(p, count, 0x00);
}

unsigned long CSIsAllFFs(const void* p, unsigned long count) {
  return TrimmedLength(p, count, 0xFF);
}

long CSValidHeap(void) {
  return cslib::port::HeapIsSound() ? 0 : CSMemErrBadHeap;
}

unsigned long CSGetFreeMemory(void) {
  return cslib::port::FreeAddressSpace();
}

unsigned long CSBytesLeftInSeg(const void* p) {
  // Unsigned arithmetic wraps at 2^64, which is exactly the distance to the end.
  return p ? 0UL - static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)) : 0;
}

unsigned char* CSMakeNormalPointer(unsigned char* p, long offset, unsigned long) {
  // Computed on the address so that an offset leaving the caller's object is no
  // undefined pointer arithmetic.
  return reinterpret_cast<unsigned char*>(reinterpret_cast<std::uintptr_t>(p) +
                                          static_cast<std::uintptr_t>(offset));
}

}  // extern "C"
