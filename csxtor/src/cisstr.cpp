// The string list: a singly linked chain of entry records, each record and each text
// a block of the list's collection, with a cursor that makes reading in order one
// step per entry.
#include <cstring>

#include "cslib/frame.h"
#include "cslib/strlist.h"
#include "port/memprobe.h"

namespace {

constexpr int kSignature = 50;
constexpr unsigned char kMaxEntries = 255;
char kSourceFile[] = "csxtor\\src\\cisstr";
constexpr unsigned long kRecordLine = 215;
constexpr unsigned long kTextLine = 227;

// Each read or write of a record takes a lock of its own and releases it at once.
CISStrEntry ReadEntry(CSMemBlock* record) {
  CISStrEntry entry{};
  if (unsigned char* p = record->Lock()) {
    std::memcpy(&entry, p, sizeof entry);
    record->Unlock();
  }
  return entry;
}

void WriteEntry(CSMemBlock* record, const CISStrEntry& entry) {
  if (unsigned char* p = record->Lock()) {
    std::memcpy(p, &entry, sizeof entry);
    record->Unlock();
  }
}

}  // namespace

CISStringList::CISStringList()
    : m_Signature(kSignature),
      m_First(nullptr),
      m_Last(nullptr),
      m_Cursor(nullptr),
      m_Count(0),
      m_CursorIndex(1) {}

CISStringList::CISStringList(const CISStringList& other) : CISStringList() {
  if (!CopyFrom(other)) m_Signature = 0;
}

CISStringList& CISStringList::operator=(const CISStringList& other) {
  if (&other == this) return *this;
  while (m_Count > 0) DeleteFirstEntry();
  m_Signature = CopyFrom(other) ? kSignature : 0;
  return *this;
}

CISStringList::~CISStringList() {
  while (m_Count > 0) DeleteFirstEntry();
  m_Signature = 0;
}

// Walks the other list's chain directly, so that its cursor does not move.
bool CISStringList::CopyFrom(const CISStringList& other) {
  if (other.m_Signature != kSignature) return false;
  for (CSMemBlock* at = other.m_First; at;) {
    const CISStrEntry entry = ReadEntry(at);
    if (!entry.m_Text) return false;
    const unsigned long length = std::strlen(entry.m_Text);
    if (CreateStrEntry(length) != CISStrOk) return false;
    std::memcpy(ReadEntry(m_Last).m_Text, entry.m_Text, length + 1);
    at = entry.m_NextEntry;
  }
  return true;
}

void CISStringList::ResetCursor() {
  m_Cursor = m_First;
  m_CursorIndex = 1;
}

CISStrErr CISStringList::Add(const char* text) {
  // The whole text must be readable, not only its first byte: a copy is made of it.
  const long length = cslib::port::ReadableStrlen(text);
  if (length < 0) return CISStrErrBadString;
  if (m_Count >= kMaxEntries) return CISStrErrNoRoom;
  if (m_Signature != kSignature) return CISStrErrInvalid;
  const CISStrErr r = CreateStrEntry(static_cast<unsigned long>(length));
  if (r != CISStrOk) return r;
  std::memcpy(ReadEntry(m_Last).m_Text, text, static_cast<std::size_t>(length) + 1);
  return CISStrOk;
}

CISStrErr CISStringList::CreateStrEntry(unsigned long length) {
  if (m_Count >= kMaxEntries) return CISStrErrNoRoom;
  CSMemBlock* record = nullptr;
  if (m_Collection.NewBlockA(sizeof(CISStrEntry), 0, &record, kSourceFile, kRecordLine) != 0 ||
      !record)
    return CISStrErrNoRoom;
  unsigned char* text = nullptr;
  if (m_Collection.NewBlockPtrA(length + 1, 0, &text, kSourceFile, kTextLine) != 0 || !text) {
    m_Collection.DeleteBlock(record);
    return CISStrErrNoRoom;
  }
  if (!record->Lock()) {  // held for the entry's life
    m_Collection.DeleteBlockPtr(text);
    m_Collection.DeleteBlock(record);
    return CISStrErrNoRoom;
  }
  text[0] = '\0';
  WriteEntry(record, CISStrEntry{sizeof(CISStrEntry), nullptr, reinterpret_cast<char*>(text)});
  ++m_Count;
  if (!m_First) {
    m_First = m_Last = m_Cursor = record;
  } else {
    CISStrEntry last = ReadEntry(m_Last);
    last.m_NextEntry = record;
    WriteEntry(m_Last, last);
    m_Last = record;
  }
  return CISStrOk;
}

const char* CISStringList::Find(unsigned char index) {
  if (m_Signature != kSignature || m_Count == 0) return nullptr;
  if (index == 0) return ReadEntry(m_Last).m_Text;
  if (index == m_CursorIndex + 1) {
    CSMemBlock* next = m_Cursor ? ReadEntry(m_Cursor).m_NextEntry : nullptr;
    if (!next || index > m_Count) {
      ResetCursor();
      return nullptr;
    }
    m_Cursor = next;
    m_CursorIndex = index;
    return ReadEntry(next).m_Text;
  }
  if (index > m_Count) return nullptr;
  CSMemBlock* at = m_First;
  for (unsigned i = 1; i < index && at; ++i) at = ReadEntry(at).m_NextEntry;
  if (!at) return nullptr;
  if (at == m_Last) {
    ResetCursor();
  } else {
    m_Cursor = at;
    m_CursorIndex = index;
  }
  return ReadEntry(at).m_Text;
}

void CISStringList::ReleaseEntry(CSMemBlock* record) {
  const CISStrEntry entry = ReadEntry(record);
  m_Collection.DeleteBlockPtr(reinterpret_cast<unsigned char*>(entry.m_Text));
  record->Unlock();  // the lock taken when the entry was created
  m_Collection.DeleteBlock(record);
}

void CISStringList::DeleteLastEntry() {
  if (m_Count == 0) return;
  // Leaves the cursor on the next-to-last entry (on the only one when there is one).
  Find(static_cast<unsigned char>(m_Count - 1));
  CSMemBlock* old = m_Last;
  CSMemBlock* last = m_Cursor;
  if (last != old) {
    CISStrEntry entry = ReadEntry(last);
    entry.m_NextEntry = nullptr;
    WriteEntry(last, entry);
  }
  m_Last = last;
  --m_Count;
  ReleaseEntry(old);
  if (m_Count == 0) m_First = m_Last = nullptr;
  ResetCursor();
}

void CISStringList::DeleteFirstEntry() {
  if (m_Count == 0) return;
  CSMemBlock* old = m_First;
  m_First = ReadEntry(old).m_NextEntry;
  --m_Count;
  ReleaseEntry(old);
  if (m_Count == 0) m_First = m_Last = nullptr;
  ResetCursor();
}

CISStrErr CISStringList::Replace(const char* text) {
  if (m_Signature != kSignature || (text && !CSIsValidReadPtr(text, 1))) return CISStrErrInvalid;
  DeleteLastEntry();
  return text ? Add(text) : CISStrOk;
}

unsigned char CISStringList::Count() {
  return m_Signature == kSignature ? m_Count : 0;
}

unsigned long CISStringList::Length() {
  if (m_Signature != kSignature) return 0;
  unsigned long total = 0;
  const unsigned count = m_Count;
  for (unsigned i = 1; i <= count; ++i) {
    const char* text = Find(static_cast<unsigned char>(i));
    if (text) total += std::strlen(text);
  }
  return total;
}

int CISStringList::IsListInvariant() {
  if (m_Signature != kSignature) return 0;
  if (m_Count == 0) return !m_First && m_CursorIndex == 1 && !m_Cursor ? 1 : 0;
  if (!m_First || !m_Last || ReadEntry(m_Last).m_NextEntry) return 0;
  if (m_Count == 1) return m_First == m_Last && m_CursorIndex == 1 ? 1 : 0;
  return m_First != m_Last && m_CursorIndex >= 1 && m_CursorIndex <= m_Count ? 1 : 0;
}
