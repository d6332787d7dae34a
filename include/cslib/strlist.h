// An ordered list of up to 255 private copies of narrow strings, appended at the end,
// read by a one-based index and removed from the end. Every entry and every text is a
// block of the list's own collection.
#ifndef CSLIB_STRLIST_H
#define CSLIB_STRLIST_H

#include "cslib/blocks.h"
#include "cslib/export.h"

enum CISStrErr {
  CISStrOk = 0,
  CISStrErrInvalid = -730,    // not a live list; or Replace given an unreadable text
  CISStrErrBadString = -731,  // Add given a null or unreadable text
  CISStrErrNoRoom = -732      // 255 entries already, or no memory
};

// One entry's record, in a block of the collection locked for the entry's life.
struct CISStrEntry {
  unsigned int m_RecordSize;  // sizeof(CISStrEntry)
  CSMemBlock* m_NextEntry;    // null for the last entry
  char* m_Text;               // the text, in a block locked for the entry's life
};

class CSLIB_API CISStringList {
 public:
  CISStringList();
  // A copy holds its own copies of the texts; one that cannot be completed reports
  // itself invalid (Count 0, Add -730).
  CISStringList(const CISStringList& other);
  CISStringList& operator=(const CISStringList& other);
  ~CISStringList();

  // Appends a copy of text. -731 for a null text or one that runs into unreadable
  // memory, -732 with 255 entries or no memory, -730 for a list that is not valid.
  CISStrErr Add(const char* text);
  // Removes the last entry, then appends text unless it is null. -730 when the list is
  // not valid or text is neither null nor readable.
  CISStrErr Replace(const char* text);
  // Text of entry index (1 is the first, 0 the last), or null. Reading 1, 2, 3... in
  // order takes one step per call. The text stays valid until its entry is removed.
  const char* Find(unsigned char index);
  unsigned char Count();
  unsigned long Length();  // the texts' lengths added up, terminators not counted
  int IsListInvariant();

 private:
  CISStrErr CreateStrEntry(unsigned long length);
  void DeleteFirstEntry();
  void DeleteLastEntry();
  void ReleaseEntry(CSMemBlock* record);
  void ResetCursor();
  bool CopyFrom(const CISStringList& other);

  int m_Signature;
  CSMemCollection m_Collection;
  CSMemBlock* m_First;
  CSMemBlock* m_Last;
  CSMemBlock* m_Cursor;
  unsigned char m_Count;
  unsigned char m_CursorIndex;
};

#endif  // CSLIB_STRLIST_H
