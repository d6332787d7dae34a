// The registry as the registry store needs it: keys below four predefined roots,
// opened by handle, holding named typed values. The operations behave as the Windows
// registry functions of the same purpose do and answer with Windows error numbers,
// so the store's logic reads the same on either platform.
#ifndef CSLIB_PORT_REGISTRY_H
#define CSLIB_PORT_REGISTRY_H

#include <cstdint>

namespace cslib::port {

// A key handle. The four roots are the fixed values below; every other handle comes
// from OpenRegistryKey or CreateRegistryKey and stays valid until closed. A value
// that is neither a root nor a live handle is refused with kRegInvalidHandle.
using RegHandle = void*;

inline RegHandle RootHandle(std::uintptr_t value) {
  return reinterpret_cast<RegHandle>(value);
}
inline constexpr std::uintptr_t kRegClassesRoot = 0x80000000;
inline constexpr std::uintptr_t kRegCurrentUser = 0x80000001;
inline constexpr std::uintptr_t kRegLocalMachine = 0x80000002;
inline constexpr std::uintptr_t kRegUsers = 0x80000003;

// Results: the Windows error numbers.
inline constexpr long kRegSuccess = 0;
inline constexpr long kRegFileNotFound = 2;  // no such key or value
inline constexpr long kRegAccessDenied = 5;  // a key with subkeys, or a root, to delete
inline constexpr long kRegInvalidHandle = 6;
inline constexpr long kRegNotEnoughMemory = 8;
inline constexpr long kRegInvalidParameter = 87;
inline constexpr long kRegBadPathname = 161;  // empty level in a key path
inline constexpr long kRegMoreData = 234;     // the buffer is too small
inline constexpr long kRegNoMoreItems = 259;  // enumeration past the last subkey
inline constexpr long kRegKeyDeleted = 1018;  // the handle's key was deleted meanwhile
inline constexpr long kRegCannotOpen = 1011;  // the database cannot be opened or created
inline constexpr long kRegIoFailed = 1016;    // the database failed a read or a write

// Value types, as Windows numbers them.
inline constexpr unsigned long kRegSz = 1;
inline constexpr unsigned long kRegBinary = 3;
inline constexpr unsigned long kRegDword = 4;
inline constexpr unsigned long kRegMultiSz = 7;

// Longest name of one key level, in characters.
inline constexpr unsigned long kRegMaxKeyName = 255;

// Reading never creates anything: a root whose database does not exist yet reads as
// empty. Writing creates the database, and the directories it needs, on first use.
//
// Key paths name one level or several separated by backslashes; one trailing
// backslash is allowed, an empty level (a leading or doubled backslash) is
// kRegBadPathname. Names match without regard to ASCII case and keep their case.

// Opens the existing key `path` below `parent` into *key. A null or empty path opens
// the parent itself again (a new handle). kRegFileNotFound when a level is missing.
long OpenRegistryKey(RegHandle parent, const char* path, RegHandle* key);

// Opens `path` below `parent` with read and write access, creating every missing
// level. *created (when given) tells whether the last level was new.
long CreateRegistryKey(RegHandle parent, const char* path, RegHandle* key, bool* created);

// Releases a handle from Open or Create. Closing a root does nothing.
long CloseRegistryKey(RegHandle key);

// Writes value `name` of `key` (null or "" is the key's unnamed value) with the given
// type and the `size` bytes at `data`, replacing any value of that name.
long SetRegistryValue(RegHandle key, const char* name, unsigned long type, const void* data,
                      unsigned long size);

// Reads value `name` (null or "" the unnamed value). *type (when given) receives its
// type. With `data` null, *size receives the size the value needs. Otherwise *size
// holds the buffer's size on entry and the bytes copied on return; a buffer too small
// gives kRegMoreData, writes nothing to it and leaves the needed size in *size.
long QueryRegistryValue(RegHandle key, const char* name, unsigned long* type, void* data,
                        unsigned long* size);

// Copies the name of subkey `index` (from 0, in the order of the upper-cased names)
// into `name`, which holds `size` bytes. kRegNoMoreItems past the last subkey,
// kRegMoreData when the name and its terminator do not fit.
long EnumRegistrySubkey(RegHandle key, unsigned long index, char* name, unsigned long size);

// Removes value `name` (null or "" the unnamed value); kRegFileNotFound when absent.
long DeleteRegistryValue(RegHandle key, const char* name);

// Removes the key `path` below `parent` with its values. kRegAccessDenied while it has
// subkeys (nothing is removed), kRegFileNotFound when it does not exist, and
// kRegInvalidParameter for a null or empty path. Handles still open on the removed
// key answer kRegKeyDeleted from then on.
long DeleteRegistryKey(RegHandle parent, const char* path);

}  // namespace cslib::port

#endif  // CSLIB_PORT_REGISTRY_H
