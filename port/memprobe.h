// Pointer probes: can a range be read or written? They ask the kernel, so they never
// fault, never change the memory they test and are safe from any thread. The answer
// is exact at the moment of the call; another thread may unmap the range afterwards,
// as with the Windows checks they stand for.
#ifndef CSLIB_PORT_MEMPROBE_H
#define CSLIB_PORT_MEMPROBE_H

#include <cstddef>

namespace cslib::port {

// True when p is not null and every byte of [p, p + size) can be read. Size 0 with
// a non-null p is true; a range that wraps around the address space is false.
bool CanRead(const void* p, std::size_t size);

// True when p is not null and every byte of [p, p + size) can be written.
bool CanWrite(const void* p, std::size_t size);

// The length of the zero-terminated text at p when every character up to and
// including the terminator can be read; -1 otherwise (null included). Walks the text
// a page at a time, probing each page once.
long ReadableStrlen(const char* p);
long ReadableWcslen(const wchar_t* p);

// As ReadableStrlen, looking at no more than max characters: max when the text is
// at least that long and its first max characters can be read.
long ReadableStrnlen(const char* p, std::size_t max);
long ReadableWcsnlen(const wchar_t* p, std::size_t max);

}  // namespace cslib::port

#endif  // CSLIB_PORT_MEMPROBE_H
