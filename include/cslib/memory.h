// Memory objects and byte-range utilities. A memory object owns at most one piece of
// storage of a chosen size and alignment, reached only through Lock; between locks the
// storage may move. CSHeapMemObject takes its storage from the C run-time heap and keeps
// a back pointer just before the data, so a locked data address leads to its object.
#ifndef CSLIB_MEMORY_H
#define CSLIB_MEMORY_H

#include "cslib/export.h"

// Alignment choice of a memory object's storage.
enum CSMemOSAlign {
  CSMemAlignNone = 0,  // what the heap gives
  CSMemAlign1 = 1,
  CSMemAlign2 = 2,
  CSMemAlign4 = 3,
  CSMemAlign8 = 4,
  CSMemAlign64 = 5
};

// Result codes of memory objects and the CS memory functions (0 is success).
enum CSMemErr {
  CSMemErrInvalidObject = -2900,     // null, destroyed or inconsistent object; bad pointer
  CSMemErrNotLocked = -2901,         // Unlock with a lock count of 0
  CSMemErrLocked = -2902,            // locked (or a lock beyond the 14-bit count)
  CSMemErrAlreadyAllocated = -2903,  // Allocate on an Allocated or ZeroLength object
  CSMemErrNotAllocated = -2904,      // the object is Empty
  CSMemErrBadAlign = -2905,          // alignment outside 0 to 5
  CSMemErrAlignChanged = -2906,      // ReAllocate asked an Allocated object for another one
  CSMemErrNoMemory = -2907,          // the heap gave nothing, or the size cannot be had
  CSMemErrLockFailed = -2909,        // the storage had no address
  CSMemErrBadBlock = -2910,          // the heap block is empty or not writable
  CSMemErrBadHeap = -2911            // the run-time heap failed its own check
};

CSLIB_C_BEGIN
CSLIB_API long CSGetUserPointer(unsigned char* data, void** userPtr);
CSLIB_C_END

namespace cslib {
class HeapObjectPaths;  // the library's own short paths through its heap objects
}

// Abstract memory object: the state word (lock count in bits 0-13, Allocated 0x4000,
// ZeroLength 0x8000), the check word 0xABCD and the alignment are policy kept here; a
// concrete class supplies the storage through the seven OS operations.
class CSLIB_API CSMemObject {
 public:
  explicit CSMemObject(void* userPtr);
  CSMemObject(const CSMemObject& other);
  CSMemObject& operator=(const CSMemObject& other);

  // Storage operations, in this slot order. Each runs with fAlign set to the alignment
  // of the storage to produce or handle.
  virtual long OSAllocate(unsigned long size) = 0;    // at least size bytes; 0 or a code
  virtual long OSReAllocate(unsigned long size) = 0;  // keeps min(old, new) bytes
  virtual unsigned char* OSLock() = 0;                // data address, null if none
  virtual void OSUnlock() = 0;
  virtual long OSFree() = 0;
  virtual long OSValid() = 0;
  virtual long OSGetSize(unsigned long* size) = 0;  // usable size, never below the request
  virtual ~CSMemObject();  // clears all four fields: a stale pointer reports -2900

  // Gives an Empty object storage (size 0: ZeroLength). -2903 unless Empty.
  long Allocate(unsigned long size, CSMemOSAlign align);
  // Resizes (align 0 keeps the current choice); an Empty or ZeroLength object is
  // allocated afresh, size 0 frees. -2902 while locked, -2906 for another alignment.
  long ReAllocate(unsigned long size, CSMemOSAlign align);
  // Releases the storage; the object stays alive and Empty. -2902 while locked.
  long Dispose();
  // Counts a lock and stores the data address in *data (null on failure). A
  // ZeroLength object hands out a non-null address that must not be used. -2900 when
  // data cannot be written; -2902 for a lock beyond 16383.
  long Lock(unsigned char** data);
  long Unlock();    // -2901 when not locked
  long IsLocked();  // 0 or -2902
  // The usable size into *size (0 for ZeroLength); -2900 when size cannot be written.
  long GetSize(unsigned long* size);
  long Valid();  // 0 when the object and its storage are sound
  // Copies min(source size, own size) bytes from source; -2900 for a null source.
  long Copy(CSMemObject* source);
  void* GetUserPointer() const { return fUserPtr; }

 protected:
  // The accessors are inline: they sit on every lock and allocation path.
  void SetLockCount(unsigned short count) {
    fFlags = static_cast<unsigned short>((fFlags & 0xC000) | (count & 0x3FFF));
  }
  unsigned short GetLockCount() const { return static_cast<unsigned short>(fFlags & 0x3FFF); }
  void SetAllocated(int on) {
    fFlags = static_cast<unsigned short>(on ? (fFlags | 0x4000) : (fFlags & ~0x4000));
  }
  int IsAllocated() const { return (fFlags & 0x4000) ? 1 : 0; }
  void SetZero(int on) {
    fFlags = static_cast<unsigned short>(on ? (fFlags | 0x8000) : (fFlags & ~0x8000));
  }
  int IsZero() const { return (fFlags & 0x8000) ? 1 : 0; }
  // Check word 0xABCD, not both state bits, and no lock on an Empty object.
  int IsDataValid() const {
    return fCheck == 0xABCD && (fFlags & 0xC000) != 0xC000 &&
                   ((fFlags & 0xC000) != 0 || (fFlags & 0x3FFF) == 0)
               ? 1
               : 0;
  }
  void SetPointer(void* p) { fUserPtr = p; }
  CSMemOSAlign GetAlignVal() const { return fAlign; }
  // 0, 1, 2, 4, 8 or 64 bytes for the six choices; 0 for anything else.
  unsigned short GetAlignNum() const {
    return fAlign >= CSMemAlign1 && fAlign <= CSMemAlign8
               ? static_cast<unsigned short>(1u << (fAlign - 1))
               : (fAlign == CSMemAlign64 ? 64 : 0);
  }
  void MoveMembers(CSMemObject* from);

  unsigned short fFlags;
  unsigned short fCheck;
  void* fUserPtr;
  CSMemOSAlign fAlign;

  friend class cslib::HeapObjectPaths;
};

// Memory object on the C run-time heap. The heap block holds a header of P bytes
// (P + n - 1 for an alignment of n) and the data; the P bytes before the data hold
// the object's address.
class CSLIB_API CSHeapMemObject : public CSMemObject {
 public:
  explicit CSHeapMemObject(void* userPtr);
  ~CSHeapMemObject() override;  // frees the heap block whatever the lock count

  long OSAllocate(unsigned long size) override;
  long OSReAllocate(unsigned long size) override;
  unsigned char* OSLock() override;
  void OSUnlock() override;
  long OSFree() override;
  long OSValid() override;
  long OSGetSize(unsigned long* size) override;

 protected:
  void* fRawBlock;

 private:
  unsigned long HeaderSize() const;
  unsigned long BackPointerOffset(const void* raw) const;
  friend long CSGetUserPointer(unsigned char* data, void** userPtr);
  friend class cslib::HeapObjectPaths;
};

CSLIB_C_BEGIN

// Creates a heap memory object and allocates it. *obj receives the object (null and
// -2907 when it could not be created) whatever Allocate reports; release it with
// CSDisposeMemory. -2900 when obj cannot be written.
CSLIB_API long CSAllocMemory(unsigned long size, CSMemOSAlign align, CSMemObject** obj,
                             void* userPtr);
// (*obj)->ReAllocate; *obj is never changed. -2900 for an unreadable obj.
CSLIB_API long CSReAllocMemory(unsigned long size, CSMemOSAlign align, CSMemObject** obj);
// Dispose, then destroys the object unless it was invalid (-2900): a locked object is
// destroyed and its storage freed all the same, and -2902 reported.
CSLIB_API long CSDisposeMemory(CSMemObject* obj);
CSLIB_API long CSLockMemory(CSMemObject* obj, unsigned char** data);
CSLIB_API long CSUnlockMemory(CSMemObject* obj);
CSLIB_API long CSValidMemory(CSMemObject* obj);
CSLIB_API long CSIsLocked(CSMemObject* obj);
CSLIB_API long CSSizeMemory(CSMemObject* obj, unsigned long* size);
// A new CSHeapMemObject carrying userPtr, or null when memory is exhausted.
CSLIB_API CSMemObject* CSMemObjectFactory(void* userPtr);
// The user pointer of the heap memory object whose locked data address is data.
// -2900 when data is not such an address (nothing before it is trusted unchecked) or
// userPtr cannot be written; otherwise the object's Valid result, *userPtr set on 0.
CSLIB_API long CSGetUserPointer(unsigned char* data, void** userPtr);

// Byte ranges. Copy and move take the source first; the bitwise functions take the
// destination first. A count of 0 touches nothing.
CSLIB_API void CSZeroMemory(void* dest, unsigned long count);
CSLIB_API void CSSetMemory(void* dest, unsigned long count, unsigned char value);
// Ascending copy; overlapping ranges need CSMoveMemory.
CSLIB_API void CSCopyMemory(const void* source, void* dest, unsigned long count);
CSLIB_API void* CSMoveMemory(const void* source, void* dest, unsigned long count);
// -1, 0 or 1, comparing unsigned bytes.
CSLIB_API int CSCompareMemory(const void* a, const void* b, unsigned long count);
CSLIB_API void CSFlipMemory(void* dest, const void* source, unsigned long count);  // NOT
CSLIB_API void CSOrMemory(void* dest, const void* source, unsigned long count);
CSLIB_API void CSMergeOrMemory(void* dest, const void* a, const void* b, unsigned long count);
// Length of the range without its trailing 0x00 (0xFF) bytes: 0 when all are.
CSLIB_API unsigned long CSIsAllZeros(const void* p, unsigned long count);
CSLIB_API unsigned long CSIsAllFFs(const void* p, unsigned long count);
// 0 when the run-time heap passes its own check (or has none), -2911 otherwise.
CSLIB_API long CSValidHeap(void);
// Virtual address space still available to the process, in bytes.
CSLIB_API unsigned long CSGetFreeMemory(void);
// 0 for null; else the bytes from p to the end of the address space as an unsigned
// long counts them (2^64 - p on a 64-bit host).
CSLIB_API unsigned long CSBytesLeftInSeg(const void* p);
// p + offset; extra is ignored.
CSLIB_API unsigned char* CSMakeNormalPointer(unsigned char* p, long offset, unsigned long extra);

CSLIB_C_END

#endif  // CSLIB_MEMORY_H
