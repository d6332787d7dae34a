// Memory blocks and collections, and the class allocation operators that place both
// inside memory objects behind a tagged header.
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "cslib/blocks.h"
#include "csobject/src/memcheck.h"

namespace {

constexpr unsigned short kBlockAlive = 0xABEE;
constexpr unsigned short kBlockDead = 0xFBEE;
constexpr unsigned short kCollectionAlive = 0xACEE;
constexpr unsigned short kCollectionDead = 0xFCEE;
constexpr unsigned long kMaxSize = static_cast<unsigned long>(-1);

// Header in front of a placed object: the memory object's address at its start and
// the 16-bit tag in its last two bytes, right before the object. The data of a memory
// object without alignment request sits a pointer past a malloc block (aligned to 16),
// so this size puts the object on a 16-byte boundary.
constexpr std::size_t kPointer = sizeof(void*);
constexpr std::size_t kHeader = (2 * kPointer + 2 + 15) / 16 * 16 - kPointer;
static_assert(kHeader >= kPointer + 2, "header holds the memory object and the tag");

void* PlaceObject(std::size_t size, unsigned short tag) {
  if (size > kMaxSize - kHeader) return nullptr;
  CSMemObject* m = nullptr;
  if (CSAllocMemory(size + kHeader, CSMemAlignNone, &m, nullptr) != 0) {
    if (m) CSDisposeMemory(m);
    return nullptr;
  }
  unsigned char* header = nullptr;
  if (m->Lock(&header) != 0) {
    CSDisposeMemory(m);
    return nullptr;
  }
  std::memcpy(header, &m, kPointer);
  std::memcpy(header + kHeader - 2, &tag, 2);
  return header + kHeader;
}

void ReleaseObject(void* p, unsigned short alive, unsigned short dead) {
  if (!p) return;
  unsigned char* header = static_cast<unsigned char*>(p) - kHeader;
  unsigned short tag;
  std::memcpy(&tag, header + kHeader - 2, 2);
  if (tag != alive) return;  // not placed by us, or released before
  std::memcpy(header + kHeader - 2, &dead, 2);
  CSMemObject* m;
  std::memcpy(&m, header, kPointer);
  CSUnlockMemory(m);
  CSDisposeMemory(m);
}

}  // namespace

// ---- CSMemBlock

CSMemBlock::CSMemBlock()
    : fMemObject(CSMemObjectFactory(this)), fCollection(nullptr), fSize(0), fOptions(0) {}

CSMemBlock::CSMemBlock(unsigned long size, unsigned long options) : CSMemBlock() {
  CSMemBlock::Allocate(size, options, nullptr, 0);
}

CSMemBlock::CSMemBlock(unsigned long size, CSMemCollection* collection, unsigned long options,
                       char* file, unsigned long line)
    : CSMemBlock() {
  fCollection = collection;
  if (collection) collection->AddBlockToList(this);
  CSMemBlock::Allocate(size, options, file, line);
}

CSMemBlock::CSMemBlock(const CSMemBlock& other)
    : fMemObject(other.fMemObject ? CSMemObjectFactory(this) : nullptr),
      fCollection(other.fCollection),
      fSize(0),
      fOptions(other.fOptions) {
  if (fCollection) fCollection->AddBlockToList(this);
  CopyDataFrom(other);
}

CSMemBlock& CSMemBlock::operator=(const CSMemBlock& other) {
  if (&other == this) return *this;
  if (fSize > 0 && CSMemBlock::Free() != 0) return *this;
  fOptions = other.fOptions;
  if (!fMemObject && other.fMemObject) fMemObject = CSMemObjectFactory(this);
  CopyDataFrom(other);
  return *this;
}

void CSMemBlock::CopyDataFrom(const CSMemBlock& other) {
  if (other.fSize == 0 || !other.fMemObject || !fMemObject) return;
  if (CSMemBlock::Allocate(other.fSize, other.fOptions, nullptr, 0) == 0)
    fMemObject->Copy(other.fMemObject);
}

CSMemBlock::~CSMemBlock() {
  if (fSize > 0 && CSMemBlock::Free() != 0) {
    // Still locked: the memory object below releases the data all the same, so its
    // bytes leave the account here.
    if (fCollection) fCollection->DecAllocation(fSize);
    fSize = 0;
  }
  if (fCollection) fCollection->RemoveBlockFromList(this);
  fCollection = nullptr;
  delete fMemObject;
  fMemObject = nullptr;
}

void* CSMemBlock::operator new(std::size_t size) noexcept {
  return PlaceObject(size, kBlockAlive);
}

void CSMemBlock::operator delete(void* p) noexcept {
  ReleaseObject(p, kBlockAlive, kBlockDead);
}

CSMemOSAlign CSMemBlock::GetOSAlignOpt(unsigned long options) {
  switch (options & 0x4E) {
    case CSMemBlkAlign2:
      return CSMemAlign2;
    case CSMemBlkAlign4:
      return CSMemAlign4;
    case CSMemBlkAlign8:
      return CSMemAlign8;
    case CSMemBlkAlign64:
      return CSMemAlign64;
    default:
      return CSMemAlign1;
  }
}

long CSMemBlock::Allocate(unsigned long size, unsigned long options, char*, unsigned long) {
  fOptions = options;
  if (size == 0 || fSize > 0 || !fMemObject) return CSBlkErrAlloc;
  if (fCollection) {
    const long r = fCollection->IncAllocation(size);
    if (r != 0) return r;
  }
  if (fMemObject->Allocate(size, GetOSAlignOpt(options)) != 0) {
    if (fCollection) fCollection->DecAllocation(size);
    return CSBlkErrAlloc;
  }
  fSize = size;
  if (options & CSMemBlkZeroInit) CSMemBlock::Set(0);
  return 0;
}

long CSMemBlock::Free() {
  if (fSize == 0) return CSBlkErrNotAllocated;
  if (!fMemObject || fMemObject->IsLocked() != 0) return CSBlkErrLocked;
  fMemObject->Dispose();
  if (fCollection) fCollection->DecAllocation(fSize);
  fSize = 0;
  return 0;
}

CSMemCollection* CSMemBlock::GetCollectionPtr() {
  return fCollection;
}

unsigned long CSMemBlock::GetSize() const {
  return fSize;
}

unsigned char* CSMemBlock::Lock() {
  if (fSize == 0 || !fMemObject) return nullptr;
  unsigned char* p = nullptr;
  return fMemObject->Lock(&p) == 0 ? p : nullptr;
}

void CSMemBlock::LockInChunks(unsigned char** base, unsigned short firstSize, unsigned char** first,
                              ...) {
  if (!cslib::CanWriteOut(base, sizeof *base) || !cslib::CanWriteOut(first, sizeof *first)) return;
  *base = nullptr;
  *first = nullptr;
  if (fSize == 0) return;
  unsigned char* locked = Lock();
  if (!locked) return;
  *base = locked;
  *first = locked;
  unsigned long offset = firstSize;
  va_list chunks;
  va_start(chunks, first);
  for (;;) {
    const auto size = static_cast<unsigned short>(va_arg(chunks, int));
    if (size == 0) break;
    unsigned char** out = va_arg(chunks, unsigned char**);
    if (!cslib::CanWriteOut(out, sizeof *out)) break;
    *out = locked + offset;
    offset += size;
  }
  va_end(chunks);
}

long CSMemBlock::ReAllocate(unsigned long size, unsigned long options) {
  if (size == 0) return CSBlkErrAlloc;
  if (fSize == 0) return Allocate(size, options, nullptr, 0);
  if (!fMemObject || fMemObject->IsLocked() != 0) return CSBlkErrLocked;
  const bool grows = size > fSize;
  const unsigned long delta = grows ? size - fSize : fSize - size;
  if (grows && fCollection) {
    const long r = fCollection->IncAllocation(delta);
    if (r != 0) return r;
  }
  if (fMemObject->ReAllocate(size, CSMemAlignNone) != 0) {
    if (grows && fCollection) fCollection->DecAllocation(delta);
    return CSBlkErrAlloc;
  }
  if (!grows && fCollection) fCollection->DecAllocation(delta);
  if (grows && (fOptions & CSMemBlkZeroInit)) {
    unsigned char* p = nullptr;
    if (fMemObject->Lock(&p) == 0) {
      CSSetMemory(p + fSize, delta, 0);
      fMemObject->Unlock();
    }
  }
  fSize = size;
  return 0;
}

void CSMemBlock::Set(unsigned char value) {
  if (fSize == 0 || !fMemObject) return;
  unsigned char* p = nullptr;
  if (fMemObject->Lock(&p) != 0) return;
  CSSetMemory(p, fSize, value);
  fMemObject->Unlock();
}

int CSMemBlock::Unlock() {
  if (fSize == 0 || !fMemObject) return 1;
  if (fMemObject->Unlock() != 0) return 1;
  return fMemObject->IsLocked() != 0 ? 0 : 1;
}

int CSMemBlock::Valid() {
  return fSize > 0 && fMemObject && fMemObject->Valid() == 0 ? 1 : 0;
}

CSMemBlock* CSMemBlock::GetMemBlockObjPtr(unsigned char* data) {
  void* p = nullptr;
  return CSGetUserPointer(data, &p) == 0 ? static_cast<CSMemBlock*>(p) : nullptr;
}

// ---- CSMemCollection

CSMemCollection::CSMemCollection() : fUnlimited(1), fLimit(0), fAllocated(0) {}

CSMemCollection::CSMemCollection(unsigned long limit)
    : fUnlimited(0), fLimit(limit), fAllocated(0) {}

CSMemCollection::CSMemCollection(const CSMemCollection& other)
    : fUnlimited(other.fUnlimited), fLimit(other.fLimit), fAllocated(0) {}

CSMemCollection& CSMemCollection::operator=(const CSMemCollection& other) {
  fUnlimited = other.fUnlimited;
  fLimit = other.fLimit;
  return *this;
}

CSMemCollection::~CSMemCollection() {
  CSMemCollection::DeleteAllBlocks();
  // What is left is locked by someone: it stays alive, on its own.
  CSListIterator it(fBlockList);
  while (it.IsValid()) {
    auto* block = static_cast<CSMemBlock*>(fBlockList.Get(it));
    block->fCollection = nullptr;
  }
  fAllocated = 0;
}

void* CSMemCollection::operator new(std::size_t size) noexcept {
  return PlaceObject(size, kCollectionAlive);
}

void CSMemCollection::operator delete(void* p) noexcept {
  ReleaseObject(p, kCollectionAlive, kCollectionDead);
}

void CSMemCollection::Destroy(CSMemBlock* block) {
  delete block;
}

bool CSMemCollection::Holds(CSMemBlock* block) {
  for (CSListIterator it(fBlockList); it.IsValid(); it.GetNext())
    if (fBlockList.Peek(it) == block) return true;
  return false;
}

long CSMemCollection::DeleteAllBlocks() {
  long result = 0;
  CSListIterator it(fBlockList);
  while (it.IsValid()) {
    CSListIterator next(it);
    next.GetNext();
    auto* block = static_cast<CSMemBlock*>(fBlockList.Peek(it));
    const long r = block->GetSize() ? block->Free() : 0;
    if (r != 0) {
      result = r;
    } else {
      fBlockList.Delete(it);
      block->fCollection = nullptr;
      Destroy(block);
    }
    it = next;
  }
  return result;
}

long CSMemCollection::DeleteBlock(CSMemBlock* block) {
  for (CSListIterator it(fBlockList); it.IsValid(); it.GetNext()) {
    if (fBlockList.Peek(it) != block) continue;
    const long r = block->GetSize() ? block->Free() : 0;
    if (r == 0) {
      fBlockList.Delete(it);
      block->fCollection = nullptr;
      Destroy(block);
    }
    return r;
  }
  return CSBlkErrNotInCollection;
}

long CSMemCollection::DeleteBlockPtr(unsigned char* data) {
  CSMemBlock* block = CSMemBlock::GetMemBlockObjPtr(data);
  // Only a block found in this collection's own list is called.
  if (!block || !Holds(block) || block->GetCollectionPtr() != this) return CSBlkErrNotInCollection;
  if (block->Unlock() != 1) {
    block->Lock();
    return CSBlkErrLocked;
  }
  const long r = DeleteBlock(block);
  if (r != 0) block->Lock();
  return r;
}

unsigned long CSMemCollection::GetAmountAllocated() const {
  return fAllocated;
}

unsigned long CSMemCollection::GetAmountFree() const {
  if (fUnlimited) return CSGetFreeMemory();
  return fLimit > fAllocated ? fLimit - fAllocated : 0;
}

unsigned long CSMemCollection::GetTotalAmount() const {
  return fUnlimited ? CSGetFreeMemory() + fAllocated : fLimit;
}

long CSMemCollection::NewBlockA(unsigned long size, unsigned long options, CSMemBlock** block,
                                char* file, unsigned long line) {
  if (!cslib::CanWriteOut(block, sizeof *block)) return CSBlkErrAlloc;
  *block = nullptr;
  if (size == 0) return CSBlkErrAlloc;
  if (!fUnlimited && (fAllocated > fLimit || size > fLimit - fAllocated)) return CSBlkErrLimit;
  if (fUnlimited && size > kMaxSize - fAllocated) return CSBlkErrAlloc;
  auto* made = new CSMemBlock(size, this, options, file, line);
  if (!made) return CSBlkErrAlloc;
  if (made->GetSize() != size || made->fCollection != this) {
    Destroy(made);
    return CSBlkErrAlloc;
  }
  *block = made;
  return 0;
}

long CSMemCollection::NewBlockPtrA(unsigned long size, unsigned long options, unsigned char** data,
                                   char* file, unsigned long line) {
  if (!cslib::CanWriteOut(data, sizeof *data)) return CSBlkErrAlloc;
  *data = nullptr;
  CSMemBlock* block = nullptr;
  const long r = NewBlockA(size, options, &block, file, line);
  if (r != 0) return r;
  *data = block->Lock();
  if (!*data) {
    DeleteBlock(block);
    return CSBlkErrAlloc;
  }
  return 0;
}

void CSMemCollection::AddBlockToList(CSMemBlock* block) {
  CSListIterator it(fBlockList);
  if (fBlockList.Insert(it, block) != 0) block->fCollection = nullptr;
}

void CSMemCollection::RemoveBlockFromList(CSMemBlock* block) {
  for (CSListIterator it(fBlockList); it.IsValid(); it.GetNext()) {
    if (fBlockList.Peek(it) == block) {
      fBlockList.Delete(it);
      return;
    }
  }
}

long CSMemCollection::IncAllocation(unsigned long amount) {
  if (!fUnlimited) {
    if (fAllocated > fLimit || amount > fLimit - fAllocated) return CSBlkErrLimit;
  } else if (amount > kMaxSize - fAllocated) {
    return CSBlkErrAlloc;
  }
  fAllocated += amount;
  return 0;
}

void CSMemCollection::DecAllocation(unsigned long amount) {
  fAllocated -= amount;
}
