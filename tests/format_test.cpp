// The formatted print: every conversion, flag, width, precision and size prefix of
// the language in both widths, the output limit, and bad pointers among the inputs.
#include <cslib.h>
#include <sys/mman.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

#include "support/testenv.h"

namespace {

using cstest::MappedPages;

constexpr std::size_t kGuarded = 1200;  // bigger than any output, to catch overruns

// Formats with both narrow exports, which must agree, and checks that the result
// counts what was written up to the terminator.
template <typename... Args>
std::string Narrow(const char* format, Args... args) {
  char plain[kGuarded];
  char intl[kGuarded];
  std::memset(plain, 'Z', sizeof plain);
  std::memset(intl, 'Z', sizeof intl);
  const int n = CSSprintf(plain, format, args...);
  EXPECT_EQ(CSiSprintf(intl, format, args...), n) << format;
  EXPECT_EQ(std::memcmp(plain, intl, sizeof plain), 0) << format;
  EXPECT_EQ(static_cast<std::size_t>(n), std::strlen(plain)) << format;
  return plain;
}

template <typename... Args>
std::wstring Wide(const wchar_t* format, Args... args) {
  wchar_t buffer[kGuarded];
  std::wmemset(buffer, L'Z', kGuarded);
  const int n = CSwSprintf(buffer, format, args...);
  EXPECT_EQ(static_cast<std::size_t>(n), std::wcslen(buffer));
  return buffer;
}

TEST(Format, NarrowConversions) {
  const char unterminated[] = {'a', 'b', 'c'};
  struct Case {
    std::string got;
    const char* want;
  } cases[] = {
      {Narrow("plain text"), "plain text"},
      {Narrow("100%% sure"), "100% sure"},
      // integers and their sizes
      {Narrow("%d|%i|%d", 0, 7, -42), "0|7|-42"},
      {Narrow("%d", INT_MIN), "-2147483648"},
      {Narrow("%u", -1), "4294967295"},
      {Narrow("%x %X", 0xBEEF, 0xbeef), "beef BEEF"},
      {Narrow("%hd %hu %hx", 70000, -1, 0x12345), "4464 65535 2345"},
      {Narrow("%ld %lu", LONG_MIN, ULONG_MAX), "-9223372036854775808 18446744073709551615"},
      {Narrow("%lx", 0x123456789abcdef0L), "123456789abcdef0"},
      {Narrow("%I64d %I64u", INT64_MIN, UINT64_MAX), "-9223372036854775808 18446744073709551615"},
      {Narrow("%I64X", 0xFEDCBA9876543210ull), "FEDCBA9876543210"},
      // a 64-bit argument between two ints must not shift the ones after it
      {Narrow("%d %I64d %d", 1, 2ll << 40, 3), "1 2199023255552 3"},
      // flags, width, precision
      {Narrow("[%5d][%-5d][%05d]", 42, 42, -42), "[   42][42   ][-0042]"},
      {Narrow("[%.4d][%8.4d][%08.4d]", 42, -42, 42), "[0042][   -0042][    0042]"},
      {Narrow("[%.0d][%.0u]", 0, 0u), "[0][0]"},
      {Narrow("[%#x][%#X][%#x]", 255, 255, 0), "[0xff][0XFF][0x0]"},
      {Narrow("[%#010x][%-#6x]", 255, 255), "[0x000000ff][0xff  ]"},
      {Narrow("[%0-5d]", 42), "[42   ]"},   // flags in any order; '-' beats '0'
      {Narrow("[%2d]", 12345), "[12345]"},  // a width never cuts
      // characters
      {Narrow("[%c][%3c][%-3c]", 'A', 'b', 'c'), "[A][  b][c  ]"},
      {Narrow("%c", '\xE9'), "\xE9"},
      {Narrow("%hc%lc%C", 'n', L'w', L'W'), "nwW"},
      {Narrow("%C", L'\x263A'), "?"},  // no 8-bit form
      {Narrow("[%05c]", 'x'), "[    x]"},
      // texts
      {Narrow("[%s][%6s][%-6s]", "abc", "abc", "abc"), "[abc][   abc][abc   ]"},
      {Narrow("[%.2s][%5.2s]", "abcdef", "abcdef"), "[ab][   ab]"},
      {Narrow("[%.3s]", unterminated), "[abc]"},
      {Narrow("%s", "caf\xE9"), "caf\xE9"},
      {Narrow("%hs|%ls|%S|%lS", "n", L"w", L"W", L"L"), "n|w|W|L"},
      {Narrow("%S", L"a\x263A"), "a?"},
      {Narrow("[%s][%S][%8s]", static_cast<const char*>(nullptr),
              static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr)),
       "[(null)][(null)][  (null)]"},
      // pointers: the host's pointer width in upper-case hex digits
      {Narrow("%p", reinterpret_cast<void*>(0x1234)), "0000000000001234"},
      {Narrow("%p", static_cast<void*>(nullptr)), "0000000000000000"},
      // what the language does not know is written as it stands
      {Narrow("%y|%5y|%+d|%lld", 1), "y|y|+d|ld"},
      {Narrow("%I32d"), "I32d"},
      {Narrow("end%"), "end"},
      {Narrow("end%-5"), "end"},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;
}

TEST(Format, WideConversions) {
  struct Case {
    std::wstring got;
    const wchar_t* want;
  } cases[] = {
      {Wide(L"%d|%u|%5X|%#x", -42, 7u, 0xab, 16), L"-42|7|   AB|0x10"},
      {Wide(L"%I64d %ld %hd", INT64_MIN, LONG_MAX, 65535),
       L"-9223372036854775808 9223372036854775807 -1"},
      {Wide(L"[%s][%-4s][%.1s]", L"\x263A", L"ab", L"xyz"), L"[\x263A][ab  ][x]"},
      {Wide(L"%S|%hs|%ls|%hS", "narrow", "n", L"w", "h"), L"narrow|n|w|h"},
      {Wide(L"%S", "caf\xE9"), L"caf\xE9"},  // 8-bit characters keep their value
      {Wide(L"%c%C%hc%lc", L'\x263A', 'n', 'h', L'l'), L"\x263Anhl"},
      {Wide(L"%C", '\xE9'), L"\xE9"},
      {Wide(L"[%s][%S]", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr)),
       L"[(null)][(null)]"},
      {Wide(L"%p", reinterpret_cast<void*>(0xABCDEF)), L"0000000000ABCDEF"},
      {Wide(L"%%|%q|end%"), L"%|q|end"},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    EXPECT_TRUE(cases[i].got == cases[i].want) << "case " << i;
}

// A zero character is written and counted, as asked; the text looks shorter.
TEST(Format, ZeroCharacterIsWrittenAndCounted) {
  char buffer[8];
  EXPECT_EQ(CSSprintf(buffer, "a%cb", 0), 3);
  EXPECT_EQ(std::memcmp(buffer, "a\0b", 4), 0);
}

// Whichever part of the format reaches the limit, exactly 1023 characters and a
// terminator are written, and nothing after them.
TEST(Format, WritesAtMost1023CharactersAndATerminator) {
  const std::string long_text(2000, 'a');
  const std::string long_format(2000, 'f');
  struct Case {
    const char* what;
    const char* format;
    const void* arg;
    char fill;
  } cases[] = {
      {"text argument", "%s", long_text.c_str(), 'a'},
      {"format text", long_format.c_str(), nullptr, 'f'},
      {"width padding", "%2000s", "", ' '},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    char buffer[kGuarded];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(CSSprintf(buffer, c.format, c.arg), 1023);
    EXPECT_EQ(std::string(buffer, 1023), std::string(1023, c.fill));
    EXPECT_EQ(buffer[1023], '\0');
    EXPECT_EQ(std::string(buffer + 1024, kGuarded - 1024), std::string(kGuarded - 1024, 'Z'));
  }

  char zeros[kGuarded];
  std::memset(zeros, 'Z', sizeof zeros);
  EXPECT_EQ(CSSprintf(zeros, "%02000d", 7), 1023);
  EXPECT_EQ(std::string(zeros, 1023), std::string(1023, '0'));
  EXPECT_EQ(zeros[1023], '\0');
  EXPECT_EQ(zeros[1024], 'Z');

  wchar_t wide[kGuarded];
  std::wmemset(wide, L'Z', kGuarded);
  const std::wstring long_wide(2000, L'w');
  EXPECT_EQ(CSwSprintf(wide, L"x%s", long_wide.c_str()), 1023);
  EXPECT_EQ(wide[0], L'x');
  EXPECT_EQ(std::wstring(wide + 1, 1022), std::wstring(1022, L'w'));
  EXPECT_EQ(wide[1023], L'\0');
  EXPECT_EQ(wide[1024], L'Z');

  // One short of the limit fits whole.
  char buffer[kGuarded];
  EXPECT_EQ(CSSprintf(buffer, "%s", long_text.substr(0, 1023).c_str()), 1023);
  EXPECT_EQ(CSSprintf(buffer, "%s", long_text.substr(0, 1022).c_str()), 1022);
}

TEST(Format, NullBufferOrFormatWritesNothing) {
  char buffer[8] = "keep";
  wchar_t wide[8] = L"keep";
  EXPECT_EQ(CSSprintf(nullptr, "%d", 1), 0);
  EXPECT_EQ(CSiSprintf(nullptr, "%d", 1), 0);
  EXPECT_EQ(CSwSprintf(nullptr, L"%d", 1), 0);
  EXPECT_EQ(CSSprintf(buffer, nullptr), 0);
  EXPECT_EQ(CSiSprintf(buffer, nullptr), 0);
  EXPECT_EQ(CSwSprintf(wide, nullptr), 0);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_STREQ(wide, L"keep");
}

// A format or text argument that runs into memory that cannot be read does not
// fault: the format is refused, the text prints as a null one. A precision keeps
// the reading within the characters it allows.
TEST(Format, UnreadableInputsDoNotFault) {
  MappedPages pages(2, PROT_READ | PROT_WRITE);
  const std::size_t page = MappedPages::PageSize();
  char* edge = pages.data() + page - 3;
  std::memcpy(edge, "%sx", 3);  // no terminator before the inaccessible page
  ASSERT_EQ(mprotect(pages.data() + page, page, PROT_NONE), 0);

  char buffer[64] = "keep";
  EXPECT_EQ(CSSprintf(buffer, edge, "a"), 0);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(CSSprintf(buffer, "[%s]", pages.data() + page), 8);
  EXPECT_STREQ(buffer, "[(null)]");
  EXPECT_EQ(CSSprintf(buffer, "[%s]", edge), 8);
  EXPECT_STREQ(buffer, "[(null)]");
  EXPECT_EQ(CSSprintf(buffer, "[%.3s]", edge), 5);
  EXPECT_STREQ(buffer, "[%sx]");

  wchar_t wide[64];
  EXPECT_EQ(CSwSprintf(wide, L"[%s]", reinterpret_cast<wchar_t*>(pages.data() + page)), 8);
  EXPECT_STREQ(wide, L"[(null)]");
  EXPECT_EQ(CSwSprintf(reinterpret_cast<wchar_t*>(buffer),
                       reinterpret_cast<wchar_t*>(pages.data() + page)),
            0);
}

}  // namespace
