// The string and character primitives. Each CS and CSi pair shares one routine; the
// wide forms forward to the C library's wide routines, except case mapping,
// classification and case-blind comparison, which are done here for ASCII letters
// only so that a locale the host program sets cannot change them. Copies and lengths
// survive a null or unreadable pointer (they probe first); the rest only refuse null.
#include <cstring>
#include <cwchar>
#include <type_traits>

#include "cslib/text.h"
#include "port/memprobe.h"

namespace {

// A null text compares as the empty text: it never matches a non-empty one.
const char* OrEmpty(const char* s) { return s ? s : ""; }
const wchar_t* OrEmpty(const wchar_t* s) { return s ? s : L""; }

using cslib::port::CanWrite;
using cslib::port::ReadableStrlen;
using cslib::port::ReadableWcslen;

// The library's view of an 8-bit character argument: its low 8 bits, signed.
int AsChar(int c) {
  return static_cast<signed char>(c);
}
bool IsLowerAscii(int c) {
  return c >= 'a' && c <= 'z';
}
bool IsUpperAscii(int c) {
  return c >= 'A' && c <= 'Z';
}
bool IsDigitAscii(int c) {
  return c >= '0' && c <= '9';
}
template <typename Unit>
Unit FoldAscii(Unit c) {
  return IsUpperAscii(static_cast<int>(c)) ? c + ('a' - 'A') : c;
}

template <typename Char>
Char* IntToText(int value, Char* buffer) {
  Char digits[12];
  int n = 0;
  // Work in unsigned so that the smallest int has a magnitude too.
  unsigned int magnitude =
      value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
  do {
    digits[n++] = static_cast<Char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const int length = n + (value < 0 ? 1 : 0);
  if (!CanWrite(buffer, (length + 1) * sizeof(Char))) return nullptr;
  Char* out = buffer;
  if (value < 0) *out++ = '-';
  while (n > 0) *out++ = digits[--n];
  *out = 0;
  return buffer;
}

template <typename Char>
bool IsSpace(Char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

template <typename Char>
int TextToInt(const Char* text) {
  unsigned int value = 0;
  bool negative = false;
  while (IsSpace(*text)) ++text;
  if (*text == '-' || *text == '+') negative = *text++ == '-';
  while (IsDigitAscii(*text)) value = value * 10u + static_cast<unsigned int>(*text++ - '0');
  return static_cast<int>(negative ? 0u - value : value);
}

int CompareBytes(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const auto x = static_cast<unsigned char>(*a);
    const auto y = static_cast<unsigned char>(*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

// Compares as unsigned units after folding ASCII capitals to lower case.
template <typename Char>
int CompareFolded(const Char* a, const Char* b, std::size_t count) {
  using Unit = std::make_unsigned_t<Char>;
  for (; count > 0; --count, ++a, ++b) {
    const Unit x = FoldAscii(static_cast<Unit>(*a));
    const Unit y = FoldAscii(static_cast<Unit>(*b));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}
constexpr std::size_t kWhole = static_cast<std::size_t>(-1);

// Wide characters as the C locale sees them: only ASCII letters and digits.
bool WideIn(wchar_t c, wchar_t lo, wchar_t hi) {
  return c >= lo && c <= hi;
}

char* CopyText(char* dest, const char* src) {
  const long length = ReadableStrlen(src);
  if (length < 0 || !CanWrite(dest, static_cast<std::size_t>(length) + 1)) return nullptr;
  std::memmove(dest, src, static_cast<std::size_t>(length) + 1);
  return dest;
}

char* AppendText(char* dest, const char* src) {
  const long start = ReadableStrlen(dest);
  const long length = ReadableStrlen(src);
  if (start < 0 || length < 0 || !CanWrite(dest + start, static_cast<std::size_t>(length) + 1))
    return nullptr;
  std::memmove(dest + start, src, static_cast<std::size_t>(length) + 1);
  return dest;
}

char* Tokenize(char* text, const char* delimiters) {
  static thread_local char* next = nullptr;
  if (delimiters == nullptr || (text == nullptr && next == nullptr)) return nullptr;
  char* token = strtok_r(text, delimiters, &next);
  return token;
}

int ToUpper(int c) {
  c = AsChar(c);
  return IsLowerAscii(c) ? c - ('a' - 'A') : c;
}
int ToLower(int c) {
  c = AsChar(c);
  return IsUpperAscii(c) ? c + ('a' - 'A') : c;
}
int IsLower(int c) {
  return IsLowerAscii(AsChar(c)) ? 1 : 0;
}
int IsUpper(int c) {
  return IsUpperAscii(AsChar(c)) ? 1 : 0;
}
int IsAlpha(int c) {
  return IsLower(c) || IsUpper(c) ? 1 : 0;
}
int IsAlnum(int c) {
  return IsAlpha(c) || IsDigitAscii(AsChar(c)) ? 1 : 0;
}

char* FindChar(const char* text, int c) {
  return text ? const_cast<char*>(std::strchr(text, AsChar(c))) : nullptr;
}
char* FindLastChar(const char* text, int c) {
  return text ? const_cast<char*>(std::strrchr(text, AsChar(c))) : nullptr;
}
char* FindText(const char* text, const char* pattern) {
  return text && pattern ? const_cast<char*>(std::strstr(text, pattern)) : nullptr;
}
int Length(const char* text) {
  const long length = ReadableStrlen(text);
  return length < 0 ? 0 : static_cast<int>(length);
}
char* CopyCount(char* dest, const char* src, unsigned int count) {
  return dest && src ? std::strncpy(dest, src, count) : nullptr;
}
int CompareCount(const char* a, const char* b, unsigned int count) {
  return std::strncmp(OrEmpty(a), OrEmpty(b), count);
}

}  // namespace

char* CSInttotext(int value, char* buffer) {
  return IntToText(value, buffer);
}
char* CSiInttotext(int value, char* buffer) {
  return IntToText(value, buffer);
}
wchar_t* CSwInttotext(int value, wchar_t* buffer) {
  return IntToText(value, buffer);
}

int CSTexttoint(const char* text) {
  return ReadableStrlen(text) < 0 ? 0 : TextToInt(text);
}
int CSiTexttoint(const char* text) {
  return CSTexttoint(text);
}
int CSwTexttoint(const wchar_t* text) {
  return ReadableWcslen(text) < 0 ? 0 : TextToInt(text);
}

int CSToupper(int c) {
  return ToUpper(c);
}
int CSiToupper(int c) {
  return ToUpper(c);
}
int CSwToupper(wchar_t c) {
  return WideIn(c, L'a', L'z') ? c - (L'a' - L'A') : c;
}
int CSTolower(int c) {
  return ToLower(c);
}
int CSiTolower(int c) {
  return ToLower(c);
}
int CSwTolower(wchar_t c) {
  return WideIn(c, L'A', L'Z') ? c + (L'a' - L'A') : c;
}
int CSIslower(int c) {
  return IsLower(c);
}
int CSiIslower(int c) {
  return IsLower(c);
}
int CSwIslower(wchar_t c) {
  return WideIn(c, L'a', L'z') ? 1 : 0;
}
int CSIsupper(int c) {
  return IsUpper(c);
}
int CSiIsupper(int c) {
  return IsUpper(c);
}
int CSwIsupper(wchar_t c) {
  return WideIn(c, L'A', L'Z') ? 1 : 0;
}
int CSIsalpha(int c) {
  return IsAlpha(c);
}
int CSiIsalpha(int c) {
  return IsAlpha(c);
}
int CSwIsalpha(wchar_t c) {
  return CSwIslower(c) || CSwIsupper(c) ? 1 : 0;
}
int CSIsalnum(int c) {
  return IsAlnum(c);
}
int CSiIsalnum(int c) {
  return IsAlnum(c);
}
int CSwIsalnum(wchar_t c) {
  return CSwIsalpha(c) || WideIn(c, L'0', L'9') ? 1 : 0;
}

char* CSStrtok(char* text, const char* delimiters) {
  return Tokenize(text, delimiters);
}
char* CSiStrtok(char* text, const char* delimiters) {
  return Tokenize(text, delimiters);
}
wchar_t* CSwStrtok(wchar_t* text, const wchar_t* delimiters) {
  static thread_local wchar_t* next = nullptr;
  if (delimiters == nullptr || (text == nullptr && next == nullptr)) return nullptr;
  return std::wcstok(text, delimiters, &next);
}

char* CSStrchr(const char* text, int c) {
  return FindChar(text, c);
}
char* CSiStrchr(const char* text, int c) {
  return FindChar(text, c);
}
wchar_t* CSwStrchr(const wchar_t* text, wchar_t c) {
  return text ? const_cast<wchar_t*>(std::wcschr(text, c)) : nullptr;
}
char* CSStrrchr(const char* text, int c) {
  return FindLastChar(text, c);
}
char* CSiStrrchr(const char* text, int c) {
  return FindLastChar(text, c);
}
wchar_t* CSwStrrchr(const wchar_t* text, wchar_t c) {
  return text ? const_cast<wchar_t*>(std::wcsrchr(text, c)) : nullptr;
}
char* CSStrstr(const char* text, const char* pattern) {
  return FindText(text, pattern);
}
char* CSiStrstr(const char* text, const char* pattern) {
  return FindText(text, pattern);
}
wchar_t* CSwStrstr(const wchar_t* text, const wchar_t* pattern) {
  return text && pattern ? const_cast<wchar_t*>(std::wcsstr(text, pattern)) : nullptr;
}

int CSStrlen(const char* text) {
  return Length(text);
}
int CSiStrlen(const char* text) {
  return Length(text);
}
int CSwStrlen(const wchar_t* text) {
  const long length = ReadableWcslen(text);
  return length < 0 ? 0 : static_cast<int>(length);
}

char* CSStrncpy(char* dest, const char* src, unsigned int count) {
  return CopyCount(dest, src, count);
}
char* CSiStrncpy(char* dest, const char* src, unsigned int count) {
  return CopyCount(dest, src, count);
}
wchar_t* CSwStrncpy(wchar_t* dest, const wchar_t* src, unsigned int count) {
  return dest && src ? std::wcsncpy(dest, src, count) : nullptr;
}

char* CSStrcpy(char* dest, const char* src) {
  return CopyText(dest, src);
}
char* CSiStrcpy(char* dest, const char* src) {
  return CopyText(dest, src);
}
wchar_t* CSwStrcpy(wchar_t* dest, const wchar_t* src) {
  return dest && src ? std::wcscpy(dest, src) : nullptr;
}
char* CSStrcat(char* dest, const char* src) {
  return AppendText(dest, src);
}
char* CSiStrcat(char* dest, const char* src) {
  return AppendText(dest, src);
}
wchar_t* CSwStrcat(wchar_t* dest, const wchar_t* src) {
  return dest && src ? std::wcscat(dest, src) : nullptr;
}

int CSStrcmp(const char* a, const char* b) {
  return CompareBytes(OrEmpty(a), OrEmpty(b));
}
int CSiStrcmp(const char* a, const char* b) {
  return CSStrcmp(a, b);
}
int CSwStrcmp(const wchar_t* a, const wchar_t* b) {
  return std::wcscmp(OrEmpty(a), OrEmpty(b));
}
int CSStrncmp(const char* a, const char* b, unsigned int count) {
  return CompareCount(a, b, count);
}
int CSiStrncmp(const char* a, const char* b, unsigned int count) {
  return CompareCount(a, b, count);
}
int CSwStrncmp(const wchar_t* a, const wchar_t* b, unsigned int count) {
  return std::wcsncmp(OrEmpty(a), OrEmpty(b), count);
}
int CSStrcmpi(const char* a, const char* b) {
  return CompareFolded(OrEmpty(a), OrEmpty(b), kWhole);
}
int CSiStrcmpi(const char* a, const char* b) {
  return CSStrcmpi(a, b);
}
int CSwStrcmpi(const wchar_t* a, const wchar_t* b) {
  return CompareFolded(OrEmpty(a), OrEmpty(b), kWhole);
}
int CSStrncmpi(const char* a, const char* b, unsigned int count) {
  return CompareFolded(OrEmpty(a), OrEmpty(b), count);
}
int CSiStrncmpi(const char* a, const char* b, unsigned int count) {
  return CSStrncmpi(a, b, count);
}
int CSwStrncmpi(const wchar_t* a, const wchar_t* b, unsigned int count) {
  return CompareFolded(OrEmpty(a), OrEmpty(b), count);
}
