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

class CSMemBlock;

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

  // The length of key's value in characters, at most 65407; 0 when the entry is missing
  // or empty, the key is unreadable or over 256 characters, or the store is invalid.
  unsigned short RetrieveSizeStr(const char* key);

  // Removes key's entry and its section-map entry. Removing a missing key succeeds.
  // CISErrFailed for a key over 256 characters or a failed write.
  CISErr Delete(const char* key);

  // Typed values are kept as lower-case hex text, two digits a byte, in memory order of
  // the 32-bit target: a word and a double word least significant byte first (a double
  // word is 4 bytes, 8 digits, whatever the width of unsigned long here). The values
  // passed by reference are only read.
  CISErr StoreOneByte(const char* key, unsigned char& value);
  CISErr StoreWord(const char* key, unsigned short& value);
  CISErr StoreDWord(const char* key, unsigned long& value);
  // Writes count bytes of data (1 to 32767; CISErrFailed otherwise, nothing written).
  // CISErrNoMemory, nothing written, when the text cannot be composed.
  CISErr StoreGenericBytes(const char* key, const void* data, unsigned short count);

  // The stored value, or as much of it as the text gives (bytes it does not give are
  // 0); 0 for a missing entry, a bad key or an invalid store.
  unsigned char RetrieveOneByte(const char* key);
  unsigned short RetrieveWord(const char* key);
  unsigned long RetrieveDWord(const char* key);
  // As above; a missing (or empty) entry is stored with the default, which is returned.
  unsigned char RetrieveOrStoreOneByte(const char* key, unsigned char& defaultValue);
  unsigned short RetrieveOrStoreWord(const char* key, unsigned short& defaultValue);
  unsigned long RetrieveOrStoreDWord(const char* key, unsigned long& defaultValue);

  // Decodes key's hex text into destination (size bytes); *count gets the bytes
  // completed. Upper-case digits are read, other characters skipped, ';' starts a
  // comment, each character counts by its low seven bits. CISErrTruncated (the bytes
  // that fit delivered) when the text has more than 2 * size characters. A missing entry
  // gives CISErrNotFound, or with a default (size bytes) stores it, copies it out, sets
  // *count to size and returns the store's result. CISErrNoMemory when the text cannot
  // be read for want of memory (*count 0, destination untouched).
  CISErr RetrieveGenericBytes(const char* key, void* destination, unsigned short size,
                              unsigned short* count, const void* defaultValue);
  // The bytes key's text holds: its length in characters (separators and comment
  // included) halved, rounded up. 0 for a missing entry, a bad key or an invalid store.
  unsigned short RetrieveSizeBytes(const char* key);

  // Reads the entry prefix + number in decimal (prefix "DEZU", 12: "DEZU12") as
  // RetrieveStr does. CISErrNoMemory when the key cannot be composed.
  CISErr FindStringEnum(const char* prefix, unsigned short number, char* buffer,
                        unsigned short size);
  // Removes any section of the database file (name up to 256 characters, else
  // CISErrSection) with its section map. CISErrSection when the write fails.
  CISErr DeleteSection(const char* section);
  // Copies every non-empty entry of source into target, then deletes source. Names that
  // address the same section give CISOk and change nothing. CISErrFailed for a missing
  // or empty source, a failed write or a key list too long to be read whole;
  // CISErrNoMemory when working memory runs out. A failed copy deletes nothing: the
  // source stays whole, the target keeps what was copied.
  CISErr MoveSection(const char* source, const char* target);
  // The number of entries of the store's own section; 0 when it is empty, missing or
  // cannot be read.
  unsigned short QuerySection();

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

  // One entry's value, whole, in a new[] buffer the caller releases, after the locate
  // step. CISErrNotFound for a missing or empty entry, CISErrNoMemory.
  CISErr m_CISFetchDB(const char* section, const char* key, char** value, unsigned long* length);
  // The length of one entry's value, whole, after the locate step.
  unsigned long m_CISSizeDB(const char* section, const char* key);
  // The byte operations on checked arguments: key readable (keyLength characters),
  // data and destination sound, store valid. A default is checked only when needed.
  CISErr m_StoreBytes(const char* key, long keyLength, const unsigned char* data,
                      unsigned short count);
  CISErr m_RetrieveBytes(const char* key, long keyLength, unsigned char* destination,
                         unsigned short size, unsigned short* count,
                         const unsigned char* defaultValue);
  // A section's whole key list in block (grown as needed, left locked, *list its
  // address). CISErrFailed for an empty or missing section or a list over 65533 bytes,
  // CISErrNoMemory. On failure the block is left unlocked.
  CISErr m_CISReadKeyList(const char* section, CSMemBlock& block, char** list,
                          unsigned short* size);
  // The copy step of MoveSection.
  CISErr m_CISCopyDBSection(const char* source, const char* target);
  // Counts the names of a key list of size bytes. CISErrTruncated when a name runs to
  // or past the buffer's end (the names before it counted).
  CISErr NumSectionEntries(const char* list, unsigned short size, unsigned short* count);

  unsigned int m_Signature;
  CISType m_Type;
  char* m_DBFile;
  char* m_MapFile;
  char* m_Section;

  friend class CISStoreTestAccess;
};

#endif  // CSLIB_STORE_H
