// The C run-time heap and the process's address space, as the memory objects need
// them: the usable size of a heap block, the heap's own consistency check and the
// virtual address space still free.
#ifndef CSLIB_PORT_HEAP_H
#define CSLIB_PORT_HEAP_H

#include <cstddef>

namespace cslib::port {

// Bytes usable in the heap block p (from malloc/realloc), at least what was asked;
// 0 for null.
std::size_t HeapUsableSize(void* p);

// False only when the heap's own check found damage. Where the C library offers no
// check that can run on a heap already in use, the heap counts as sound.
bool HeapIsSound();

// Virtual address space the process can still take: the smaller of its address-space
// limit and the user address space, less what it has mapped; 0 when that is unknown.
unsigned long FreeAddressSpace();

}  // namespace cslib::port

#endif  // CSLIB_PORT_HEAP_H
