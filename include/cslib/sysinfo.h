// System information: the processor class, the floating-point unit and the
// directory printer drivers are installed in. The operating-system family query,
// CSGetOSVersion, is in cslib/frame.h.
#ifndef CSLIB_SYSINFO_H
#define CSLIB_SYSINFO_H

#include "cslib/export.h"

enum TQZSysArch {
  SysArch386 = 2,     // Intel architecture, reported as a 386
  SysArch486 = 3,     // Intel architecture, reported as a 486
  SysArchX86 = 4,     // any later Intel-architecture processor without MMX
  SysArchX86Mmx = 5,  // any later Intel-architecture processor with MMX
  SysArchNotX86 = 6   // any other architecture
};

CSLIB_C_BEGIN

// The processor class. x86 and x86-64 are the Intel architecture; every other
// architecture is SysArchNotX86. Cannot fail.
CSLIB_API TQZSysArch CSSystemArchitecture(void);

// 1 when an x87 floating-point unit answers, else 0 (always 0 when not x86). The
// test runs on a freshly initialised unit; the caller's x87 state is kept.
CSLIB_API int CSHaveFloatingPoint(void);

// The printer-driver directory. On Windows NT (CSLIB_OS_FAMILY=winnt) it is
// "<system directory>/spool/drivers/w32x86/2", on every other family the system
// directory itself. With a null buffer: the size in bytes the path needs,
// terminator included. Otherwise the buffer must be writable over that size plus
// one byte; the path's length is returned, or 0 (buffer untouched) on failure.
CSLIB_API unsigned short CSGetPrinterDriverDirectory(char* buffer);

CSLIB_C_END

#endif  // CSLIB_SYSINFO_H
