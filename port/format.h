// The formatted print: the Windows wsprintf format language, narrow and wide, for
// hosts that have no such routine. Portable code; the only thing it asks of the
// machine is whether the format and the text arguments can be read.
#ifndef CSLIB_PORT_FORMAT_H
#define CSLIB_PORT_FORMAT_H

#include <cstdarg>
#include <cstddef>

namespace cslib::port {

// The most characters a formatted print writes, its terminator included.
inline constexpr std::size_t kFormatLimit = 1024;

// Formats args into buffer by format and ends the text with a terminator, writing at
// most kFormatLimit characters in all. Returns the number of characters written, the
// terminator not counted. A null buffer, or a format that is null or cannot be read:
// returns 0 and writes nothing. The buffer itself is not checked (its size is unknown).
//
// Conversions: %% c C d i u x X s S p; flags - (left-align), # (0x or 0X before hex),
// 0 (pad numbers with zeros); a width; a .precision (least digits of a number, most
// characters of a text); size prefixes h, l (the host's long) and I64. c and s take
// the buffer's character width, C and S the other one, h and l name it explicitly.
// Any other conversion character is written as it stands, its flags dropped.
int FormatText(char* buffer, const char* format, std::va_list args);
int FormatText(wchar_t* buffer, const wchar_t* format, std::va_list args);

}  // namespace cslib::port

#endif  // CSLIB_PORT_FORMAT_H
