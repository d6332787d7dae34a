// The wsprintf format language, written once for both character widths. Output goes
// straight into the caller's buffer and stops at the limit; nothing is allocated.
// Text arguments are measured with the pointer probes first, so a bad pointer among
// the arguments prints as a null one instead of faulting.
#include "port/format.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "port/memprobe.h"

namespace cslib::port {
namespace {

enum class SizePrefix { kNone, kShort, kLong, kInt64 };
enum class Width { kNarrow, kWide };

struct Directive {
  bool left = false;
  bool hex_prefix = false;
  bool zero = false;
  std::size_t width = 0;
  bool has_precision = false;
  std::size_t precision = 0;
  SizePrefix size = SizePrefix::kNone;
};

// A va_list inside a struct can be handed to helpers by reference on every ABI (on
// some it is an array, on others a plain pointer).
struct Arguments {
  std::va_list list;
};

// Widths and precisions saturate here, as large as any text the host can hold.
constexpr std::size_t kFieldCap = 0x7FFFFFFF;

template <typename Char>
class Output {
 public:
  explicit Output(Char* buffer) : buffer_(buffer) {}
  bool Full() const { return count_ >= kFormatLimit - 1; }
  void Put(Char c) {
    if (!Full()) buffer_[count_++] = c;
  }
  void Append(const Char* text, std::size_t n) {
    n = std::min(n, kFormatLimit - 1 - count_);
    std::copy(text, text + n, buffer_ + count_);
    count_ += n;
  }
  void Repeat(Char c, std::size_t n) {
    for (; n > 0 && !Full(); --n) Put(c);
  }
  int Finish() {
    buffer_[count_] = 0;
    return static_cast<int>(count_);
  }

 private:
  Char* buffer_;
  std::size_t count_ = 0;
};

// One character of the given width as a character of the output. Wide characters
// outside the 8-bit range have no 8-bit form and become '?'; 8-bit characters keep
// their value (0 to 255) when widened.
template <typename Char>
Char Convert(unsigned long unit, Width from);
template <>
char Convert<char>(unsigned long unit, Width from) {
  if (from == Width::kNarrow || unit <= 0xFF) return static_cast<char>(unit & 0xFF);
  return '?';
}
template <>
wchar_t Convert<wchar_t>(unsigned long unit, Width from) {
  return static_cast<wchar_t>(from == Width::kNarrow ? unit & 0xFF : unit);
}

template <typename Char>
void PadBefore(Output<Char>& out, const Directive& d, std::size_t length) {
  if (!d.left && d.width > length) out.Repeat(' ', d.width - length);
}
template <typename Char>
void PadAfter(Output<Char>& out, const Directive& d, std::size_t length) {
  if (d.left && d.width > length) out.Repeat(' ', d.width - length);
}

template <typename Char>
void PutNumber(Output<Char>& out, const Directive& d, unsigned long long magnitude, bool negative,
               unsigned base, bool upper, bool prefix) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = set[magnitude % base];
    magnitude /= base;
  } while (magnitude != 0);
  // Every number shows at least one digit, precision 0 included.
  const std::size_t least = d.has_precision ? std::max<std::size_t>(d.precision, 1) : 1;
  std::size_t zeros = least > n ? least - n : 0;
  std::size_t length = (negative ? 1 : 0) + (prefix ? 2 : 0) + zeros + n;
  if (d.zero && !d.left && !d.has_precision && d.width > length) {
    zeros += d.width - length;
    length = d.width;
  }
  PadBefore(out, d, length);
  if (negative) out.Put('-');
  if (prefix) {
    out.Put('0');
    out.Put(upper ? 'X' : 'x');
  }
  out.Repeat('0', zeros);
  while (n > 0) out.Put(digits[--n]);
  PadAfter(out, d, length);
}

template <typename Char>
void PutSigned(Output<Char>& out, const Directive& d, Arguments& args) {
  long long value;
  switch (d.size) {
    case SizePrefix::kShort:
      value = static_cast<short>(va_arg(args.list, int));
      break;
    case SizePrefix::kLong:
      value = va_arg(args.list, long);
      break;
    case SizePrefix::kInt64:
      value = va_arg(args.list, long long);
      break;
    default:
      value = va_arg(args.list, int);
      break;
  }
  const bool negative = value < 0;
  const auto magnitude = negative ? 0ull - static_cast<unsigned long long>(value)
                                  : static_cast<unsigned long long>(value);
  PutNumber(out, d, magnitude, negative, 10, false, false);
}

unsigned long long TakeUnsigned(SizePrefix size, Arguments& args) {
  switch (size) {
    case SizePrefix::kShort:
      return static_cast<unsigned short>(va_arg(args.list, int));
    case SizePrefix::kLong:
      return va_arg(args.list, unsigned long);
    case SizePrefix::kInt64:
      return va_arg(args.list, unsigned long long);
    default:
      return va_arg(args.list, unsigned int);
  }
}

// Which width a c, C, s or S conversion reads: h and l name it; otherwise the
// lower-case letter takes the output's own width and the capital the other one.
template <typename Char>
Width ArgumentWidth(SizePrefix size, bool capital) {
  if (size == SizePrefix::kShort) return Width::kNarrow;
  if (size == SizePrefix::kLong) return Width::kWide;
  const Width own = sizeof(Char) == 1 ? Width::kNarrow : Width::kWide;
  const Width other = own == Width::kNarrow ? Width::kWide : Width::kNarrow;
  return capital ? other : own;
}

template <typename Char>
void PutCharacter(Output<Char>& out, const Directive& d, Width from, Arguments& args) {
  // Both widths arrive promoted to int (wchar_t is no narrower than int on the host).
  const auto unit = static_cast<unsigned long>(static_cast<unsigned int>(va_arg(args.list, int)));
  PadBefore(out, d, 1);
  out.Put(Convert<Char>(unit, from));
  PadAfter(out, d, 1);
}

template <typename Char, typename T>
void PutUnits(Output<Char>& out, const T* text, std::size_t length, Width from) {
  if constexpr (std::is_same_v<Char, T>) {
    out.Append(text, length);  // a text of the output's own width goes as it is
  } else {
    using Unit = std::make_unsigned_t<T>;
    for (std::size_t i = 0; i < length && !out.Full(); ++i)
      out.Put(Convert<Char>(static_cast<Unit>(text[i]), from));
  }
}

template <typename Char>
void PutText(Output<Char>& out, const Directive& d, Width from, Arguments& args) {
  const void* text = va_arg(args.list, const void*);
  // Beyond the precision nothing is printed; beyond the width and the limit the exact
  // length no longer changes the output.
  const std::size_t limit =
      d.has_precision ? d.precision : std::max<std::size_t>(d.width, kFormatLimit);
  long length = from == Width::kNarrow ? ReadableStrnlen(static_cast<const char*>(text), limit)
                                       : ReadableWcsnlen(static_cast<const wchar_t*>(text), limit);
  if (length < 0) {
    static const char kNull[] = "(null)";
    text = kNull;
    from = Width::kNarrow;
    length = static_cast<long>(std::min(sizeof kNull - 1, limit));
  }
  const auto count = static_cast<std::size_t>(length);
  PadBefore(out, d, count);
  if (from == Width::kNarrow)
    PutUnits(out, static_cast<const char*>(text), count, from);
  else
    PutUnits(out, static_cast<const wchar_t*>(text), count, from);
  PadAfter(out, d, count);
}

template <typename Char>
std::size_t ReadNumber(const Char*& p) {
  std::size_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    value = std::min(kFieldCap, value * 10 + static_cast<std::size_t>(*p - '0'));
  return value;
}

// Reads one directive after its '%' and writes what it asks for; returns the position
// after it. A conversion character the language does not know is written as it stands.
template <typename Char>
const Char* PutDirective(Output<Char>& out, const Char* p, Arguments& args) {
  Directive d;
  for (;; ++p) {
    if (*p == '-')
      d.left = true;
    else if (*p == '#')
      d.hex_prefix = true;
    else if (*p == '0')
      d.zero = true;
    else
      break;
  }
  d.width = ReadNumber(p);
  if (*p == '.') {
    ++p;
    d.has_precision = true;
    d.precision = ReadNumber(p);
  }
  if (*p == 'h') {
    d.size = SizePrefix::kShort;
    ++p;
  } else if (*p == 'l') {
    d.size = SizePrefix::kLong;
    ++p;
  } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
    d.size = SizePrefix::kInt64;
    p += 3;
  }
  switch (*p) {
    case 'd':
    case 'i':
      PutSigned(out, d, args);
      break;
    case 'u':
      PutNumber(out, d, TakeUnsigned(d.size, args), false, 10, false, false);
      break;
    case 'x':
    case 'X':
      PutNumber(out, d, TakeUnsigned(d.size, args), false, 16, *p == 'X', d.hex_prefix);
      break;
    case 'p': {
      Directive pointer = d;
      if (!pointer.has_precision) {
        pointer.has_precision = true;
        pointer.precision = 2 * sizeof(void*);
      }
      const auto value = reinterpret_cast<std::uintptr_t>(va_arg(args.list, void*));
      PutNumber(out, pointer, value, false, 16, true, d.hex_prefix);
      break;
    }
    case 'c':
    case 'C':
      PutCharacter(out, d, ArgumentWidth<Char>(d.size, *p == 'C'), args);
      break;
    case 's':
    case 'S':
      PutText(out, d, ArgumentWidth<Char>(d.size, *p == 'S'), args);
      break;
    case 0:
      return p;  // a lone '%' at the end of the format prints nothing
    default:
      out.Put(*p);
      break;
  }
  return p + 1;
}

long ReadableLength(const char* text) {
  return ReadableStrlen(text);
}
long ReadableLength(const wchar_t* text) {
  return ReadableWcslen(text);
}

template <typename Char>
int Format(Char* buffer, const Char* format, std::va_list list) {
  if (buffer == nullptr) return 0;
  if (ReadableLength(format) < 0) return 0;
  Output<Char> out(buffer);
  Arguments args;
  va_copy(args.list, list);
  for (const Char* p = format; *p != 0 && !out.Full();) {
    if (*p == '%') {
      p = PutDirective(out, p + 1, args);
      continue;
    }
    const Char* run = p;
    while (*p != 0 && *p != '%') ++p;
    out.Append(run, static_cast<std::size_t>(p - run));
  }
  va_end(args.list);
  return out.Finish();
}

}  // namespace

int FormatText(char* buffer, const char* format, std::va_list args) {
  return Format(buffer, format, args);
}

int FormatText(wchar_t* buffer, const wchar_t* format, std::va_list args) {
  return Format(buffer, format, args);
}

}  // namespace cslib::port
