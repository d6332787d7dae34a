// The INI reading rules and the byte-preserving edits, on text in memory.
#include "port/ini.h"

#include <string>
#include <vector>

#include "support/testenv.h"

namespace {

using namespace cslib::port::ini;

// The value a profile read gives, or "<missing>".
std::string Read(const std::string& text, const char* section, const char* key) {
  Document doc(text);
  const Section* s = doc.FindSection(section);
  const Entry* e = s ? doc.FindEntry(*s, key) : nullptr;
  return e ? std::string(e->value) : "<missing>";
}

std::string Joined(const std::vector<std::string_view>& names) {
  std::string out;
  for (std::string_view n : names) out.append(n).append("|");
  return out;
}

TEST(IniRead, TrickyInputs) {
  struct Case {
    const char* what;
    std::string text;
    const char* section;
    const char* key;
    std::string expected;
  } cases[] = {
      {"section name case", "[Sec]\nk=v\n", "sEC", "k", "v"},
      {"key case", "[s]\nKey=v\n", "s", "kEY", "v"},
      {"non-ASCII letters keep their case", "[s]\n\xE9=v\n", "s", "\xC9", "<missing>"},
      {"blanks around names in the file", "[  a b  ]\n\t key \t=v\n", "a b", "key", "v"},
      {"blanks around the caller's names", "[a b]\nkey=v\n", "  a b ", " key\t", "v"},
      {"inner blanks must match", "[a  b]\nk=v\n", "a b", "k", "<missing>"},
      {"value trimmed", "[s]\nk=  \t v w \t \n", "s", "k", "v w"},
      {"no inline comments", "[s]\nk=b ; c\n", "s", "k", "b ; c"},
      {"quotes removed", "[s]\nk=\"  a b  \"\n", "s", "k", "  a b  "},
      {"single quotes removed", "[s]\nk='x'\n", "s", "k", "x"},
      {"only the outer pair", "[s]\nk=\"a\" b \"c\"\n", "s", "k", "a\" b \"c"},
      {"empty quotes", "[s]\nk=\"\"\n", "s", "k", ""},
      {"lone quote stays", "[s]\nk=\"abc\n", "s", "k", "\"abc"},
      {"mismatched quotes stay", "[s]\nk=\"a b'\n", "s", "k", "\"a b'"},
      {"one quote character stays", "[s]\nk=\"\n", "s", "k", "\""},
      {"value ends at a zero byte", std::string("[s]\nk=ab\0cd\n", 12), "s", "k", "ab"},
      {"empty value is an entry", "[s]\nk=\n", "s", "k", ""},
      {"everything after the first =", "[s]\nk=a=b\n", "s", "k", "a=b"},
      {"header to the last ]", "[a]b]\nk=v\n", "a]b", "k", "v"},
      {"text after the header", "[s] junk\nk=v\n", "s", "k", "v"},
      {"[ line without ] belongs to the section before", "[s]\n[t\nk=v\n", "s", "k", "v"},
      {"line without = is no entry", "[s]\nk\n", "s", "k", "<missing>"},
      {"comment is no entry", "[s]\n;k=v\n", "s", ";k", "<missing>"},
      {"# is an ordinary character", "[s]\n#k=v\n", "s", "#k", "v"},
      {"first section wins", "[s]\na=1\n[S]\na=2\nb=3\n", "s", "b", "<missing>"},
      {"first key wins", "[s]\nk=1\nK=2\n", "s", "k", "1"},
      {"lines before the first header", "k=v\n[s]\n", "", "k", "<missing>"},
      {"CRLF", "[s]\r\nk=v\r\n", "s", "k", "v"},
      {"CR alone", "[s]\rk=v\rj=w", "s", "j", "w"},
      {"mixed endings, no final newline", "[s]\r\nk=v\nj=w", "s", "j", "w"},
      {"byte-order mark", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "v"},
      {"key in another section", "[s]\n[t]\nk=v\n", "s", "k", "<missing>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.text, c.section, c.key), c.expected);
  }
}

TEST(IniRead, KeyAndSectionLists) {
  Document doc("top=1\n[One]\nb=1\n;c=2\nnoentry\na=2\nB=3\n[two]\n[ONE]\nz=1\n");
  EXPECT_EQ(Joined(KeyNames(doc, "one")), "b|a|B|");  // duplicates listed, comments not
  EXPECT_EQ(Joined(KeyNames(doc, "two")), "");
  EXPECT_EQ(Joined(SectionNames(doc)), "One|two|ONE|");
}

TEST(IniRead, ListsAreCutAsWindowsCutsThem) {
  const std::vector<std::string_view> names{"name1", "name2", "name4"};  // 18 bytes
  struct Case {
    std::size_t size;
    std::size_t result;
    std::string bytes;
  } cases[] = {
      {20, 18, std::string("name1\0name2\0name4\0\0", 19)},
      {19, 17, std::string("name1\0name2\0name4\0\0", 19)},
      {16, 14, std::string("name1\0name2\0na\0\0", 16)},
      {2, 0, std::string("\0\0", 2)},
      {1, 0, std::string("\0", 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::string buffer(32, 'x');
    EXPECT_EQ(CopyList(names, buffer.data(), c.size), c.result);
    EXPECT_EQ(buffer.substr(0, c.bytes.size()), c.bytes);
    EXPECT_EQ(buffer[std::max(c.size, c.bytes.size())], 'x');  // nothing past the buffer
  }
}

TEST(IniRead, ValueCopyTruncates) {
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(CopyValue("abcdefghij", buffer, 0), 0u);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(CopyValue("abcdefghij", buffer, 5), 4u);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(CopyValue("ab", buffer, 5), 2u);
  EXPECT_STREQ(buffer, "ab");
}

enum Op { kSet, kDelKey, kDelSection };

TEST(IniEdit, ChangesOnlyWhatItAddresses) {
  struct Case {
    const char* what;
    std::string before;
    Op op;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
  } cases[] = {
      {"replace keeps spelling and spacing", "; head\n[s]\n  Key = old  \nz=1\n", kSet, "S", "key",
       "new", "; head\n[s]\n  Key = new  \nz=1\n"},
      {"replace a quoted value", "[s]\nk=\"old\"\n", kSet, "s", "k", "new", "[s]\nk=new\n"},
      {"replace an empty value", "[s]\nk=\nj=2\n", kSet, "s", "k", "v", "[s]\nk=v\nj=2\n"},
      {"new key after the last non-blank line", "[a]\nx=1\n; note\n\n\n[b]\ny=2\n", kSet, "a", "n",
       "v", "[a]\nx=1\n; note\nn=v\n\n\n[b]\ny=2\n"},
      {"new key in a CRLF file", "[a]\r\nx=1\r\n\r\n[b]\r\n", kSet, "a", "n", "v",
       "[a]\r\nx=1\r\nn=v\r\n\r\n[b]\r\n"},
      {"new key in a CR file", "[a]\rx=1\r", kSet, "a", "n", "v", "[a]\rx=1\rn=v\r"},
      {"new key into a last line without newline", "[a]\r\nx=1", kSet, "a", "n", "v",
       "[a]\r\nx=1\r\nn=v\r\n"},
      {"new key into a header-only section", "[a]\n[b]\n", kSet, "a", "n", "v", "[a]\nn=v\n[b]\n"},
      {"new section at the end", "x=0\n[a]\nx=1\n\n", kSet, "b", "n", "v",
       "x=0\n[a]\nx=1\n\n[b]\nn=v\n"},
      {"new section, no final newline", "[a]\nx=1", kSet, " b ", " n ", "v",
       "[a]\nx=1\n[b]\nn=v\n"},
      {"new file", "", kSet, "a", "k", " v ", "[a]\nk= v \n"},
      {"first of duplicate sections and keys", "[s]\nk=1\nk=2\n[S]\nk=3\n", kSet, "s", "K", "9",
       "[s]\nk=9\nk=2\n[S]\nk=3\n"},
      {"byte-order mark kept", "\xEF\xBB\xBFk=0\n[s]\n", kSet, "s", "k", "1",
       "\xEF\xBB\xBFk=0\n[s]\nk=1\n"},
      {"delete a key line", "[s]\r\na=1\r\nb=2\r\n", kDelKey, "s", "A", nullptr, "[s]\r\nb=2\r\n"},
      {"delete the last line without newline", "[s]\na=1\nb=2", kDelKey, "s", "b", nullptr,
       "[s]\na=1\n"},
      {"delete a section with its comments", "[a]\nx=1\n; c\n\n[b]\ny=2\n[c]\n", kDelSection, "B",
       nullptr, nullptr, "[a]\nx=1\n; c\n\n[c]\n"},
      {"delete the last section", "[a]\nx=1\n[b]\ny=2", kDelSection, "b", nullptr, nullptr,
       "[a]\nx=1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Document doc(c.before);
    std::string out;
    Edit r = c.op == kSet      ? SetValue(doc, c.section, c.key, c.value, &out)
             : c.op == kDelKey ? DeleteKey(doc, c.section, c.key, &out)
                               : DeleteSection(doc, c.section, &out);
    ASSERT_EQ(r, Edit::kChanged);
    EXPECT_EQ(out, c.after);
  }
}

TEST(IniEdit, WritesReadBackAndNoOpsChangeNothing) {
  Document doc("[s]\nk=v\n");
  std::string out = "untouched";
  EXPECT_EQ(SetValue(doc, "s", "k", "v", &out), Edit::kUnchanged);
  EXPECT_EQ(DeleteKey(doc, "s", "missing", &out), Edit::kUnchanged);
  EXPECT_EQ(DeleteKey(doc, "missing", "k", &out), Edit::kUnchanged);
  EXPECT_EQ(DeleteSection(doc, "missing", &out), Edit::kUnchanged);
  EXPECT_EQ(out, "untouched");

  EXPECT_EQ(AddValue(doc, "s", "K", "other", &out), Edit::kUnchanged);  // first one stays
  EXPECT_EQ(out, "untouched");
  ASSERT_EQ(AddValue(Document("[s]\nk=\n"), "s", "k", "v", &out), Edit::kChanged);
  EXPECT_EQ(out, "[s]\nk=v\n");

  ASSERT_EQ(SetValue(doc, "s", "k2", "a=b;c", &out), Edit::kChanged);
  EXPECT_EQ(Read(out, "s", "k2"), "a=b;c");
  EXPECT_EQ(Read(out, "s", "k"), "v");
}

TEST(IniEdit, RefusesWhatWouldDamageTheFile) {
  struct Case {
    const char* what;
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"line feed in the value", "s", "k", "a\nb=c"},
      {"carriage return in the value", "s", "k", "a\rb"},
      {"line break in the key", "s", "k\nx", "v"},
      {"line break in the section", "s\n[t]", "k", "v"},
      {"key holding =", "s", "a=b", "v"},
      {"key starting with [", "s", " [k]", "v"},
      {"key starting with ;", "s", ";k", "v"},
      {"empty key", "s", "  ", "v"},
      {"section holding ]", "a]b", "k", "v"},
      {"empty section", " ", "k", "v"},
  };
  Document doc("[s]\nk=v\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string out = "untouched";
    EXPECT_EQ(SetValue(doc, c.section, c.key, c.value, &out), Edit::kRefused);
    EXPECT_EQ(out, "untouched");
  }
}

}  // namespace
