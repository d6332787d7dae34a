// CrossInstanceStore: set-up and the database file each type and family picks, the
// section map, string reads and writes with their limits and truncation, refused
// input, bad pointers, copying, and the single-entry steps other operations build on.
#include <cslib.h>
#include <sys/mman.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "port/profile.h"
#include "support/testenv.h"

// Reaches the store's private steps, which the section operations build on.
class CISStoreTestAccess {
 public:
  static int ReadSection(CrossInstanceStore& s, const char* section, char* buffer,
                         unsigned short size) {
    return s.m_CISReadSection(section, buffer, size);
  }
  static int DeleteSection(CrossInstanceStore& s, const char* section) {
    return s.m_CISDeleteDBSection(section);
  }
  static int DeleteEntry(CrossInstanceStore& s, const char* section, const char* key) {
    return s.m_CISDeleteDBEntry(section, key);
  }
  static int Write(CrossInstanceStore& s, const char* section, const char* key, const char* value) {
    return s.m_CISWriteDB(section, key, value);
  }
  static std::string DBFile(const CrossInstanceStore& s) { return s.m_DBFile; }
};

namespace {

using cstest::ReadFile;
using cstest::ScopedEnv;
using cstest::WriteFile;

class StoreTest : public cstest::WinDirTest {
 protected:
  ScopedEnv notices_{"CSLIB_NOTICES", nullptr};
  std::string Db() const { return WinFile("QZFMRC15.INI"); }
  std::string Map() const { return WinFile("QZFCSS15.INI"); }
  // The value of an entry of any INI file, "<missing>" when absent.
  static std::string Entry(const std::string& file, const std::string& section,
                           const std::string& key) {
    char buffer[1024];
    cslib::port::ProfileGetString(section.c_str(), key.c_str(), "<missing>", buffer, sizeof buffer,
                                  file.c_str());
    return buffer;
  }
  std::string Mapped(const std::string& section, const std::string& key) const {
    return Entry(Map(), "DefMap;" + section, key);
  }
  bool DirEmpty() const { return std::filesystem::is_empty(WinDir()); }
};

TEST_F(StoreTest, SectionNameLimits) {
  const std::string s193(193, 's'), s194(194, 's');
  const struct {
    const char* what;
    const char* name;
    CISErr result;
    std::string section;
  } cases[] = {
      {"empty", "", CISErrFailed, "Common"},
      {"null", nullptr, CISErrFailed, "Common"},
      {"193 characters", s193.c_str(), CISOk, s193},
      {"194 characters", s194.c_str(), CISErrFailed, "Common"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CISErr result = CISOk;
    CrossInstanceStore store(result, c.name, CISTypeMachine, "");
    EXPECT_EQ(result, c.result);
    ASSERT_EQ(store.StoreStr("k", c.what), CISOk);  // usable either way
    EXPECT_EQ(Entry(Db(), c.section, "k"), c.what);
    EXPECT_EQ(Mapped(c.section, "k"), Db());
  }
}

TEST_F(StoreTest, SetUpNeedsAReadableFileNameAndWritesNothing) {
  CISErr result = CISOk;
  CrossInstanceStore good(result, "Common", CISTypeMachine, "");
  EXPECT_EQ(result, CISOk);
  EXPECT_TRUE(DirEmpty());  // the touches delete entries nobody wrote

  CrossInstanceStore bad(result, "Common", CISTypeMachine, nullptr);
  EXPECT_EQ(result, CISErrFailed);
  char buffer[8];
  EXPECT_EQ(bad.StoreStr("k", "v"), CISErrInvalid);
  EXPECT_EQ(bad.RetrieveStr("k", buffer, sizeof buffer), CISErrInvalid);
  EXPECT_EQ(bad.RetrieveOrStoreStr("k", buffer, sizeof buffer, "d"), CISErrInvalid);
  EXPECT_TRUE(DirEmpty());
}

TEST_F(StoreTest, DatabaseFileForEachTypeAndFamily) {
  cstest::TempDir elsewhere;
  const std::string full = elsewhere.File("Named.ini");
  const std::string windows_style = "C:\\Drivers\\Named.ini";
  const struct {
    const char* what;
    CISType type;
    const char* family;
    std::string file;
    std::string expected_db;   // where the value lands
    std::string expected_map;  // what the section map records
  } cases[] = {
      {"machine", CISTypeMachine, "winnt", "", Db(), Db()},
      {"user", CISTypeUser, "win9x", "", Db(), Db()},
      {"unknown type", static_cast<CISType>(9), nullptr, "", Db(), Db()},
      {"WIN.INI", CISTypeWinIni, "winnt", "ignored.ini", WinFile("WIN.INI"), "WIN.INI"},
      {"named, NT, full path", CISTypeNamedFile, "winnt", full, WinFile("Named.ini"),
       WinFile("Named.ini")},
      {"named, NT, backslashes", CISTypeNamedFile, "winnt", windows_style, WinFile("Named.ini"),
       WinFile("Named.ini")},
      {"named, 9x, full path", CISTypeNamedFile, "win9x", full, full, full},
      {"named, Win32s, full path", CISTypeNamedFile, "win32s", full, full, full},
      {"named, unknown family", CISTypeNamedFile, nullptr, full, full, full},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnv family("CSLIB_OS_FAMILY", c.family);
    const std::string section = std::string("S ") + c.what;
    CISErr result = CISErrFailed;
    CrossInstanceStore store(result, section.c_str(), c.type, c.file.c_str());
    ASSERT_EQ(result, CISOk);
    ASSERT_EQ(store.StoreStr("Key", "value"), CISOk);
    EXPECT_EQ(Entry(c.expected_db, section, "key"), "value");
    EXPECT_EQ(Mapped(section, "KEY"), c.expected_map);
    char buffer[16];
    EXPECT_EQ(store.RetrieveStr("key", buffer, sizeof buffer), CISOk);
    EXPECT_STREQ(buffer, "value");
  }
}

TEST_F(StoreTest, WindowsDirectoryWithATrailingSeparator) {
  ScopedEnv windir("CSLIB_WINDIR", (WinDir() + "/").c_str());
  CISErr result;
  CrossInstanceStore store(result, "s", CISTypeMachine, "");
  ASSERT_EQ(store.StoreStr("k", "v"), CISOk);
  EXPECT_EQ(CISStoreTestAccess::DBFile(store), WinDir() + "/QZFMRC15.INI");
  EXPECT_EQ(Entry(Map(), "DefMap;s", "k"), WinDir() + "/QZFMRC15.INI");
}

TEST_F(StoreTest, ReadingAMissingKeyRecordsItInTheSectionMap) {
  CISErr result;
  CrossInstanceStore store(result, "Sec", CISTypeMachine, "");
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(store.RetrieveStr("nokey", buffer, sizeof buffer), CISErrNotFound);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(Mapped("Sec", "nokey"), Db());
  EXPECT_FALSE(cstest::FileExists(Db()));
}

TEST_F(StoreTest, KeyInTwoDatabasesKeepsItsFirstMapEntry) {
  CISErr result;
  CrossInstanceStore machine(result, "Sec", CISTypeMachine, "");
  CrossInstanceStore winini(result, "Sec", CISTypeWinIni, "");
  ASSERT_EQ(machine.StoreStr("k", "machine"), CISOk);
  std::string notice;
  {
    ScopedEnv notices("CSLIB_NOTICES", "stderr");
    testing::internal::CaptureStderr();
    ASSERT_EQ(winini.StoreStr("k", "win"), CISOk);
    notice = testing::internal::GetCapturedStderr();
  }
  EXPECT_EQ(notice,
            "A CrossInstanceStore data mismatch was detected for the entry key\nk\n\n"
            "This may be due to a stale CIS database left over from a previous install.\n"
            "Please quit applications, remove or rename the files WIN.INI and QZFCSS15.INI, "
            "then reinstall.\n\n\nContinue?\n");
  EXPECT_EQ(Mapped("Sec", "k"), Db());
  char buffer[16];
  EXPECT_EQ(winini.RetrieveStr("k", buffer, sizeof buffer), CISOk);
  EXPECT_STREQ(buffer, "win");
  EXPECT_EQ(machine.RetrieveStr("k", buffer, sizeof buffer), CISOk);
  EXPECT_STREQ(buffer, "machine");

  // Off by default.
  testing::internal::CaptureStderr();
  EXPECT_EQ(winini.RetrieveStr("k", buffer, sizeof buffer), CISOk);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(StoreTest, LocationEntriesComeBeforeTheSectionMap) {
  // A location that starts with the store's path and runs on counts as a match: it is
  // read with room for exactly as many characters as the store's path has.
  WriteFile(Map(), "[Sec]\nsame=" + Db() + ".old\nother=/elsewhere/OTHER.INI\n");
  ScopedEnv notices("CSLIB_NOTICES", "stderr");
  CISErr result;
  CrossInstanceStore store(result, "Sec", CISTypeMachine, "");
  testing::internal::CaptureStderr();
  EXPECT_EQ(store.StoreStr("same", "1"), CISOk);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  testing::internal::CaptureStderr();
  EXPECT_EQ(store.StoreStr("other", "2"), CISOk);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("entry key\nother\n"), std::string::npos);
  EXPECT_EQ(Mapped("Sec", "same"), "<missing>");  // a location entry needs no map entry
  EXPECT_EQ(Entry(Db(), "Sec", "other"), "2");
}

TEST_F(StoreTest, TruncationAndDefaults) {
  CISErr result;
  CrossInstanceStore store(result, "Sec", CISTypeMachine, "");
  char buffer[5];
  ASSERT_EQ(store.StoreStr("ten", "0123456789"), CISOk);
  EXPECT_EQ(store.RetrieveStr("ten", buffer, sizeof buffer), CISOk);
  EXPECT_STREQ(buffer, "0123");

  EXPECT_EQ(store.RetrieveOrStoreStr("new", buffer, sizeof buffer, "abcdefghij"), CISErrTruncated);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(Entry(Db(), "Sec", "new"), "abcdefghij");
  EXPECT_EQ(store.RetrieveOrStoreStr("new", buffer, sizeof buffer, "other"), CISOk);
  EXPECT_STREQ(buffer, "abcd");  // stored value now, not the default

  ASSERT_EQ(store.StoreStr("empty", ""), CISOk);
  EXPECT_EQ(store.RetrieveStr("empty", buffer, sizeof buffer), CISErrNotFound);
  EXPECT_EQ(store.RetrieveOrStoreStr("empty", buffer, sizeof buffer, "dflt"), CISOk);
  EXPECT_STREQ(buffer, "dflt");
  EXPECT_EQ(Entry(Db(), "Sec", "empty"), "dflt");

  // Size 0 and over-long keys read nothing; the buffer is emptied when it has room.
  char one[1] = {'x'};
  EXPECT_EQ(store.RetrieveStr("ten", one, 0), CISErrNotFound);
  EXPECT_EQ(one[0], 'x');
  const std::string k257(257, 'k');
  std::strcpy(buffer, "xxxx");
  EXPECT_EQ(store.RetrieveOrStoreStr(k257.c_str(), buffer, sizeof buffer, "d"), CISErrNotFound);
  EXPECT_STREQ(buffer, "");
}

TEST_F(StoreTest, KeyLimitsAndRefusedInputWriteNothing) {
  CISErr result;
  CrossInstanceStore store(result, "Sec", CISTypeMachine, "");
  const std::string k256(256, 'k'), k257(257, 'k');
  EXPECT_EQ(store.StoreStr(k256.c_str(), "v"), CISOk);
  EXPECT_EQ(Entry(Db(), "Sec", k256), "v");

  std::filesystem::remove(Db());
  std::filesystem::remove(Map());
  const struct {
    const char *key, *value;
  } refused[] = {{"", "v"},     {k257.c_str(), "v"}, {"k", "line\nbreak"},
                 {"k", "cr\r"}, {"a=b", "v"},        {"[k", "v"},
                 {";k", "v"},   {"  ", "v"},         {"k\nx=1", "v"}};
  for (const auto& c : refused) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(store.StoreStr(c.key, c.value), CISErrFailed);
  }
  CrossInstanceStore bracket(result, "a]b", CISTypeMachine, "");
  EXPECT_EQ(result, CISOk);
  EXPECT_EQ(bracket.StoreStr("k", "v"), CISErrFailed);
  EXPECT_FALSE(cstest::FileExists(Db()));
  EXPECT_FALSE(cstest::FileExists(Map()));
}

TEST_F(StoreTest, FailedDefaultStoreIsReportedNotHiddenBehindTruncation) {
  CISErr result;
  CrossInstanceStore store(result, "Sec", CISTypeMachine, "");
  char buffer[3];
  EXPECT_EQ(store.RetrieveOrStoreStr("k", buffer, sizeof buffer, "two\nlines"), CISErrFailed);
  EXPECT_EQ(Entry(Db(), "Sec", "k"), "<missing>");

  // A database that cannot be written: its path is a directory.
  std::filesystem::create_directory(WinFile("dir.ini"));
  ScopedEnv family("CSLIB_OS_FAMILY", "winnt");
  CrossInstanceStore broken(result, "Sec", CISTypeNamedFile, "dir.ini");
  EXPECT_EQ(broken.RetrieveOrStoreStr("k", buffer, sizeof buffer, "long default"), CISErrFailed);
  EXPECT_EQ(broken.RetrieveOrStoreStr("k", buffer, sizeof buffer, "ok"), CISErrFailed);
}

TEST_F(StoreTest, BadPointers) {
  CISErr result;
  CrossInstanceStore store(result, "Sec", CISTypeMachine, "");
  cstest::MappedPages none(1, PROT_NONE);
  cstest::MappedPages readonly(1, PROT_READ);
  char buffer[8];
  EXPECT_EQ(store.StoreStr(nullptr, "v"), CISErrInvalid);
  EXPECT_EQ(store.StoreStr("k", nullptr), CISErrInvalid);
  EXPECT_EQ(store.StoreStr(none.data(), "v"), CISErrInvalid);
  EXPECT_EQ(store.RetrieveStr(nullptr, buffer, sizeof buffer), CISErrInvalid);
  EXPECT_EQ(store.RetrieveStr("k", nullptr, 8), CISErrInvalid);
  EXPECT_EQ(store.RetrieveStr("k", readonly.data(), 8), CISErrInvalid);
  EXPECT_TRUE(DirEmpty());
  // The read runs (and maps the key) before the default is looked at.
  EXPECT_EQ(store.RetrieveOrStoreStr("k", buffer, sizeof buffer, none.data()), CISErrInvalid);
  EXPECT_FALSE(cstest::FileExists(Db()));

  CrossInstanceStore unreadable_section(result, none.data(), CISTypeMachine, "");
  EXPECT_EQ(result, CISErrFailed);
  CrossInstanceStore unreadable_file(result, "Sec", CISTypeMachine, none.data());
  EXPECT_EQ(result, CISErrFailed);
  EXPECT_EQ(unreadable_file.StoreStr("k", "v"), CISErrInvalid);
}

TEST_F(StoreTest, Copying) {
  CISErr result;
  CrossInstanceStore store(result, "Sec", CISTypeMachine, "");
  CrossInstanceStore copy(store);
  ASSERT_EQ(copy.StoreStr("k", "from copy"), CISOk);
  char buffer[16];
  EXPECT_EQ(store.RetrieveStr("k", buffer, sizeof buffer), CISOk);
  EXPECT_STREQ(buffer, "from copy");

  CrossInstanceStore other(result, "Other", CISTypeWinIni, "");
  other = store;
  EXPECT_EQ(other.RetrieveStr("k", buffer, sizeof buffer), CISOk);
  CrossInstanceStore& same = other;
  other = same;
  EXPECT_EQ(other.RetrieveStr("k", buffer, sizeof buffer), CISOk);

  CrossInstanceStore invalid(result, "Sec", CISTypeMachine, nullptr);
  CrossInstanceStore invalid_copy(invalid);
  EXPECT_EQ(invalid_copy.StoreStr("k", "v"), CISErrInvalid);
  other = invalid;
  EXPECT_EQ(other.RetrieveStr("k", buffer, sizeof buffer), CISErrInvalid);
  other = store;  // a valid source makes it valid again
  EXPECT_EQ(other.RetrieveStr("k", buffer, sizeof buffer), CISOk);
}

TEST_F(StoreTest, SingleEntryAndSectionSteps) {
  CISErr result;
  CrossInstanceStore store(result, "Sec", CISTypeMachine, "");
  ASSERT_EQ(store.StoreStr("a", "1"), CISOk);
  ASSERT_EQ(store.StoreStr("b", "2"), CISOk);
  ASSERT_EQ(CISStoreTestAccess::Write(store, "Other", "c", "3"), 1);
  char list[16];
  EXPECT_EQ(CISStoreTestAccess::ReadSection(store, "sec", list, sizeof list), 4);
  EXPECT_EQ(std::string(list, 5), std::string("a\0b\0\0", 5));

  EXPECT_EQ(CISStoreTestAccess::DeleteEntry(store, "Sec", "a"), 1);
  EXPECT_EQ(Entry(Db(), "Sec", "a"), "<missing>");
  EXPECT_EQ(Mapped("Sec", "a"), "<missing>");
  EXPECT_EQ(Mapped("Sec", "b"), Db());

  EXPECT_EQ(CISStoreTestAccess::DeleteSection(store, "Sec"), 1);
  EXPECT_EQ(ReadFile(Db()), "[Other]\nc=3\n");
  EXPECT_EQ(ReadFile(Map()), "[DefMap;Other]\nc=" + Db() + "\n");

  // Sections too long for the map are read and written, never mapped.
  const std::string long_section(200, 'L');
  ScopedEnv notices("CSLIB_NOTICES", "stderr");
  testing::internal::CaptureStderr();
  EXPECT_EQ(CISStoreTestAccess::Write(store, long_section.c_str(), "k", "v"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // unmapped is no mismatch
  EXPECT_EQ(Entry(Db(), long_section, "k"), "v");
  EXPECT_EQ(ReadFile(Map()), "[DefMap;Other]\nc=" + Db() + "\n");
  EXPECT_EQ(CISStoreTestAccess::DeleteSection(store, long_section.c_str()), 1);
  EXPECT_EQ(ReadFile(Db()), "[Other]\nc=3\n");
}

}  // namespace
