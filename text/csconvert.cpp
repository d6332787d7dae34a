// Conversions between plain and international strings. Both are 8-bit strings in the
// same code page, so each conversion is a checked copy.
#include <cstring>

#include "cslib/text.h"
#include "port/memprobe.h"

int CSChar2iChar(char* dest, const char* src) {
  return CSStrcpy(dest, src) ? 0 : 1;
}

int CSChar2iCharL(char* dest, const char* src, unsigned int max) {
  const long length = cslib::port::ReadableStrnlen(src, max);
  if (length < 0) return 1;
  const auto count = static_cast<std::size_t>(length);
  if (!cslib::port::CanWrite(dest, count + 1)) return 1;
  std::memmove(dest, src, count);
  dest[count] = '\0';
  return 0;
}

char* CSiChar2Char(char* dest, const char* src) {
  return CSStrcpy(dest, src);
}
