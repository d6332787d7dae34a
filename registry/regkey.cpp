// RegKey: one registry key, opened or created below a parent handle, and closed when
// the object goes. Path keys are only ever opened; only the leaf may be created.
#include <cslib.h>

#include "port/memprobe.h"
#include "port/registry.h"

namespace {

namespace port = cslib::port;

bool Readable(const char* text) {
  return port::ReadableStrlen(text) >= 0;
}

// Opens the path key `subkey` below `parent`, whose arguments were checked already.
CISRegErr OpenPath(void* parent, const char* subkey, CISsam sam, REGattrib attrib, void** key) {
  if (port::OpenRegistryKey(parent, subkey, key) == port::kRegSuccess) return CISRegOk;
  *key = nullptr;
  return (sam == CISsamExtended || attrib != REGattribOpen) ? CISRegErrFailed : CISRegErrNotFound;
}

// A path key opened for the time the leaf below it is opened.
class PathKey {
 public:
  PathKey() = default;
  ~PathKey() {
    if (key_) port::CloseRegistryKey(key_);
  }
  PathKey(const PathKey&) = delete;
  PathKey& operator=(const PathKey&) = delete;
  void** out() { return &key_; }
  void* get() const { return key_; }

 private:
  void* key_ = nullptr;
};

CISRegErr OpenLeaf(void* parent, const char* leaf, REGattrib attrib, void** key) {
  if (attrib == REGattribCreate)
    return port::CreateRegistryKey(parent, leaf, key, nullptr) == port::kRegSuccess
               ? CISRegOk
               : CISRegErrFailed;
  return port::OpenRegistryKey(parent, leaf, key) == port::kRegSuccess ? CISRegOk
                                                                       : CISRegErrNotFound;
}

// A handle of its own on the key `key` holds, or null (also when `key` is null).
void* Reopen(void* key) {
  void* copy = nullptr;
  if (key && port::OpenRegistryKey(key, nullptr, &copy) != port::kRegSuccess) copy = nullptr;
  return copy;
}

}  // namespace

RegKey::RegKey(CISRegErr* result, void* parent, const char* subkey, CISsam sam, REGattrib attrib,
               const char* leaf)
    : m_Key(nullptr) {
  const bool result_ok = CSIsValidWritePtr(result, sizeof *result);
  if (!result_ok || (subkey && !Readable(subkey)) || (!subkey && !leaf)) {
    if (result_ok) *result = CISRegErrBadArg;
    return;
  }
  if (!leaf) {
    *result = OpenPath(parent, subkey, sam, attrib, &m_Key);
    return;
  }
  if (!Readable(leaf)) {
    *result = CISRegErrBadArg;
    return;
  }
  if (!subkey) {
    *result = OpenLeaf(parent, leaf, attrib, &m_Key);
    return;
  }
  PathKey path;
  *result = OpenPath(parent, subkey, sam, attrib, path.out());
  if (*result == CISRegOk) *result = OpenLeaf(path.get(), leaf, attrib, &m_Key);
}

RegKey::~RegKey() {
  if (m_Key) port::CloseRegistryKey(m_Key);
  m_Key = nullptr;
}

RegKey::RegKey(const RegKey& other) : m_Key(Reopen(other.m_Key)) {}

RegKey& RegKey::operator=(const RegKey& other) {
  if (this == &other) return *this;
  if (m_Key) port::CloseRegistryKey(m_Key);
  m_Key = Reopen(other.m_Key);
  return *this;
}
