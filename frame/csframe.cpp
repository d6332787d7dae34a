// The library frame: pointer checks and the version query. On POSIX there is no
// loader entry routine; the library needs no setting up or tearing down.
#include "cslib/frame.h"

#include "port/environment.h"
#include "port/memprobe.h"

int CSIsValidReadPtr(const void* p, unsigned long size) {
  return cslib::port::CanRead(p, size) ? 1 : 0;
}

int CSIsValidWritePtr(const void* p, unsigned long size) {
  return cslib::port::CanWrite(p, size) ? 1 : 0;
}

CSOSVersion CSGetOSVersion(void) {
  unsigned long id = 0;
  if (!cslib::port::QueryPlatformId(&id)) return CSOSUnknown;
  switch (id) {
    case 0:
      return CSOSWin32s;
    case 1:
      return CSOSWin9x;
    case 2:
      return CSOSWinNT;
    default:
      return CSOSUnknown;
  }
}
