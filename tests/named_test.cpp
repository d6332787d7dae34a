// Named objects shared between processes: the mechanism under the named mutex and the
// shared blocks (creation, lifetime, dead holders, file names), and the named mutex.
#include "port/named.h"

#include <cslib.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "port/posix/named_lock.h"
#include "support/child.h"
#include "support/testenv.h"

namespace {

using cslib::port::NamedLockState;
using cslib::port::NamedMutex;
using cslib::port::OwnerIdentity;
using cslib::port::SharedObject;
using cslib::port::SharedObjectFileName;
using cstest::Child;
using cstest::UniqueName;

using cstest::Signal;

std::unique_ptr<SharedObject> OpenObject(const std::string& name, std::size_t size, bool* created) {
  return SharedObject::Open(name, size, created);
}

TEST(SharedObjectName, EscapedOrHashedNeverCut) {
  EXPECT_EQ(SharedObjectFileName("SHRMEM_cfg-1.x"), "cslib.SHRMEM_cfg-1.x");
  EXPECT_EQ(SharedObjectFileName("a/b c%~\xff"), "cslib.a%2Fb%20c%25%7E%FF");
  EXPECT_NE(SharedObjectFileName("/"), SharedObjectFileName("%2F"));

  // Names that escape to more than a file name holds: same head, different ends.
  const std::string head(100, '/');
  const std::string a = SharedObjectFileName(head + "a");
  const std::string b = SharedObjectFileName(head + "b");
  EXPECT_NE(a, b);
  EXPECT_LE(a.size(), 255u);
  EXPECT_EQ(a.size() - a.find('~'), 65u);
  EXPECT_EQ(a, SharedObjectFileName(head + "a"));
  // SHA-256 of a known text, so the hash is the real one and stays stable.
  const std::string abc = SharedObjectFileName(std::string(300, 'x'));
  EXPECT_EQ(abc.substr(abc.find('~') + 1),
            "0D4E2CA9E9CBCED7A7A5380EB29E1A3783B9B6D0DB72DE36A1051038E1C1FBC7");
}

TEST(SharedObject, LivesWhileHeldAndStartsAfreshAfterwards) {
  const std::string name = UniqueName("obj");
  bool created = false;
  auto first = OpenObject(name, 64, &created);
  ASSERT_TRUE(first);
  EXPECT_TRUE(created);
  static_cast<char*>(first->data())[10] = 7;

  auto second = OpenObject(name, 64, &created);
  ASSERT_TRUE(second);
  EXPECT_FALSE(created);
  EXPECT_EQ(static_cast<char*>(second->data())[10], 7);
  EXPECT_FALSE(OpenObject(name, 65, &created)) << "an existing object is not grown";

  EXPECT_TRUE(first->Close());
  EXPECT_EQ(cstest::SharedObjectFiles(name).size(), 1u);
  EXPECT_EQ(static_cast<char*>(second->data())[10], 7);
  EXPECT_TRUE(second->Close());
  EXPECT_TRUE(cstest::SharedObjectFiles(name).empty());

  auto third = OpenObject(name, 64, &created);
  ASSERT_TRUE(third);
  EXPECT_TRUE(created);
  EXPECT_EQ(static_cast<char*>(third->data())[10], 0);
  third.reset();
  EXPECT_TRUE(cstest::SharedObjectFiles(name).empty());
}

TEST(SharedObject, ExactlyOneOfManyRacingOpenersCreates) {
  const std::string name = UniqueName("race");
  const std::string tally = UniqueName("tally");
  constexpr int kChildren = 6;
  bool created = false;
  auto counters = OpenObject(tally, 2 * sizeof(std::atomic<int>), &created);
  ASSERT_TRUE(counters);
  auto* arrived = static_cast<std::atomic<int>*>(counters->data());
  auto* creators = arrived + 1;

  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < kChildren; ++i) {
    children.push_back(std::make_unique<Child>([&] {
      bool mine = false;
      auto object = OpenObject(name, 16, &mine);
      if (!object) return 1;
      if (mine) ++*creators;
      ++*arrived;
      // Everyone holds the object at once before anyone lets go.
      while (arrived->load() < kChildren) sched_yield();
      return 0;
    }));
  }
  for (auto& child : children) EXPECT_EQ(child->Wait(), 0);
  EXPECT_EQ(creators->load(), 1);
  EXPECT_TRUE(cstest::SharedObjectFiles(name).empty());
}

TEST(SharedObject, KilledLastHolderLeavesNothingAlive) {
  const std::string name = UniqueName("dead");
  Signal ready;
  Child holder([&] {
    bool created = false;
    auto object = OpenObject(name, 32, &created);
    if (!object) return 1;
    static_cast<char*>(object->data())[0] = 9;
    ready.Send();
    pause();
    return 0;
  });
  ASSERT_TRUE(ready.Receive());
  holder.Kill(SIGKILL);
  holder.Wait();

  bool created = false;
  auto object = OpenObject(name, 32, &created);
  ASSERT_TRUE(object);
  EXPECT_TRUE(created);
  EXPECT_EQ(static_cast<char*>(object->data())[0], 0);
  object.reset();
  EXPECT_TRUE(cstest::SharedObjectFiles(name).empty());
}

// ---- The lock under the named mutex

// What owners that ended leave in the lock, forged: the next locker must find each
// one gone, take the lock over once, and start its own count afresh.
TEST(NamedLock, OwnersThatEndedAreFoundAndReplaced) {
  const std::uint64_t me = cslib::port::CurrentThreadIdentity();
  const std::uint32_t myId = cslib::port::CurrentThreadId();

  Child reaped([] { return 0; });
  reaped.Wait();
  const auto reapedId = static_cast<std::uint32_t>(reaped.pid());
  bool created = false;
  auto told = OpenObject(UniqueName("lkz"), sizeof(std::uint64_t), &created);
  ASSERT_TRUE(told);
  auto* zombieIdentity = static_cast<std::atomic<std::uint64_t>*>(told->data());
  Signal ready;
  Child zombie([&] {
    zombieIdentity->store(cslib::port::CurrentThreadIdentity());
    ready.Send();
    pause();
    return 0;
  });
  ASSERT_TRUE(ready.Receive());
  zombie.Kill(SIGKILL);  // not reaped until the end of the test
  const auto zombieId = static_cast<std::uint32_t>(zombie.pid());

  // A live thread, for an owner whose id it got after the owner ended.
  std::promise<void> finish;
  std::promise<std::uint64_t> identity;
  std::thread live([&] {
    identity.set_value(cslib::port::CurrentThreadIdentity());
    finish.get_future().wait();
  });
  const std::uint64_t liveIdentity = identity.get_future().get();
  const auto liveId = static_cast<std::uint32_t>(liveIdentity >> 32);

  struct Case {
    const char* what;
    std::uint32_t word;
    std::uint64_t owner;
  } cases[] = {
      {"thread gone", reapedId, OwnerIdentity(reapedId, 4242)},
      {"gone before it wrote who it was", reapedId | NamedLockState::kWaiters, 0},
      {"process ended, not reaped", zombieId, zombieIdentity->load()},
      {"id now held by a later thread", liveId, liveIdentity ^ 1},
      {"our own id, held by a thread before us", myId, me ^ 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = UniqueName("lk");
    auto lock = NamedMutex::Open(name);
    ASSERT_TRUE(lock);
    created = true;
    auto raw = SharedObject::Open(name, sizeof(NamedLockState), &created);
    ASSERT_TRUE(raw);
    ASSERT_FALSE(created);
    auto* state = static_cast<NamedLockState*>(raw->data());
    state->word = c.word;
    state->owner = c.owner;
    state->depth = 5;

    EXPECT_FALSE(lock->Unlock()) << "the caller does not own it";
    EXPECT_EQ(lock->Lock(), NamedMutex::Locked::kAbandoned);
    EXPECT_EQ(state->word & NamedLockState::kThreadMask, myId);
    EXPECT_TRUE(lock->Unlock());
    EXPECT_FALSE(lock->Unlock()) << "one unlock undoes the takeover, whatever was nested";
    EXPECT_EQ(state->word, 0u);
    EXPECT_EQ(lock->Lock(), NamedMutex::Locked::kYes);
    EXPECT_TRUE(lock->Unlock());
  }
  finish.set_value();
  live.join();
}

// An object of the name that some other code made is not taken for a lock.
TEST(NamedLock, ObjectThatIsNoLockIsNotOpened) {
  const std::string name = UniqueName("ln");
  bool created = false;
  auto other = OpenObject(name, 64, &created);
  ASSERT_TRUE(other && created);
  EXPECT_FALSE(NamedMutex::Open(name));
  other.reset();
  EXPECT_TRUE(NamedMutex::Open(name)) << "gone with its last holder";
}

TEST(NamedLock, ThreadThatEndsHoldingItAbandonsIt) {
  auto lock = NamedMutex::Open(UniqueName("lt"));
  ASSERT_TRUE(lock);
  std::thread([&] { EXPECT_EQ(lock->Lock(), NamedMutex::Locked::kYes); }).join();
  EXPECT_FALSE(lock->Unlock());
  EXPECT_EQ(lock->Lock(), NamedMutex::Locked::kAbandoned);
  EXPECT_TRUE(lock->Unlock());
}

// A waiter looks its owner up every time its sleep runs out; a live owner that holds
// the lock through many such looks, from a thread other than its process's first,
// must keep it.
TEST(NamedLock, LiveOwnerKeepsItWhileWaitersLookItUp) {
  const std::string name = UniqueName("ll");
  bool created = false;
  auto shared = OpenObject(UniqueName("lls"), sizeof(int), &created);
  ASSERT_TRUE(shared);
  auto* released = static_cast<std::atomic<int>*>(shared->data());
  Signal held;
  Child holder([&] {
    auto lock = NamedMutex::Open(name);
    if (!lock) return 1;
    bool ok = false;
    std::thread owner([&] {
      const bool locked = lock->Lock() == NamedMutex::Locked::kYes;
      held.Send();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      released->store(1);
      ok = locked && lock->Unlock();
    });
    owner.join();
    return ok ? 0 : 2;
  });
  ASSERT_TRUE(held.Receive());
  Child waiter([&] {
    auto lock = NamedMutex::Open(name);
    return lock && lock->Lock() == NamedMutex::Locked::kYes && released->load() == 1 &&
                   lock->Unlock()
               ? 0
               : 1;
  });
  auto lock = NamedMutex::Open(name);
  ASSERT_TRUE(lock);
  EXPECT_EQ(lock->Lock(), NamedMutex::Locked::kYes);
  EXPECT_EQ(released->load(), 1);
  EXPECT_TRUE(lock->Unlock());
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(waiter.Wait(), 0);
}

// ---- CSMutex

TEST(Mutex, RecursionCountsAndCodesInOneThread) {
  const std::string name = UniqueName("mx");
  CSMutex mutex(name.c_str());
  EXPECT_EQ(mutex.Release(), CSMutexErrSystem) << "never acquired";
  EXPECT_EQ(mutex.Aquire(), 0);
  EXPECT_EQ(mutex.Aquire(), 0);
  EXPECT_EQ(mutex.Release(), CSMutexStillHeld);
  EXPECT_EQ(mutex.Release(), 0);
  EXPECT_EQ(mutex.Release(), CSMutexErrSystem);
  EXPECT_EQ(mutex.Aquire(), 0);
  EXPECT_EQ(mutex.Release(), 0);

  // Another object of the same thread keeps its own count: it cannot release what
  // the first acquired.
  CSMutex other(name.c_str());
  EXPECT_EQ(mutex.Aquire(), 0);
  EXPECT_EQ(other.Release(), CSMutexErrSystem);
  EXPECT_EQ(other.Aquire(), 0);
  EXPECT_EQ(other.Release(), 0);
  EXPECT_EQ(mutex.Release(), 0);
}

TEST(Mutex, NamesThatCannotBeUsedGiveNoMutex) {
  const std::string base = UniqueName("n") + std::string(120, 'x');
  const std::string fits = base.substr(0, 120);
  const std::string longer = base.substr(0, 121);
  struct Case {
    const char* what;
    const char* name;
    long expected;
  } cases[] = {
      {"120 characters", fits.c_str(), 0},
      {"121 characters", longer.c_str(), CSMutexErrSystem},
      {"null", nullptr, CSMutexErrSystem},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CSMutex mutex(c.name);
    EXPECT_EQ(mutex.Aquire(), c.expected);
    EXPECT_EQ(mutex.Release(), c.expected == 0 ? 0 : CSMutexErrSystem);
  }
  EXPECT_TRUE(cstest::SharedObjectFiles(fits.substr(0, 20)).empty());
}

TEST(Mutex, OwnedByTheThreadThatAcquired) {
  const std::string name = UniqueName("mt");
  CSMutex mutex(name.c_str());
  ASSERT_EQ(mutex.Aquire(), 0);
  long fromOtherThread = 0;
  std::thread([&] { fromOtherThread = mutex.Release(); }).join();
  EXPECT_EQ(fromOtherThread, CSMutexErrSystem);
  EXPECT_EQ(mutex.Release(), 0);
}

TEST(Mutex, ProcessesNeverHoldItTogether) {
  const std::string name = UniqueName("mp");
  const std::string state = UniqueName("mps");
  constexpr int kChildren = 3, kRounds = 300;
  bool created = false;
  auto shared = OpenObject(state, 2 * sizeof(int), &created);
  ASSERT_TRUE(shared);
  int* inside = static_cast<int*>(shared->data());
  int* total = inside + 1;

  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < kChildren; ++i) {
    children.push_back(std::make_unique<Child>([&] {
      CSMutex mutex(name.c_str());
      for (int round = 0; round < kRounds; ++round) {
        if (mutex.Aquire() != 0) return 1;
        if (__atomic_fetch_add(inside, 1, __ATOMIC_SEQ_CST) != 0) return 2;
        const int seen = *total;  // a lost update shows a second holder
        sched_yield();
        *total = seen + 1;
        __atomic_fetch_sub(inside, 1, __ATOMIC_SEQ_CST);
        if (mutex.Release() != 0) return 3;
      }
      return 0;
    }));
  }
  for (auto& child : children) EXPECT_EQ(child->Wait(), 0);
  EXPECT_EQ(*total, kChildren * kRounds);
  EXPECT_TRUE(cstest::SharedObjectFiles(name).empty());
}

TEST(Mutex, HolderKilledWhileHoldingReleasesTheWaiter) {
  const std::string name = UniqueName("mk");
  CSMutex mutex(name.c_str());
  Signal held;
  Child holder([&] {
    CSMutex mine(name.c_str());
    if (mine.Aquire() != 0 || mine.Aquire() != 0) return 1;
    held.Send();
    pause();
    return 0;
  });
  ASSERT_TRUE(held.Receive());

  long waited = 1;
  std::thread waiter([&] { waited = mutex.Aquire(); });
  holder.Kill(SIGKILL);
  holder.Wait();
  waiter.join();
  // The abandoned wait reports failure and leaves the mutex free, not owned by a
  // thread with nothing to release.
  EXPECT_EQ(waited, CSMutexErrSystem);
  EXPECT_EQ(mutex.Release(), CSMutexErrSystem);
  Child other([&] {
    CSMutex theirs(name.c_str());
    return theirs.Aquire() == 0 && theirs.Release() == 0 ? 0 : 1;
  });
  EXPECT_EQ(other.Wait(), 0);
  EXPECT_EQ(mutex.Aquire(), 0);
  EXPECT_EQ(mutex.Release(), 0);
}

TEST(Mutex, DestroyingAHoldingObjectGivesItsAcquisitionsBack) {
  const std::string name = UniqueName("md");
  {
    CSMutex mutex(name.c_str());
    ASSERT_EQ(mutex.Aquire(), 0);
    ASSERT_EQ(mutex.Aquire(), 0);
  }
  CSMutex keep(name.c_str());  // keeps the object alive across the child
  Child other([&] {
    CSMutex theirs(name.c_str());
    return theirs.Aquire() == 0 && theirs.Release() == 0 ? 0 : 1;
  });
  EXPECT_EQ(other.Wait(), 0);
}

TEST(Mutex, CopiesAreSeparateHoldersOfOneMutex) {
  const std::string name = UniqueName("mc");
  auto* original = new CSMutex(name.c_str());
  ASSERT_EQ(original->Aquire(), 0);
  CSMutex copy(*original);
  EXPECT_EQ(copy.Release(), CSMutexErrSystem) << "the copy holds none of the acquisitions";
  EXPECT_EQ(copy.Aquire(), 0);
  EXPECT_EQ(copy.Release(), 0);
  EXPECT_EQ(original->Release(), 0);
  delete original;

  CSMutex assigned(UniqueName("other").c_str());
  assigned = copy;
  EXPECT_EQ(assigned.Aquire(), 0);
  EXPECT_EQ(copy.Aquire(), 0);  // same mutex, same thread: nests
  EXPECT_EQ(copy.Release(), 0);
  EXPECT_EQ(assigned.Release(), 0);
  EXPECT_EQ(cstest::SharedObjectFiles(name).size(), 1u);
}

// Threads of several processes hand the mutex over under load, each nesting it once.
TEST(Mutex, NestedHandoverBetweenThreadsOfProcesses) {
  const std::string name = UniqueName("mh");
  constexpr int kProcesses = 2, kThreads = 2, kRounds = 200;
  bool created = false;
  auto shared = OpenObject(UniqueName("mhs"), 2 * sizeof(int), &created);
  ASSERT_TRUE(shared);
  int* inside = static_cast<int*>(shared->data());
  int* total = inside + 1;

  auto work = [&] {
    CSMutex mutex(name.c_str());
    for (int round = 0; round < kRounds; ++round) {
      if (mutex.Aquire() != 0 || mutex.Aquire() != 0) return 1;
      if (__atomic_fetch_add(inside, 1, __ATOMIC_SEQ_CST) != 0) return 2;
      const int seen = *total;
      sched_yield();
      *total = seen + 1;
      __atomic_fetch_sub(inside, 1, __ATOMIC_SEQ_CST);
      if (mutex.Release() != CSMutexStillHeld || mutex.Release() != 0) return 3;
    }
    return 0;
  };
  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < kProcesses; ++i) {
    children.push_back(std::make_unique<Child>([&] {
      int results[kThreads];
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { results[t] = work(); });
      for (auto& thread : threads) thread.join();
      for (int result : results)
        if (result != 0) return result;
      return 0;
    }));
  }
  for (auto& child : children) EXPECT_EQ(child->Wait(), 0);
  EXPECT_EQ(*total, kProcesses * kThreads * kRounds);
  EXPECT_TRUE(cstest::SharedObjectFiles(name).empty());
}

// The holder's process is killed while processes wait: exactly one of them is told the
// mutex was abandoned, and every one of them gets it afterwards.
TEST(Mutex, HolderKilledWhileSeveralWait) {
  const std::string name = UniqueName("mw");
  constexpr int kWaiters = 3;
  bool created = false;
  auto shared = OpenObject(UniqueName("mws"), 3 * sizeof(std::atomic<int>), &created);
  ASSERT_TRUE(shared);
  auto* waiting = static_cast<std::atomic<int>*>(shared->data());
  auto* abandoned = waiting + 1;
  auto* acquired = waiting + 2;

  Signal held;
  Child holder([&] {
    CSMutex mine(name.c_str());
    // Held from a thread other than the first, which the kill ends all the same.
    std::thread([&] {
      if (mine.Aquire() == 0) held.Send();
      pause();
    }).join();
    return 0;
  });
  ASSERT_TRUE(held.Receive());

  std::vector<std::unique_ptr<Child>> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.push_back(std::make_unique<Child>([&] {
      CSMutex mutex(name.c_str());
      ++*waiting;
      long result = mutex.Aquire();
      if (result == CSMutexErrSystem) {
        ++*abandoned;
        result = mutex.Aquire();
      }
      if (result != 0) return 1;
      ++*acquired;
      return mutex.Release() == 0 ? 0 : 2;
    }));
  }
  while (waiting->load() < kWaiters) sched_yield();
  holder.Kill(SIGKILL);
  for (auto& waiter : waiters) EXPECT_EQ(waiter->Wait(), 0);
  EXPECT_EQ(abandoned->load(), 1);
  EXPECT_EQ(acquired->load(), kWaiters);
  holder.Wait();
}

}  // namespace
