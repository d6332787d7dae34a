// The registry store: settings kept under a registry key that a root name and a key
// list (a CISStringList) name. CISReg stores, reads, lists and deletes values and keys;
// RegKey opens or creates one key. Every result is a CISRegErr.
#ifndef CSLIB_REGISTRY_H
#define CSLIB_REGISTRY_H

#include "cslib/export.h"

class CISStringList;

enum CISRegErr {
  CISRegOk = 0,
  CISRegErrFailed = -720,       // invalid object; a write, creation or deletion failed
  CISRegErrBadArg = -721,       // a pointer argument cannot be read or written
  CISRegErrNotFound = -722,     // a key or value to read is missing
  CISRegErrBadKeyList = -723,   // empty key list, or an empty leaf or one ending in '\'
  CISRegErrUnknownRoot = -724,  // the root name is none of the four
  CISRegErrNoMemory = -725,
  CISRegErrType = -726  // a type name outside the table, or a value of another type
};

// How the leaf key is opened.
enum REGattrib {
  REGattribOpen = 0,   // it must exist
  REGattribCreate = 1  // it is created when missing
};

// Access choice. CISsamExtended reports a missing path key as CISRegErrFailed also when
// only opening.
enum CISsam { CISsamNormal = 0, CISsamExtended = 1 };

// One open registry key, closed by the destructor.
class CSLIB_API RegKey {
 public:
  // Opens `parent\subkey`; or, with a leaf, opens (REGattribOpen) or creates
  // (REGattribCreate) `leaf` below `parent` or below `parent\subkey`, whose path keys
  // must exist. The outcome goes to *result; on failure the object holds no key.
  RegKey(CISRegErr* result, void* parent, const char* subkey, CISsam sam, REGattrib attrib,
         const char* leaf);
  ~RegKey();
  // A copy holds a handle of its own on the same key (none when that cannot be had),
  // so each object closes only what it opened.
  RegKey(const RegKey& other);
  RegKey& operator=(const RegKey& other);

  void* m_Key;  // the open key, or null
};

class CSLIB_API CISReg {
 public:
  // Selects root and keyList (see SelectSection); the outcome goes to *result when it
  // is writable. The object is valid afterwards whatever the outcome.
  CISReg(CISRegErr* result, const char* root, const CISStringList* keyList);
  ~CISReg();
  // Copies follow the same caller-owned key list.
  CISReg(const CISReg& other);
  CISReg& operator=(const CISReg& other);

  // 1 when the key that root and keyList name exists, else 0.
  static int KeyExists(const char* root, const CISStringList* keyList);

  // Moves the store to another key: root is one of "HKEY_LOCAL_MACHINE",
  // "HKEY_CURRENT_USER", "HKEY_USERS", "HKEY_CLASSES_ROOT" (exactly); keyList holds
  // the path entries and, last, the key itself. The list stays the caller's and is
  // followed when it changes between operations.
  CISRegErr SelectSection(const char* root, const CISStringList* keyList);

  // Writes text as the key's unnamed value, creating the key; with text null only
  // creates the key.
  CISRegErr Store(const char* text, CISsam sam);
  // Writes a string value (name null: the unnamed value). A text that starts with
  // "USR:" or "SYS:" is followed by a flush of the profile file named like the key.
  CISRegErr Store(const char* name, const char* text, CISsam sam);
  // Writes size bytes as a value of type "REG_BINARY", "REG_DWORD" or "REG_MULTI_SZ";
  // another type name stores REG_BINARY and gives CISRegErrType.
  CISRegErr Store(const char* name, const void* data, unsigned short size, const char* typeName,
                  CISsam sam);

  // Makes the profile engine drop its cached copy of the profile file fileName.
  CISRegErr Sync(const char* fileName);

  // Appends the names of the key's subkeys to names.
  CISRegErr Retrieve(CISStringList* names);
  // Reads string value name into buffer, which holds size characters and a terminator
  // (size + 1 bytes). A value of another type gives CISRegErrType.
  CISRegErr Retrieve(const char* name, char* buffer, unsigned short size, const char* unused);
  // Reads up to size bytes of value name; *length (when writable) receives the bytes
  // read, or the size the value needs. A value not of typeName gives CISRegErrType.
  CISRegErr Retrieve(const char* name, void* buffer, unsigned short size, unsigned short* length,
                     const char* typeName, const void* unused1, unsigned short unused2);

  // Deletes value name of the key (creating the key when missing); a missing value is
  // no error.
  CISRegErr Delete(const char* name, const char* unused);
  // Deletes the key that root and keyList name, unless it has subkeys; a missing key is
  // no error.
  CISRegErr Delete(const char* root, const CISStringList* keyList, CISsam sam);

 private:
  CISRegErr m_Delete(CISsam sam);
  CISRegErr m_ParseKeyList(CISStringList* list);
  int m_IsKeyListInvariant();
  void m_AdaptKeyList();
  int m_IsCISRegInvariant();
  CISRegErr m_MakeSubkey(char* buffer, unsigned long size);
  CISRegErr m_NewRegKey(RegKey** key, CISsam sam, REGattrib attrib, int withLeaf);

  unsigned long m_Signature;
  void* m_Root;
  int m_RootFound;
  CISStringList* m_KeyList;
  const char* m_Leaf;
  unsigned long m_PathSize;
  unsigned long m_EntryCount;
};

#endif  // CSLIB_REGISTRY_H
