// Shared memory blocks: a named mapping of the platform's shared memory, one reserved
// byte and then the data, guarded by the named mutex of the same name. Creating and
// opening both happen under that mutex, so an opener never sees the memory before the
// creator's initializer has finished with it.
#include <cstring>
#include <new>

#include "cslib/frame.h"
#include "cslib/sharedmem.h"
#include "cslib/text.h"
#include "csobject/src/memcheck.h"
#include "port/named.h"

namespace {

constexpr long kMaxName = 24;                        // "SHRMEM_" and the name fill fName's 32 bytes
constexpr unsigned long kMaxMapping = 0xFFFFFFFFul;  // a mapping's size is a 32-bit word
constexpr std::size_t kPrefixLength = 7;             // "SHRMEM_"

cslib::port::SharedObject* Mapping(unsigned long handle) {
  return reinterpret_cast<cslib::port::SharedObject*>(handle);
}

}  // namespace

int CSSharedMemBlock::fIsFirstSharedMemoryOperation = 1;
long CSSharedMemBlock::fErr = 0;

CSSharedMemBlock::CSSharedMemBlock()
    : CSMemBlock(),
      fInitErr(0),
      fDesc(nullptr),
      fName{},
      fMapping(0),
      fMutexObj(nullptr),
      fData(nullptr) {
  // The data lives in the mapping; the memory object the base made is not needed.
  delete fMemObject;
  fMemObject = nullptr;
  FirstOperation();
}

CSSharedMemBlock::CSSharedMemBlock(const char* name, unsigned long size, Initializer init,
                                   unsigned long, unsigned long* created)
    : CSSharedMemBlock() {
  fInitErr = Create(name, size, init, created, CSBlkErrShared);
}

CSSharedMemBlock::CSSharedMemBlock(const CSSharedMemBlock& other) : CSSharedMemBlock() {
  OpenLike(other);
}

CSSharedMemBlock& CSSharedMemBlock::operator=(const CSSharedMemBlock& other) {
  if (&other == this) return *this;
  Free();
  OpenLike(other);
  return *this;
}

CSSharedMemBlock::~CSSharedMemBlock() {
  if (fSize > 0 || fDesc || fMutexObj) Free();
}

void CSSharedMemBlock::OpenLike(const CSSharedMemBlock& other) {
  fInitErr = other.fInitErr;
  if (!other.fDesc) return;
  const long r = Create(other.fName + kPrefixLength, other.fSize, nullptr, nullptr, CSBlkErrShared);
  if (r != 0) fInitErr = r;
}

void CSSharedMemBlock::FirstOperation() {
  long result = 0;
  if (__atomic_load_n(&fIsFirstSharedMemoryOperation, __ATOMIC_RELAXED)) {
    result = NameRegistry_Reset();
    if (result == 0) __atomic_store_n(&fIsFirstSharedMemoryOperation, 0, __ATOMIC_RELAXED);
  }
  fInitErr = result;
}

long CSSharedMemBlock::Create(const char* name, unsigned long size, Initializer init,
                              unsigned long* created, long mappingFailure) {
  unsigned long wasCreated = 0;
  long result = 0;
  const long length = cslib::port::ReadableStrnlen(name, kMaxName + 1);
  if (fDesc || fMutexObj) {
    result = CSBlkErrAlloc;  // Free first: a second mapping would orphan the first
  } else if (length < 0 || length > kMaxName) {
    result = mappingFailure;  // never cut: a cut name would be another block's name
  } else if (CSMutex* mutex = new (std::nothrow) CSMutex(name); !mutex) {
    result = CSBlkErrAlloc;
  } else if (mutex->Aquire() != 0 && mutex->Aquire() != 0) {
    // Still not held after a wait its dead owner abandoned: a lock that cannot be
    // taken would leave the memory unguarded and an initializer unrun.
    delete mutex;
    result = CSBlkErrAlloc;
  } else {
    CSiSprintf(fName, "SHRMEM_%s", name);
    if (GetASharedBlock(fName, size + 1, &fDesc, &wasCreated, &fMapping) != 0) {
      delete mutex;  // gives the acquisition back
      fName[0] = '\0';
      result = mappingFailure;
    } else {
      fMutexObj = mutex;
      fSize = size;
      fData = fDesc->fData;
      if (wasCreated) result = init ? init(this, fData) : long{CSBlkErrNoInitializer};
      if (fMutexObj == mutex) mutex->Release();  // unless the initializer freed the block
    }
  }
  if (created && cslib::CanWriteOut(created, sizeof *created)) *created = wasCreated;
  return result;
}

long CSSharedMemBlock::Allocate(const char* name, unsigned long size, Initializer init,
                                unsigned long, unsigned long* created) {
  // Kept for Valid as well, so that both ways of creating answer alike.
  fInitErr = Create(name, size, init, created, CSBlkErrAlloc);
  return fInitErr;
}

long CSSharedMemBlock::Allocate(unsigned long, CSMemNewBlkOpt, char*, unsigned long) {
  return 0;
}

unsigned char* CSSharedMemBlock::Lock(int) {
  return nullptr;
}

long CSSharedMemBlock::ReAllocate(unsigned long, CSMemNewBlkOpt) {
  return 0;
}

long CSSharedMemBlock::Free() {
  long result = 0;
  delete fMutexObj;  // gives back what this block still holds of the lock
  fMutexObj = nullptr;
  if (fDesc) result = ReleaseASharedBlock(reinterpret_cast<unsigned char*>(fDesc), fName, fMapping);
  fDesc = nullptr;
  fName[0] = '\0';
  fMapping = 0;
  fData = nullptr;
  fSize = 0;
  return result;
}

CSMemCollection* CSSharedMemBlock::GetCollectionPtr() {
  return nullptr;
}

unsigned long CSSharedMemBlock::GetSize() const {
  return fSize;
}

unsigned char* CSSharedMemBlock::Lock() {
  if (!fMutexObj) return nullptr;
  return fMutexObj->Aquire() == 0 ? fData : nullptr;
}

void CSSharedMemBlock::LockInChunks(unsigned char**, unsigned short, unsigned char**, ...) {}

void CSSharedMemBlock::Set(unsigned char) {
  if (fSize > 0 && Lock()) Unlock();
}

int CSSharedMemBlock::Unlock() {
  if (!fMutexObj) return 0;
  return fMutexObj->Release() == 0 ? 1 : 0;
}

int CSSharedMemBlock::Valid() {
  return fInitErr == 0 && (fDesc || fMutexObj) && CSIsValidWritePtr(fData, fSize) ? 1 : 0;
}

CSMemBlock* CSSharedMemBlock::GetMemBlockObjPtr(unsigned char*) {
  return nullptr;
}

long CSSharedMemBlock::GetASharedBlock(const char* name, unsigned long size,
                                       CSSharedMemBlockDesc** desc, unsigned long* created,
                                       unsigned long* mapping) {
  *mapping = 0;
  *desc = nullptr;
  if (created) *created = 0;
  if (size == 0 || size > kMaxMapping) return CSBlkErrShared;
  bool fresh = false;
  std::unique_ptr<cslib::port::SharedObject> object =
      cslib::port::SharedObject::Open(name, size, &fresh);
  if (!object) return CSBlkErrShared;
  if (fresh && created) *created = 1;
  *desc = static_cast<CSSharedMemBlockDesc*>(object->data());
  *mapping = reinterpret_cast<unsigned long>(object.release());
  return 0;
}

long CSSharedMemBlock::ReleaseASharedBlock(unsigned char* desc, const char*,
                                           unsigned long mapping) {
  cslib::port::SharedObject* object = Mapping(mapping);
  if (!object) return CSBlkErrShared;
  const bool sameView = object->data() == desc;
  const bool closed = object->Close();
  delete object;
  return sameView && closed ? 0 : CSBlkErrShared;
}

long CSSharedMemBlock::NameRegistry_Reset() {
  return 0;
}

long CSSharedMemBlock::NameRegistry_Lookup(const char*, MemBlockDescriptor*) {
  return 0;
}

long CSSharedMemBlock::NameRegistry_Update(const char*, MemBlockDescriptor*) {
  return 0;
}

long CSSharedMemBlock::NameRegistry_Delete(const char*) {
  return 0;
}
