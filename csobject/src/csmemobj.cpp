// Memory objects: the state-word policy of CSMemObject, the heap-backed CSHeapMemObject
// with its back pointer before the data, and the flat CS*Memory functions.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cslib/frame.h"
#include "cslib/memory.h"
#include "csobject/src/heappaths.h"
#include "csobject/src/memcheck.h"
#include "port/heap.h"
#include "port/memprobe.h"

namespace {

constexpr unsigned short kCheck = 0xABCD;
constexpr unsigned short kCountMask = 0x3FFF;
constexpr unsigned short kAllocated = 0x4000;
constexpr unsigned long kPointer = sizeof(void*);
constexpr long kInvalid = CSMemErrInvalidObject;

bool AlignInRange(CSMemOSAlign align) {
  return align >= CSMemAlignNone && align <= CSMemAlign64;
}

// Offset of the back-pointer slot from the start of a heap block at raw, for an
// alignment of n bytes: the data address is the first multiple of n at or after
// raw + P, and the slot is the P bytes before it.
unsigned long SlotOffset(std::uintptr_t raw, unsigned long n) {
  if (n <= 1) return 0;
  return static_cast<unsigned long>((n - (raw + kPointer) % n) % n);
}

}  // namespace

// ---- CSMemObject

CSMemObject::CSMemObject(void* userPtr)
    : fFlags(0), fCheck(kCheck), fUserPtr(userPtr), fAlign(CSMemAlignNone) {}

CSMemObject::CSMemObject(const CSMemObject& other) = default;
CSMemObject& CSMemObject::operator=(const CSMemObject& other) = default;

// The stores are volatile: the compiler would otherwise drop them as writes to an
// object whose life is ending, and a stale pointer would still pass the check word.
CSMemObject::~CSMemObject() {
  *static_cast<volatile unsigned short*>(&fFlags) = 0;
  *static_cast<volatile unsigned short*>(&fCheck) = 0;
  *static_cast<void* volatile*>(&fUserPtr) = nullptr;
  *static_cast<volatile CSMemOSAlign*>(&fAlign) = CSMemAlignNone;
}

void CSMemObject::MoveMembers(CSMemObject* from) {
  fFlags = from->fFlags;
  fCheck = from->fCheck;
  fUserPtr = from->fUserPtr;
  fAlign = from->fAlign;
  from->fUserPtr = nullptr;
  from->fAlign = CSMemAlignNone;
  from->fFlags = 0;
}

long CSMemObject::Allocate(unsigned long size, CSMemOSAlign align) {
  if (!IsDataValid()) return CSMemErrInvalidObject;
  const CSMemOSAlign before = fAlign;
  fAlign = align;
  long r = 0;
  if (IsAllocated() || IsZero()) {
    r = CSMemErrAlreadyAllocated;
  } else if (!AlignInRange(align)) {
    r = CSMemErrBadAlign;
  } else if (size == 0) {
    SetZero(1);
  } else {
    r = OSAllocate(size);
    if (r == 0) SetAllocated(1);
  }
  if (r != 0) fAlign = before;
  return r;
}

long CSMemObject::ReAllocate(unsigned long size, CSMemOSAlign align) {
  if (!IsDataValid()) return CSMemErrInvalidObject;
  if (align == CSMemAlignNone) align = fAlign;
  const CSMemOSAlign before = fAlign;
  fAlign = align;
  long r = 0;
  if (GetLockCount() != 0) {
    r = CSMemErrLocked;
  } else if (!AlignInRange(align)) {
    r = CSMemErrBadAlign;
  } else if (IsAllocated()) {
    if (align != before) {
      r = CSMemErrAlignChanged;
    } else if (size > 0) {
      r = OSReAllocate(size);
    } else {
      r = OSFree();
      if (r == 0) {
        SetAllocated(0);
        SetZero(1);
      }
    }
  } else if (size > 0) {
    r = OSAllocate(size);
    if (r == 0) {
      SetZero(0);
      SetAllocated(1);
    }
  } else {
    SetZero(1);
  }
  if (r != 0) fAlign = before;
  return r;
}

long CSMemObject::Dispose() {
  if (!IsDataValid()) return CSMemErrInvalidObject;
  if (GetLockCount() != 0) return CSMemErrLocked;
  if (IsZero()) {
    SetZero(0);
    return 0;
  }
  if (!IsAllocated()) return CSMemErrNotAllocated;
  const long r = OSFree();
  if (r == 0) SetAllocated(0);
  return r;
}

long CSMemObject::Lock(unsigned char** data) {
  if (!IsDataValid() || !cslib::CanWriteOut(data, sizeof *data)) return CSMemErrInvalidObject;
  *data = nullptr;
  if (!IsAllocated() && !IsZero()) return CSMemErrNotAllocated;
  // The count has 14 bits: a further lock is refused rather than wrapped to 0, which
  // would let the storage move under the holders of the earlier locks.
  if (GetLockCount() == kCountMask) return CSMemErrLocked;
  unsigned char* p;
  if (IsZero()) {
    p = reinterpret_cast<unsigned char*>(&fCheck);
  } else {
    p = OSLock();
    if (!p) return CSMemErrLockFailed;
  }
  SetLockCount(static_cast<unsigned short>(GetLockCount() + 1));
  *data = p;
  return 0;
}

long CSMemObject::Unlock() {
  if (!IsDataValid()) return CSMemErrInvalidObject;
  if (GetLockCount() == 0) return CSMemErrNotLocked;
  SetLockCount(static_cast<unsigned short>(GetLockCount() - 1));
  OSUnlock();
  return 0;
}

long CSMemObject::IsLocked() {
  if (!IsDataValid()) return CSMemErrInvalidObject;
  return GetLockCount() != 0 ? CSMemErrLocked : 0;
}

long CSMemObject::GetSize(unsigned long* size) {
  if (!IsDataValid() || !cslib::CanWriteOut(size, sizeof *size)) return CSMemErrInvalidObject;
  if (IsZero()) {
    *size = 0;
    return 0;
  }
  if (!IsAllocated()) return CSMemErrNotAllocated;
  return OSGetSize(size);
}

long CSMemObject::Valid() {
  if (!IsDataValid()) return CSMemErrInvalidObject;
  return IsAllocated() ? OSValid() : 0;
}

long CSMemObject::Copy(CSMemObject* source) {
  if (!IsDataValid() || !source) return CSMemErrInvalidObject;
  unsigned long sourceSize = 0, ownSize = 0;
  long r = source->GetSize(&sourceSize);
  if (r == 0) r = GetSize(&ownSize);
  if (r != 0) return r;
  const unsigned long n = sourceSize < ownSize ? sourceSize : ownSize;
  if (n == 0) return 0;
  unsigned char* own = nullptr;
  r = Lock(&own);
  if (r != 0) return r;
  unsigned char* from = nullptr;
  r = source->Lock(&from);
  if (r == 0) {
    CSCopyMemory(from, own, n);
    source->Unlock();
  }
  Unlock();
  return r;
}

// ---- CSHeapMemObject

CSHeapMemObject::CSHeapMemObject(void* userPtr) : CSMemObject(userPtr), fRawBlock(nullptr) {}

CSHeapMemObject::~CSHeapMemObject() {
  if (fRawBlock) std::free(fRawBlock);
  fRawBlock = nullptr;
}

inline unsigned long CSHeapMemObject::HeaderSize() const {
  const unsigned long n = GetAlignNum();
  return n == 0 ? kPointer : kPointer + n - 1;
}

inline unsigned long CSHeapMemObject::BackPointerOffset(const void* raw) const {
  return SlotOffset(reinterpret_cast<std::uintptr_t>(raw), GetAlignNum());
}

long CSHeapMemObject::OSAllocate(unsigned long size) {
  const unsigned long header = HeaderSize();
  if (size > static_cast<unsigned long>(-1) - header) return CSMemErrNoMemory;
  void* raw = std::malloc(size + header);
  if (!raw) return CSMemErrNoMemory;
  if (fRawBlock) std::free(fRawBlock);  // nothing is held when the state word says Empty
  fRawBlock = raw;
  CSHeapMemObject* self = this;
  std::memcpy(static_cast<unsigned char*>(raw) + BackPointerOffset(raw), &self, kPointer);
  return 0;
}

long CSHeapMemObject::OSReAllocate(unsigned long size) {
  const unsigned long header = HeaderSize();
  if (size > static_cast<unsigned long>(-1) - header) return CSMemErrNoMemory;
  const unsigned long oldOffset = BackPointerOffset(fRawBlock);
  void* raw = std::realloc(fRawBlock, size + header);
  if (!raw) return CSMemErrNoMemory;
  fRawBlock = raw;
  const unsigned long newOffset = BackPointerOffset(raw);
  if (newOffset != oldOffset) {
    auto* base = static_cast<unsigned char*>(raw);
    CSMoveMemory(base + oldOffset, base + newOffset, size + kPointer);
  }
  return 0;
}

unsigned char* CSHeapMemObject::OSLock() {
  if (!fRawBlock) return nullptr;
  return static_cast<unsigned char*>(fRawBlock) + BackPointerOffset(fRawBlock) + kPointer;
}

void CSHeapMemObject::OSUnlock() {}

long CSHeapMemObject::OSFree() {
  std::free(fRawBlock);
  fRawBlock = nullptr;
  return 0;
}

long CSHeapMemObject::OSValid() {
  if (!fRawBlock) return 0;
  const std::size_t usable = cslib::port::HeapUsableSize(fRawBlock);
  if (usable == 0 || !CSIsValidWritePtr(fRawBlock, usable)) return CSMemErrBadBlock;
  return 0;
}

long CSHeapMemObject::OSGetSize(unsigned long* size) {
  if (!fRawBlock) {
    *size = 0;
    return 0;
  }
  // The heap may round the block up; the data starts at most H bytes in, so the
  // usable size less H always lies within the block.
  const unsigned long usable = cslib::port::HeapUsableSize(fRawBlock);
  const unsigned long header = HeaderSize();
  *size = usable > header ? usable - header : 0;
  return 0;
}

// ---- The library's own short paths

namespace cslib {

CSMemObject* HeapObjectPaths::NewLocked(unsigned long size, void* userPtr, unsigned char** data) {
  *data = nullptr;
  auto* obj = new (std::nothrow) CSHeapMemObject(userPtr);
  if (!obj) return nullptr;
  // Without alignment the heap block is the back pointer and then the data, as
  // OSAllocate and OSLock make and find it.
  unsigned char* raw = nullptr;
  if (size <= static_cast<unsigned long>(-1) - kPointer)
    raw = static_cast<unsigned char*>(std::malloc(size + kPointer));
  if (!raw) {
    delete obj;
    return nullptr;
  }
  CSHeapMemObject* self = obj;
  std::memcpy(raw, &self, kPointer);
  obj->fRawBlock = raw;
  obj->SetAllocated(1);
  obj->SetLockCount(1);
  *data = raw + kPointer;
  return obj;
}

void HeapObjectPaths::DisposeLocked(CSMemObject* obj) {
  auto* heap = static_cast<CSHeapMemObject*>(obj);
  if (heap->fCheck != kCheck || heap->fFlags != (kAllocated | 1)) {
    CSUnlockMemory(obj);
    CSDisposeMemory(obj);
    return;
  }
  heap->CSHeapMemObject::OSFree();
  delete heap;
}

}  // namespace cslib

// ---- Flat functions

// The four functions of an allocate-lock-unlock-dispose cycle take the member they
// call, and what it calls in this file, inline ([[gnu::flatten]]): a cycle then makes
// four calls into the library instead of a dozen, and the compiler, seeing the object
// made in CSAllocMemory, calls CSHeapMemObject's operations there directly.
extern "C" {

CSMemObject* CSMemObjectFactory(void* userPtr) {
  return new (std::nothrow) CSHeapMemObject(userPtr);
}

[[gnu::flatten]] long CSAllocMemory(unsigned long size, CSMemOSAlign align, CSMemObject** obj,
                                    void* userPtr) {
  if (!cslib::CanWriteOut(obj, sizeof *obj)) return CSMemErrInvalidObject;
  *obj = CSMemObjectFactory(userPtr);
  if (!*obj) return CSMemErrNoMemory;
  return (*obj)->Allocate(size, align);
}

long CSReAllocMemory(unsigned long size, CSMemOSAlign align, CSMemObject** obj) {
  if (!CSIsValidReadPtr(obj, sizeof *obj) || !*obj) return CSMemErrInvalidObject;
  return (*obj)->ReAllocate(size, align);
}

[[gnu::flatten]] long CSDisposeMemory(CSMemObject* obj) {
  if (!obj) return CSMemErrInvalidObject;
  const long r = obj->Dispose();
  if (r != CSMemErrInvalidObject) delete obj;
  return r;
}

[[gnu::flatten]] long CSLockMemory(CSMemObject* obj, unsigned char** data) {
  return obj ? obj->Lock(data) : kInvalid;
}

[[gnu::flatten]] long CSUnlockMemory(CSMemObject* obj) {
  return obj ? obj->Unlock() : kInvalid;
}

long CSValidMemory(CSMemObject* obj) {
  return obj ? obj->Valid() : kInvalid;
}

long CSIsLocked(CSMemObject* obj) {
  return obj ? obj->IsLocked() : kInvalid;
}

long CSSizeMemory(CSMemObject* obj, unsigned long* size) {
  return obj ? obj->GetSize(size) : kInvalid;
}

}  // extern "C"

namespace {

// Copies n bytes that the caller has probed but that belong to no object it may
// name: volatile byte loads, which neither become a library call nor are policed by
// the address sanitizer.
__attribute__((no_sanitize("address"))) void LoadProbed(const void* from, void* to, std::size_t n) {
  const auto* src = static_cast<const volatile unsigned char*>(from);
  auto* dst = static_cast<unsigned char*>(to);
  for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
}

}  // namespace

// Nothing before data is trusted: the slot is probed before it is read, the object it
// names is probed and read as bytes, and must carry the check word, hold storage, and
// lead back to exactly this data address through its own heap block. Only then is it
// called.
long CSGetUserPointer(unsigned char* data, void** userPtr) {
  if (!data || !cslib::CanWriteOut(userPtr, sizeof *userPtr)) return CSMemErrInvalidObject;
  const auto address = reinterpret_cast<std::uintptr_t>(data);
  if (address < kPointer) return CSMemErrInvalidObject;
  const void* slot = reinterpret_cast<const void*>(address - kPointer);
  if (!cslib::port::CanRead(slot, kPointer)) return CSMemErrInvalidObject;
  CSHeapMemObject* obj = nullptr;
  LoadProbed(slot, &obj, kPointer);
  if (!obj || reinterpret_cast<std::uintptr_t>(obj) % alignof(CSHeapMemObject) != 0 ||
      !cslib::port::CanRead(obj, sizeof *obj))
    return CSMemErrInvalidObject;
  // Where the fields lie, taken from a real object rather than assumed.
  struct Offsets {
    std::size_t flags, check, align, raw;
  };
  static const Offsets at = [] {
    CSHeapMemObject probe(nullptr);
    const auto* base = reinterpret_cast<const unsigned char*>(&probe);
    return Offsets{
        static_cast<std::size_t>(reinterpret_cast<unsigned char*>(&probe.fFlags) - base),
        static_cast<std::size_t>(reinterpret_cast<unsigned char*>(&probe.fCheck) - base),
        static_cast<std::size_t>(reinterpret_cast<unsigned char*>(&probe.fAlign) - base),
        static_cast<std::size_t>(reinterpret_cast<unsigned char*>(&probe.fRawBlock) - base)};
  }();
  const auto* bytes = reinterpret_cast<const unsigned char*>(obj);
  unsigned short flags = 0, check = 0;
  CSMemOSAlign align = CSMemAlignNone;
  void* raw = nullptr;
  LoadProbed(bytes + at.flags, &flags, sizeof flags);
  LoadProbed(bytes + at.check, &check, sizeof check);
  LoadProbed(bytes + at.align, &align, sizeof align);
  LoadProbed(bytes + at.raw, &raw, sizeof raw);
  if (check != kCheck || (flags & 0xC000) != 0x4000 || !raw) return CSMemErrInvalidObject;
  // The data address that object would hand out, its alignment in bytes as
  // GetAlignNum gives them.
  static constexpr unsigned long kAlignBytes[] = {0, 1, 2, 4, 8, 64};
  const unsigned long n = AlignInRange(align) ? kAlignBytes[align] : 0;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  if (start + SlotOffset(start, n) + kPointer != address) return CSMemErrInvalidObject;
  const long r = obj->Valid();
  if (r == 0) *userPtr = obj->GetUserPointer();
  return r;
}
