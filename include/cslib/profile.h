// Profile-style functions in the shape of the Windows ones, kept through the
// cross-instance store: each call sets up a store on the section, so values follow the
// store's rules. Integers are kept as eight hex digits (their four bytes, least
// significant first), not as decimal text; empty values count as missing; every key
// used is recorded in the section map. The plain forms use WIN.INI, the Private forms
// the named file. A section name must have 1 to 193 characters; a null key reads the
// default and writes nothing.
#ifndef CSLIB_PROFILE_H
#define CSLIB_PROFILE_H

#include "cslib/export.h"

CSLIB_C_BEGIN

// Reads key into buffer (size bytes, taken up to 65535); a missing, empty or unreadable
// entry gives the default (null: empty), cut to size - 1 characters and not stored.
// Returns the length of the text in the buffer. 0, buffer untouched, for a null or
// unwritable buffer, a size below 1 or a section the store refuses.
CSLIB_API int CISGetProfileString(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, int size);
CSLIB_API int CISGetPrivateProfileString(const char* section, const char* key,
                                         const char* defaultValue, char* buffer, int size,
                                         const char* fileName);

// The value of key's hex text (up to eight digits; bytes not given are 0), or the
// default for a missing entry, a longer text or any failure.
CSLIB_API int CISGetProfileInt(const char* section, const char* key, int defaultValue);
CSLIB_API int CISGetPrivateProfileInt(const char* section, const char* key, int defaultValue,
                                      const char* fileName);

// Writes key=value; a null value deletes the key. 1 for success, 0 for failure (a null
// key included: no section is deleted this way).
CSLIB_API int CISWriteProfileString(const char* section, const char* key, const char* value);
CSLIB_API int CISWritePrivateProfileString(const char* section, const char* key, const char* value,
                                           const char* fileName);

// Writes value as eight hex digits (1 is 01000000). 1 for success, 0 for failure.
CSLIB_API int CISWriteProfileInt(const char* section, const char* key, int value);
CSLIB_API int CISWritePrivateProfileInt(const char* section, const char* key, int value,
                                        const char* fileName);

CSLIB_C_END

#endif  // CSLIB_PROFILE_H
