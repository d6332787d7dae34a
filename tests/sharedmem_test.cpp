// Shared memory blocks between real processes: one creator runs the initializer,
// openers see its work (and wait for it), the memory goes with its last holder, and
// the block answers the block interface as a shared block should.
#include <cslib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/child.h"
#include "support/testenv.h"

namespace {

using cstest::Child;
using cstest::UniqueName;

int initCalls = 0;

long WriteOne(CSSharedMemBlock*, unsigned char* data) {
  ++initCalls;
  data[0] = 1;
  return 0;
}

long Refuse(CSSharedMemBlock*, unsigned char*) {
  return 42;
}

long Nothing(CSSharedMemBlock*, unsigned char*) {
  return 0;
}

using cstest::Signal;

TEST(SharedBlock, CreatedAndInitialisedOnceThenReadByAnotherProcess) {
  const std::string name = UniqueName("sb");
  initCalls = 0;
  unsigned long created = 7;
  CSSharedMemBlock block(name.c_str(), 100, WriteOne, 0, &created);
  EXPECT_EQ(created, 1u);
  EXPECT_EQ(initCalls, 1);
  EXPECT_EQ(block.Valid(), 1);
  EXPECT_EQ(block.GetSize(), 100u);

  Child reader([&] {
    unsigned long theirs = 7;
    CSSharedMemBlock other(name.c_str(), 100, WriteOne, 0, &theirs);
    unsigned char* data = other.Lock();
    const bool ok = theirs == 0 && initCalls == 1 && data && data[0] == 1 && other.Valid() == 1;
    if (data) data[1] = 2;
    other.Unlock();
    return ok ? 0 : 1;
  });
  EXPECT_EQ(reader.Wait(), 0);
  unsigned char* data = block.Lock();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data[1], 2);
  EXPECT_EQ(block.Unlock(), 1);
}

TEST(SharedBlock, NamesPairMemoryAndMutex) {
  const std::string name = (UniqueName("p") + std::string(24, 'n')).substr(0, 24);
  CSSharedMemBlock block(name.c_str(), 8, WriteOne, 0, nullptr);
  EXPECT_EQ(block.Valid(), 1);
  std::vector<std::string> files = cstest::SharedObjectFiles(name);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"cslib.SHRMEM_" + name, "cslib.SHRMUT_" + name}));

  // Longer names are refused, never cut into another block's name.
  unsigned long created = 7;
  const std::string longer = name + "x";
  CSSharedMemBlock refused(longer.c_str(), 8, WriteOne, 0, &created);
  EXPECT_EQ(created, 0u);
  EXPECT_EQ(refused.Valid(), 0);
  EXPECT_EQ(refused.Lock(), nullptr);
  CSSharedMemBlock empty;
  EXPECT_EQ(empty.Allocate(longer.c_str(), 8, WriteOne, 0, &created), CSBlkErrAlloc);
  EXPECT_EQ(empty.Allocate(nullptr, 8, WriteOne, 0, &created), CSBlkErrAlloc);
  EXPECT_TRUE(cstest::SharedObjectFiles(longer).empty());
}

TEST(SharedBlock, WithoutInitializerAndLockNesting) {
  const std::string name = UniqueName("ni");
  unsigned long created = 0;
  CSSharedMemBlock block(name.c_str(), 16, nullptr, 0, &created);
  EXPECT_EQ(created, 1u);
  EXPECT_EQ(block.Valid(), 0) << "the creation reported -193";
  unsigned char* first = block.Lock();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(block.Lock(), first);
  EXPECT_EQ(block.Unlock(), 0);
  EXPECT_EQ(block.Unlock(), 1);
  EXPECT_EQ(block.Unlock(), 0) << "nothing left to release";

  CSSharedMemBlock named;
  EXPECT_EQ(named.Allocate(UniqueName("na").c_str(), 16, nullptr, 0, &created),
            CSBlkErrNoInitializer);
  EXPECT_EQ(created, 1u);
}

TEST(SharedBlock, GoneWithItsLastHolderClosedOrKilled) {
  const std::string name = UniqueName("gone");
  {
    CSSharedMemBlock a(name.c_str(), 32, WriteOne, 0, nullptr);
    CSSharedMemBlock b(name.c_str(), 32, WriteOne, 0, nullptr);
    EXPECT_EQ(a.Free(), 0);
    unsigned char* data = b.Lock();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[0], 1) << "the other holder keeps it alive";
    b.Unlock();
  }
  EXPECT_TRUE(cstest::SharedObjectFiles(name).empty());

  Signal ready;
  Child holder([&] {
    CSSharedMemBlock mine(name.c_str(), 32, WriteOne, 0, nullptr);
    unsigned char* data = mine.Lock();  // dies holding the lock, too
    if (!data) return 1;
    data[5] = 5;
    ready.Send();
    pause();
    return 0;
  });
  ASSERT_TRUE(ready.Receive());
  holder.Kill(SIGKILL);
  holder.Wait();

  unsigned long created = 0;
  CSSharedMemBlock fresh(name.c_str(), 32, nullptr, 0, &created);
  EXPECT_EQ(created, 1u);
  unsigned char* data = fresh.Lock();
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(data[i], 0) << i;
  EXPECT_EQ(fresh.Unlock(), 1);
  EXPECT_EQ(fresh.Free(), 0);
  EXPECT_TRUE(cstest::SharedObjectFiles(name).empty());
}

TEST(SharedBlock, OpenerWaitsForTheCreatorsInitializer) {
  const std::string name = UniqueName("wait");
  Signal inInit;
  Child creator([&] {
    static Signal* signal;
    signal = &inInit;
    CSSharedMemBlock mine(
        name.c_str(), 4,
        [](CSSharedMemBlock*, unsigned char* data) -> long {
          signal->Send();
          usleep(200 * 1000);  // long enough for the opener to come in early
          data[0] = 42;
          return 0;
        },
        0, nullptr);
    pause();
    return 0;
  });
  ASSERT_TRUE(inInit.Receive());
  unsigned long created = 7;
  CSSharedMemBlock opener(name.c_str(), 4, WriteOne, 0, &created);
  EXPECT_EQ(created, 0u);
  // Read without the lock: only waiting during the opening makes this 42.
  EXPECT_EQ(static_cast<volatile unsigned char*>(opener.Lock())[0], 42);
  opener.Unlock();
  creator.Kill(SIGKILL);
  creator.Wait();
}

TEST(SharedBlock, FailedCreationsAnswerValidAlike) {
  const std::string name = UniqueName("fail");
  CSSharedMemBlock constructed(name.c_str(), 8, Refuse, 0, nullptr);
  EXPECT_EQ(constructed.Valid(), 0);
  constructed.Free();

  CSSharedMemBlock allocated;
  EXPECT_EQ(allocated.Allocate(name.c_str(), 8, Refuse, 0, nullptr), 42);
  EXPECT_EQ(allocated.Valid(), 0);
  EXPECT_EQ(allocated.Free(), 0);
  EXPECT_EQ(allocated.Allocate(name.c_str(), 8, WriteOne, 0, nullptr), 0);
  EXPECT_EQ(allocated.Valid(), 1);

  // A held block refuses a second creation and keeps what it holds.
  EXPECT_EQ(allocated.Allocate(UniqueName("other").c_str(), 8, WriteOne, 0, nullptr),
            CSBlkErrAlloc);
  unsigned char* data = allocated.Lock();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data[0], 1);
  allocated.Unlock();

  // An opener asking for more than the memory holds is refused, not handed a short view.
  CSSharedMemBlock bigger(name.c_str(), 4096, WriteOne, 0, nullptr);
  EXPECT_EQ(bigger.Valid(), 0);
  EXPECT_EQ(bigger.Lock(), nullptr);
}

TEST(SharedBlock, FreeAndDestructionGiveEverythingBack) {
  const std::string name = UniqueName("free");
  CSSharedMemBlock empty;
  EXPECT_EQ(empty.Free(), 0);
  EXPECT_EQ(empty.Free(), 0);

  {
    CSSharedMemBlock zero(name.c_str(), 0, Nothing, 0, nullptr);
    EXPECT_EQ(zero.Valid(), 1);
    EXPECT_EQ(cstest::SharedObjectFiles(name).size(), 2u);
  }
  EXPECT_TRUE(cstest::SharedObjectFiles(name).empty()) << "a size-0 block is released on destruction";

  // Freed while locked: the lock goes back, so others are not shut out.
  CSSharedMemBlock keep(name.c_str(), 8, WriteOne, 0, nullptr);
  CSSharedMemBlock locked(name.c_str(), 8, WriteOne, 0, nullptr);
  ASSERT_NE(locked.Lock(), nullptr);
  ASSERT_NE(locked.Lock(), nullptr);
  EXPECT_EQ(locked.Free(), 0);
  Child other([&] {
    CSSharedMemBlock theirs(name.c_str(), 8, WriteOne, 0, nullptr);
    return theirs.Lock() && theirs.Unlock() == 1 ? 0 : 1;
  });
  EXPECT_EQ(other.Wait(), 0);
}

TEST(SharedBlock, BlockInterfaceOfASharedBlock) {
  const std::string name = UniqueName("if");
  CSSharedMemBlock block(name.c_str(), 8, WriteOne, 0, nullptr);
  CSMemBlock& asBlock = block;
  EXPECT_EQ(asBlock.Allocate(8, 0, nullptr, 0), CSBlkErrAlloc);
  EXPECT_EQ(asBlock.ReAllocate(16, 0), CSBlkErrLocked);
  EXPECT_EQ(asBlock.GetCollectionPtr(), nullptr);
  unsigned char* data = asBlock.Lock();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(CSSharedMemBlock::GetMemBlockObjPtr(data), nullptr);
  unsigned char* base = data;
  unsigned char* first = data;
  asBlock.LockInChunks(&base, 4, &first, 0, nullptr);
  EXPECT_EQ(base, data);
  asBlock.Set(9);
  EXPECT_EQ(data[0], 1) << "Set writes nothing into shared data";
  EXPECT_EQ(asBlock.Unlock(), 1);
  EXPECT_EQ(block.Allocate(8, CSMemBlkZeroInit, nullptr, 0), 0);
  EXPECT_EQ(block.Lock(0), nullptr);
  EXPECT_EQ(block.ReAllocate(8, CSMemBlkZeroInit), 0);

  CSSharedMemBlock empty;
  EXPECT_EQ(empty.ReAllocate(8, 0), CSBlkErrAlloc);
  EXPECT_EQ(empty.Lock(), nullptr);
  EXPECT_EQ(empty.Unlock(), 0);
  EXPECT_EQ(empty.Valid(), 0);
  EXPECT_EQ(CSSharedMemBlock::fIsFirstSharedMemoryOperation, 0);

  // Placed in a memory object like any block, and destroyed whole through the base.
  CSMemBlock* placed = new CSSharedMemBlock(name.c_str(), 8, WriteOne, 0, nullptr);
  ASSERT_NE(placed, nullptr);
  EXPECT_EQ(placed->Valid(), 1);
  delete placed;
}

TEST(SharedBlock, CopiesHoldTheSameMemoryOnTheirOwn) {
  const std::string name = UniqueName("cp");
  auto* original = new CSSharedMemBlock(name.c_str(), 8, WriteOne, 0, nullptr);
  CSSharedMemBlock copy(*original);
  EXPECT_EQ(copy.Valid(), 1);
  unsigned char* mine = original->Lock();
  ASSERT_NE(mine, nullptr);
  mine[3] = 3;
  original->Unlock();
  delete original;

  unsigned char* data = copy.Lock();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data[3], 3);
  copy.Unlock();

  CSSharedMemBlock assigned;
  assigned = copy;
  EXPECT_EQ(assigned.Valid(), 1);
  copy.Free();
  data = assigned.Lock();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data[3], 3);
  assigned.Unlock();
  assigned.Free();
  EXPECT_TRUE(cstest::SharedObjectFiles(name).empty());
}

}  // namespace
