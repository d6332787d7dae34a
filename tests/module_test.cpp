// Libraries and resources: loading the test module by path and, on Windows NT
// only, by bare name from the driver directory; procedures found and missing;
// handles never handed out; the module's strings and bytes read back exactly.
#include <cslib.h>
#include <sys/mman.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "support/testenv.h"

namespace {

using cstest::ScopedEnv;

std::string ModulePath() {
  return CSLIB_TEST_MODULE;
}

std::string FileBytes(const char* name) {
  return cstest::ReadFile(std::string(CSLIB_TEST_SOURCE_DIR "/resources/") + name);
}

// The test module, loaded by path for one test.
class Module : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string path = ModulePath();
    ASSERT_EQ(CSLoadLibrary(path.data(), &module_), CSOk);
    ASSERT_NE(module_, 0ul);
  }
  void TearDown() override { EXPECT_EQ(CSFreeLibrary(module_), CSOk); }
  unsigned long module_ = 0;
};

TEST_F(Module, ProceduresFoundAndMissing) {
  int (*proc)() = nullptr;
  char answer[] = "CSTestModuleAnswer";
  ASSERT_EQ(CSGetProcAddress(module_, answer, &proc), CSOk);
  ASSERT_NE(proc, nullptr);
  EXPECT_EQ(proc(), 42);

  // Missing, only defined by a library the module uses, or asked of no module:
  // -2802 and a null procedure.
  char missing[] = "CSTestModuleNoSuchThing";
  char fromLibc[] = "malloc";
  char empty[] = "";
  struct Case {
    unsigned long module;
    char* name;
  } cases[] = {{module_, missing}, {module_, fromLibc}, {module_, empty},
               {module_, nullptr}, {0, answer},         {module_ + 8, answer}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "null");
    proc = reinterpret_cast<int (*)()>(&answer);
    EXPECT_EQ(CSGetProcAddress(c.module, c.name, &proc), CSErrProcNotFound);
    EXPECT_EQ(proc, nullptr);
  }
  EXPECT_EQ(CSGetProcAddress(module_, answer, nullptr), CSErrProcNotFound);
}

TEST_F(Module, StringsComeBackExactly) {
  struct Case {
    unsigned long id;
    const char* text;
  } cases[] = {
      {1, "Hello, printer"},
      {2, "Tab\there; \"quoted\" [bracketed] back\\slash\nnext line"},
      {7, "id seven"},
      {65535, "last id"},
      {0x10001, "Hello, printer"},  // string ids are 16 bits
      {3, ""},
      {4, ""},  // no such string
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CSLoadString(module_, c.id, buffer, sizeof buffer), std::strlen(c.text));
    EXPECT_STREQ(buffer, c.text);
  }
}

TEST_F(Module, AStringIsCutToTheBuffer) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CSLoadString(module_, 1, buffer, 6), 5);
  EXPECT_STREQ(buffer, "Hello");
  EXPECT_EQ(buffer[6], 'x');
  EXPECT_EQ(CSLoadString(module_, 1, buffer, 1), 0);
  EXPECT_STREQ(buffer, "");
  buffer[0] = 'x';
  EXPECT_EQ(CSLoadString(module_, 1, buffer, 0), 0);
  EXPECT_EQ(buffer[0], 'x');
  cstest::MappedPages readOnly(1, PROT_READ);
  EXPECT_EQ(CSLoadString(module_, 1, readOnly.data(), 8), 0);
  EXPECT_EQ(CSLoadString(module_, 1, nullptr, 8), 0);
  EXPECT_EQ(CSLoadString(0, 1, buffer, sizeof buffer), 0);
}

TEST_F(Module, BinaryResourcesComeBackExactly) {
  const std::string allBytes = FileBytes("allbytes.bin");
  ASSERT_EQ(allBytes.size(), 512u);
  struct Case {
    const char* name;
    const char* type;
    std::string bytes;
  } cases[] = {
      {"Default", "PROFILE", allBytes},
      {"dEFAULT", "profile", allBytes},  // names match without regard to case
      {"#2", "PROFILE", allBytes},
      {reinterpret_cast<const char*>(2), "Profile", allBytes},
      {"#1", "#10", ""},
      {reinterpret_cast<const char*>(1), reinterpret_cast<const char*>(10), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<const void*>(c.name));
    const unsigned long info = CSFindResource(module_, c.name, c.type);
    ASSERT_NE(info, 0ul);
    EXPECT_EQ(CSSizeofResource(module_, info), c.bytes.size());
    const unsigned long data = CSLoadResource(module_, info);
    ASSERT_NE(data, 0ul);
    const unsigned char* bytes = CSLockResource(data);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), c.bytes.size()), c.bytes);
    EXPECT_EQ(CSUnlockResource(data), 0);
    EXPECT_EQ(CSFreeResource(data), 0);
  }
  // The two PROFILE resources are distinct.
  EXPECT_NE(CSFindResource(module_, "Default", "PROFILE"),
            CSFindResource(module_, "#2", "PROFILE"));
}

TEST_F(Module, ResourcesNotThereOrHandlesNotHandedOut) {
  int local = 0;
  const auto junk = reinterpret_cast<unsigned long>(&local);
  EXPECT_EQ(CSFindResource(module_, "Missing", "PROFILE"), 0ul);
  EXPECT_EQ(CSFindResource(module_, "Default", "OTHER"), 0ul);
  EXPECT_EQ(CSFindResource(module_, "#3", "PROFILE"), 0ul);
  EXPECT_EQ(CSFindResource(module_, "#1", "PROFILE"), 0ul);
  EXPECT_EQ(CSFindResource(module_, nullptr, "PROFILE"), 0ul);
  EXPECT_EQ(CSFindResource(module_, "Default", nullptr), 0ul);
  EXPECT_EQ(CSFindResource(0, "Default", "PROFILE"), 0ul);
  EXPECT_EQ(CSFindResource(junk, "Default", "PROFILE"), 0ul);

  const unsigned long info = CSFindResource(module_, "Default", "PROFILE");
  ASSERT_NE(info, 0ul);
  const unsigned long data = CSLoadResource(module_, info);
  for (unsigned long bad : {0ul, 1ul, junk, info + 1, data}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(CSSizeofResource(module_, bad), 0ul);
    EXPECT_EQ(CSLoadResource(module_, bad), 0ul);
  }
  EXPECT_EQ(CSSizeofResource(junk, info), 0ul);
  EXPECT_EQ(CSLoadResource(0, info), 0ul);
  for (unsigned long bad : {0ul, 1ul, junk, info, data + 1}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(CSLockResource(bad), nullptr);
  }
  EXPECT_EQ(CSUnlockResource(junk), 0);
}

TEST(Library, HandlesNeverHandedOutFail) {
  int local = 0;
  for (unsigned long bad : {0ul, 1ul, ~0ul, reinterpret_cast<unsigned long>(&local)}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(CSFreeLibrary(bad), CSErrFreeLibrary);
  }
}

TEST(Library, LoadsCountAndTheLastFreeUnloads) {
  std::string path = ModulePath();
  unsigned long first = 0, second = 0;
  ASSERT_EQ(CSLoadLibrary(path.data(), &first), 0);
  ASSERT_EQ(CSDrvLoadLibrary(path.data(), &second), 0);
  EXPECT_EQ(first, second);
  const unsigned long info = CSFindResource(first, "Default", "PROFILE");
  const unsigned long data = CSLoadResource(first, info);
  EXPECT_EQ(CSFreeLibrary(first), 0);
  EXPECT_NE(CSLockResource(data), nullptr);  // still loaded once
  EXPECT_EQ(CSFreeLibrary(first), 0);
  EXPECT_EQ(CSFreeLibrary(first), CSErrFreeLibrary);
  // Nothing of an unloaded module is reachable any more.
  EXPECT_EQ(CSLockResource(data), nullptr);
  EXPECT_EQ(CSSizeofResource(first, info), 0ul);
  char buffer[16];
  EXPECT_EQ(CSLoadString(first, 1, buffer, sizeof buffer), 0);
}

TEST(Library, LoadFailuresLeaveTheHandleAlone) {
  std::string path = ModulePath();
  char missing[] = "/no/such/dir/libnothing.so";
  char notAModule[] = CSLIB_TEST_SOURCE_DIR "/resources/testmodule.rc";
  char empty[] = "";
  unsigned long module = 77;
  EXPECT_EQ(CSLoadLibrary(missing, &module), CSErrLoadLibrary);
  EXPECT_EQ(CSLoadLibrary(notAModule, &module), CSErrLoadLibrary);
  EXPECT_EQ(CSLoadLibrary(empty, &module), CSErrLoadLibrary);
  EXPECT_EQ(CSLoadLibrary(nullptr, &module), CSErrLoadLibrary);
  EXPECT_EQ(module, 77ul);
  EXPECT_EQ(CSLoadLibrary(path.data(), nullptr), CSErrLoadLibrary);
}

// A bare name lying only in the driver directory loads on Windows NT alone.
class DriverDirectoryLibrary : public cstest::WinDirTest {};

TEST_F(DriverDirectoryLibrary, BareNameFallsBackOnWindowsNTOnly) {
  const std::string name = cstest::UniqueName("libcsdrv") + ".so";
  const std::string dir = WinDir() + "/system32/spool/drivers/w32x86/2";
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(ModulePath(), dir + "/" + name);
  struct Case {
    const char* family;
    long result;
  } cases[] = {{"winnt", CSOk},
               {"win9x", CSErrLoadLibrary},
               {"win32s", CSErrLoadLibrary},
               {nullptr, CSErrLoadLibrary}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family ? c.family : "unset");
    ScopedEnv family("CSLIB_OS_FAMILY", c.family);
    std::string bare = name;
    unsigned long module = 0;
    ASSERT_EQ(CSLoadLibrary(bare.data(), &module), c.result);
    if (c.result != CSOk) {
      EXPECT_EQ(module, 0ul);
      continue;
    }
    char buffer[32];
    EXPECT_EQ(CSLoadString(module, 7, buffer, sizeof buffer), 8);
    EXPECT_STREQ(buffer, "id seven");
    EXPECT_EQ(CSFreeLibrary(module), CSOk);
  }
}

}  // namespace
