// Library frame: pointer checks and the operating-system family query. Every
// public operation of the library checks its pointer arguments with these before
// it does any work, and reports a bad one with its family's invalid code.
#ifndef CSLIB_FRAME_H
#define CSLIB_FRAME_H

#include "cslib/export.h"

enum CSOSVersion {
  CSOSUnknown = 0,  // the query failed, or the family is none of the three below
  CSOSWin32s = 1,
  CSOSWin9x = 2,
  CSOSWinNT = 3
};

CSLIB_C_BEGIN

// 1 when p is not null and all `size` bytes from p can be read, else 0. Null is
// invalid whatever the size; a non-null pointer with size 0 is valid. Never faults,
// never touches the memory's contents, safe from any thread.
CSLIB_API int CSIsValidReadPtr(const void* p, unsigned long size);

// As CSIsValidReadPtr, for writing. The bytes are not changed.
CSLIB_API int CSIsValidWritePtr(const void* p, unsigned long size);

// The operating-system family the library runs as (CSLIB_OS_FAMILY on POSIX,
// read afresh at every call).
CSLIB_API CSOSVersion CSGetOSVersion(void);

CSLIB_C_END

#endif  // CSLIB_FRAME_H
