// The string and character primitives in their plain, international and wide forms,
// and the conversions between plain and international strings. Every table runs the
// plain and international twins side by side: they must agree on every case.
#include <cslib.h>
#include <sys/mman.h>

#include <atomic>
#include <climits>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "support/child.h"
#include "support/testenv.h"

namespace {

using cstest::Child;
using cstest::MappedPages;

// Two pages: the text under test sits at the end of the first, the second page is
// given the protection a test needs, so any access past the first page shows.
class PageEdge {
 public:
  explicit PageEdge(int second_page) : pages_(2, PROT_READ | PROT_WRITE) {
    const std::size_t page = MappedPages::PageSize();
    EXPECT_EQ(mprotect(pages_.data() + page, page, second_page), 0);
  }
  // Places text (without its terminator) so it ends at the last byte of the first page.
  char* PlaceUnterminated(const std::string& text) {
    char* at = End() - text.size();
    std::memcpy(at, text.data(), text.size());
    return at;
  }
  // The first byte of the second page.
  char* End() const { return pages_.data() + MappedPages::PageSize(); }

 private:
  MappedPages pages_;
};

// Latin-1 widening: each byte keeps its value as a wide character.
std::wstring Widen(const std::string& s) {
  std::wstring w;
  for (unsigned char c : s) w += static_cast<wchar_t>(c);
  return w;
}

int Sign(int v) {
  return (v > 0) - (v < 0);
}

TEST(Text, CaseMappingAndClassification) {
  struct Case {
    int c;
    int upper, lower, islower, isupper, isalpha, isalnum;
  } cases[] = {
      {'a', 'A', 'a', 1, 0, 1, 1},    {'z', 'Z', 'z', 1, 0, 1, 1},
      {'A', 'A', 'a', 0, 1, 1, 1},    {'Z', 'Z', 'z', 0, 1, 1, 1},
      {'0', '0', '0', 0, 0, 0, 1},    {'9', '9', '9', 0, 0, 0, 1},
      {'@', '@', '@', 0, 0, 0, 0},    {'[', '[', '[', 0, 0, 0, 0},
      {'`', '`', '`', 0, 0, 0, 0},    {'{', '{', '{', 0, 0, 0, 0},
      {' ', ' ', ' ', 0, 0, 0, 0},    {0, 0, 0, 0, 0, 0, 0},
      {0x7F, 0x7F, 0x7F, 0, 0, 0, 0}, {0xE9, -23, -23, 0, 0, 0, 0},
      {0xC9, -55, -55, 0, 0, 0, 0},   {0xFF, -1, -1, 0, 0, 0, 0},
      {-23, -23, -23, 0, 0, 0, 0},    {0x161, 'A', 'a', 1, 0, 1, 1},  // low 8 bits count
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.c);
    EXPECT_EQ(CSToupper(k.c), k.upper);
    EXPECT_EQ(CSTolower(k.c), k.lower);
    EXPECT_EQ(CSIslower(k.c) != 0, k.islower != 0);
    EXPECT_EQ(CSIsupper(k.c) != 0, k.isupper != 0);
    EXPECT_EQ(CSIsalpha(k.c) != 0, k.isalpha != 0);
    EXPECT_EQ(CSIsalnum(k.c) != 0, k.isalnum != 0);
  }
  // Every 8-bit value: the twins agree, and nothing above 0x7F is a letter or digit.
  for (int c = 0; c < 256; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(CSiToupper(c), CSToupper(c));
    EXPECT_EQ(CSiTolower(c), CSTolower(c));
    EXPECT_EQ(CSiIslower(c), CSIslower(c));
    EXPECT_EQ(CSiIsupper(c), CSIsupper(c));
    EXPECT_EQ(CSiIsalpha(c), CSIsalpha(c));
    EXPECT_EQ(CSiIsalnum(c), CSIsalnum(c));
    if (c > 0x7F) {
      EXPECT_EQ(CSIslower(c) | CSIsupper(c) | CSIsalpha(c) | CSIsalnum(c), 0);
      EXPECT_EQ(CSToupper(c), c - 256);
    }
  }
}

TEST(Text, WideCaseMappingAndClassificationAreAsciiOnly) {
  struct Case {
    wchar_t c;
    int upper, lower, islower, isupper, isalpha, isalnum;
  } cases[] = {
      {L'q', L'Q', L'q', 1, 0, 1, 1},    {L'Q', L'Q', L'q', 0, 1, 1, 1},
      {L'5', L'5', L'5', 0, 0, 0, 1},    {L'_', L'_', L'_', 0, 0, 0, 0},
      {0xE9, 0xE9, 0xE9, 0, 0, 0, 0},    {0xC9, 0xC9, 0xC9, 0, 0, 0, 0},
      {0x3B1, 0x3B1, 0x3B1, 0, 0, 0, 0},  // Greek alpha
      {0x161, 0x161, 0x161, 0, 0, 0, 0},  // wide characters count whole
  };
  auto check = [&] {
    for (const Case& k : cases) {
      SCOPED_TRACE(static_cast<int>(k.c));
      EXPECT_EQ(CSwToupper(k.c), k.upper);
      EXPECT_EQ(CSwTolower(k.c), k.lower);
      EXPECT_EQ(CSwIslower(k.c) != 0, k.islower != 0);
      EXPECT_EQ(CSwIsupper(k.c) != 0, k.isupper != 0);
      EXPECT_EQ(CSwIsalpha(k.c) != 0, k.isalpha != 0);
      EXPECT_EQ(CSwIsalnum(k.c) != 0, k.isalnum != 0);
    }
    EXPECT_NE(CSwStrcmpi(L"\xE9", L"\xC9"), 0);
    EXPECT_EQ(CSwStrcmpi(L"Stra\xDF"
                         L"e",
                         L"STRA\xDF"
                         L"E"),
              0);
  };
  check();
  // A host program that sets a locale does not change them. In a child, so the
  // locale stays out of the other tests.
  Child child([&] {
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) return 2;
    check();
    return ::testing::Test::HasFailure() ? 1 : 0;
  });
  const int status = child.Wait();
  if (status == 2) GTEST_SKIP() << "no C.UTF-8 locale on this machine";
  EXPECT_EQ(status, 0);
}

TEST(Text, Comparisons) {
  struct Case {
    const char* a;
    const char* b;
    unsigned int count;
    int cmp, ncmp, cmpi, ncmpi;
  } cases[] = {
      {"abc", "abc", 3, 0, 0, 0, 0},
      {"", "", 5, 0, 0, 0, 0},
      {"abc", "abd", 3, -1, -1, -1, -1},
      {"abd", "abc", 3, 1, 1, 1, 1},
      {"ab", "abc", 5, -1, -1, -1, -1},
      {"abc", "ab", 5, 1, 1, 1, 1},
      {"abcX", "abcY", 3, -1, 0, -1, 0},
      {"ABC", "abc", 3, -1, -1, 0, 0},
      {"abcD", "ABCe", 4, 1, 1, -1, -1},
      {"\xE9", "A", 1, 1, 1, 1, 1},  // bytes compare unsigned
      {"A", "\xE9", 1, -1, -1, -1, -1},
      {"_", "A", 1, 1, 1, -1, -1},  // case-blind forms fold to lower case
      {"x", "y", 0, -1, 0, -1, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.a) + " | " + k.b);
    // The exact comparison gives exactly -1, 0 or 1; the others only the sign counts.
    EXPECT_EQ(CSStrcmp(k.a, k.b), k.cmp);
    EXPECT_EQ(CSiStrcmp(k.a, k.b), k.cmp);
    EXPECT_EQ(Sign(CSStrncmp(k.a, k.b, k.count)), k.ncmp);
    EXPECT_EQ(CSiStrncmp(k.a, k.b, k.count), CSStrncmp(k.a, k.b, k.count));
    EXPECT_EQ(Sign(CSStrcmpi(k.a, k.b)), k.cmpi);
    EXPECT_EQ(CSiStrcmpi(k.a, k.b), CSStrcmpi(k.a, k.b));
    EXPECT_EQ(Sign(CSStrncmpi(k.a, k.b, k.count)), k.ncmpi);
    EXPECT_EQ(CSiStrncmpi(k.a, k.b, k.count), CSStrncmpi(k.a, k.b, k.count));

    const std::wstring a = Widen(k.a), b = Widen(k.b);
    EXPECT_EQ(Sign(CSwStrcmp(a.c_str(), b.c_str())), k.cmp);
    EXPECT_EQ(Sign(CSwStrncmp(a.c_str(), b.c_str(), k.count)), k.ncmp);
    EXPECT_EQ(Sign(CSwStrcmpi(a.c_str(), b.c_str())), k.cmpi);
    EXPECT_EQ(Sign(CSwStrncmpi(a.c_str(), b.c_str(), k.count)), k.ncmpi);
  }
  // A null text compares as the empty text: it never matches a real name.
  EXPECT_EQ(CSStrcmp(nullptr, "a"), -1);
  EXPECT_EQ(CSStrcmp("a", nullptr), 1);
  EXPECT_EQ(CSStrcmp(nullptr, ""), 0);
  EXPECT_GT(CSiStrcmpi("a", nullptr), 0);
  EXPECT_EQ(CSStrncmp(nullptr, nullptr, 3), 0);
  EXPECT_LT(CSwStrcmpi(nullptr, L"a"), 0);
  EXPECT_LT(CSStrncmpi(nullptr, "a", 1), 0);
}

TEST(Text, Searches) {
  const char text[] = "caf\xE9 au lait";
  struct Case {
    int c;
    long first, last;  // offsets into text; -1 for none
  } chars[] = {
      {'a', 1, 9}, {'t', 11, 11}, {'z', -1, -1}, {0xE9, 3, 3}, {0x1E9, 3, 3}, {0, 12, 12},
  };
  auto offset = [&](const char* p) { return p ? p - text : -1; };
  for (const Case& k : chars) {
    SCOPED_TRACE(k.c);
    EXPECT_EQ(offset(CSStrchr(text, k.c)), k.first);
    EXPECT_EQ(offset(CSiStrchr(text, k.c)), k.first);
    EXPECT_EQ(offset(CSStrrchr(text, k.c)), k.last);
    EXPECT_EQ(offset(CSiStrrchr(text, k.c)), k.last);
  }
  struct Pattern {
    const char* pattern;
    long at;
  } patterns[] = {{"au", 5}, {"lait", 8}, {"", 0}, {"laitx", -1}, {"A", -1}};
  for (const Pattern& k : patterns) {
    SCOPED_TRACE(k.pattern);
    EXPECT_EQ(offset(CSStrstr(text, k.pattern)), k.at);
    EXPECT_EQ(offset(CSiStrstr(text, k.pattern)), k.at);
  }
  EXPECT_EQ(CSStrchr(nullptr, 'a'), nullptr);
  EXPECT_EQ(CSiStrrchr(nullptr, 'a'), nullptr);
  EXPECT_EQ(CSStrstr(text, nullptr), nullptr);
  EXPECT_EQ(CSiStrstr(nullptr, "a"), nullptr);

  const wchar_t wide[] = L"\x263A-x-\x263A";
  EXPECT_EQ(CSwStrchr(wide, 0x263A), wide);
  EXPECT_EQ(CSwStrrchr(wide, 0x263A), wide + 4);
  EXPECT_EQ(CSwStrchr(wide, 0x3A), nullptr);  // whole characters, not their low bits
  EXPECT_EQ(CSwStrstr(wide, L"x-"), wide + 2);
  EXPECT_EQ(CSwStrstr(wide, L"y"), nullptr);
  EXPECT_EQ(CSwStrchr(nullptr, L'x'), nullptr);
  EXPECT_EQ(CSwStrrchr(nullptr, L'x'), nullptr);
  EXPECT_EQ(CSwStrstr(nullptr, L"x"), nullptr);
}

TEST(Text, LengthSurvivesNullAndUnreadableText) {
  PageEdge edge(PROT_NONE);
  const char* runs_off = edge.PlaceUnterminated("abc");
  PageEdge guarded(PROT_NONE);
  const char* ends_at_edge = guarded.PlaceUnterminated(std::string("abc", 4));
  PageEdge readable(PROT_READ | PROT_WRITE);  // its second page holds zeros
  const char* crosses = readable.PlaceUnterminated("abc");
  struct Case {
    const char* what;
    const char* text;
    int length;
  } cases[] = {
      {"text", "abcdef", 6},
      {"empty", "", 0},
      {"null", nullptr, 0},
      {"runs into an unreadable page", runs_off, 0},
      {"starts in an unreadable page", edge.End(), 0},
      {"terminator on the last byte of a page", ends_at_edge, 3},
      {"ends in the next page", crosses, 3},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(CSStrlen(k.text), k.length);
    EXPECT_EQ(CSiStrlen(k.text), k.length);
  }
  EXPECT_EQ(CSwStrlen(L"\x263A\x263A"), 2);
  EXPECT_EQ(CSwStrlen(nullptr), 0);
  EXPECT_EQ(CSwStrlen(reinterpret_cast<const wchar_t*>(edge.End())), 0);
  wchar_t* wide_runs_off = reinterpret_cast<wchar_t*>(edge.End()) - 2;
  wide_runs_off[0] = L'a';
  wide_runs_off[1] = L'b';
  EXPECT_EQ(CSwStrlen(wide_runs_off), 0);
}

TEST(Text, CopyAndAppend) {
  for (auto copy : {CSStrcpy, CSiStrcpy, CSiChar2Char}) {
    char buffer[16] = "old";
    EXPECT_EQ(copy(buffer, "new text"), buffer);
    EXPECT_STREQ(buffer, "new text");
    EXPECT_EQ(copy(buffer, ""), buffer);
    EXPECT_STREQ(buffer, "");
  }
  for (auto append : {CSStrcat, CSiStrcat}) {
    char buffer[16] = "one";
    EXPECT_EQ(append(buffer, "+two"), buffer);
    EXPECT_EQ(append(buffer, ""), buffer);
    EXPECT_STREQ(buffer, "one+two");
  }
  wchar_t wide[16] = L"\x263A";
  EXPECT_EQ(CSwStrcat(wide, L"+x"), wide);
  EXPECT_STREQ(wide, L"\x263A+x");
  EXPECT_EQ(CSwStrcpy(wide, L"y"), wide);
  EXPECT_STREQ(wide, L"y");
  EXPECT_EQ(CSwStrcpy(nullptr, L"y"), nullptr);
  EXPECT_EQ(CSwStrcat(wide, nullptr), nullptr);
  EXPECT_STREQ(wide, L"y");
}

// Copy and append give null and write nothing when a text cannot be read or the
// destination cannot take the whole text and its terminator.
TEST(Text, CopyAndAppendRefuseWhatTheyCannotDoWhole) {
  PageEdge unreadable(PROT_NONE);
  const char* runs_off = unreadable.PlaceUnterminated("abc");
  PageEdge read_only(PROT_READ);
  char* short_dest = read_only.End() - 4;  // room for "abc" and a terminator
  std::memcpy(short_dest, "xyz", 4);

  struct Case {
    const char* what;
    char* dest;
    const char* src;
  } copies[] = {
      {"null source", short_dest, nullptr},
      {"null destination", nullptr, "a"},
      {"source runs into an unreadable page", short_dest, runs_off},
      {"destination one byte short", short_dest, "abcd"},
  };
  for (const Case& k : copies) {
    SCOPED_TRACE(k.what);
    for (auto copy : {CSStrcpy, CSiStrcpy, CSiChar2Char}) {
      EXPECT_EQ(copy(k.dest, k.src), nullptr);
      EXPECT_STREQ(short_dest, "xyz");
    }
  }
  std::memcpy(short_dest, "x", 2);  // room for two more characters and a terminator
  for (auto append : {CSStrcat, CSiStrcat}) {
    EXPECT_EQ(append(short_dest, "abc"), nullptr);
    EXPECT_EQ(append(short_dest, runs_off), nullptr);
    EXPECT_EQ(append(short_dest, nullptr), nullptr);
    EXPECT_EQ(append(nullptr, "a"), nullptr);
    EXPECT_EQ(append(unreadable.End(), "a"), nullptr);
    EXPECT_STREQ(short_dest, "x");
    EXPECT_EQ(std::memcmp(short_dest, "x\0z", 4), 0);
  }
  EXPECT_EQ(CSStrcat(short_dest, "ab"), short_dest);
  EXPECT_STREQ(short_dest, "xab");
}

TEST(Text, CountedCopy) {
  for (auto copy : {CSStrncpy, CSiStrncpy}) {
    char buffer[8];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(copy(buffer, "ab", 5), buffer);  // pads with zeros up to the count
    EXPECT_EQ(std::memcmp(buffer, "ab\0\0\0ZZZ", 8), 0);
    EXPECT_EQ(copy(buffer, "abcdef", 3), buffer);  // a cut text is not terminated
    EXPECT_EQ(std::memcmp(buffer, "abc\0\0ZZZ", 8), 0);
    EXPECT_EQ(copy(nullptr, "a", 1), nullptr);
    EXPECT_EQ(copy(buffer, nullptr, 1), nullptr);
  }
  wchar_t wide[4] = {L'Z', L'Z', L'Z', L'Z'};
  EXPECT_EQ(CSwStrncpy(wide, L"a", 3), wide);
  EXPECT_EQ(std::wmemcmp(wide, L"a\0\0Z", 4), 0);
  EXPECT_EQ(CSwStrncpy(wide, nullptr, 3), nullptr);
}

TEST(Text, IntegerToText) {
  struct Case {
    int value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {7, "7"},
      {-1, "-1"},
      {1234567890, "1234567890"},
      {INT_MAX, "2147483647"},
      {INT_MIN, "-2147483648"},  // eleven characters
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text);
    char plain[12], intl[12];
    wchar_t wide[12];
    EXPECT_EQ(CSInttotext(k.value, plain), plain);
    EXPECT_EQ(CSiInttotext(k.value, intl), intl);
    EXPECT_EQ(CSwInttotext(k.value, wide), wide);
    EXPECT_STREQ(plain, k.text);
    EXPECT_STREQ(intl, k.text);
    EXPECT_TRUE(Widen(k.text) == wide);
  }
  // A buffer that cannot take the text gets nothing.
  PageEdge read_only(PROT_READ);
  char* dest = read_only.End() - 3;
  std::memcpy(dest, "ab", 3);
  EXPECT_EQ(CSInttotext(12, dest), dest);
  EXPECT_EQ(CSInttotext(123, dest), nullptr);
  EXPECT_EQ(CSiInttotext(-12, dest), nullptr);
  EXPECT_STREQ(dest, "12");
  EXPECT_EQ(CSInttotext(1, nullptr), nullptr);
  EXPECT_EQ(CSwInttotext(1, nullptr), nullptr);
}

TEST(Text, TextToInteger) {
  PageEdge unreadable(PROT_NONE);
  const char* runs_off = unreadable.PlaceUnterminated("12");
  struct Case {
    const char* text;
    int value;
  } cases[] = {
      {"42", 42},
      {"  -42", -42},
      {"\t\n\v\f\r+17", 17},
      {"12abc", 12},
      {"007", 7},
      {"abc", 0},
      {"", 0},
      {"- 5", 0},
      {"+-5", 0},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"2147483648", INT_MIN},  // no overflow detection: the value wraps
      {"4294967297", 1},
      {nullptr, 0},
      {runs_off, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text == nullptr ? "(null)" : k.text == runs_off ? "(unreadable)" : k.text);
    EXPECT_EQ(CSTexttoint(k.text), k.value);
    EXPECT_EQ(CSiTexttoint(k.text), k.value);
    if (k.text != nullptr && k.text != runs_off) {
      EXPECT_EQ(CSwTexttoint(Widen(k.text).c_str()), k.value);
    }
  }
  EXPECT_EQ(CSwTexttoint(nullptr), 0);
  EXPECT_EQ(CSwTexttoint(reinterpret_cast<const wchar_t*>(unreadable.End())), 0);
}

TEST(Text, Tokenize) {
  for (auto tokenize : {CSStrtok, CSiStrtok}) {
    char text[] = ",,one,;two;;three,";
    std::vector<std::string> tokens;
    for (char* t = tokenize(text, ",;"); t != nullptr; t = tokenize(nullptr, ",;"))
      tokens.push_back(t);
    EXPECT_EQ(tokens, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(tokenize(nullptr, ",;"), nullptr);  // stays at the end
    char only_delimiters[] = ",,;";
    EXPECT_EQ(tokenize(only_delimiters, ",;"), nullptr);
    EXPECT_EQ(tokenize(text, nullptr), nullptr);
  }
  wchar_t wide[] = L"\x263A a \x263A";
  EXPECT_STREQ(CSwStrtok(wide, L" "), L"\x263A");
  EXPECT_STREQ(CSwStrtok(nullptr, L" "), L"a");
  EXPECT_STREQ(CSwStrtok(nullptr, L" "), L"\x263A");
  EXPECT_EQ(CSwStrtok(nullptr, L" "), nullptr);
}

// Two threads tokenise their own texts in lock step: each continues from its own
// position. A thread that never gave a text gets null, not another thread's token.
TEST(Text, TokenizeKeepsItsPositionPerThread) {
  char narrow_a[] = "a1 a2 a3";
  char narrow_b[] = "b1 b2 b3";
  wchar_t wide_a[] = L"a1 a2 a3";
  wchar_t wide_b[] = L"b1 b2 b3";
  std::atomic<int> step{0};
  auto run = [&](int me, char* narrow, wchar_t* wide, std::string* seen) {
    for (int i = 0; i < 3; ++i) {
      while (step.load() % 2 != me) std::this_thread::yield();
      const char* t = CSStrtok(i == 0 ? narrow : nullptr, " ");
      const wchar_t* w = CSwStrtok(i == 0 ? wide : nullptr, L" ");
      *seen += t ? t : "?";
      *seen += (w && t && Widen(t) == w) ? "," : "!";
      step.fetch_add(1);
    }
  };
  std::string seen_a, seen_b;
  std::thread a(run, 0, narrow_a, wide_a, &seen_a);
  std::thread b(run, 1, narrow_b, wide_b, &seen_b);
  a.join();
  b.join();
  EXPECT_EQ(seen_a, "a1,a2,a3,");
  EXPECT_EQ(seen_b, "b1,b2,b3,");

  char text[] = "x y";
  ASSERT_STREQ(CSStrtok(text, " "), "x");
  const char* fresh = reinterpret_cast<const char*>(1);
  const wchar_t* fresh_wide = L"";
  std::thread([&] {
    fresh = CSStrtok(nullptr, " ");
    fresh_wide = CSwStrtok(nullptr, L" ");
  }).join();
  EXPECT_EQ(fresh, nullptr);
  EXPECT_EQ(fresh_wide, nullptr);
  EXPECT_STREQ(CSStrtok(nullptr, " "), "y");
}

TEST(Text, PlainToInternational) {
  char dest[16];
  std::memset(dest, 'Z', sizeof dest);
  EXPECT_EQ(CSChar2iChar(dest, "abcdef"), 0);
  EXPECT_STREQ(dest, "abcdef");

  struct Counted {
    unsigned int max;
    const char* want;
  } counted[] = {{3, "abc"}, {10, "abcdef"}, {6, "abcdef"}, {0, ""}};
  for (const Counted& k : counted) {
    SCOPED_TRACE(k.max);
    std::memset(dest, 'Z', sizeof dest);
    EXPECT_EQ(CSChar2iCharL(dest, "abcdef", k.max), 0);
    EXPECT_STREQ(dest, k.want);
    EXPECT_EQ(dest[std::strlen(k.want) + 1], 'Z');  // nothing beyond the terminator
  }

  // A source of exactly max readable characters, unterminated, is read no further.
  PageEdge unreadable(PROT_NONE);
  const char* runs_off = unreadable.PlaceUnterminated("abc");
  EXPECT_EQ(CSChar2iCharL(dest, runs_off, 3), 0);
  EXPECT_STREQ(dest, "abc");
}

// Nonzero and nothing copied when the source cannot be read or the destination
// cannot take the copy and its terminator.
TEST(Text, PlainToInternationalRefusesWhatItCannotCopyWhole) {
  PageEdge unreadable(PROT_NONE);
  const char* runs_off = unreadable.PlaceUnterminated("abc");
  PageEdge read_only(PROT_READ);
  char* dest = read_only.End() - 4;  // room for three characters and a terminator
  std::memcpy(dest, "xyz", 4);
  struct Case {
    const char* what;
    char* dest;
    const char* src;
  } cases[] = {
      {"null source", dest, nullptr},
      {"source runs into an unreadable page", dest, runs_off},
      {"source in an unreadable page", dest, unreadable.End()},
      {"null destination", nullptr, "a"},
      {"destination one byte short", dest, "abcd"},
      {"read-only destination", read_only.End(), "a"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_NE(CSChar2iChar(k.dest, k.src), 0);
    EXPECT_NE(CSChar2iCharL(k.dest, k.src, 100), 0);
    EXPECT_STREQ(dest, "xyz");
  }
  // Cut to three characters the same source fits.
  EXPECT_EQ(CSChar2iCharL(dest, "abcd", 3), 0);
  EXPECT_STREQ(dest, "abc");
  EXPECT_NE(CSChar2iCharL(dest, runs_off, 4), 0);
}

}  // namespace
