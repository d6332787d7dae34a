// A module for the library tests: a procedure to look up, and resources built in
// from testmodule.rc.
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int CSTestModuleAnswer() {
  return 42;
}

// Uses the C library, so the module depends on it: its symbols must not be taken
// for the module's own.
extern "C" __attribute__((visibility("default"))) void* CSTestModuleBuffer() {
  return std::malloc(1);
}
