// The doubly linked list and its iterator. Nodes are memory objects locked for the
// life of their element; the iterator handed to an operation keeps its ordinal right.
#include <new>

#include "cslib/list.h"
#include "cslib/memory.h"
#include "csobject/src/heappaths.h"

// ---- CSListIterator

CSListIterator::CSListIterator() : m_List(nullptr), m_Current(nullptr), m_Ordinal(-1) {}

CSListIterator::CSListIterator(CSList& list) : CSListIterator() {
  Initialize(list);
}

CSListIterator::CSListIterator(CSListIterator& other) = default;

CSListIterator::~CSListIterator() = default;

void CSListIterator::Initialize(CSList& list) {
  m_List = &list;
  Head();
}

CSListIterator& CSListIterator::Head() {
  if (m_List) {
    m_Current = m_List->m_Head;
    m_Ordinal = m_Current ? 0 : -1;
  }
  return *this;
}

CSListIterator& CSListIterator::Tail() {
  if (m_List) {
    m_Current = m_List->m_Tail;
    m_Ordinal = m_Current ? m_List->m_Count - 1 : -1;
  }
  return *this;
}

CSListIterator& CSListIterator::operator[](long n) {
  if (!m_List) return *this;
  if (m_Current && n == m_Ordinal + 1) {
    GetNext();
  } else if (m_Current && n == m_Ordinal - 1) {
    GetPrev();
  } else {
    Head();
    for (long i = 0; i < n && m_Current; ++i) GetNext();
  }
  m_Ordinal = m_Current ? (n > 0 ? n : 0) : -1;
  return *this;
}

void CSListIterator::GetNext() {
  if (!m_Current) return;
  m_Current = m_Current->m_Next;
  m_Ordinal = m_Current ? m_Ordinal + 1 : -1;
}

void CSListIterator::GetPrev() {
  if (!m_Current) return;
  m_Current = m_Current->m_Prev;
  m_Ordinal = m_Current ? m_Ordinal - 1 : -1;
}

CSListIterator& CSListIterator::operator=(CSListIterator& other) = default;

int CSListIterator::IsValid() {
  return m_Current ? 1 : 0;
}
int CSListIterator::IsHead() {
  return m_List && m_Current == m_List->m_Head ? 1 : 0;
}
int CSListIterator::IsTail() {
  return m_List && m_Current == m_List->m_Tail ? 1 : 0;
}
long CSListIterator::Ord() {
  return m_Ordinal;
}

// ---- CSList

CSList::CSList() : m_Head(nullptr), m_Tail(nullptr), m_Count(0) {}

CSList::~CSList() {
  // Deleting the head leaves the iterator on the new head.
  CSListIterator it(*this);
  while (it.IsValid()) Delete(it);
}

// The node's memory object is allocated and locked, and at the end unlocked and
// disposed, through the library's short paths: the list made the object itself, so
// the checks of the public functions would only repeat what is known.
CSListNode* CSList::NewNode(void* data) {
  unsigned char* record = nullptr;
  CSMemObject* owner = cslib::HeapObjectPaths::NewLocked(sizeof(CSListNode), nullptr, &record);
  if (!owner) return nullptr;
  return new (record) CSListNode{owner, data, nullptr, nullptr};
}

// The node for an Insert or Append through it, counted in; in an empty list it becomes
// the only node and the iterator stands on it. Null, with nothing changed, when the
// iterator cannot be used here or no node can be had.
CSListNode* CSList::AddNode(CSListIterator& it, void* data) {
  if (it.m_List != this || (m_Head && !it.m_Current)) return nullptr;
  CSListNode* node = NewNode(data);
  if (!node) return nullptr;
  if (!m_Head) {
    m_Head = m_Tail = node;
    it.m_Current = node;
    it.m_Ordinal = 0;
  }
  ++m_Count;
  return node;
}

long CSList::Insert(CSListIterator& it, void* data) {
  CSListNode* at = it.m_Current;
  CSListNode* node = AddNode(it, data);
  if (!node) return CSListErrNoMemory;
  if (node == it.m_Current) return CSListOk;  // the list was empty
  node->m_Next = at;
  node->m_Prev = at->m_Prev;
  if (at->m_Prev) {
    at->m_Prev->m_Next = node;
  } else {
    m_Head = node;
  }
  at->m_Prev = node;
  ++it.m_Ordinal;
  return CSListOk;
}

long CSList::Append(CSListIterator& it, void* data) {
  CSListNode* at = it.m_Current;
  CSListNode* node = AddNode(it, data);
  if (!node) return CSListErrNoMemory;
  if (node == it.m_Current) return CSListOk;  // the list was empty
  node->m_Prev = at;
  node->m_Next = at->m_Next;
  if (at->m_Next) {
    at->m_Next->m_Prev = node;
  } else {
    m_Tail = node;
  }
  at->m_Next = node;
  return CSListOk;
}

void CSList::Delete(CSListIterator& it) {
  CSListNode* x = it.m_Current;
  if (it.m_List != this || !x) return;
  if (m_Head == m_Tail) {
    m_Head = m_Tail = nullptr;
    it.m_Current = nullptr;
    it.m_Ordinal = -1;
  } else if (x == m_Head) {
    m_Head = x->m_Next;
    m_Head->m_Prev = nullptr;
    it.m_Current = m_Head;
    it.m_Ordinal = 0;
  } else if (x == m_Tail) {
    m_Tail = x->m_Prev;
    m_Tail->m_Next = nullptr;
    it.m_Current = m_Tail;
    --it.m_Ordinal;
  } else {
    x->m_Prev->m_Next = x->m_Next;
    x->m_Next->m_Prev = x->m_Prev;
    it.m_Current = x->m_Next;
  }
  cslib::HeapObjectPaths::DisposeLocked(x->m_Owner);
  --m_Count;
}

void* CSList::Get(CSListIterator& it) {
  void* data = Peek(it);
  Delete(it);
  return data;
}

void* CSList::Peek(CSListIterator& it) {
  return it.m_List == this && it.m_Current ? it.m_Current->m_Data : nullptr;
}

long CSList::Count() {
  return m_Count;
}
int CSList::IsEmpty() {
  return m_Count == 0 ? 1 : 0;
}
