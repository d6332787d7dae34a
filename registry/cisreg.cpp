// CISReg: a store whose section is one registry key, named by a root name and a
// caller-owned key list. The selection is re-parsed whenever the caller changed the
// list since the last operation; each operation opens its key, makes one registry
// call and closes the key again.
#include <cslib.h>

#include <cstring>
#include <memory>
#include <new>

#include "port/memprobe.h"
#include "port/profile.h"
#include "port/registry.h"

namespace {

namespace port = cslib::port;

constexpr unsigned long kSignature = 32;

struct RootRow {
  const char* name;
  std::uintptr_t handle;
};
constexpr RootRow kRoots[] = {
    {"HKEY_LOCAL_MACHINE", port::kRegLocalMachine},
    {"HKEY_CURRENT_USER", port::kRegCurrentUser},
    {"HKEY_USERS", port::kRegUsers},
    {"HKEY_CLASSES_ROOT", port::kRegClassesRoot},
};

struct TypeRow {
  const char* name;
  unsigned long type;
};
constexpr TypeRow kTypes[] = {
    {"REG_BINARY", port::kRegBinary},
    {"REG_DWORD", port::kRegDword},
    {"REG_MULTI_SZ", port::kRegMultiSz},
};

// The longest name of both tables, "HKEY_LOCAL_MACHINE".
constexpr std::size_t kLongestTableName = 18;

bool Readable(const char* text) {
  return port::ReadableStrlen(text) >= 0;
}

bool ListReadable(const CISStringList* list) {
  return CSIsValidReadPtr(list, sizeof *list);
}

// The row of `table` named exactly `name`, or null (also for a null or unreadable
// name). The name is probed only as far as the longest table name, so the comparisons
// never read beyond what was probed.
template <class Row, std::size_t N>
const Row* FindRow(const Row (&table)[N], const char* name) {
  const long len = port::ReadableStrnlen(name, kLongestTableName + 1);
  if (len < 0 || static_cast<std::size_t>(len) > kLongestTableName) return nullptr;
  for (const Row& row : table)
    if (std::strcmp(name, row.name) == 0) return &row;
  return nullptr;
}

// The registry type a type name stands for; *found tells whether the name is in the
// table (a null, unreadable or unknown name gives REG_BINARY).
unsigned long LookupType(const char* name, bool* found) {
  const TypeRow* row = FindRow(kTypes, name);
  *found = row != nullptr;
  return row ? row->type : port::kRegBinary;
}

const char* SkipBackslash(const char* text) {
  return text && *text == '\\' ? text + 1 : text;
}

bool EndsWithBackslash(const char* text) {
  const std::size_t len = std::strlen(text);
  return len && text[len - 1] == '\\';
}

// The RegKey an operation opened, destroyed whatever the outcome.
using KeyPtr = std::unique_ptr<RegKey>;

}  // namespace

CISReg::CISReg(CISRegErr* result, const char* root, const CISStringList* keyList)
    : m_Signature(kSignature),
      m_Root(nullptr),
      m_RootFound(0),
      m_KeyList(nullptr),
      m_Leaf(nullptr),
      m_PathSize(0),
      m_EntryCount(0) {
  const CISRegErr r = SelectSection(root, keyList);
  if (CSIsValidWritePtr(result, sizeof *result)) *result = r;
}

CISReg::~CISReg() {
  // A store the compiler would drop as dead: the mark must outlive the object, so that
  // a caller's stale pointer meets an invalid store.
  *const_cast<volatile unsigned long*>(&m_Signature) = 0;
}

CISReg::CISReg(const CISReg& other) = default;

CISReg& CISReg::operator=(const CISReg& other) = default;

// ---- Selection state ----

CISRegErr CISReg::SelectSection(const char* root, const CISStringList* keyList) {
  if (m_Signature != kSignature) return CISRegErrFailed;
  // A selection that fails before its list is parsed leaves no key selected: later
  // operations must not quietly go on with the previous key or list.
  m_RootFound = 0;
  m_KeyList = nullptr;
  m_Leaf = nullptr;
  m_PathSize = m_EntryCount = 0;
  auto* list = const_cast<CISStringList*>(keyList);
  if (!ListReadable(list) || !Readable(root)) return CISRegErrBadArg;
  if (!list->IsListInvariant()) return CISRegErrBadKeyList;
  if (const RootRow* row = FindRow(kRoots, root)) {
    m_Root = port::RootHandle(row->handle);
    m_RootFound = 1;
  }
  const CISRegErr parsed = m_ParseKeyList(list);
  return m_RootFound ? parsed : CISRegErrUnknownRoot;
}

CISRegErr CISReg::m_ParseKeyList(CISStringList* list) {
  m_KeyList = list;
  const char* last = list->Find(0);
  m_EntryCount = list->Count();
  m_PathSize = list->Length();
  CISRegErr r = CISRegOk;
  if (m_EntryCount == 0) {
    m_Leaf = nullptr;
    r = CISRegErrBadKeyList;
  } else {
    m_Leaf = SkipBackslash(last);
    if (!m_Leaf || !*m_Leaf || EndsWithBackslash(m_Leaf)) r = CISRegErrBadKeyList;
  }
  m_PathSize += m_EntryCount;
  return r;
}

int CISReg::m_IsKeyListInvariant() {
  if (!m_KeyList) return 1;
  return SkipBackslash(m_KeyList->Find(0)) == m_Leaf && m_KeyList->Count() == m_EntryCount &&
         m_KeyList->Length() + m_EntryCount == m_PathSize;
}

void CISReg::m_AdaptKeyList() {
  if (m_Signature == kSignature && !m_IsKeyListInvariant()) m_ParseKeyList(m_KeyList);
}

int CISReg::m_IsCISRegInvariant() {
  if (m_Signature != kSignature || !m_EntryCount || !m_KeyList || !m_PathSize || !m_Leaf) return 0;
  if (!*m_Leaf || EndsWithBackslash(m_Leaf) || m_RootFound != 1) return 0;
  bool known_root = false;
  for (const RootRow& row : kRoots) known_root |= m_Root == port::RootHandle(row.handle);
  return known_root && m_IsKeyListInvariant();
}

CISRegErr CISReg::m_MakeSubkey(char* buffer, unsigned long size) {
  buffer[0] = '\0';
  if (m_EntryCount < 2) return CISRegOk;
  unsigned long used = 0;
  for (unsigned long i = 1; i < m_EntryCount; ++i) {
    const char* entry = SkipBackslash(m_KeyList->Find(static_cast<unsigned char>(i)));
    if (!entry) return CISRegErrBadKeyList;
    const unsigned long len = std::strlen(entry);
    const bool separate = i + 1 < m_EntryCount;
    if (used + len + (separate ? 1 : 0) > size) return CISRegErrBadKeyList;
    std::memcpy(buffer + used, entry, len);
    used += len;
    if (separate && (used == 0 || buffer[used - 1] != '\\')) buffer[used++] = '\\';
    buffer[used] = '\0';
  }
  return CISRegOk;
}

CISRegErr CISReg::m_NewRegKey(RegKey** key, CISsam sam, REGattrib attrib, int withLeaf) {
  if (!m_RootFound) return CISRegErrUnknownRoot;
  if (!m_IsCISRegInvariant()) return CISRegErrBadKeyList;
  CISRegErr result = CISRegErrFailed;
  RegKey* made = nullptr;
  if (m_EntryCount >= 2) {
    const unsigned long room = m_PathSize + m_EntryCount + 1;
    std::unique_ptr<char[]> path(new (std::nothrow) char[room]);
    if (!path) return CISRegErrNoMemory;
    const CISRegErr joined = m_MakeSubkey(path.get(), room - 1);
    if (joined != CISRegOk) return joined;
    made = new (std::nothrow)
        RegKey(&result, m_Root, path.get(), sam, attrib, withLeaf ? m_Leaf : nullptr);
  } else {
    made = new (std::nothrow) RegKey(&result, m_Root, nullptr, CISsamNormal, attrib, m_Leaf);
  }
  if (!made) return CISRegErrNoMemory;
  if (result != CISRegOk) {
    delete made;
    made = nullptr;
  }
  *key = made;
  return result;
}

// ---- Store operations ----

int CISReg::KeyExists(const char* root, const CISStringList* keyList) {
  CISRegErr r = CISRegErrFailed;
  CISReg reg(&r, root, keyList);
  if (r != CISRegOk) return 0;
  // Whether the key opens; listing its subkeys into a 255-entry list would call a key
  // with more subkeys missing.
  RegKey* key = nullptr;
  if (reg.m_NewRegKey(&key, CISsamNormal, REGattribOpen, 1) != CISRegOk) return 0;
  delete key;
  return 1;
}

CISRegErr CISReg::Store(const char* text, CISsam sam) {
  return Store(nullptr, text, sam);
}

CISRegErr CISReg::Store(const char* name, const char* text, CISsam sam) {
  m_AdaptKeyList();
  if (m_Signature != kSignature) return CISRegErrFailed;
  const long text_len = text ? port::ReadableStrlen(text) : 0;
  if (text_len < 0 || (name && !Readable(name))) return CISRegErrBadArg;
  RegKey* opened = nullptr;
  if (const CISRegErr r = m_NewRegKey(&opened, sam, REGattribCreate, 1); r != CISRegOk) return r;
  const KeyPtr key(opened);
  if (!text) return CISRegOk;
  if (port::SetRegistryValue(key->m_Key, name, port::kRegSz, text,
                             static_cast<unsigned long>(text_len) + 1) != port::kRegSuccess)
    return CISRegErrFailed;
  // Such values are entries of the system's profile-file mapping, kept under a key
  // named like the profile file: the file's cached copy is stale now.
  if (std::strncmp(text, "USR:", 4) == 0 || std::strncmp(text, "SYS:", 4) == 0) Sync(m_Leaf);
  return CISRegOk;
}

CISRegErr CISReg::Store(const char* name, const void* data, unsigned short size,
                        const char* typeName, CISsam sam) {
  m_AdaptKeyList();
  if (m_Signature != kSignature) return CISRegErrFailed;
  if (!Readable(name) || !CSIsValidReadPtr(data, size)) return CISRegErrBadArg;
  bool known = false;
  const unsigned long type = LookupType(typeName, &known);
  RegKey* opened = nullptr;
  if (const CISRegErr r = m_NewRegKey(&opened, sam, REGattribCreate, 1); r != CISRegOk) return r;
  const KeyPtr key(opened);
  if (port::SetRegistryValue(key->m_Key, name, type, data, size) != port::kRegSuccess)
    return CISRegErrFailed;
  return known ? CISRegOk : CISRegErrType;
}

CISRegErr CISReg::Sync(const char* fileName) {
  if (m_Signature != kSignature || !Readable(fileName)) return CISRegErrBadArg;
  port::ProfileWriteString(nullptr, nullptr, nullptr, fileName);
  return CISRegOk;
}

CISRegErr CISReg::Retrieve(CISStringList* names) {
  m_AdaptKeyList();
  if (m_Signature != kSignature) return CISRegErrFailed;
  if (!ListReadable(names)) return CISRegErrBadArg;
  if (!names->IsListInvariant()) return CISRegErrBadKeyList;
  RegKey* opened = nullptr;
  if (const CISRegErr r = m_NewRegKey(&opened, CISsamNormal, REGattribOpen, 1); r != CISRegOk)
    return r;
  const KeyPtr key(opened);
  char name[256];
  for (unsigned long index = 0;
       port::EnumRegistrySubkey(key->m_Key, index, name, sizeof name) == port::kRegSuccess;
       ++index) {
    const CISStrErr added = names->Add(name);
    if (added == CISStrErrInvalid) return CISRegErrFailed;
    if (added != CISStrOk) return CISRegErrNotFound;
  }
  return CISRegOk;
}

CISRegErr CISReg::Retrieve(const char* name, char* buffer, unsigned short size, const char*) {
  m_AdaptKeyList();
  if (m_Signature != kSignature) return CISRegErrFailed;
  // The buffer holds size characters and their terminator; no byte beyond those
  // checked may be written.
  const unsigned long room = static_cast<unsigned long>(size) + 1;
  if (!Readable(name) || !CSIsValidWritePtr(buffer, room)) return CISRegErrBadArg;
  RegKey* opened = nullptr;
  if (const CISRegErr r = m_NewRegKey(&opened, CISsamNormal, REGattribOpen, 1); r != CISRegOk)
    return r;
  const KeyPtr key(opened);
  unsigned long type = 0;
  unsigned long count = room;
  if (port::QueryRegistryValue(key->m_Key, name, &type, buffer, &count) != port::kRegSuccess)
    return CISRegErrNotFound;
  if (type != port::kRegSz) return CISRegErrType;
  // A string written without its terminator (by another program) still comes back as
  // a string, or as too long when the terminator has no room.
  if (count == 0 || buffer[count - 1] != '\0') {
    if (count >= room) return CISRegErrNotFound;
    buffer[count] = '\0';
  }
  return CISRegOk;
}

CISRegErr CISReg::Retrieve(const char* name, void* buffer, unsigned short size,
                           unsigned short* length, const char* typeName, const void*,
                           unsigned short) {
  m_AdaptKeyList();
  if (m_Signature != kSignature) return CISRegErrFailed;
  if (!Readable(name) || !CSIsValidWritePtr(buffer, size)) return CISRegErrBadArg;
  bool known = false;
  const unsigned long expected = LookupType(typeName, &known);
  RegKey* opened = nullptr;
  if (const CISRegErr r = m_NewRegKey(&opened, CISsamNormal, REGattribOpen, 1); r != CISRegOk)
    return r;
  const KeyPtr key(opened);
  unsigned long type = 0;
  unsigned long count = size;
  const long rc = port::QueryRegistryValue(key->m_Key, name, &type, buffer, &count);
  if (CSIsValidWritePtr(length, sizeof *length)) *length = static_cast<unsigned short>(count);
  if (rc != port::kRegSuccess) return CISRegErrNotFound;
  return type == expected && known ? CISRegOk : CISRegErrType;
}

CISRegErr CISReg::Delete(const char* name, const char*) {
  m_AdaptKeyList();
  if (m_Signature != kSignature) return CISRegErrFailed;
  if (!Readable(name)) return CISRegErrBadArg;
  RegKey* opened = nullptr;
  if (const CISRegErr r = m_NewRegKey(&opened, CISsamNormal, REGattribCreate, 1); r != CISRegOk)
    return r;
  const KeyPtr key(opened);
  const long rc = port::DeleteRegistryValue(key->m_Key, name);
  return rc == port::kRegSuccess || rc == port::kRegFileNotFound ? CISRegOk : CISRegErrFailed;
}

CISRegErr CISReg::Delete(const char* root, const CISStringList* keyList, CISsam sam) {
  if (m_Signature != kSignature || !ListReadable(keyList)) return CISRegErrFailed;
  CISRegErr r = CISRegErrFailed;
  CISReg target(&r, root, keyList);
  if (r != CISRegOk) return r;
  CISStringList subkeys;
  r = target.Retrieve(&subkeys);
  // A listing cut short by the list's 255 entries still shows subkeys: nothing is
  // deleted then, and nothing reported as deleted.
  if (subkeys.Count() != 0) return CISRegErrFailed;
  if (r == CISRegErrNotFound) return CISRegOk;
  return target.m_Delete(sam);
}

CISRegErr CISReg::m_Delete(CISsam) {
  if (m_Signature != kSignature) return CISRegErrFailed;
  if (!m_RootFound) return CISRegErrUnknownRoot;
  if (!m_IsCISRegInvariant()) return CISRegErrBadKeyList;
  void* parent = m_Root;
  KeyPtr key;
  if (m_EntryCount >= 2) {
    RegKey* opened = nullptr;
    if (const CISRegErr r = m_NewRegKey(&opened, CISsamNormal, REGattribCreate, 0); r != CISRegOk)
      return r;
    key.reset(opened);
    parent = key->m_Key;
  }
  return port::DeleteRegistryKey(parent, m_Leaf) == port::kRegSuccess ? CISRegOk : CISRegErrFailed;
}
