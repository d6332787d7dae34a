// The profile-style functions: integers as eight hex digits, defaults that are not
// stored, deletion by a null value, what a bad section, key or buffer does, and where
// the Private forms find their file.
#include <cslib.h>
#include <sys/mman.h>

#include <cstring>
#include <string>

#include "port/profile.h"
#include "support/testenv.h"

namespace {

using cstest::ReadFile;
using cstest::ScopedEnv;
using cstest::WriteFile;

class CISProfileTest : public cstest::WinDirTest {
 protected:
  std::string WinIni() const { return WinFile("WIN.INI"); }
  std::string Map() const { return WinFile("QZFCSS15.INI"); }
  static std::string Entry(const std::string& file, const std::string& section,
                           const std::string& key) {
    char buffer[256];
    cslib::port::ProfileGetString(section.c_str(), key.c_str(), "<missing>", buffer, sizeof buffer,
                                  file.c_str());
    return buffer;
  }
};

TEST_F(CISProfileTest, IntegersAreEightHexDigits) {
  const struct {
    int value;
    const char* text;
  } cases[] = {{1, "01000000"}, {-1, "ffffffff"}, {0x12345678, "78563412"}, {0, "00000000"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CISWriteProfileInt("Sec", "n", c.value), 1);
    EXPECT_EQ(Entry(WinIni(), "Sec", "n"), c.text);
    EXPECT_EQ(CISGetProfileInt("Sec", "n", 77), c.value);
  }
  EXPECT_EQ(Entry(Map(), "DefMap;Sec", "n"), "WIN.INI");

  const struct {
    const char* text;
    int expected;
  } read[] = {{"0a", 10}, {"10", 16}, {"0A0B", 0x0B0A}, {"0a0b0c0d0e", 77}, {"xy", 0}};
  for (const auto& c : read) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(CISWriteProfileString("Sec", "t", c.text), 1);
    EXPECT_EQ(CISGetProfileInt("Sec", "t", 77), c.expected);
  }
  EXPECT_EQ(CISGetProfileInt("Sec", "missing", 77), 77);
}

TEST_F(CISProfileTest, StringReadsAndWrites) {
  char buffer[8];
  EXPECT_EQ(CISWriteProfileString("Sec", "k", "value"), 1);
  EXPECT_EQ(CISGetProfileString("Sec", "k", "dflt", buffer, sizeof buffer), 5);
  EXPECT_STREQ(buffer, "value");
  EXPECT_EQ(CISGetProfileString("Sec", "k", "dflt", buffer, 4), 3);  // cut to fit
  EXPECT_STREQ(buffer, "val");

  // A missing key gives the default, cut to the buffer, and stays missing.
  EXPECT_EQ(CISGetProfileString("Sec", "none", "dflt", buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "dflt");
  EXPECT_EQ(CISGetProfileString("Sec", "none", "a long default", buffer, sizeof buffer), 7);
  EXPECT_STREQ(buffer, "a long ");
  EXPECT_EQ(CISGetProfileString("Sec", "none", nullptr, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(Entry(WinIni(), "Sec", "none"), "<missing>");
  EXPECT_EQ(Entry(Map(), "DefMap;Sec", "none"), "WIN.INI");

  // A null value deletes the key; a null key neither lists nor deletes.
  EXPECT_EQ(CISWriteProfileString("Sec", "k", nullptr), 1);
  EXPECT_EQ(Entry(WinIni(), "Sec", "k"), "<missing>");
  ASSERT_EQ(CISWriteProfileString("Sec", "other", "x"), 1);
  EXPECT_EQ(CISGetProfileString("Sec", nullptr, "dflt", buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "dflt");
  EXPECT_EQ(CISWriteProfileString("Sec", nullptr, nullptr), 0);
  EXPECT_EQ(CISWriteProfileInt("Sec", nullptr, 1), 0);
  EXPECT_EQ(Entry(WinIni(), "Sec", "other"), "x");
}

TEST_F(CISProfileTest, UnusableSectionsAndBuffersDoNothing) {
  const std::string s194(194, 's');
  for (const char* section : {"", static_cast<const char*>(nullptr), s194.c_str()}) {
    SCOPED_TRACE(section ? std::to_string(std::strlen(section)) : "null");
    char buffer[8] = "keep";
    EXPECT_EQ(CISGetProfileString(section, "k", "dflt", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "keep");
    EXPECT_EQ(CISGetProfileInt(section, "k", 42), 42);
    EXPECT_EQ(CISWriteProfileString(section, "k", "v"), 0);
    EXPECT_EQ(CISWriteProfileInt(section, "k", 1), 0);
    EXPECT_EQ(CISWritePrivateProfileInt(section, "k", 1, "Named.ini"), 0);
  }
  EXPECT_FALSE(cstest::FileExists(WinIni()));
  EXPECT_FALSE(cstest::FileExists(WinFile("Named.ini")));

  // A buffer that is null, cannot be written or has no room is left alone.
  ASSERT_EQ(CISWriteProfileString("Sec", "k", "value"), 1);
  cstest::MappedPages readonly(1, PROT_READ);
  EXPECT_EQ(CISGetProfileString("Sec", "k", "dflt", nullptr, 8), 0);
  EXPECT_EQ(CISGetProfileString("Sec", "missing", "dflt", readonly.data(), 8), 0);
  char buffer[8] = "keep";
  EXPECT_EQ(CISGetProfileString("Sec", "k", "dflt", buffer, 0), 0);
  EXPECT_EQ(CISGetProfileString("Sec", "k", "dflt", buffer, -5), 0);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(CISGetPrivateProfileString("Sec", "k", "dflt", buffer, 8, nullptr), 0);
}

TEST_F(CISProfileTest, PrivateFormsFindTheirFile) {
  cstest::TempDir elsewhere;
  const std::string full = elsewhere.File("Private.ini");
  char buffer[16];
  {
    ScopedEnv family("CSLIB_OS_FAMILY", "winnt");
    EXPECT_EQ(CISWritePrivateProfileString("Sec", "k", "nt", full.c_str()), 1);
    EXPECT_EQ(Entry(WinFile("Private.ini"), "Sec", "k"), "nt");
    EXPECT_EQ(CISGetPrivateProfileString("Sec", "k", "", buffer, sizeof buffer,
                                         "C:\\Some\\Where\\Private.ini"),
              2);
    EXPECT_STREQ(buffer, "nt");
    EXPECT_EQ(CISWritePrivateProfileInt("Sec", "n", 258, "Private.ini"), 1);
    EXPECT_EQ(CISGetPrivateProfileInt("Sec", "n", 0, full.c_str()), 258);
  }
  ScopedEnv family("CSLIB_OS_FAMILY", "win9x");
  EXPECT_EQ(CISWritePrivateProfileString("Sec", "k", "9x", full.c_str()), 1);
  EXPECT_EQ(Entry(full, "Sec", "k"), "9x");
  EXPECT_EQ(CISGetPrivateProfileString("Sec", "k", "", buffer, sizeof buffer, full.c_str()), 2);
  EXPECT_STREQ(buffer, "9x");
  EXPECT_EQ(CISGetPrivateProfileInt("Sec", "n", -3, full.c_str()), -3);
  EXPECT_EQ(ReadFile(WinFile("Private.ini")), "[Sec]\nk=nt\nn=02010000\n");
}

}  // namespace
