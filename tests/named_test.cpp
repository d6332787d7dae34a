// Named objects shared between processes: the mechanism under the named mutex and the
// shared blocks (creation, lifetime, dead holders, file names), and the named mutex.
#include "port/named.h"

#include <cslib.h>
#include <dirent.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/child.h"
#include "support/testenv.h"

namespace {

using cslib::port::NamedMutex;
using cslib::port::SharedObject;
using cslib::port::SharedObjectFileName;
using cstest::Child;
using cstest::UniqueName;

// Files of the object directory whose name holds text.
std::vector<std::string> FilesNaming(const std::string& text) {
  std::vector<std::string> found;
  if (DIR* d = opendir(cslib::port::SharedObjectDirectory().c_str())) {
    while (dirent* e = readdir(d))
      if (std::strstr(e->d_name, text.c_str())) found.push_back(e->d_name);
    closedir(d);
  }
  return found;
}

// A one-byte message from a child to the test.
class Signal {
 public:
  Signal() { EXPECT_EQ(pipe(fds_), 0); }
  ~Signal() {
    close(fds_[0]);
    close(fds_[1]);
  }
  void Send() { EXPECT_EQ(write(fds_[1], "x", 1), 1); }
  bool Receive() {
    char c;
    return read(fds_[0], &c, 1) == 1;
  }

 private:
  int fds_[2];
};

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
  EXPECT_EQ(FilesNaming(name).size(), 1u);
  EXPECT_EQ(static_cast<char*>(second->data())[10], 7);
  EXPECT_TRUE(second->Close());
  EXPECT_TRUE(FilesNaming(name).empty());

  auto third = OpenObject(name, 64, &created);
  ASSERT_TRUE(third);
  EXPECT_TRUE(created);
  EXPECT_EQ(static_cast<char*>(third->data())[10], 0);
  third.reset();
  EXPECT_TRUE(FilesNaming(name).empty());
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
  EXPECT_TRUE(FilesNaming(name).empty());
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
  EXPECT_TRUE(FilesNaming(name).empty());
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
  EXPECT_TRUE(FilesNaming(fits.substr(0, 20)).empty());
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
  EXPECT_TRUE(FilesNaming(name).empty());
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
  EXPECT_EQ(FilesNaming(name).size(), 1u);
}

}  // namespace
