// CrossInstanceStore section operations: numbered entries, counting, deleting any
// section, and moving one: entries copied, empty ones skipped, the source and its map
// gone; moves refused or cut short delete nothing that was not copied.
#include <cslib.h>
#include <sys/mman.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "port/profile.h"
#include "support/allocfail.h"
#include "support/testenv.h"

// Reaches the key-list counter, which only the section operations use.
class CISStoreTestAccess {
 public:
  static CISErr Count(CrossInstanceStore& s, const char* list, unsigned short size,
                      unsigned short* count) {
    return s.NumSectionEntries(list, size, count);
  }
};

namespace {

using cstest::ReadFile;
using cstest::FailingSize;
using cstest::WriteFile;

class SectionTest : public cstest::WinDirTest {
 protected:
  void SetUp() override {
    CISErr result = CISErrFailed;
    // The store's own section is neither source nor target of the moves below.
    store_ = std::make_unique<CrossInstanceStore>(result, "Own", CISTypeMachine, "");
    ASSERT_EQ(result, CISOk);
  }
  std::string Db() const { return WinFile("QZFMRC15.INI"); }
  std::string Map() const { return WinFile("QZFCSS15.INI"); }
  static std::string Entry(const std::string& file, const std::string& section,
                           const std::string& key) {
    std::vector<char> buffer(100000);
    cslib::port::ProfileGetString(section.c_str(), key.c_str(), "<missing>", buffer.data(),
                                  buffer.size(), file.c_str());
    return buffer.data();
  }
  std::string Value(const std::string& section, const std::string& key) const {
    return Entry(Db(), section, key);
  }
  std::string Mapped(const std::string& section, const std::string& key) const {
    return Entry(Map(), "DefMap;" + section, key);
  }
  CrossInstanceStore& store() { return *store_; }

 private:
  std::unique_ptr<CrossInstanceStore> store_;
};

TEST_F(SectionTest, FindStringEnumReadsNumberedEntries) {
  WriteFile(Db(), "[Own]\nDEZU0=zero\nDEZU12=twelve\nDEZU65535=last\n");
  char buffer[16];
  const struct {
    unsigned short number;
    CISErr result;
    const char* text;
  } cases[] = {{0, CISOk, "zero"},
               {12, CISOk, "twelve"},
               {65535, CISOk, "last"},
               {1, CISErrNotFound, ""},
               {120, CISErrNotFound, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(store().FindStringEnum("DEZU", c.number, buffer, sizeof buffer), c.result);
    EXPECT_STREQ(buffer, c.text);
  }
  EXPECT_EQ(Mapped("Own", "DEZU12"), Db());
  EXPECT_EQ(store().FindStringEnum(nullptr, 1, buffer, sizeof buffer), CISErrInvalid);
  EXPECT_EQ(store().FindStringEnum("DEZU", 1, nullptr, 4), CISErrInvalid);
}

TEST_F(SectionTest, QuerySectionCountsTheOwnSection) {
  EXPECT_EQ(store().QuerySection(), 0);  // missing
  WriteFile(Db(), "[Own]\n; a comment\na=1\nb=2\nc=\nd=4\nnot an entry\ne=5\n[Other]\nx=1\n");
  EXPECT_EQ(store().QuerySection(), 5);
  WriteFile(Db(), "[Own]\n[Other]\nx=1\n");
  EXPECT_EQ(store().QuerySection(), 0);

  // More names than the 4096-byte working block holds are still counted exactly.
  std::string big = "[Own]\n";
  for (int i = 0; i < 700; ++i) big += "SomeRatherLongKey" + std::to_string(i) + "=v\n";
  WriteFile(Db(), big);
  EXPECT_EQ(store().QuerySection(), 700);

  CISErr result;
  CrossInstanceStore invalid(result, "Own", CISTypeMachine, nullptr);
  EXPECT_EQ(invalid.QuerySection(), 0);
}

TEST_F(SectionTest, NumSectionEntries) {
  unsigned short count = 99;
  const char whole[] = "ab\0cd\0\0";
  EXPECT_EQ(CISStoreTestAccess::Count(store(), whole, sizeof whole, &count), CISOk);
  EXPECT_EQ(count, 2);
  // The last name ends on the buffer's last byte: only the names before it count.
  const char cut[] = {'a', 'b', '\0', 'c', 'd', '\0'};
  EXPECT_EQ(CISStoreTestAccess::Count(store(), cut, sizeof cut, &count), CISErrTruncated);
  EXPECT_EQ(count, 1);
  const char unterminated[] = {'a', 'b', '\0', 'c', 'd'};
  EXPECT_EQ(CISStoreTestAccess::Count(store(), unterminated, sizeof unterminated, &count),
            CISErrTruncated);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(CISStoreTestAccess::Count(store(), whole, sizeof whole, nullptr), CISErrInvalid);
}

TEST_F(SectionTest, DeleteSection) {
  const std::string s256(256, 'S'), s257(257, 'S');
  WriteFile(Db(), "[Keep]\nk=1\n[Gone]\na=1\n[" + s256 + "]\nb=2\n[" + s257 + "]\nc=3\n");
  WriteFile(Map(), "[DefMap;Keep]\nk=x\n[DefMap;Gone]\na=x\n");
  EXPECT_EQ(store().DeleteSection("gone"), CISOk);
  EXPECT_EQ(store().DeleteSection(s256.c_str()), CISOk);
  EXPECT_EQ(store().DeleteSection(s257.c_str()), CISErrSection);
  EXPECT_EQ(store().DeleteSection("never there"), CISOk);
  EXPECT_EQ(ReadFile(Db()), "[Keep]\nk=1\n[" + s257 + "]\nc=3\n");
  EXPECT_EQ(ReadFile(Map()), "[DefMap;Keep]\nk=x\n");
  EXPECT_EQ(store().DeleteSection(nullptr), CISErrInvalid);
}

TEST_F(SectionTest, MoveCopiesEntriesAndRemovesTheSourceAndItsMap) {
  CISErr result;
  CrossInstanceStore source(result, "Port1,Model", CISTypeMachine, "");
  ASSERT_EQ(source.StoreStr("Alpha", "1"), CISOk);
  ASSERT_EQ(source.StoreStr("Empty", ""), CISOk);
  unsigned long dword = 0x01020304;
  ASSERT_EQ(source.StoreDWord("Gamma", dword), CISOk);
  ASSERT_EQ(store().StoreStr("mine", "stays"), CISOk);

  EXPECT_EQ(store().MoveSection("Port1,Model", "Port2,Model"), CISOk);
  EXPECT_EQ(Value("Port2,Model", "Alpha"), "1");
  EXPECT_EQ(Value("Port2,Model", "Gamma"), "04030201");
  EXPECT_EQ(Value("Port2,Model", "Empty"), "<missing>");
  EXPECT_EQ(Value("Port1,Model", "Alpha"), "<missing>");
  EXPECT_EQ(Mapped("Port1,Model", "Alpha"), "<missing>");
  EXPECT_EQ(Mapped("Port2,Model", "Gamma"), Db());
  EXPECT_EQ(Value("Own", "mine"), "stays");
  EXPECT_EQ(ReadFile(Db()).find("Port1"), std::string::npos);
}

TEST_F(SectionTest, MoveKeepsValuesExactly) {
  // Reads drop blanks and one pair of quotes around a value; the copy keeps them.
  WriteFile(Db(), "[From]\nspaced=\"  a b  \"\nquoted='\"x\"'\nplain=  p  \nlone=\"abc\n");
  CISErr result;
  CrossInstanceStore reader(result, "From", CISTypeMachine, "");
  std::vector<std::string> before;
  char buffer[32];
  for (const char* key : {"spaced", "quoted", "plain", "lone"}) {
    ASSERT_EQ(reader.RetrieveStr(key, buffer, sizeof buffer), CISOk);
    before.push_back(buffer);
  }
  ASSERT_EQ(store().MoveSection("From", "To"), CISOk);
  CrossInstanceStore moved(result, "To", CISTypeMachine, "");
  int i = 0;
  for (const char* key : {"spaced", "quoted", "plain", "lone"}) {
    SCOPED_TRACE(key);
    ASSERT_EQ(moved.RetrieveStr(key, buffer, sizeof buffer), CISOk);
    EXPECT_EQ(buffer, before[i++]);
  }
}

TEST_F(SectionTest, MoveOfLargeSections) {
  // 40 names of about 120 characters: more than the 4096-byte working block holds.
  const std::string stem(118, 'N');
  std::string content = "[Big]\n";
  for (int i = 0; i < 40; ++i)
    content += stem + std::to_string(i) + "=value" + std::to_string(i) + "\n";
  WriteFile(Db(), content);
  EXPECT_EQ(store().MoveSection("Big", "Moved"), CISOk);
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(Value("Moved", stem + std::to_string(i)), "value" + std::to_string(i));
  EXPECT_EQ(ReadFile(Db()).find("[Big]"), std::string::npos);

  // A key list too long to be read whole is refused before anything is written.
  std::string huge = "[Huge]\n";
  for (int i = 0; i < 300; ++i) huge += std::string(240, 'K') + std::to_string(i) + "=v\n";
  WriteFile(Db(), huge);
  EXPECT_EQ(store().MoveSection("Huge", "Elsewhere"), CISErrFailed);
  EXPECT_EQ(ReadFile(Db()), huge);
}

TEST_F(SectionTest, MovesThatChangeNothing) {
  const std::string content = "[Sec]\na=1\n";
  WriteFile(Db(), content);
  const struct {
    const char *source, *target;
    CISErr result;
  } cases[] = {
      {"Sec", "SEC", CISOk},             // the same section
      {"Sec", " sec\t", CISOk},          // so is this, as the file reads names
      {"Missing", "Sec", CISErrFailed},  // nothing to copy
      {"", "Sec", CISErrFailed},
      {nullptr, "Sec", CISErrInvalid},
      {"Sec", nullptr, CISErrInvalid},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source ? c.source : "(null)");
    EXPECT_EQ(store().MoveSection(c.source, c.target), c.result);
    EXPECT_EQ(ReadFile(Db()), content);
  }
  WriteFile(Db(), content + "[Empty]\n");
  EXPECT_EQ(store().MoveSection("Empty", "Sec"), CISErrFailed);
  EXPECT_EQ(ReadFile(Db()), content + "[Empty]\n");
}

TEST_F(SectionTest, MovesCutShortLeaveTheSource) {
  // A target the file cannot hold: the first write fails.
  const std::string content = "[Src]\na=1\nb=2\n";
  WriteFile(Db(), content);
  EXPECT_EQ(store().MoveSection("Src", "bad]name"), CISErrFailed);
  EXPECT_EQ(ReadFile(Db()), content);

  // A key the file cannot be given again stops the copy after what came before it.
  WriteFile(Db(), "[Src]\na=1\n[b=2\nc=3\n");
  EXPECT_EQ(store().MoveSection("Src", "Dst"), CISErrFailed);
  EXPECT_EQ(Value("Dst", "a"), "1");
  EXPECT_EQ(Value("Dst", "c"), "<missing>");
  EXPECT_EQ(Value("Src", "c"), "3");

  // An entry whose value cannot be held in memory ends the copy: nothing is deleted.
  const std::string big(50000, 'x');
  WriteFile(Db(), "[Src]\na=1\nbig=" + big + "\nc=3\n");
  {
    FailingSize fail(50001);
    EXPECT_EQ(store().MoveSection("Src", "Dst2"), CISErrNoMemory);
  }
  EXPECT_EQ(Value("Dst2", "a"), "1");
  EXPECT_EQ(Value("Dst2", "big"), "<missing>");
  EXPECT_EQ(Value("Src", "big"), big);
  EXPECT_EQ(Value("Src", "c"), "3");
  // With memory the same move completes, the long value whole.
  EXPECT_EQ(store().MoveSection("Src", "Dst2"), CISOk);
  EXPECT_EQ(Value("Dst2", "big"), big);
  EXPECT_EQ(Value("Src", "a"), "<missing>");
}

}  // namespace
