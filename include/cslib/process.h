// Processes, libraries and resources. Module, resource and memory handles cross
// the interface as unsigned long; a handle the library did not hand out (0
// included) gives the failure result, never a fault.
#ifndef CSLIB_PROCESS_H
#define CSLIB_PROCESS_H

#include "cslib/export.h"

enum CSProcessErr {
  CSOk = 0,
  CSErrLoadLibrary = -2800,    // the library was not loaded
  CSErrFreeLibrary = -2801,    // not a loaded library, or unloading failed
  CSErrProcNotFound = -2802,   // the module has no such procedure
  CSErrCreateProcess = -2803,  // no command line, not started, or waiting failed
  CSErrProcessNotIdle = -2804  // not ready for input within the time allowed
};

CSLIB_C_BEGIN

// Starts the program of a Windows command line: split into arguments by the
// Windows rules, the program (the first argument) looked up on PATH unless it
// holds a '/'. showWindow has no meaning here. timeout 0: returns 0 once the
// program runs. Otherwise waits up to timeout milliseconds (0xFFFFFFFF: no limit)
// for the program to be ready for input: 0 when it is, -2804 when the time ran out,
// -2803 when it ended first. The program goes on running in every case.
CSLIB_API long CSCreateProcess(const char* commandLine, short showWindow, unsigned long timeout);

// Loads a shared object (dlopen, every symbol bound at once): a name without '/'
// is searched where the dynamic loader searches. On Windows NT a name that is not
// found is tried once more in the printer-driver directory. 0 and *module set, or
// -2800 with *module untouched.
CSLIB_API long CSLoadLibrary(char* fileName, unsigned long* module);
CSLIB_API long CSDrvLoadLibrary(char* fileName, unsigned long* module);

// Releases one load of a module. -2801 for a handle that is not loaded.
CSLIB_API long CSFreeLibrary(unsigned long module);

// The address of the procedure `name` defined by the module itself (not by the
// libraries it uses). 0, or -2802 with *proc null when there is none.
CSLIB_API long CSGetProcAddress(unsigned long module, char* name, int (**proc)());

// Copies string resource `id` of the module into buffer: at most size - 1
// characters and a terminator. The characters copied; 0 when there is no such
// string or the buffer cannot take size bytes.
CSLIB_API unsigned short CSLoadString(unsigned long instance, unsigned long id, char* buffer,
                                      unsigned short size);

// The information handle of binary resource (type, name) of the module, or 0.
// Names and types match without regard to ASCII case; "#10" names the number 10,
// which may also be passed as a pointer value below 0x10000.
CSLIB_API unsigned long CSFindResource(unsigned long module, const char* name, const char* type);
// The size in bytes of a found resource, or 0.
CSLIB_API unsigned long CSSizeofResource(unsigned long module, unsigned long resourceInfo);
// The data handle of a found resource, or 0.
CSLIB_API unsigned long CSLoadResource(unsigned long module, unsigned long resourceInfo);
// The first byte of a loaded resource, valid while its module stays loaded; null
// for a handle that is not a loaded resource.
CSLIB_API unsigned char* CSLockResource(unsigned long resourceData);
// Do nothing; 0. Resources live as long as their module.
CSLIB_API int CSUnlockResource(unsigned long resourceData);
CSLIB_API int CSFreeResource(unsigned long resourceData);

CSLIB_C_END

#endif  // CSLIB_PROCESS_H
