// Checks of the out-pointers the memory layer writes through. Most are locals of the
// caller, which are known writable without a system call; anything else is probed.
#ifndef CSLIB_CSOBJECT_MEMCHECK_H
#define CSLIB_CSOBJECT_MEMCHECK_H

#include <cstddef>

#include "port/memprobe.h"
#include "port/threadstack.h"

namespace cslib {

// True when size bytes at p can be written (false for null).
inline bool CanWriteOut(const void* p, std::size_t size) {
  return p && (port::InLiveStack(p, size) || port::CanWrite(p, size));
}

}  // namespace cslib

#endif  // CSLIB_CSOBJECT_MEMCHECK_H
