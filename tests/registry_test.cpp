// The registry store: key lists and roots, following a changed key list, RegKey,
// storing, reading, listing and deleting through CISReg, and two processes writing
// one key at once.
#include "port/registry.h"

#include <cslib.h>
#include <sys/mman.h>

#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

#include "support/allocfail.h"
#include "support/child.h"
#include "support/testenv.h"

namespace {

namespace port = cslib::port;
using cstest::Child;
using cstest::MappedPages;

constexpr const char* kMachine = "HKEY_LOCAL_MACHINE";

void Fill(CISStringList& list, std::initializer_list<const char*> entries) {
  for (const char* e : entries) ASSERT_EQ(list.Add(e), CISStrOk) << e;
}

// Whether `path` exists below a root, asked of the registry directly.
bool Exists(std::uintptr_t root, const char* path) {
  port::RegHandle key = nullptr;
  if (port::OpenRegistryKey(port::RootHandle(root), path, &key) != port::kRegSuccess) return false;
  port::CloseRegistryKey(key);
  return true;
}

bool Exists(const char* path) {
  return Exists(port::kRegLocalMachine, path);
}

void MakeKey(const char* path) {
  port::RegHandle key = nullptr;
  ASSERT_EQ(port::CreateRegistryKey(port::RootHandle(port::kRegLocalMachine), path, &key, nullptr),
            port::kRegSuccess);
  port::CloseRegistryKey(key);
}

// The type and bytes of a value, asked of the registry directly.
bool RawValue(const char* path, const char* name, unsigned long* type, std::string* bytes) {
  port::RegHandle key = nullptr;
  if (port::OpenRegistryKey(port::RootHandle(port::kRegLocalMachine), path, &key) !=
      port::kRegSuccess)
    return false;
  char buf[512];
  unsigned long size = sizeof buf;
  const long rc = port::QueryRegistryValue(key, name, type, buf, &size);
  port::CloseRegistryKey(key);
  if (rc != port::kRegSuccess) return false;
  bytes->assign(buf, size);
  return true;
}

std::string GetString(CISReg& reg, const char* name) {
  char buf[128] = {};
  const CISRegErr r = reg.Retrieve(name, buf, sizeof buf - 1, nullptr);
  return r == CISRegOk ? std::string(buf) : "<" + std::to_string(r) + ">";
}

std::vector<std::string> Names(CISStringList& list) {
  std::vector<std::string> names;
  for (int i = 1; i <= list.Count(); ++i) names.push_back(list.Find(static_cast<unsigned char>(i)));
  return names;
}

class RegistryStore : public cstest::WinDirTest {};

TEST_F(RegistryStore, KeyListSyntax) {
  MakeKey("Software\\Example");
  struct Case {
    std::initializer_list<const char*> entries;
    CISRegErr select;
    const char* key;  // where Store(nullptr, ...) creates it
  } cases[] = {
      {{"Software", "Example", "Settings"}, CISRegOk, "Software\\Example\\Settings"},
      {{"Software\\", "Example\\", "Settings"}, CISRegOk, "Software\\Example\\Settings"},
      {{"\\Software", "\\Example\\", "\\Settings"}, CISRegOk, "Software\\Example\\Settings"},
      {{"Software\\Example", "Settings"}, CISRegOk, "Software\\Example\\Settings"},
      {{"Software", "Example\\Settings"}, CISRegOk, "Software\\Example\\Settings"},
      {{"Settings"}, CISRegOk, "Settings"},
      {{"\\Settings"}, CISRegOk, "Settings"},
      {{}, CISRegErrBadKeyList, nullptr},
      {{"\\"}, CISRegErrBadKeyList, nullptr},
      {{"Software", ""}, CISRegErrBadKeyList, nullptr},
      {{"Software", "Settings\\"}, CISRegErrBadKeyList, nullptr},
      {{"Software", "\\\\"}, CISRegErrBadKeyList, nullptr},
  };
  for (const Case& c : cases) {
    CISStringList list;
    Fill(list, c.entries);
    SCOPED_TRACE(std::to_string(list.Count()) + " entries, last " +
                 (list.Count() ? list.Find(0) : "none"));
    CISRegErr r = CISRegErrFailed;
    CISReg reg(&r, kMachine, &list);
    EXPECT_EQ(r, c.select);
    if (c.key) {
      EXPECT_EQ(reg.Store(nullptr, CISsamNormal), CISRegOk);
      EXPECT_TRUE(Exists(c.key));
      ASSERT_EQ(port::DeleteRegistryKey(port::RootHandle(port::kRegLocalMachine), c.key),
                port::kRegSuccess);
    } else {
      EXPECT_EQ(reg.Store(nullptr, CISsamNormal), c.select);
    }
  }
}

TEST_F(RegistryStore, RootNamesMatchExactly) {
  const struct {
    const char* name;
    std::uintptr_t root;
  } known[] = {{"HKEY_LOCAL_MACHINE", port::kRegLocalMachine},
               {"HKEY_CURRENT_USER", port::kRegCurrentUser},
               {"HKEY_USERS", port::kRegUsers},
               {"HKEY_CLASSES_ROOT", port::kRegClassesRoot}};
  CISStringList list;
  Fill(list, {"Rooted"});
  for (const auto& k : known) {
    SCOPED_TRACE(k.name);
    CISRegErr r = CISRegErrFailed;
    CISReg reg(&r, k.name, &list);
    ASSERT_EQ(r, CISRegOk);
    ASSERT_EQ(reg.Store("root", k.name, CISsamNormal), CISRegOk);
    port::RegHandle key = nullptr;
    ASSERT_EQ(port::OpenRegistryKey(port::RootHandle(k.root), "Rooted", &key), port::kRegSuccess);
    char buf[32] = {};
    unsigned long size = sizeof buf;
    EXPECT_EQ(port::QueryRegistryValue(key, "root", nullptr, buf, &size), port::kRegSuccess);
    EXPECT_STREQ(buf, k.name);
    port::CloseRegistryKey(key);
  }
  for (const char* bad : {"hkey_local_machine", "HKEY_LOCAL_MACHINE ", "HKEY_LOCAL_MACHINEX",
                          "HKEY_LOCAL", "", "HKEY_CURRENT_CONFIG"}) {
    SCOPED_TRACE(bad);
    CISRegErr r = CISRegOk;
    CISReg reg(&r, bad, &list);
    EXPECT_EQ(r, CISRegErrUnknownRoot);
    EXPECT_EQ(reg.Store("v", "x", CISsamNormal), CISRegErrUnknownRoot);
    CISStringList names;
    EXPECT_EQ(reg.Retrieve(&names), CISRegErrUnknownRoot);
    EXPECT_EQ(CISReg::KeyExists(bad, &list), 0);
  }
}

TEST_F(RegistryStore, FollowsTheCallersKeyListBetweenOperations) {
  MakeKey("App");
  CISStringList list;
  Fill(list, {"App", "One"});
  CISRegErr r = CISRegErrFailed;
  CISReg reg(&r, kMachine, &list);
  ASSERT_EQ(r, CISRegOk);
  ASSERT_EQ(reg.Store("v", "in one", CISsamNormal), CISRegOk);

  // A replaced last entry moves to the sibling, an added one a level down.
  ASSERT_EQ(list.Replace("Two"), CISStrOk);
  ASSERT_EQ(reg.Store("v", "in two", CISsamNormal), CISRegOk);
  ASSERT_EQ(list.Add("Deeper"), CISStrOk);
  ASSERT_EQ(reg.Store("v", "in deeper", CISsamNormal), CISRegOk);
  // Replacing the last entry by an equal text still counts as a change.
  ASSERT_EQ(list.Replace("Deeper"), CISStrOk);
  EXPECT_EQ(GetString(reg, "v"), "in deeper");

  std::string bytes;
  unsigned long type = 0;
  ASSERT_TRUE(RawValue("App\\One", "v", &type, &bytes));
  EXPECT_EQ(bytes, std::string("in one", 7));
  ASSERT_TRUE(RawValue("App\\Two", "v", &type, &bytes));
  EXPECT_EQ(bytes, std::string("in two", 7));
  ASSERT_TRUE(RawValue("App\\Two\\Deeper", "v", &type, &bytes));

  // A list made invalid is refused until it is corrected.
  ASSERT_EQ(list.Replace("Bad\\"), CISStrOk);
  EXPECT_EQ(reg.Store("v", "x", CISsamNormal), CISRegErrBadKeyList);
  EXPECT_EQ(GetString(reg, "v"), "<-723>");
  ASSERT_EQ(list.Replace(nullptr), CISStrOk);
  EXPECT_EQ(GetString(reg, "v"), "in two");

  // A copy follows the same list.
  CISRegErr r2 = CISRegErrFailed;
  CISStringList other;
  Fill(other, {"Elsewhere"});
  CISReg copy(&r2, kMachine, &other);
  copy = reg;
  ASSERT_EQ(list.Replace("One"), CISStrOk);
  EXPECT_EQ(GetString(copy, "v"), "in one");
}

TEST_F(RegistryStore, FailedSelectionSelectsNothing) {
  MakeKey("Kept");
  CISStringList good;
  Fill(good, {"Kept"});
  // Memory the size of a list that is not one: it fails the list's self-check.
  alignas(CISStringList) unsigned char not_a_list[sizeof(CISStringList)] = {};
  const auto* bogus = reinterpret_cast<const CISStringList*>(not_a_list);
  MappedPages none(1, PROT_NONE);
  const auto* unreadable = reinterpret_cast<const CISStringList*>(none.data());

  const struct {
    const char* what;
    const char* root;
    const CISStringList* list;
    CISRegErr select;
  } cases[] = {
      {"null list", kMachine, nullptr, CISRegErrBadArg},
      {"unreadable list", kMachine, unreadable, CISRegErrBadArg},
      {"null root", nullptr, &good, CISRegErrBadArg},
      {"list failing its self-check", kMachine, bogus, CISRegErrBadKeyList},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CISRegErr r = CISRegOk;
    CISReg fresh(&r, c.root, c.list);
    EXPECT_EQ(r, c.select);
    EXPECT_EQ(fresh.Store("v", "x", CISsamNormal), CISRegErrUnknownRoot);

    // A store that had a key does not go on with it after a failed selection.
    CISReg moved(&r, kMachine, &good);
    ASSERT_EQ(r, CISRegOk);
    EXPECT_EQ(moved.SelectSection(c.root, c.list), c.select);
    EXPECT_EQ(moved.Store("v", "x", CISsamNormal), CISRegErrUnknownRoot);
    EXPECT_EQ(GetString(moved, "v"), "<-724>");
    EXPECT_EQ(moved.SelectSection(kMachine, &good), CISRegOk);
    EXPECT_EQ(moved.Store("v", "back", CISsamNormal), CISRegOk);
  }
  CISReg no_result(nullptr, kMachine, &good);  // the outcome is dropped
  EXPECT_EQ(GetString(no_result, "v"), "back");
}

TEST_F(RegistryStore, InvalidObjectAnswersEveryOperation) {
  CISStringList list;
  Fill(list, {"Gone"});
  alignas(CISReg) unsigned char storage[sizeof(CISReg)];
  CISRegErr r = CISRegErrFailed;
  CISReg* reg = new (storage) CISReg(&r, kMachine, &list);
  ASSERT_EQ(r, CISRegOk);
  reg->~CISReg();
  char buf[8];
  unsigned short len = 0;
  EXPECT_EQ(reg->SelectSection(kMachine, &list), CISRegErrFailed);
  EXPECT_EQ(reg->Store("text", CISsamNormal), CISRegErrFailed);
  EXPECT_EQ(reg->Store("n", "text", CISsamNormal), CISRegErrFailed);
  EXPECT_EQ(reg->Store("n", buf, 1, "REG_BINARY", CISsamNormal), CISRegErrFailed);
  EXPECT_EQ(reg->Retrieve(&list), CISRegErrFailed);
  EXPECT_EQ(reg->Retrieve("n", buf, 4, nullptr), CISRegErrFailed);
  EXPECT_EQ(reg->Retrieve("n", buf, 4, &len, "REG_BINARY", nullptr, 0), CISRegErrFailed);
  EXPECT_EQ(reg->Delete("n", nullptr), CISRegErrFailed);
  EXPECT_EQ(reg->Delete(kMachine, &list, CISsamNormal), CISRegErrFailed);
  EXPECT_EQ(reg->Sync("FILE.INI"), CISRegErrBadArg);
  EXPECT_FALSE(Exists("Gone"));
}

TEST_F(RegistryStore, RegKeyOpensAndCreates) {
  MakeKey("Path");
  void* const root = port::RootHandle(port::kRegLocalMachine);
  const struct {
    const char* what;
    const char* subkey;
    CISsam sam;
    REGattrib attrib;
    const char* leaf;
    CISRegErr result;
  } cases[] = {
      {"path only", "Path", CISsamNormal, REGattribOpen, nullptr, CISRegOk},
      {"missing path, open", "Nope", CISsamNormal, REGattribOpen, nullptr, CISRegErrNotFound},
      {"missing path, extended", "Nope", CISsamExtended, REGattribOpen, nullptr, CISRegErrFailed},
      {"missing path, create", "Nope", CISsamNormal, REGattribCreate, nullptr, CISRegErrFailed},
      {"missing leaf, open", "Path", CISsamNormal, REGattribOpen, "Leaf", CISRegErrNotFound},
      {"missing path, leaf opened", "Nope", CISsamNormal, REGattribOpen, "Leaf", CISRegErrNotFound},
      {"missing path, leaf created", "Nope", CISsamNormal, REGattribCreate, "Leaf",
       CISRegErrFailed},
      {"missing leaf, create", "Path", CISsamNormal, REGattribCreate, "Leaf", CISRegOk},
      {"leaf now there, open", "Path", CISsamNormal, REGattribOpen, "Leaf", CISRegOk},
      {"leaf under the root", nullptr, CISsamNormal, REGattribOpen, "Path", CISRegOk},
      {"neither path nor leaf", nullptr, CISsamNormal, REGattribCreate, nullptr, CISRegErrBadArg},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CISRegErr r = CISRegOk;
    RegKey key(&r, root, c.subkey, c.sam, c.attrib, c.leaf);
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(key.m_Key != nullptr, c.result == CISRegOk);
  }
  EXPECT_TRUE(Exists("Path\\Leaf"));
  EXPECT_FALSE(Exists("Nope"));

  MappedPages none(1, PROT_NONE);
  CISRegErr r = CISRegOk;
  RegKey bad_leaf(&r, root, "Path", CISsamNormal, REGattribCreate, none.data());
  EXPECT_EQ(r, CISRegErrBadArg);
  RegKey bad_path(&r, root, none.data(), CISsamNormal, REGattribCreate, "Leaf");
  EXPECT_EQ(r, CISRegErrBadArg);
  RegKey no_result(nullptr, root, "Path", CISsamNormal, REGattribOpen, nullptr);
  EXPECT_EQ(no_result.m_Key, nullptr);

  // Copies hold handles of their own: each closes only its own.
  RegKey* original = new RegKey(&r, root, "Path", CISsamNormal, REGattribOpen, "Leaf");
  ASSERT_EQ(r, CISRegOk);
  RegKey copy(*original);
  RegKey assigned(&r, root, nullptr, CISsamNormal, REGattribOpen, "Path");
  assigned = *original;
  assigned = assigned;
  delete original;
  for (RegKey* k : {&copy, &assigned}) {
    ASSERT_NE(k->m_Key, nullptr);
    EXPECT_EQ(port::SetRegistryValue(k->m_Key, "v", port::kRegBinary, "x", 1), port::kRegSuccess);
  }
}

TEST_F(RegistryStore, StringValues) {
  MakeKey("Strings");
  CISStringList list;
  Fill(list, {"Strings", "Leaf"});
  CISRegErr r = CISRegErrFailed;
  CISReg reg(&r, kMachine, &list);
  ASSERT_EQ(r, CISRegOk);

  EXPECT_EQ(reg.Store(nullptr, CISsamNormal), CISRegOk);  // only creates the key
  EXPECT_TRUE(Exists("Strings\\Leaf"));
  EXPECT_EQ(GetString(reg, ""), "<-722>");

  EXPECT_EQ(reg.Store("unnamed value", CISsamNormal), CISRegOk);
  EXPECT_EQ(reg.Store("Name", "text", CISsamNormal), CISRegOk);
  EXPECT_EQ(GetString(reg, ""), "unnamed value");
  EXPECT_EQ(GetString(reg, "NAME"), "text");
  std::string bytes;
  unsigned long type = 0;
  ASSERT_TRUE(RawValue("Strings\\Leaf", "name", &type, &bytes));
  EXPECT_EQ(type, port::kRegSz);
  EXPECT_EQ(bytes, std::string("text", 5));

  // Profile-file mapping entries, in either case of their prefix, are stored as given.
  for (const char* text : {"USR:Software\\Example", "SYS:Software\\Example", "usr:lower"}) {
    EXPECT_EQ(reg.Store("map", text, CISsamNormal), CISRegOk);
    EXPECT_EQ(GetString(reg, "map"), text);
  }

  EXPECT_EQ(reg.Sync("Leaf"), CISRegOk);
  EXPECT_EQ(reg.Sync(nullptr), CISRegErrBadArg);

  char exact[5];
  EXPECT_EQ(reg.Retrieve("name", exact, 4, nullptr), CISRegOk);
  EXPECT_STREQ(exact, "text");
  EXPECT_EQ(reg.Retrieve("name", exact, 3, nullptr), CISRegErrNotFound);  // too long
  EXPECT_EQ(reg.Retrieve("missing", exact, 4, nullptr), CISRegErrNotFound);

  MappedPages none(1, PROT_NONE);
  EXPECT_EQ(reg.Store("n", none.data(), CISsamNormal), CISRegErrBadArg);
  EXPECT_EQ(reg.Store(none.data(), "t", CISsamNormal), CISRegErrBadArg);
  EXPECT_EQ(reg.Retrieve(nullptr, exact, 4, nullptr), CISRegErrBadArg);
  EXPECT_EQ(reg.Retrieve("name", nullptr, 4, nullptr), CISRegErrBadArg);

  // A missing path key is not created.
  CISStringList orphan;
  Fill(orphan, {"NoSuchPath", "Leaf"});
  CISReg lost(&r, kMachine, &orphan);
  EXPECT_EQ(lost.Store(nullptr, CISsamNormal), CISRegErrFailed);
  EXPECT_EQ(lost.Store("v", "x", CISsamExtended), CISRegErrFailed);
  EXPECT_EQ(GetString(lost, "v"), "<-722>");
  EXPECT_FALSE(Exists("NoSuchPath"));
}

TEST_F(RegistryStore, StringRetrieveWritesNoByteBeyondTheCheckedBuffer) {
  CISStringList list;
  Fill(list, {"Edge"});
  CISRegErr r = CISRegErrFailed;
  CISReg reg(&r, kMachine, &list);
  ASSERT_EQ(reg.Store("v", "12345678", CISsamNormal), CISRegOk);

  // Buffers that end right before an inaccessible page.
  MappedPages pages(2, PROT_READ | PROT_WRITE);
  const std::size_t page = MappedPages::PageSize();
  ASSERT_EQ(mprotect(pages.data() + page, page, PROT_NONE), 0);
  char* const end = pages.data() + page;
  // size characters need size + 1 bytes.
  EXPECT_EQ(reg.Retrieve("v", end - 8, 8, nullptr), CISRegErrBadArg);
  ASSERT_EQ(reg.Retrieve("v", end - 9, 8, nullptr), CISRegOk);
  EXPECT_STREQ(end - 9, "12345678");
}

TEST_F(RegistryStore, TypedValues) {
  CISStringList list;
  Fill(list, {"Typed"});
  CISRegErr r = CISRegErrFailed;
  CISReg reg(&r, kMachine, &list);
  ASSERT_EQ(r, CISRegOk);
  const unsigned char dword[4] = {0x78, 0x56, 0x34, 0x12};
  const char multi[] = "one\0two\0";
  EXPECT_EQ(reg.Store("dw", dword, 4, "REG_DWORD", CISsamNormal), CISRegOk);
  EXPECT_EQ(reg.Store("multi", multi, sizeof multi, "REG_MULTI_SZ", CISsamNormal), CISRegOk);
  EXPECT_EQ(reg.Store("bin", "\0\1\2", 3, "REG_BINARY", CISsamNormal), CISRegOk);
  for (const char* odd : {"REG_SZ", "reg_dword", "", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(odd ? odd : "null");
    EXPECT_EQ(reg.Store("odd", "\7\7", 2, odd, CISsamNormal), CISRegErrType);
    std::string bytes;
    unsigned long type = 0;
    ASSERT_TRUE(RawValue("Typed", "odd", &type, &bytes));
    EXPECT_EQ(type, port::kRegBinary);
    EXPECT_EQ(bytes, "\7\7");
  }

  unsigned char buf[16] = {};
  unsigned short len = 0;
  EXPECT_EQ(reg.Retrieve("dw", buf, sizeof buf, &len, "REG_DWORD", nullptr, 0), CISRegOk);
  EXPECT_EQ(len, 4);
  EXPECT_EQ(std::memcmp(buf, dword, 4), 0);
  EXPECT_EQ(reg.Retrieve("multi", buf, sizeof buf, &len, "REG_MULTI_SZ", nullptr, 0), CISRegOk);
  EXPECT_EQ(len, sizeof multi);
  EXPECT_EQ(reg.Retrieve("dw", buf, sizeof buf, &len, "REG_BINARY", nullptr, 0), CISRegErrType);
  EXPECT_EQ(reg.Retrieve("odd", buf, sizeof buf, &len, "REG_SZ", nullptr, 0), CISRegErrType);
  EXPECT_EQ(len, 2);  // an unknown type name reads, and still reports the type
  EXPECT_EQ(reg.Retrieve("dw", buf, 3, &len, "REG_DWORD", nullptr, 0), CISRegErrNotFound);
  EXPECT_EQ(len, 4);  // the size the value needs
  EXPECT_EQ(reg.Retrieve("dw", buf, 4, nullptr, "REG_DWORD", nullptr, 0), CISRegOk);
  EXPECT_EQ(reg.Retrieve("none", buf, 4, &len, "REG_DWORD", nullptr, 0), CISRegErrNotFound);

  char text[16];
  EXPECT_EQ(reg.Retrieve("dw", text, 8, nullptr), CISRegErrType);

  EXPECT_EQ(reg.Store(nullptr, dword, 4, "REG_DWORD", CISsamNormal), CISRegErrBadArg);
  EXPECT_EQ(reg.Store("dw", nullptr, 4, "REG_DWORD", CISsamNormal), CISRegErrBadArg);
  EXPECT_EQ(reg.Retrieve("dw", nullptr, 4, &len, "REG_DWORD", nullptr, 0), CISRegErrBadArg);
}

TEST_F(RegistryStore, ListingSubkeys) {
  MakeKey("Parent\\Empty");
  for (const char* name : {"beta", "_under", "Alpha", "ZULU", "9"}) {
    MakeKey(("Parent\\Full\\" + std::string(name)).c_str());
  }
  CISStringList list;
  Fill(list, {"Parent", "Full"});
  CISRegErr r = CISRegErrFailed;
  CISReg reg(&r, kMachine, &list);
  CISStringList names;
  Fill(names, {"already here"});
  ASSERT_EQ(reg.Retrieve(&names), CISRegOk);
  EXPECT_EQ(Names(names),
            (std::vector<std::string>{"already here", "9", "Alpha", "beta", "ZULU", "_under"}));

  ASSERT_EQ(list.Replace("Empty"), CISStrOk);
  CISStringList none;
  Fill(none, {"kept"});
  EXPECT_EQ(reg.Retrieve(&none), CISRegOk);
  EXPECT_EQ(Names(none), std::vector<std::string>{"kept"});

  ASSERT_EQ(list.Replace("Missing"), CISStrOk);
  EXPECT_EQ(reg.Retrieve(&none), CISRegErrNotFound);
  EXPECT_EQ(reg.Retrieve(nullptr), CISRegErrBadArg);

  EXPECT_EQ(CISReg::KeyExists(kMachine, &list), 0);
  ASSERT_EQ(list.Replace("Full"), CISStrOk);
  EXPECT_EQ(CISReg::KeyExists(kMachine, &list), 1);
  ASSERT_EQ(list.Add("9"), CISStrOk);
  EXPECT_EQ(CISReg::KeyExists(kMachine, &list), 1);
  ASSERT_EQ(list.Replace(nullptr), CISStrOk);
  ASSERT_EQ(list.Replace(nullptr), CISStrOk);
  EXPECT_EQ(CISReg::KeyExists(kMachine, &list), 1);  // "Parent"
  EXPECT_EQ(CISReg::KeyExists(kMachine, nullptr), 0);
}

TEST_F(RegistryStore, KeyWithMoreSubkeysThanAListHolds) {
  for (int i = 0; i < 300; ++i) MakeKey(("Crowd\\k" + std::to_string(1000 + i)).c_str());
  CISStringList list;
  Fill(list, {"Crowd"});
  EXPECT_EQ(CISReg::KeyExists(kMachine, &list), 1);

  CISRegErr r = CISRegErrFailed;
  CISReg reg(&r, kMachine, &list);
  CISStringList names;
  EXPECT_EQ(reg.Retrieve(&names), CISRegErrNotFound);  // the list refused the 256th
  EXPECT_EQ(names.Count(), 255);
  EXPECT_STREQ(names.Find(255), "k1254");

  EXPECT_EQ(reg.Delete(kMachine, &list, CISsamNormal), CISRegErrFailed);
  EXPECT_TRUE(Exists("Crowd\\k1299"));
}

TEST_F(RegistryStore, DeletingValuesAndKeys) {
  MakeKey("Del\\Parent\\Child");
  CISStringList list;
  Fill(list, {"Del", "Parent"});
  CISRegErr r = CISRegErrFailed;
  CISReg reg(&r, kMachine, &list);
  ASSERT_EQ(reg.Store("v", "x", CISsamNormal), CISRegOk);
  ASSERT_EQ(reg.Store("unnamed", CISsamNormal), CISRegOk);

  EXPECT_EQ(reg.Delete("v", nullptr), CISRegOk);
  EXPECT_EQ(GetString(reg, "v"), "<-722>");
  EXPECT_EQ(reg.Delete("v", nullptr), CISRegOk);  // already gone
  EXPECT_EQ(reg.Delete("", nullptr), CISRegOk);
  EXPECT_EQ(GetString(reg, ""), "<-722>");
  EXPECT_EQ(reg.Delete(nullptr, nullptr), CISRegErrBadArg);

  // Deleting a value of a missing key creates the key.
  CISStringList fresh;
  Fill(fresh, {"Del", "Fresh"});
  CISReg other(&r, kMachine, &fresh);
  EXPECT_EQ(other.Delete("v", nullptr), CISRegOk);
  EXPECT_TRUE(Exists("Del\\Fresh"));

  // A key with a subkey stays; without, it goes with its values.
  EXPECT_EQ(reg.Delete(kMachine, &list, CISsamNormal), CISRegErrFailed);
  EXPECT_TRUE(Exists("Del\\Parent\\Child"));
  ASSERT_EQ(reg.Store("v", "value", CISsamNormal), CISRegOk);
  CISStringList child;
  Fill(child, {"Del", "Parent", "Child"});
  EXPECT_EQ(reg.Delete(kMachine, &child, CISsamExtended), CISRegOk);
  EXPECT_EQ(reg.Delete(kMachine, &child, CISsamNormal), CISRegOk);  // missing: nothing to do
  EXPECT_EQ(reg.Delete(kMachine, &list, CISsamNormal), CISRegOk);
  EXPECT_FALSE(Exists("Del\\Parent"));
  MakeKey("Del\\Parent");
  EXPECT_EQ(GetString(reg, "v"), "<-722>");

  // One entry: the key right under the root.
  CISStringList top;
  Fill(top, {"Del"});
  EXPECT_EQ(reg.Delete(kMachine, &top, CISsamNormal), CISRegErrFailed);
  MakeKey("Top");
  ASSERT_EQ(top.Replace("Top"), CISStrOk);
  EXPECT_EQ(reg.Delete(kMachine, &top, CISsamNormal), CISRegOk);
  EXPECT_FALSE(Exists("Top"));

  EXPECT_EQ(reg.Delete("HKEY_NOWHERE", &top, CISsamNormal), CISRegErrUnknownRoot);
  EXPECT_EQ(reg.Delete(kMachine, nullptr, CISsamNormal), CISRegErrFailed);
}

TEST_F(RegistryStore, NoMemoryForThePathOrTheKey) {
  MakeKey("Mem\\Leaf");
  CISStringList deep, top;
  Fill(deep, {"Mem", "Leaf"});
  Fill(top, {"Mem"});
  CISRegErr r = CISRegErrFailed;
  CISReg reg_deep(&r, kMachine, &deep);
  CISReg reg_top(&r, kMachine, &top);
  char buf[8];
  CISRegErr no_path, no_key, no_top_key;
  {
    cstest::FailingAllocations fail(0);
    no_path = reg_deep.Retrieve("v", buf, 4, nullptr);
    no_top_key = reg_top.Store("v", "x", CISsamNormal);
  }
  {
    cstest::FailingAllocations fail(1);  // the joined path, then no key object
    no_key = reg_deep.Store("v", "x", CISsamNormal);
  }
  EXPECT_EQ(no_path, CISRegErrNoMemory);
  EXPECT_EQ(no_key, CISRegErrNoMemory);
  EXPECT_EQ(no_top_key, CISRegErrNoMemory);
  EXPECT_EQ(GetString(reg_deep, "v"), "<-722>");
  EXPECT_EQ(reg_deep.Store("v", "x", CISsamNormal), CISRegOk);
}

TEST_F(RegistryStore, TwoProcessesWriteOneKeyAtOnce) {
  MakeKey("Shared");
  auto writer = [](int who) {
    return [who] {
      CISStringList list;
      if (list.Add("Shared") != CISStrOk || list.Add("Values") != CISStrOk) return 1;
      CISRegErr r = CISRegErrFailed;
      CISReg reg(&r, kMachine, &list);
      if (r != CISRegOk) return 2;
      for (int i = 0; i < 500; ++i) {
        const std::string name = "p" + std::to_string(who) + "-" + std::to_string(i);
        if (reg.Store(name.c_str(), name.c_str(), CISsamNormal) != CISRegOk) return 3;
      }
      return 0;
    };
  };
  Child first(writer(1));
  Child second(writer(2));
  ASSERT_EQ(first.Wait(), 0);
  ASSERT_EQ(second.Wait(), 0);

  CISStringList list;
  Fill(list, {"Shared", "Values"});
  CISRegErr r = CISRegErrFailed;
  CISReg reg(&r, kMachine, &list);
  int found = 0;
  for (int who = 1; who <= 2; ++who)
    for (int i = 0; i < 500; ++i) {
      const std::string name = "p" + std::to_string(who) + "-" + std::to_string(i);
      found += GetString(reg, name.c_str()) == name;
    }
  EXPECT_EQ(found, 1000);
}

}  // namespace
