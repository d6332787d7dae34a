// Memory blocks, collections and CSObject: limits and accounting, locks, deletion by
// block and by data address, the tagged object header, and what happens to locked
// blocks, copies and exhausted memory.
#include <cslib.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "support/allocfail.h"
#include "support/testenv.h"

namespace {

char kFile[] = "blocks_test";

// Exposes the list of a collection.
class Pool : public CSMemCollection {
 public:
  using CSMemCollection::CSMemCollection;
  long Blocks() { return fBlockList.Count(); }
};

CSMemBlock* NewBlock(CSMemCollection& c, unsigned long size, unsigned long options = 0) {
  CSMemBlock* b = nullptr;
  EXPECT_EQ(c.NewBlockA(size, options, &b, kFile, __LINE__), 0);
  return b;
}

TEST(Collection, LimitAndAccounts) {
  Pool pool(100);
  CSMemBlock* b = NewBlock(pool, 60);
  ASSERT_NE(b, nullptr);
  CSMemBlock* none = b;
  EXPECT_EQ(pool.NewBlockA(50, 0, &none, kFile, 1), CSBlkErrLimit);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(pool.Blocks(), 1);
  EXPECT_EQ(pool.GetAmountAllocated(), 60UL);
  EXPECT_EQ(pool.GetAmountFree(), 40UL);
  EXPECT_EQ(pool.GetTotalAmount(), 100UL);
  // A shrink always passes and lowers the account; growing past the limit changes nothing.
  ASSERT_EQ(b->ReAllocate(30, 0), 0);
  EXPECT_EQ(pool.GetAmountAllocated(), 30UL);
  b->Set(0x77);
  EXPECT_EQ(b->ReAllocate(101, 0), CSBlkErrLimit);
  EXPECT_EQ(b->GetSize(), 30UL);
  EXPECT_EQ(pool.GetAmountAllocated(), 30UL);
  unsigned char* p = b->Lock();
  EXPECT_EQ(CSIsAllFFs(p, 30), 30UL);
  EXPECT_EQ(p[29], 0x77);
  b->Unlock();
  ASSERT_EQ(b->ReAllocate(100, 0), 0);
  EXPECT_EQ(pool.GetAmountFree(), 0UL);
  EXPECT_EQ(pool.DeleteBlock(b), 0);
  EXPECT_EQ(pool.GetAmountAllocated(), 0UL);
  EXPECT_EQ(pool.Blocks(), 0);

  Pool closed(0);
  EXPECT_EQ(closed.NewBlockA(1, 0, &none, kFile, 1), CSBlkErrLimit);
  EXPECT_EQ(closed.Blocks(), 0);

  Pool open;
  ASSERT_NE(NewBlock(open, 4000), nullptr);
  const unsigned long total = open.GetTotalAmount();
  const unsigned long free = open.GetAmountFree();
  EXPECT_NEAR(static_cast<double>(total - free), 4000.0, 1 << 20);  // free space may move
  EXPECT_EQ(open.GetAmountAllocated(), 4000UL);
}

// Sizes near the top of unsigned long never wrap into a small block.
TEST(Collection, HugeSizesDoNotWrap) {
  Pool open, capped(ULONG_MAX);
  CSMemBlock* b = NewBlock(open, 60);
  ASSERT_NE(NewBlock(capped, 60), nullptr);
  CSMemBlock* none = nullptr;
  EXPECT_EQ(open.NewBlockA(ULONG_MAX - 10, 0, &none, kFile, 1), CSBlkErrAlloc);
  EXPECT_EQ(capped.NewBlockA(ULONG_MAX - 10, 0, &none, kFile, 1), CSBlkErrLimit);
  EXPECT_EQ(open.IncAllocation(ULONG_MAX - 10), CSBlkErrAlloc);
  EXPECT_EQ(capped.IncAllocation(ULONG_MAX - 10), CSBlkErrLimit);
  EXPECT_EQ(open.GetAmountAllocated(), 60UL);
  EXPECT_EQ(capped.GetAmountAllocated(), 60UL);
  EXPECT_EQ(open.Blocks(), 1);
  // A resize the heap cannot give keeps size, data and account.
  b->Set(0x42);
  for (unsigned long size : {ULONG_MAX, ULONG_MAX - 2, ULONG_MAX / 2}) {
    EXPECT_EQ(b->ReAllocate(size, 0), CSBlkErrAlloc);
    EXPECT_EQ(b->GetSize(), 60UL);
    EXPECT_EQ(open.GetAmountAllocated(), 60UL);
  }
  unsigned char* p = b->Lock();
  EXPECT_EQ(p[0], 0x42);
  EXPECT_EQ(p[59], 0x42);
  b->Unlock();
  CSMemBlock alone(16, 0);
  EXPECT_EQ(alone.ReAllocate(ULONG_MAX, 0), CSBlkErrAlloc);
  EXPECT_EQ(alone.GetSize(), 16UL);
  CSMemBlock empty;
  EXPECT_EQ(empty.Allocate(ULONG_MAX - 4, 0, nullptr, 0), CSBlkErrAlloc);
  EXPECT_EQ(empty.GetSize(), 0UL);
}

TEST(Block, AllocateFreeAndLocks) {
  CSMemBlock b;
  EXPECT_EQ(b.Free(), CSBlkErrNotAllocated);
  EXPECT_EQ(b.Allocate(0, 0, nullptr, 0), CSBlkErrAlloc);
  EXPECT_EQ(b.Lock(), nullptr);
  EXPECT_EQ(b.Unlock(), 1);
  EXPECT_EQ(b.Valid(), 0);
  ASSERT_EQ(b.Allocate(8, 0, nullptr, 0), 0);
  b.Set(9);
  EXPECT_EQ(b.Allocate(16, CSMemBlkZeroInit, nullptr, 0), CSBlkErrAlloc);
  EXPECT_EQ(b.GetSize(), 8UL);
  unsigned char* p = b.Lock();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[7], 9);
  EXPECT_EQ(b.Lock(), p);
  EXPECT_EQ(b.Free(), CSBlkErrLocked);
  EXPECT_EQ(b.ReAllocate(32, 0), CSBlkErrLocked);
  EXPECT_EQ(b.Unlock(), 0);
  EXPECT_EQ(b.Unlock(), 1);
  EXPECT_EQ(b.Valid(), 1);
  EXPECT_EQ(b.Free(), 0);
  EXPECT_EQ(b.GetSize(), 0UL);
  // ReAllocate of an empty block allocates it.
  EXPECT_EQ(b.ReAllocate(0, 0), CSBlkErrAlloc);
  ASSERT_EQ(b.ReAllocate(12, CSMemBlkZeroInit), 0);
  p = b.Lock();
  EXPECT_EQ(CSIsAllZeros(p, 12), 0UL);
  b.Unlock();
}

TEST(Block, ZeroFillAndAlignment) {
  CSMemBlock z(10, CSMemBlkZeroInit | CSMemBlkAlign64);
  unsigned char* p = z.Lock();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 64, 0u);
  EXPECT_EQ(CSIsAllZeros(p, 10), 0UL);
  std::memcpy(p, "0123456789", 10);
  z.Unlock();
  ASSERT_EQ(z.ReAllocate(3000, 0), 0);
  p = z.Lock();
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 64, 0u);
  EXPECT_EQ(std::memcmp(p, "0123456789", 10), 0);
  EXPECT_EQ(CSIsAllZeros(p + 10, 2990), 0UL);
  z.Unlock();
  for (unsigned long options : {0x08UL, 0x04UL, 0x02UL}) {
    CSMemBlock a(5, options);
    unsigned char* q = a.Lock();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(q) % (options == 0x08 ? 8 : options), 0u);
    a.Unlock();
  }
}

TEST(Block, LockInChunks) {
  CSMemBlock b(64, 0);
  unsigned char *base, *a, *c, *d;
  b.LockInChunks(&base, 16, &a, 32, &c, 8, &d, 0, nullptr);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(a, base);
  EXPECT_EQ(c, base + 16);
  EXPECT_EQ(d, base + 48);
  EXPECT_EQ(b.Unlock(), 1);  // one lock only
  CSMemBlock empty;
  base = a = reinterpret_cast<unsigned char*>(&b);
  empty.LockInChunks(&base, 4, &a, 0, nullptr);
  EXPECT_EQ(base, nullptr);
  EXPECT_EQ(a, nullptr);
}

TEST(Collection, DeleteByDataAddress) {
  Pool pool, other;
  unsigned char* data = nullptr;
  ASSERT_EQ(pool.NewBlockPtrA(20, 0, &data, kFile, 1), 0);
  CSMemBlock* block = CSMemBlock::GetMemBlockObjPtr(data);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->GetCollectionPtr(), &pool);
  // Locked once more by the caller: refused, and the locks are as they were.
  EXPECT_EQ(block->Lock(), data);
  EXPECT_EQ(pool.DeleteBlockPtr(data), CSBlkErrLocked);
  EXPECT_EQ(block->Unlock(), 0);
  EXPECT_EQ(other.DeleteBlockPtr(data), CSBlkErrNotInCollection);
  EXPECT_EQ(other.DeleteBlock(block), CSBlkErrNotInCollection);
  EXPECT_EQ(block->Unlock(), 1);  // only the NewBlockPtrA lock was left
  block->Lock();
  EXPECT_EQ(pool.DeleteBlockPtr(data), 0);
  EXPECT_EQ(pool.Blocks(), 0);
  EXPECT_EQ(pool.GetAmountAllocated(), 0UL);
  // Addresses that are no block's data, and bad out-pointers.
  CSMemObject* m = nullptr;
  int notABlock = 0;
  ASSERT_EQ(CSAllocMemory(8, CSMemAlignNone, &m, &notABlock), 0);
  unsigned char* foreign;
  ASSERT_EQ(CSLockMemory(m, &foreign), 0);
  unsigned char stack[32] = {};
  for (unsigned char* bad : {foreign, stack + 16, static_cast<unsigned char*>(nullptr)})
    EXPECT_EQ(pool.DeleteBlockPtr(bad), CSBlkErrNotInCollection);
  CSDisposeMemory(m);
  cstest::MappedPages ro(1, PROT_READ);
  EXPECT_EQ(pool.NewBlockA(8, 0, nullptr, kFile, 1), CSBlkErrAlloc);
  EXPECT_EQ(pool.NewBlockA(8, 0, reinterpret_cast<CSMemBlock**>(ro.data()), kFile, 1),
            CSBlkErrAlloc);
  EXPECT_EQ(pool.NewBlockPtrA(8, 0, reinterpret_cast<unsigned char**>(ro.data()), kFile, 1),
            CSBlkErrAlloc);
  EXPECT_EQ(pool.Blocks(), 0);
}

TEST(Collection, DeleteAllKeepsLockedBlock) {
  Pool pool;
  CSMemBlock* a = NewBlock(pool, 10);
  CSMemBlock* locked = NewBlock(pool, 20);
  NewBlock(pool, 30);
  ASSERT_NE(locked->Lock(), nullptr);
  EXPECT_EQ(pool.DeleteAllBlocks(), CSBlkErrLocked);
  EXPECT_EQ(pool.Blocks(), 1);
  EXPECT_EQ(pool.GetAmountAllocated(), 20UL);
  EXPECT_EQ(pool.DeleteBlock(locked), CSBlkErrLocked);
  EXPECT_EQ(pool.DeleteBlock(a), CSBlkErrNotInCollection);  // already gone
  locked->Unlock();
  EXPECT_EQ(pool.DeleteAllBlocks(), 0);
  EXPECT_EQ(pool.Blocks(), 0);
}

// A block destroyed while locked gives its bytes back; a collection destroyed while a
// block is locked leaves that block alive and detached.
TEST(Collection, LockedBlocksAtDestruction) {
  Pool pool;
  CSMemBlock* b = NewBlock(pool, 40);
  ASSERT_NE(b->Lock(), nullptr);
  delete b;
  EXPECT_EQ(pool.GetAmountAllocated(), 0UL);
  EXPECT_EQ(pool.Blocks(), 0);

  auto* doomed = new Pool(1000);
  ASSERT_NE(doomed, nullptr);
  CSMemBlock* survivor = NewBlock(*doomed, 24);
  NewBlock(*doomed, 8);
  unsigned char* p = survivor->Lock();
  ASSERT_NE(p, nullptr);
  delete doomed;
  EXPECT_EQ(survivor->GetCollectionPtr(), nullptr);
  p[23] = 1;  // still the holder's memory
  EXPECT_EQ(survivor->Unlock(), 1);
  EXPECT_EQ(survivor->Valid(), 1);
  delete survivor;
}

TEST(Collection, CopiesOwnTheirData) {
  Pool pool(100);
  CSMemBlock* b = NewBlock(pool, 10, CSMemBlkZeroInit);
  unsigned char* p = b->Lock();
  std::memcpy(p, "abcdefghij", 10);
  b->Unlock();
  {
    CSMemBlock copy(*b);
    EXPECT_EQ(copy.GetCollectionPtr(), &pool);
    EXPECT_EQ(pool.GetAmountAllocated(), 20UL);
    EXPECT_EQ(pool.Blocks(), 2);
    unsigned char* q = copy.Lock();
    EXPECT_NE(q, p);
    EXPECT_EQ(std::memcmp(q, "abcdefghij", 10), 0);
    q[0] = 'X';
    copy.Unlock();
    CSMemBlock assigned(4, 0);
    assigned = copy;
    EXPECT_EQ(assigned.GetSize(), 10UL);
    assigned = assigned;
    EXPECT_EQ(assigned.GetSize(), 10UL);
  }
  EXPECT_EQ(pool.GetAmountAllocated(), 10UL);
  EXPECT_EQ(pool.Blocks(), 1);
  EXPECT_EQ(b->Lock()[0], 'a');
  b->Unlock();
  Pool twin(pool);
  EXPECT_EQ(twin.Blocks(), 0);
  EXPECT_EQ(twin.GetTotalAmount(), 100UL);
  EXPECT_EQ(twin.GetAmountAllocated(), 0UL);
}

TEST(Placement, TaggedHeaderAndAlignment) {
  auto* block = new CSMemBlock(8, 0);
  auto* pool = new CSMemCollection(64);
  ASSERT_NE(block, nullptr);
  ASSERT_NE(pool, nullptr);
  for (void* object : {static_cast<void*>(block), static_cast<void*>(pool)})
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(object) % alignof(std::max_align_t), 0u);
  unsigned short tag;
  std::memcpy(&tag, reinterpret_cast<unsigned char*>(block) - 2, 2);
  EXPECT_EQ(tag, 0xABEE);
  std::memcpy(&tag, reinterpret_cast<unsigned char*>(pool) - 2, 2);
  EXPECT_EQ(tag, 0xACEE);
  delete block;
  delete pool;
}

struct Widget : CSObject {
  explicit Widget(int v) : value(v) {}
  virtual ~Widget() { value = 0; }
  void* pointer = nullptr;
  long value;
};

TEST(Placement, ObjectsLiveInBlocks) {
  auto* alone = new Widget(5);
  ASSERT_NE(alone, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(alone) % alignof(Widget), 0u);
  CSMemBlock* home = CSMemBlock::GetMemBlockObjPtr(reinterpret_cast<unsigned char*>(alone));
  ASSERT_NE(home, nullptr);
  EXPECT_GE(home->GetSize(), sizeof(Widget));
  delete alone;

  Pool pool(1000);
  auto* member = new (&pool) Widget(7);
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(member->value, 7);
  EXPECT_EQ(pool.GetAmountAllocated(), sizeof(Widget));
  EXPECT_EQ(pool.Blocks(), 1);
  delete member;
  EXPECT_EQ(pool.GetAmountAllocated(), 0UL);
  EXPECT_EQ(pool.Blocks(), 0);
  Pool tiny(4);
  EXPECT_EQ(new (&tiny) Widget(1), nullptr);
  EXPECT_EQ(new (static_cast<CSMemCollection*>(nullptr)) Widget(1), nullptr);
}

// Each allocation inside NewBlockA failing in turn: an error, no block listed, the
// account untouched, nothing leaked.
TEST(Collection, ExhaustedMemoryAtEachStep) {
  Pool pool(1000);
  for (long after = 0; after < 8; ++after) {
    SCOPED_TRACE(after);
    CSMemBlock* b = nullptr;
    long r;
    {
      cstest::FailingAllocations fail(after);
      r = pool.NewBlockA(100, 0, &b, kFile, 1);
    }
    if (r == 0) {
      EXPECT_EQ(pool.GetAmountAllocated(), 100UL);
      EXPECT_EQ(pool.DeleteBlock(b), 0);
    } else {
      EXPECT_EQ(r, CSBlkErrAlloc);
      EXPECT_EQ(b, nullptr);
    }
    EXPECT_EQ(pool.GetAmountAllocated(), 0UL);
    EXPECT_EQ(pool.Blocks(), 0);
  }
  cstest::FailingAllocations fail;
  EXPECT_EQ(new CSMemBlock(8, 0), nullptr);
  EXPECT_EQ(new Widget(1), nullptr);
}

}  // namespace
