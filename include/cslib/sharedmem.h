// Shared memory blocks: memory that every process reaches by name ("SHRMEM_" and the
// name), guarded by the named mutex of the same name. The first process to ask for a
// name creates the memory, zero-filled, and runs the caller's initializer over it under
// the lock; later ones open it and see what was written.
#ifndef CSLIB_SHAREDMEM_H
#define CSLIB_SHAREDMEM_H

#include "cslib/blocks.h"
#include "cslib/export.h"
#include "cslib/mutex.h"

// The shared memory as mapped: one reserved byte (zero, never used), then the data.
struct CSSharedMemBlockDesc {
  unsigned char fReserved;
  unsigned char fData[1];
};

// Record of the name-registry hooks, which ignore it.
struct MemBlockDescriptor;

class CSLIB_API CSSharedMemBlock : public CSMemBlock {
 public:
  // Runs once, in the process that created the memory, with the lock held; its result
  // becomes the result of the creation.
  typedef long (*Initializer)(CSSharedMemBlock* block, unsigned char* data);

  CSSharedMemBlock();  // empty: holds nothing
  // Creates or opens the named memory of size bytes; *created (when not null) is 1 for
  // the creator, else 0. The outcome is in Valid: 0 when the creation failed (-101:
  // no mapping, also for a name over 24 characters; -100: no lock; -193: created
  // without an initializer; or the initializer's own nonzero result).
  CSSharedMemBlock(const char* name, unsigned long size, Initializer init, unsigned long reserved,
                   unsigned long* created);
  // A copy is a separate holder of the same memory and lock (its own view, unlocked).
  CSSharedMemBlock(const CSSharedMemBlock& other);
  CSSharedMemBlock& operator=(const CSSharedMemBlock& other);
  ~CSSharedMemBlock() override;  // frees whatever is held, a size-0 block included

  using CSMemBlock::Allocate;    // a memory object's allocation: -100, there is none
  using CSMemBlock::ReAllocate;  // -100 when empty, -102 when a mapping is held

  // Gives back the lock (the acquisitions this block holds, when this thread owns
  // them), the view and the mapping. -101 when the system refused to release them.
  long Free() override;
  CSMemCollection* GetCollectionPtr() override;  // null
  unsigned long GetSize() const override;
  // Acquires the lock (waiting without limit; nests within a thread) and returns the
  // data address; null without lock or when the wait failed.
  unsigned char* Lock() override;
  void LockInChunks(unsigned char** base, unsigned short firstSize, unsigned char** first,
                    ...) override;         // does nothing
  void Set(unsigned char value) override;  // takes and gives back the lock; writes nothing
  // 1 when this block's lock is now released, 0 when acquisitions remain or on failure.
  int Unlock() override;
  // 1 when the last creation succeeded and the data is held and writable.
  int Valid() override;

  // The creation on an empty block, with the result returned (and kept for Valid).
  // -100 when the block already holds memory, when the mapping fails (a name over 24
  // characters included) or when the lock cannot be set up; -193 and initializer
  // results as for the constructor.
  virtual long Allocate(const char* name, unsigned long size, Initializer init,
                        unsigned long reserved, unsigned long* created);
  virtual long Allocate(unsigned long size, CSMemNewBlkOpt option, char* file,
                        unsigned long line);                           // does nothing; 0
  virtual unsigned char* Lock(int);                                    // does nothing; null
  virtual long ReAllocate(unsigned long size, CSMemNewBlkOpt option);  // does nothing; 0

  // A shared block cannot be found from its data address: null.
  static CSMemBlock* GetMemBlockObjPtr(unsigned char* data);

  static int fIsFirstSharedMemoryOperation;  // 1 until the first construction's reset
  static long fErr;                          // not used by the library

 protected:
  long fInitErr;
  CSSharedMemBlockDesc* fDesc;
  char fName[32];
  unsigned long fMapping;
  CSMutex* fMutexObj;
  unsigned char* fData;

 private:
  long GetASharedBlock(const char* name, unsigned long size, CSSharedMemBlockDesc** desc,
                       unsigned long* created, unsigned long* mapping);
  long ReleaseASharedBlock(unsigned char* desc, const char* name, unsigned long mapping);
  long NameRegistry_Reset();
  long NameRegistry_Lookup(const char* name, MemBlockDescriptor* descriptor);
  long NameRegistry_Update(const char* name, MemBlockDescriptor* descriptor);
  long NameRegistry_Delete(const char* name);

  void FirstOperation();
  long Create(const char* name, unsigned long size, Initializer init, unsigned long* created,
              long mappingFailure);
  void OpenLike(const CSSharedMemBlock& other);
};

#endif  // CSLIB_SHAREDMEM_H
