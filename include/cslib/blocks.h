// Memory blocks, collections of blocks and the base class of objects that live in
// blocks. A block owns one piece of data held by a memory object; a collection keeps
// a list of its blocks, newest first, and accounts their bytes against an optional
// limit. Blocks and collections themselves live in memory objects, behind a tagged
// header.
#ifndef CSLIB_BLOCKS_H
#define CSLIB_BLOCKS_H

#include <cstddef>

#include "cslib/export.h"
#include "cslib/list.h"
#include "cslib/memory.h"

// Options of a new block, as bits of an unsigned long.
enum CSMemNewBlkOpt {
  CSMemBlkZeroInit = 0x01,  // zero the data when allocated, and the added bytes when grown
  CSMemBlkAlign2 = 0x02,
  CSMemBlkAlign4 = 0x04,
  CSMemBlkAlign8 = 0x08,
  CSMemBlkAlign64 = 0x40
};

// Result codes of blocks and collections (0 is success).
enum CSBlkErr {
  CSBlkErrAlloc = -100,            // size 0, data already held, no memory, or a bad out-pointer
  CSBlkErrShared = -101,           // a shared mapping could not be set up or released
  CSBlkErrLocked = -102,           // the block is locked
  CSBlkErrLimit = -103,            // the collection's byte limit would be exceeded
  CSBlkErrNotAllocated = -104,     // the block holds no data
  CSBlkErrNotInCollection = -105,  // not a block (or data address) of this collection
  CSBlkErrNoInitializer = -193     // a shared block was created without an initializer
};

class CSMemCollection;

class CSLIB_API CSMemBlock {
 public:
  CSMemBlock();
  CSMemBlock(unsigned long size, unsigned long options);  // check GetSize for the outcome
  // A block of collection (added to its list even when the allocation fails).
  CSMemBlock(unsigned long size, CSMemCollection* collection, unsigned long options, char* file,
             unsigned long line);
  // A copy holds its own copy of the data, in the same collection as the original.
  CSMemBlock(const CSMemBlock& other);
  // Replaces the data with a copy of other's; the block keeps its collection. Nothing
  // changes when this block is locked.
  CSMemBlock& operator=(const CSMemBlock& other);

  // Places the object in a memory object behind a tagged header; null on exhaustion.
  static void* operator new(std::size_t size) noexcept;
  static void operator delete(void* p) noexcept;

  // Gives an empty block size bytes. -100 for size 0, a block holding data or no
  // memory; -103 over the collection's limit. options is stored in any case.
  virtual long Allocate(unsigned long size, unsigned long options, char* file, unsigned long line);
  virtual long Free();  // -104 when empty, -102 when locked
  virtual CSMemCollection* GetCollectionPtr();
  virtual unsigned long GetSize() const;
  virtual unsigned char* Lock();  // the data address (one more lock), or null
  // Locks once and hands out consecutive chunks: after base and the first chunk's
  // size and out-pointer come pairs (int size, unsigned char** out) ended by size 0.
  virtual void LockInChunks(unsigned char** base, unsigned short firstSize, unsigned char** first,
                            ...);
  // Resizes, keeping data and alignment; an empty block is allocated with options.
  // On failure size, data and account are unchanged.
  virtual long ReAllocate(unsigned long size, unsigned long options);
  virtual void Set(unsigned char value);  // fills every byte
  virtual int Unlock();                   // 1 when no lock remains, 0 when locks remain
  virtual int Valid();                    // 1 when it holds sound data
  // Frees the data even when locked, gives its bytes back to the collection's account
  // and leaves the collection's list. Virtual, after the ten operations above, so that
  // a derived block deleted through a block pointer is destroyed whole.
  virtual ~CSMemBlock();

  // The block whose locked data address is data, or null.
  static CSMemBlock* GetMemBlockObjPtr(unsigned char* data);

 protected:
  CSMemObject* fMemObject;
  CSMemCollection* fCollection;
  unsigned long fSize;
  unsigned long fOptions;

 private:
  static CSMemOSAlign GetOSAlignOpt(unsigned long options);
  void CopyDataFrom(const CSMemBlock& other);
  friend class CSMemCollection;
};

class CSLIB_API CSMemCollection {
 public:
  CSMemCollection();                              // no byte limit
  explicit CSMemCollection(unsigned long limit);  // at most limit bytes of data
  // Blocks belong to one collection: a copy has the same limit and no blocks, and
  // assignment takes over the limit only.
  CSMemCollection(const CSMemCollection& other);
  CSMemCollection& operator=(const CSMemCollection& other);

  static void* operator new(std::size_t size) noexcept;
  static void operator delete(void* p) noexcept;

  // Deletes every block that can be freed; the last failure (-102) is reported.
  virtual long DeleteAllBlocks();
  virtual long DeleteBlock(CSMemBlock* block);  // -105 when not in this collection
  // Deletes the block whose data (locked once, as NewBlockPtrA leaves it) is data.
  // -105 for an address of no block of this collection, -102 when locked again.
  virtual long DeleteBlockPtr(unsigned char* data);
  virtual unsigned long GetAmountAllocated() const;
  virtual unsigned long GetAmountFree() const;
  virtual unsigned long GetTotalAmount() const;
  // A new block of size bytes into *block (null on failure). -100 for size 0, no
  // memory, a bad out-pointer or an account that would wrap; -103 over the limit.
  virtual long NewBlockA(unsigned long size, unsigned long options, CSMemBlock** block, char* file,
                         unsigned long line);
  // As NewBlockA, handing out the data locked once.
  virtual long NewBlockPtrA(unsigned long size, unsigned long options, unsigned char** data,
                            char* file, unsigned long line);
  // Deletes every block; a block still locked is detached (it lives on, with no
  // collection) rather than freed under its holder. Virtual, after the operations above.
  virtual ~CSMemCollection();

  void AddBlockToList(CSMemBlock* block);  // at the front; detaches the block on failure
  void RemoveBlockFromList(CSMemBlock* block);
  long IncAllocation(unsigned long amount);  // -103 over the limit, -100 if it would wrap
  void DecAllocation(unsigned long amount);

 protected:
  int fUnlimited;
  CSList fBlockList;
  unsigned long fLimit;
  unsigned long fAllocated;

 private:
  bool Holds(CSMemBlock* block);
  static void Destroy(CSMemBlock* block);
};

// Base of classes whose instances live in blocks: alone, or in a collection.
class CSLIB_API CSObject {
 public:
  CSObject() = default;
  CSObject(const CSObject&) = default;
  CSObject& operator=(const CSObject&);

  static void* operator new(std::size_t size) noexcept;
  static void* operator new(std::size_t size, CSMemCollection* collection) noexcept;
  static void operator delete(void* p) noexcept;
  static void operator delete(void* p, CSMemCollection* collection) noexcept;
};

#endif  // CSLIB_BLOCKS_H
