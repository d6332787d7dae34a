// The exported formatted print in its three forms. All of them share the one
// formatter of the platform layer, which keeps the Windows format language.
#include <cstdarg>

#include "cslib/text.h"
#include "port/format.h"

int CSSprintf(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = cslib::port::FormatText(buffer, format, args);
  va_end(args);
  return written;
}

int CSiSprintf(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = cslib::port::FormatText(buffer, format, args);
  va_end(args);
  return written;
}

int CSwSprintf(wchar_t* buffer, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = cslib::port::FormatText(buffer, format, args);
  va_end(args);
  return written;
}
