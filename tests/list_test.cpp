// The doubly linked list: ordinals of the iterator after insert and delete at head,
// middle and tail, walking by ordinal, and failure to get a node.
#include <cslib.h>
#include <gtest/gtest.h>

#include <vector>

#include "support/allocfail.h"

namespace {

int v[8];

// The elements from head to tail, and a check of the back links on the way.
std::vector<void*> Contents(CSList& list) {
  std::vector<void*> out;
  CSListIterator it(list);
  CSListNode* prev = nullptr;
  for (; it.IsValid(); it.GetNext()) {
    EXPECT_EQ(it.m_Current->m_Prev, prev);
    prev = it.m_Current;
    out.push_back(list.Peek(it));
  }
  EXPECT_EQ(list.m_Tail, prev);
  EXPECT_EQ(static_cast<long>(out.size()), list.Count());
  return out;
}

TEST(List, EmptyListIterator) {
  CSList list;
  CSListIterator it(list);
  EXPECT_FALSE(it.IsValid());
  EXPECT_EQ(it.Ord(), -1);
  EXPECT_TRUE(it.IsHead());
  EXPECT_TRUE(it.IsTail());
  it.Tail();
  EXPECT_EQ(it.Ord(), -1);
  EXPECT_TRUE(list.IsEmpty());
  CSListIterator unbound;
  EXPECT_EQ(unbound.Ord(), -1);
  EXPECT_FALSE(unbound.IsValid());
}

TEST(List, InsertAndAppendKeepTheIteratorsOrdinal) {
  CSList list;
  CSListIterator it(list);
  ASSERT_EQ(list.Insert(it, &v[1]), 0);  // empty: iterator on the new element
  EXPECT_EQ(it.Ord(), 0);
  EXPECT_EQ(list.Peek(it), &v[1]);
  ASSERT_EQ(list.Insert(it, &v[0]), 0);  // at the head: new head, iterator moves back a place
  EXPECT_EQ(it.Ord(), 1);
  EXPECT_EQ(list.Peek(it), &v[1]);
  ASSERT_EQ(list.Append(it, &v[3]), 0);  // at the tail: iterator stays
  EXPECT_EQ(it.Ord(), 1);
  ASSERT_EQ(list.Append(it, &v[2]), 0);  // middle
  EXPECT_EQ(it.Ord(), 1);
  it.GetNext();
  it.GetNext();
  ASSERT_EQ(list.Insert(it, nullptr), 0);  // middle insert before v[3]; null is allowed
  EXPECT_EQ(it.Ord(), 4);
  EXPECT_EQ(list.Peek(it), &v[3]);
  EXPECT_TRUE(it.IsTail());
  EXPECT_EQ(Contents(list), (std::vector<void*>{&v[0], &v[1], &v[2], nullptr, &v[3]}));
}

TEST(List, DeleteMovesTheIterator) {
  CSList list;
  CSListIterator it(list);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(list.Append(it.Tail(), &v[i]), 0);
  it[2];  // middle: stands on the follower, same ordinal
  EXPECT_EQ(list.Get(it), &v[2]);
  EXPECT_EQ(it.Ord(), 2);
  EXPECT_EQ(list.Peek(it), &v[3]);
  it.Tail();  // tail: the new tail, one less
  list.Delete(it);
  EXPECT_EQ(it.Ord(), 2);
  EXPECT_EQ(list.Peek(it), &v[3]);
  EXPECT_TRUE(it.IsTail());
  it.Head();  // head: the new head, ordinal 0
  list.Delete(it);
  EXPECT_EQ(it.Ord(), 0);
  EXPECT_EQ(list.Peek(it), &v[1]);
  EXPECT_EQ(Contents(list), (std::vector<void*>{&v[1], &v[3]}));
  list.Delete(it);
  list.Delete(it);  // the only one: list empty, iterator on nothing
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_FALSE(it.IsValid());
  EXPECT_EQ(it.Ord(), -1);
  EXPECT_EQ(list.m_Head, nullptr);
  EXPECT_EQ(list.m_Tail, nullptr);
  list.Delete(it);  // on nothing: no effect
  EXPECT_EQ(list.Peek(it), nullptr);
}

TEST(List, StepsAndIndexing) {
  CSList list;
  CSListIterator it(list);
  for (int i = 0; i < 6; ++i) ASSERT_EQ(list.Append(it.Tail(), &v[i]), 0);
  it.Tail();
  it.GetNext();
  EXPECT_FALSE(it.IsValid());
  EXPECT_EQ(it.Ord(), -1);
  it.Head();
  it.GetPrev();
  EXPECT_FALSE(it.IsValid());
  EXPECT_EQ(it.Ord(), -1);
  // Any order of jumps, from any node, lands on the element of that ordinal.
  for (long k : {0L, 1L, 2L, 5L, 4L, 0L, 3L, 3L, 2L, 5L}) {
    it[k];
    EXPECT_EQ(it.Ord(), k);
    EXPECT_EQ(list.Peek(it), &v[k]);
  }
  it[6];  // past the tail
  EXPECT_FALSE(it.IsValid());
  EXPECT_EQ(it.Ord(), -1);
  it[-4];  // below 0: the head
  EXPECT_EQ(it.Ord(), 0);
  EXPECT_EQ(list.Peek(it), &v[0]);
  // Another iterator is not updated by operations made through this one.
  CSListIterator other(list);
  other[3];
  ASSERT_EQ(list.Insert(it, &v[7]), 0);
  EXPECT_EQ(other.Ord(), 3);
  EXPECT_EQ(list.Peek(other), &v[3]);
  CSListIterator copy(other);
  EXPECT_EQ(copy.Ord(), 3);
  copy = it;
  EXPECT_EQ(copy.Ord(), it.Ord());
}

TEST(List, BrokenPreconditionsChangeNothing) {
  CSList list, another;
  CSListIterator it(list), foreign(another);
  ASSERT_EQ(list.Append(it, &v[0]), 0);
  EXPECT_EQ(list.Insert(foreign, &v[1]), CSListErrNoMemory);
  it.GetNext();  // on nothing in a non-empty list
  EXPECT_EQ(list.Append(it, &v[1]), CSListErrNoMemory);
  EXPECT_EQ(list.Insert(it, &v[1]), CSListErrNoMemory);
  list.Delete(foreign);
  EXPECT_EQ(list.Get(foreign), nullptr);
  EXPECT_EQ(Contents(list), std::vector<void*>{&v[0]});
}

// Each node is an ordinary memory object, locked once while its element is in the list,
// whose record leads back to it; one a caller has unlocked or locked again is still
// released with its node (the sanitised build checks for leaks).
TEST(List, NodesAreLockedMemoryObjects) {
  CSList list;
  CSListIterator it(list);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(list.Append(it.Tail(), &v[i]), 0);
  for (it.Head(); it.IsValid(); it.GetNext()) {
    CSMemObject* owner = it.m_Current->m_Owner;
    EXPECT_EQ(it.m_Current->m_Data, &v[it.Ord()]);
    EXPECT_EQ(CSIsLocked(owner), CSMemErrLocked);
    EXPECT_EQ(CSValidMemory(owner), 0);
    unsigned long size = 0;
    EXPECT_EQ(CSSizeMemory(owner, &size), 0);
    EXPECT_GE(size, sizeof(CSListNode));
    void* user = &user;
    EXPECT_EQ(CSGetUserPointer(reinterpret_cast<unsigned char*>(it.m_Current), &user), 0);
    EXPECT_EQ(user, nullptr);
    EXPECT_EQ(CSUnlockMemory(owner), 0);  // now one lock, then none
    EXPECT_EQ(CSUnlockMemory(owner), CSMemErrNotLocked);
    ASSERT_EQ(CSLockMemory(owner, &reinterpret_cast<unsigned char*&>(user)), 0);
    EXPECT_EQ(user, it.m_Current);
  }
  unsigned char* again = nullptr;
  ASSERT_EQ(CSLockMemory(list.m_Head->m_Owner, &again), 0);  // the head is locked twice
  it.Head();
  list.Delete(it);
  EXPECT_EQ(Contents(list), (std::vector<void*>{&v[1], &v[2]}));
  ASSERT_EQ(CSUnlockMemory(list.m_Head->m_Owner), 0);  // and this one not at all
  list.Delete(it);
  EXPECT_EQ(Contents(list), std::vector<void*>{&v[2]});
}

TEST(List, NoNodeLeavesListAndIteratorAlone) {
  CSList list;
  CSListIterator it(list);
  ASSERT_EQ(list.Append(it, &v[0]), 0);
  ASSERT_EQ(list.Append(it, &v[1]), 0);
  it.Tail();
  {
    cstest::FailingAllocations fail;
    EXPECT_EQ(list.Insert(it, &v[2]), CSListErrNoMemory);
    EXPECT_EQ(list.Append(it, &v[2]), CSListErrNoMemory);
  }
  EXPECT_EQ(it.Ord(), 1);
  EXPECT_EQ(list.Peek(it), &v[1]);
  EXPECT_EQ(Contents(list), (std::vector<void*>{&v[0], &v[1]}));
}

}  // namespace
