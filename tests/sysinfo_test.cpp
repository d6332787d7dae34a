// System information: the processor class and x87 unit of this machine, and the
// printer-driver directory for each operating-system family.
#include <cslib.h>
#include <sys/mman.h>

#include <cstring>
#include <string>

#include "platform/driver_directory.h"
#include "support/testenv.h"

namespace {

using cstest::MappedPages;
using cstest::ScopedEnv;

TEST(SystemInfo, ProcessorOfThisMachine) {
#if defined(__x86_64__)
  // Every x86-64 processor has MMX and an x87 unit.
  EXPECT_EQ(CSSystemArchitecture(), SysArchX86Mmx);
  EXPECT_EQ(CSHaveFloatingPoint(), 1);
#elif defined(__i386__)
  EXPECT_GE(CSSystemArchitecture(), SysArch386);
  EXPECT_LE(CSSystemArchitecture(), SysArchX86Mmx);
#else
  EXPECT_EQ(CSSystemArchitecture(), SysArchNotX86);
  EXPECT_EQ(CSHaveFloatingPoint(), 0);
#endif
}

#if defined(__i386__) || defined(__x86_64__)
// The test initialises the unit, but the caller's control word (here: rounding
// toward zero, double precision) survives it.
TEST(SystemInfo, FloatingPointTestKeepsTheCallersX87State) {
  unsigned short original = 0, changed = 0, after = 0;
  __asm__ volatile("fnstcw %0" : "=m"(original));
  const unsigned short mine = static_cast<unsigned short>((original & ~0x0F00) | 0x0E00);
  __asm__ volatile("fldcw %0" : : "m"(mine));
  __asm__ volatile("fnstcw %0" : "=m"(changed));
  EXPECT_EQ(CSHaveFloatingPoint(), 1);
  __asm__ volatile("fnstcw %0" : "=m"(after));
  __asm__ volatile("fldcw %0" : : "m"(original));
  EXPECT_EQ(changed, mine);
  EXPECT_EQ(after, mine);
}
#endif

TEST(DriverDirectory, ForEachFamily) {
  struct Case {
    const char* system;
    unsigned long platform;
    const char* path;
  } cases[] = {
      {"C:\\WINNT\\system32", 2, "C:\\WINNT\\system32/spool/drivers/w32x86/2"},
      {"/win/system32", 2, "/win/system32/spool/drivers/w32x86/2"},
      {"/win/system32/", 2, "/win/system32/spool/drivers/w32x86/2"},
      {"C:\\WINNT\\system32\\", 2, "C:\\WINNT\\system32\\spool/drivers/w32x86/2"},
      {"/win/system32", 1, "/win/system32"},
      {"/win/system32", 0, "/win/system32"},
      {"/win/system32", 3, "/win/system32"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.system) + " platform " + std::to_string(c.platform));
    const std::size_t n = std::strlen(c.system) + 1;
    const unsigned short needed = cslib::ComposeDriverDirectory(c.system, c.platform, nullptr);
    EXPECT_EQ(needed, c.platform == 2 ? n + 23 : n);
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(cslib::ComposeDriverDirectory(c.system, c.platform, buffer), std::strlen(c.path));
    EXPECT_STREQ(buffer, c.path);
  }
  // The example of a Windows NT machine: length 40, size 41.
  EXPECT_EQ(cslib::ComposeDriverDirectory("C:\\WINNT\\system32", 2, nullptr), 41);
}

// The buffer must be writable over the reported size plus one byte; one byte less,
// against a page that cannot be written, gives 0 and leaves the buffer untouched.
TEST(DriverDirectory, BufferOneByteShort) {
  MappedPages pages(2, PROT_READ | PROT_WRITE);
  const std::size_t page = MappedPages::PageSize();
  ASSERT_EQ(mprotect(pages.data() + page, page, PROT_NONE), 0);
  for (unsigned long platform : {2ul, 1ul}) {
    SCOPED_TRACE(platform);
    const std::string system = "/win/system32";
    const std::size_t needed = cslib::ComposeDriverDirectory(system, platform, nullptr);
    char* fits = pages.data() + page - (needed + 1);
    EXPECT_EQ(cslib::ComposeDriverDirectory(system, platform, fits), needed - 1);
    char* short_by_one = pages.data() + page - needed;
    std::memset(short_by_one, 'x', needed);
    EXPECT_EQ(cslib::ComposeDriverDirectory(system, platform, short_by_one), 0);
    EXPECT_EQ(std::string(short_by_one, needed), std::string(needed, 'x'));
  }
  EXPECT_EQ(cslib::ComposeDriverDirectory("/win", 2, pages.data() + page), 0);
}

TEST(DriverDirectory, SizeBeyondWhatTheResultCarriesIsRefused) {
  const std::string system(0xFFFF - 23, 'd');  // N + 23 is one past 0xFFFF
  EXPECT_EQ(cslib::ComposeDriverDirectory(system, 2, nullptr), 0);
  EXPECT_EQ(cslib::ComposeDriverDirectory(system, 1, nullptr), 0xFFFF - 22);
}

class DriverDirectoryOfTheMachine : public cstest::WinDirTest {};

TEST_F(DriverDirectoryOfTheMachine, FollowsTheWindowsDirectoryAndFamily) {
  struct Case {
    const char* family;
    std::string path;
  } cases[] = {
      {"winnt", WinDir() + "/system32/spool/drivers/w32x86/2"},
      {"win9x", WinDir() + "/system32"},
      {"win32s", WinDir() + "/system32"},
      {nullptr, WinDir() + "/system32"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family ? c.family : "unset");
    ScopedEnv family("CSLIB_OS_FAMILY", c.family);
    EXPECT_EQ(CSGetPrinterDriverDirectory(nullptr), c.path.size() + 1);
    std::string buffer(c.path.size() + 1, 'x');
    EXPECT_EQ(CSGetPrinterDriverDirectory(buffer.data()), c.path.size());
    EXPECT_EQ(buffer.c_str(), c.path);
  }
}

}  // namespace
