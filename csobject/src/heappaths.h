// Short paths through the heap memory objects the library makes for its own use (list
// nodes): such an object is known to be a sound CSHeapMemObject without alignment, and
// its out-pointers are the library's own locals, so these paths skip the checks the
// public functions make on what a caller hands them, and the virtual storage calls.
#ifndef CSLIB_CSOBJECT_HEAPPATHS_H
#define CSLIB_CSOBJECT_HEAPPATHS_H

#include "cslib/memory.h"

namespace cslib {

class HeapObjectPaths {
 public:
  // What CSAllocMemory(size, CSMemAlignNone, &obj, userPtr) and CSLockMemory(obj, data)
  // do together: a new object holding size bytes, locked once, its data address in
  // *data. Null (and *data null) when memory runs out, with nothing left behind.
  static CSMemObject* NewLocked(unsigned long size, void* userPtr, unsigned char** data);
  // What CSUnlockMemory and CSDisposeMemory do together, for an object from NewLocked.
  // One that is no longer as NewLocked left it (locked once, Allocated) takes the
  // public functions, with all their checks.
  static void DisposeLocked(CSMemObject* obj);
};

}  // namespace cslib

#endif  // CSLIB_CSOBJECT_HEAPPATHS_H
