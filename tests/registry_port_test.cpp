// The registry stand-in: keys, values, listing order, deletion, handles, databases per
// root, and sharing between threads and processes (a killed writer loses nothing).
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "port/registry.h"
#include "support/child.h"
#include "support/testenv.h"

namespace {

using namespace cslib::port;
using cstest::Child;
using cstest::ScopedEnv;

const RegHandle kMachine = RootHandle(kRegLocalMachine);
const RegHandle kUser = RootHandle(kRegCurrentUser);

// A handle closed at the end of the scope.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (h_) CloseRegistryKey(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  RegHandle* out() { return &h_; }
  RegHandle get() const { return h_; }

 private:
  RegHandle h_ = nullptr;
};

long SetString(RegHandle key, const char* name, const std::string& text) {
  return SetRegistryValue(key, name, kRegSz, text.c_str(), text.size() + 1);
}

std::string GetString(RegHandle key, const char* name) {
  char buf[256] = {};
  unsigned long size = sizeof buf;
  unsigned long type = 0;
  if (QueryRegistryValue(key, name, &type, buf, &size) != kRegSuccess || type != kRegSz)
    return "<missing>";
  return std::string(buf);
}

std::vector<std::string> Subkeys(RegHandle key) {
  std::vector<std::string> names;
  char buf[256];
  for (unsigned long i = 0; EnumRegistrySubkey(key, i, buf, sizeof buf) == kRegSuccess; ++i)
    names.push_back(buf);
  return names;
}

class RegistryPort : public cstest::WinDirTest {};

TEST_F(RegistryPort, KeyNamesMatchWithoutCaseAndKeepTheirCase) {
  Key made, opened, missing;
  bool created = false;
  ASSERT_EQ(CreateRegistryKey(kMachine, "Software\\Example", made.out(), &created), kRegSuccess);
  EXPECT_TRUE(created);
  Key again;
  ASSERT_EQ(CreateRegistryKey(kMachine, "SOFTWARE\\example", again.out(), &created), kRegSuccess);
  EXPECT_FALSE(created);
  ASSERT_EQ(SetString(made.get(), "v", "1"), kRegSuccess);
  ASSERT_EQ(OpenRegistryKey(kMachine, "software\\EXAMPLE", opened.out()), kRegSuccess);
  EXPECT_EQ(GetString(opened.get(), "V"), "1");
  EXPECT_EQ(Subkeys(kMachine), std::vector<std::string>{"Software"});

  EXPECT_EQ(OpenRegistryKey(kMachine, "Software\\Other", missing.out()), kRegFileNotFound);
  EXPECT_EQ(missing.get(), nullptr);
}

TEST_F(RegistryPort, PathSyntax) {
  Key base, deep;
  ASSERT_EQ(CreateRegistryKey(kMachine, "A\\B\\C\\D\\E", deep.out(), nullptr), kRegSuccess);
  ASSERT_EQ(OpenRegistryKey(kMachine, "A\\B", base.out()), kRegSuccess);
  struct Case {
    const char* path;
    long open;
  } cases[] = {
      {"A\\B", kRegSuccess},          {"A\\B\\", kRegSuccess},
      {"a\\b\\c\\d\\e", kRegSuccess}, {"A\\B\\C\\D", kRegSuccess},
      {"A\\X\\C", kRegFileNotFound},  {"A\\B\\C\\X\\E", kRegFileNotFound},
      {"A\\B\\Z", kRegFileNotFound},  {"\\A\\B", kRegBadPathname},
      {"A\\\\B", kRegBadPathname},    {"A\\B\\\\", kRegBadPathname},
      {"\\", kRegBadPathname},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Key k;
    EXPECT_EQ(OpenRegistryKey(kMachine, c.path, k.out()), c.open);
  }
  // The parent itself, through a null or empty path, as a handle of its own.
  Key self1, self2;
  ASSERT_EQ(OpenRegistryKey(base.get(), nullptr, self1.out()), kRegSuccess);
  ASSERT_EQ(OpenRegistryKey(base.get(), "", self2.out()), kRegSuccess);
  EXPECT_NE(self1.get(), base.get());
  ASSERT_EQ(SetString(self1.get(), "x", "same key"), kRegSuccess);
  EXPECT_EQ(GetString(self2.get(), "x"), "same key");

  const std::string longest(kRegMaxKeyName, 'n');
  Key ok, too_long;
  EXPECT_EQ(CreateRegistryKey(kMachine, longest.c_str(), ok.out(), nullptr), kRegSuccess);
  EXPECT_EQ(CreateRegistryKey(kMachine, (longest + "n").c_str(), too_long.out(), nullptr),
            kRegInvalidParameter);
}

TEST_F(RegistryPort, ValuesKeepTypeAndBytesExactly) {
  Key k;
  ASSERT_EQ(CreateRegistryKey(kUser, "Values", k.out(), nullptr), kRegSuccess);
  const unsigned char binary[] = {0, 1, 0, 0xff, 'x'};
  const unsigned char dword[] = {0x78, 0x56, 0x34, 0x12};
  ASSERT_EQ(SetRegistryValue(k.get(), "bin", kRegBinary, binary, sizeof binary), kRegSuccess);
  ASSERT_EQ(SetRegistryValue(k.get(), "dw", kRegDword, dword, 4), kRegSuccess);
  ASSERT_EQ(SetRegistryValue(k.get(), "empty", 42, nullptr, 0), kRegSuccess);

  unsigned char buf[16];
  unsigned long type = 0, size = sizeof buf;
  ASSERT_EQ(QueryRegistryValue(k.get(), "BIN", &type, buf, &size), kRegSuccess);
  EXPECT_EQ(type, kRegBinary);
  ASSERT_EQ(size, sizeof binary);
  EXPECT_EQ(std::memcmp(buf, binary, size), 0);

  size = sizeof buf;
  ASSERT_EQ(QueryRegistryValue(k.get(), "empty", &type, buf, &size), kRegSuccess);
  EXPECT_EQ(type, 42u);
  EXPECT_EQ(size, 0u);

  // Too small a buffer: the size needed, and not a byte written.
  std::memset(buf, 0xAA, sizeof buf);
  size = 3;
  EXPECT_EQ(QueryRegistryValue(k.get(), "dw", &type, buf, &size), kRegMoreData);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(buf[0], 0xAA);
  // No buffer: only the size.
  size = 0;
  EXPECT_EQ(QueryRegistryValue(k.get(), "dw", nullptr, nullptr, &size), kRegSuccess);
  EXPECT_EQ(size, 4u);

  // Overwriting replaces type and bytes.
  ASSERT_EQ(SetString(k.get(), "DW", "now text"), kRegSuccess);
  EXPECT_EQ(GetString(k.get(), "dw"), "now text");

  size = sizeof buf;
  EXPECT_EQ(QueryRegistryValue(k.get(), "nothing", &type, buf, &size), kRegFileNotFound);
}

TEST_F(RegistryPort, UnnamedValueIsNullOrEmptyName) {
  Key k;
  ASSERT_EQ(CreateRegistryKey(kMachine, "U", k.out(), nullptr), kRegSuccess);
  ASSERT_EQ(SetString(k.get(), nullptr, "default"), kRegSuccess);
  EXPECT_EQ(GetString(k.get(), ""), "default");
  EXPECT_EQ(DeleteRegistryValue(k.get(), ""), kRegSuccess);
  EXPECT_EQ(GetString(k.get(), nullptr), "<missing>");
  EXPECT_EQ(DeleteRegistryValue(k.get(), nullptr), kRegFileNotFound);
}

TEST_F(RegistryPort, SubkeysListInOrderOfUpperCasedNames) {
  Key parent;
  ASSERT_EQ(CreateRegistryKey(kMachine, "List", parent.out(), nullptr), kRegSuccess);
  for (const char* name : {"b", "_x", "Zeta", "a1", "A", "[", "9"}) {
    Key k;
    ASSERT_EQ(CreateRegistryKey(parent.get(), name, k.out(), nullptr), kRegSuccess) << name;
  }
  // '[' and '_' lie between 'Z' and 'a': after the upper-cased letters.
  EXPECT_EQ(Subkeys(parent.get()),
            (std::vector<std::string>{"9", "A", "a1", "b", "Zeta", "[", "_x"}));

  char small[4];
  EXPECT_EQ(EnumRegistrySubkey(parent.get(), 4, small, sizeof small), kRegMoreData);  // "Zeta"
  EXPECT_EQ(EnumRegistrySubkey(parent.get(), 1, small, sizeof small), kRegSuccess);
  EXPECT_STREQ(small, "A");
  EXPECT_EQ(EnumRegistrySubkey(parent.get(), 7, small, sizeof small), kRegNoMoreItems);
}

TEST_F(RegistryPort, DeletingKeys) {
  Key a, ab;
  ASSERT_EQ(CreateRegistryKey(kMachine, "A\\B", ab.out(), nullptr), kRegSuccess);
  ASSERT_EQ(OpenRegistryKey(kMachine, "A", a.out()), kRegSuccess);
  ASSERT_EQ(SetString(ab.get(), "v", "gone with B"), kRegSuccess);

  EXPECT_EQ(DeleteRegistryKey(kMachine, "A"), kRegAccessDenied);
  EXPECT_EQ(Subkeys(a.get()), std::vector<std::string>{"B"});
  EXPECT_EQ(DeleteRegistryKey(kMachine, "A\\Missing"), kRegFileNotFound);
  EXPECT_EQ(DeleteRegistryKey(kMachine, ""), kRegInvalidParameter);
  EXPECT_EQ(DeleteRegistryKey(a.get(), "b"), kRegSuccess);
  EXPECT_EQ(Subkeys(a.get()), std::vector<std::string>{});

  // The handle on the deleted key no longer reaches anything, not even a new key of the
  // same name, and nothing written through it survives.
  EXPECT_EQ(SetString(ab.get(), "v", "x"), kRegKeyDeleted);
  Key stale;
  EXPECT_EQ(CreateRegistryKey(ab.get(), "C", stale.out(), nullptr), kRegKeyDeleted);
  Key again;
  ASSERT_EQ(CreateRegistryKey(kMachine, "A\\B", again.out(), nullptr), kRegSuccess);
  EXPECT_EQ(GetString(again.get(), "v"), "<missing>");
  unsigned long size = 0;
  EXPECT_EQ(QueryRegistryValue(ab.get(), "v", nullptr, nullptr, &size), kRegKeyDeleted);
  EXPECT_EQ(DeleteRegistryKey(kMachine, "A"), kRegAccessDenied);
}

TEST_F(RegistryPort, HandlesAreChecked) {
  Key k;
  ASSERT_EQ(CreateRegistryKey(kMachine, "H", k.out(), nullptr), kRegSuccess);
  RegHandle h = nullptr;
  ASSERT_EQ(OpenRegistryKey(kMachine, "H", &h), kRegSuccess);
  EXPECT_EQ(CloseRegistryKey(h), kRegSuccess);
  EXPECT_EQ(CloseRegistryKey(h), kRegInvalidHandle);
  EXPECT_EQ(SetString(h, "v", "x"), kRegInvalidHandle);
  char name[8];
  EXPECT_EQ(EnumRegistrySubkey(h, 0, name, sizeof name), kRegInvalidHandle);
  RegHandle junk = reinterpret_cast<RegHandle>(std::uintptr_t{0x1234});
  RegHandle out = nullptr;
  EXPECT_EQ(OpenRegistryKey(junk, "H", &out), kRegInvalidHandle);
  EXPECT_EQ(OpenRegistryKey(nullptr, "H", &out), kRegInvalidHandle);
  EXPECT_EQ(CloseRegistryKey(kMachine), kRegSuccess);
  EXPECT_EQ(OpenRegistryKey(kMachine, "H", nullptr), kRegInvalidParameter);
}

TEST_F(RegistryPort, EachRootHasItsOwnDatabaseInTheCurrentWindowsDirectory) {
  // Reading creates nothing.
  Key none;
  EXPECT_EQ(OpenRegistryKey(kMachine, "K", none.out()), kRegFileNotFound);
  char name[8];
  EXPECT_EQ(EnumRegistrySubkey(kMachine, 0, name, sizeof name), kRegNoMoreItems);
  EXPECT_FALSE(cstest::FileExists(WinFile("registry")));

  const std::uintptr_t roots[] = {kRegLocalMachine, kRegCurrentUser, kRegUsers, kRegClassesRoot};
  for (std::uintptr_t r : roots) {
    Key k;
    ASSERT_EQ(CreateRegistryKey(RootHandle(r), "K", k.out(), nullptr), kRegSuccess);
    ASSERT_EQ(SetString(k.get(), "root", std::to_string(r)), kRegSuccess);
  }
  for (std::uintptr_t r : roots) {
    Key k;
    ASSERT_EQ(OpenRegistryKey(RootHandle(r), "K", k.out()), kRegSuccess);
    EXPECT_EQ(GetString(k.get(), "root"), std::to_string(r));
  }
  EXPECT_TRUE(cstest::FileExists(WinFile("registry/machine.db")));
  EXPECT_TRUE(cstest::FileExists(WinFile("registry/users.db")));
  EXPECT_TRUE(cstest::FileExists(WinFile("registry/classes.db")));
  EXPECT_TRUE(cstest::FileExists(WinFile("registry/user-" + std::to_string(getuid()) + ".db")));

  // Another Windows directory is another registry, from the next call on.
  cstest::TempDir other;
  ScopedEnv windir("CSLIB_WINDIR", other.path().c_str());
  Key k;
  EXPECT_EQ(OpenRegistryKey(kMachine, "K", k.out()), kRegFileNotFound);
}

TEST_F(RegistryPort, ThreadsShareTheDatabase) {
  Key k;
  ASSERT_EQ(CreateRegistryKey(kMachine, "Threads", k.out(), nullptr), kRegSuccess);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      Key mine;
      if (OpenRegistryKey(kMachine, "Threads", mine.out()) != kRegSuccess) return;
      for (int i = 0; i < 50; ++i) {
        const std::string name = std::to_string(t) + "-" + std::to_string(i);
        SetString(mine.get(), name.c_str(), name);
      }
    });
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 50; ++i) {
      const std::string name = std::to_string(t) + "-" + std::to_string(i);
      EXPECT_EQ(GetString(k.get(), name.c_str()), name);
    }
}

TEST_F(RegistryPort, ForkedChildUsesItsOwnConnection) {
  Key k;
  ASSERT_EQ(CreateRegistryKey(kMachine, "Fork", k.out(), nullptr), kRegSuccess);
  ASSERT_EQ(SetString(k.get(), "parent", "before"), kRegSuccess);
  Child child([] {
    Key mine;
    if (CreateRegistryKey(kMachine, "Fork", mine.out(), nullptr) != kRegSuccess) return 1;
    if (GetString(mine.get(), "parent") != "before") return 2;
    return SetString(mine.get(), "child", "written") == kRegSuccess ? 0 : 3;
  });
  ASSERT_EQ(child.Wait(), 0);
  EXPECT_EQ(GetString(k.get(), "child"), "written");
  ASSERT_EQ(SetString(k.get(), "parent", "after"), kRegSuccess);
  EXPECT_EQ(GetString(k.get(), "parent"), "after");
}

// Each process remembers the key look-ups it made; a key deleted and made again by
// another process must be seen as the new key, also after a deleter died midway.
TEST_F(RegistryPort, LookupsFollowKeysDeletedByOtherProcesses) {
  auto replace_in_child = [](const char* text) {
    Child child([text] {
      if (DeleteRegistryKey(kMachine, "Seen\\Twice") != kRegSuccess) return 1;
      Key k;
      if (CreateRegistryKey(kMachine, "Seen\\Twice", k.out(), nullptr) != kRegSuccess) return 2;
      return SetString(k.get(), "v", text) == kRegSuccess ? 0 : 3;
    });
    return child.Wait();
  };
  // Value "v" of the key as a fresh look-up finds it.
  auto looked_up = [] {
    Key k;
    if (OpenRegistryKey(kMachine, "Seen\\Twice", k.out()) != kRegSuccess)
      return std::string("<no key>");
    return GetString(k.get(), "v");
  };
  Key first;
  ASSERT_EQ(CreateRegistryKey(kMachine, "Seen\\Twice", first.out(), nullptr), kRegSuccess);
  ASSERT_EQ(SetString(first.get(), "v", "old"), kRegSuccess);
  EXPECT_EQ(looked_up(), "old");
  EXPECT_EQ(looked_up(), "old");  // from memory
  ASSERT_EQ(replace_in_child("new"), 0);
  EXPECT_EQ(looked_up(), "new");
  EXPECT_EQ(SetString(first.get(), "v", "lost"), kRegKeyDeleted);

  // A deleter killed between its two counts: nothing is trusted from memory until the
  // next deletion completes, and every answer stays right meanwhile.
  const std::string seq = WinFile("registry/machine.db-seq");
  std::string counts = cstest::ReadFile(seq);
  ASSERT_EQ(counts.size(), 16u);
  counts[0] = static_cast<char>(counts[0] + 1);
  cstest::WriteFile(seq, counts);
  ASSERT_EQ(replace_in_child("newer"), 0);
  EXPECT_EQ(looked_up(), "newer");
  EXPECT_EQ(looked_up(), "newer");
  ASSERT_EQ(replace_in_child("newest"), 0);
  EXPECT_EQ(looked_up(), "newest");
}

TEST_F(RegistryPort, KilledWriterLosesNothingCommitted) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Child writer([&] {
    close(fds[0]);
    Key k;
    if (CreateRegistryKey(kMachine, "Crash", k.out(), nullptr) != kRegSuccess) return 1;
    for (int i = 0;; ++i) {
      const std::string name = "v" + std::to_string(i);
      if (SetString(k.get(), name.c_str(), std::string(100, 'x') + name) != kRegSuccess) return 2;
      // Reported only once committed.
      if (write(fds[1], &i, sizeof i) != sizeof i) return 3;
    }
  });
  close(fds[1]);
  int last = -1, i = 0;
  while (last < 300 && read(fds[0], &i, sizeof i) == sizeof i) last = i;
  writer.Kill(SIGKILL);
  while (read(fds[0], &i, sizeof i) == sizeof i) last = i;
  close(fds[0]);
  EXPECT_EQ(writer.Wait(), 128 + SIGKILL);
  ASSERT_GE(last, 300);

  Key k;
  ASSERT_EQ(OpenRegistryKey(kMachine, "Crash", k.out()), kRegSuccess);
  for (int v = 0; v <= last; ++v) {
    const std::string name = "v" + std::to_string(v);
    ASSERT_EQ(GetString(k.get(), name.c_str()), std::string(100, 'x') + name);
  }
  EXPECT_EQ(SetString(k.get(), "after", "still writable"), kRegSuccess);
}

}  // namespace
