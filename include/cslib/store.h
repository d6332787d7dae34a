// The cross-instance store: settings kept in INI files in the Windows directory, which
// every instance of every component, in every process, sees alike. A store is bound
// to one section of one database file; a map file, "QZFCSS15.INI", records for each
// section and key the database file through which it was first used.
#ifndef CSLIB_STORE_H
#define CSLIB_STORE_H

#include "cslib/export.h"

// Which database file a store uses.
// A fixed underlying type: callers may pass any value, which selects the default file.
enum CISType : int {
  CISTypeMachine = 0,    // "QZFMRC15.INI" in the Windows directory
  CISTypeUser = 1,       // the same file as CISTypeMachine
  CISTypeWinIni = 2,     // WIN.INI
  CISTypeNamedFile = 3,  // the caller's file (on the NT family: its name, in the Windows
                         // directory; elsewhere the path as given)
};

// Results of every store operation.
enum CISErr {
  CISOk = 0,
  CISErrFailed = -700,     // unusable name or key, set-up failed, or the file write failed
  CISErrInvalid = -701,    // a pointer cannot be read or written, or the store is invalid
  CISErrNotFound = -702,   // no such entry (or an empty one) and no default
  CISErrTruncated = -703,  // a default or list was cut to fit the caller's buffer
  CISErrSection = -704,    // a section could not be deleted
  CISErrNoMemory = -705,   // working memory could not be had
};

class CSLIB_API CrossInstanceStore {
 public:
  // Binds the store to `section` (1 to 193 characters; otherwise "Common" is used and
  // result is CISErrFailed, the store still usable) of the database `type` chooses.
  // `fileName` must be a readable string for every type ("" when there is none); it is
  // used only by CISTypeNamedFile. A failed set-up leaves the store invalid.
  CrossInstanceStore(CISErr& result, const char* section, CISType type, const char* fileName);
  // Copies read and write the same file and section. A copy of an invalid store, or
  // one that runs out of memory, is invalid. Assigning a store to itself does nothing.
  CrossInstanceStore(const CrossInstanceStore& other);
  CrossInstanceStore& operator=(const CrossInstanceStore& other);
  ~CrossInstanceStore();

  // Writes key=value in the store's section. Key: 1 to 256 characters; the value has no
  // limit. CISErrFailed, nothing written, for a bad key, a name or value the file cannot
  // hold (a line break, a key holding '=' or starting with '[' or ';'), or a failed
  // write.
  CISErr StoreStr(const char* key, const char* value);

  // Reads key's value into buffer (size bytes), cut to size - 1 characters if longer.
  // CISErrNotFound for a missing or empty entry, a key over 256 characters or size 0.
  CISErr RetrieveStr(const char* key, char* buffer, unsigned short size);

  // As RetrieveStr; a missing entry is stored with defaultValue (whole) and handed back,
  // cut to the buffer. Returns the store's failure if storing the default failed, else
  // CISErrTruncated if the default was cut, else CISOk. A null default: RetrieveStr.
  CISErr RetrieveOrStoreStr(const char* key, char* buffer, unsigned short size,
                            const char* defaultValue);

 private:
  // Database set-up: works out m_DBFile and m_MapFile and touches both files.
  int m_CISInitDB(CISType type, const char* fileName);
  // One entry: written, or deleted when value is null. Nonzero for success.
  int m_CISWriteDB(const char* section, const char* key, const char* value);
  int m_CISDeleteDBEntry(const char* section, const char* key);
  // A whole section and its section map. Nonzero for success.
  int m_CISDeleteDBSection(const char* section);
  // One entry's value; the number of characters read, 0 when missing or empty.
  int m_CISReadDB(const char* section, const char* key, char* buffer, unsigned short size);
  // The section's key names, each ended by a zero byte, the list by one more.
  int m_CISReadSection(const char* section, char* buffer, unsigned short size);
  // The section-map step run before each single-entry read, write and delete.
  void CISLocate(const char* section, const char* key, const char* dbPath, char* scratch,
                 char* notice);
  void CISUnMap(const char* section, const char* key);
  void CISUnMapSection(const char* section);
  void m_CopyCIS(const CrossInstanceStore& source);
  // The file name the profile calls take: null for WIN.INI.
  const char* m_ProfileFile() const;

  unsigned int m_Signature;
  CISType m_Type;
  char* m_DBFile;
  char* m_MapFile;
  char* m_Section;

  friend class CISStoreTestAccess;
};

#endif  // CSLIB_STORE_H
