// Doubly linked list of untyped pointers and the iterator through which every
// positional operation is made. Each element lives in a node of its own, a memory
// object locked for as long as the element is in the list. The list never owns what
// its elements point to.
#ifndef CSLIB_LIST_H
#define CSLIB_LIST_H

#include "cslib/export.h"

class CSMemObject;
class CSList;

// One element's record, held inside the node's own memory object.
struct CSListNode {
  CSMemObject* m_Owner;  // the memory object holding this record
  void* m_Data;          // the caller's pointer, stored unchanged
  CSListNode* m_Prev;    // null at the head
  CSListNode* m_Next;    // null at the tail
};

enum CSListErr { CSListOk = 0, CSListErrNoMemory = -3 };

// A cursor: the list, the node it stands on and that node's zero-based ordinal. The
// list operations keep the ordinal of the iterator they are given; no other
// iterator is updated.
class CSLIB_API CSListIterator {
 public:
  CSListIterator();  // bound to no list, on no node, ordinal -1
  explicit CSListIterator(CSList& list);
  CSListIterator(CSListIterator& other);
  ~CSListIterator();

  // Binds to list and stands on its head (ordinal 0), or on nothing (-1) when empty.
  void Initialize(CSList& list);
  CSListIterator& Head();
  CSListIterator& Tail();
  // Stands on the node of ordinal n: one step from a neighbouring ordinal, otherwise a
  // walk from the head. n below 0 gives the head (ordinal 0); n past the tail gives
  // no node (ordinal -1).
  CSListIterator& operator[](long n);
  void GetNext();  // past the tail: no node, ordinal -1
  void GetPrev();  // before the head: no node, ordinal -1
  CSListIterator& operator=(CSListIterator& other);
  int IsValid();
  int IsHead();  // also 1 on no node of an empty list
  int IsTail();
  long Ord();

  CSList* m_List;
  CSListNode* m_Current;
  long m_Ordinal;
};

class CSLIB_API CSList {
 public:
  CSList();
  ~CSList();  // releases every node, never the elements
  // Nodes belong to one list; a list is not copied.
  CSList(const CSList&) = delete;
  CSList& operator=(const CSList&) = delete;

  // Adds data before (Insert) or after (Append) the iterator's node; into an empty
  // list the iterator then stands on the new node, ordinal 0. -3 when no node could
  // be had, or the iterator is not bound to this list or stands on no node of a
  // non-empty list; list and iterator are then unchanged.
  long Insert(CSListIterator& it, void* data);
  long Append(CSListIterator& it, void* data);
  // Removes the iterator's node; the iterator moves to the following node (to the new
  // tail when the tail was removed). Nothing when it stands on no node of this list.
  void Delete(CSListIterator& it);
  void* Get(CSListIterator& it);   // Peek, then Delete
  void* Peek(CSListIterator& it);  // null when the iterator stands on no node
  long Count();
  int IsEmpty();

  CSListNode* m_Head;
  CSListNode* m_Tail;
  long m_Count;

 private:
  CSListNode* NewNode(void* data);
  CSListNode* AddNode(CSListIterator& it, void* data);
};

#endif  // CSLIB_LIST_H
