// Where the calling thread's stack lies. Out-pointers handed to the library are most
// often locals of the caller; a range inside the live part of the caller's stack is
// known to be writable without asking the kernel.
#ifndef CSLIB_PORT_THREADSTACK_H
#define CSLIB_PORT_THREADSTACK_H

#include <cstddef>

namespace cslib::port {

// True when [p, p + size) lies between the caller's current frame and the top of the
// calling thread's stack. False says nothing: the range may still be writable.
bool InLiveStack(const void* p, std::size_t size);

}  // namespace cslib::port

#endif  // CSLIB_PORT_THREADSTACK_H
