// Named objects on POSIX shared memory (the tmpfs at /dev/shm). Every holder keeps the
// object's file open with a shared flock; a dead holder's flock goes with it. Opening
// and closing run under one exclusive flock on the directory itself, so that deciding
// "create, open, or start afresh over a file nobody holds" and removing the file of the
// last holder never interleave, and exactly one opener is told it created the object.
// The mutex is a lock of our own on a futex word inside such an object.
#include "port/named.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "port/posix/fd.h"
#include "port/posix/named_lock.h"
#include "port/posix/procstat.h"

namespace cslib::port {
namespace {

constexpr char kDirectory[] = "/dev/shm";
// Objects are private to their owner, as the system's default security would have it.
constexpr mode_t kMode = 0600;

int Flock(int fd, int operation) {
  int r;
  do {
    r = flock(fd, operation);
  } while (r != 0 && errno == EINTR);
  return r;
}

// True when nobody holds the object open through fd's file (its shared flocks are all
// gone). Takes the exclusive flock on fd in passing and keeps it.
bool NobodyHolds(int fd) {
  return Flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// Removes the files of objects whose holders all died. Run once per process, so that
// what a killed last holder left behind does not outlive the next user of named objects.
void SweepAbandoned(int dir) {
  const int scan = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (scan < 0) return;
  DIR* d = fdopendir(scan);
  if (!d) {
    close(scan);
    return;
  }
  while (dirent* entry = readdir(d)) {
    if (std::strncmp(entry->d_name, kSharedObjectFilePrefix.data(),
                     kSharedObjectFilePrefix.size()) != 0)
      continue;
    Fd fd(openat(dir, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (st.st_uid == geteuid() && NobodyHolds(fd.get())) unlinkat(dir, entry->d_name, 0);
  }
  closedir(d);
}

// The namespace guard, held for the whole of one open or one close. A new descriptor
// each time, so that threads of one process exclude each other as processes do.
class Guard {
 public:
  Guard() : dir_(open(kDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (dir_.get() >= 0 && Flock(dir_.get(), LOCK_EX) != 0) dir_.Reset();
    static std::atomic<bool> swept{false};
    if (dir_.get() >= 0 && !swept.exchange(true)) SweepAbandoned(dir_.get());
  }
  bool ok() const { return dir_.get() >= 0; }
  int dir() const { return dir_.get(); }

 private:
  Fd dir_;  // closing it drops the flock
};

bool SameFile(int fd, int dir, const char* file) {
  struct stat held, named;
  return fstat(fd, &held) == 0 && fstatat(dir, file, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

std::string SharedObjectDirectory() {
  return kDirectory;
}

std::unique_ptr<SharedObject> SharedObject::Open(std::string_view name, std::size_t size,
                                                 bool* created, const Prepare& prepare) {
  *created = false;
  if (size == 0) return nullptr;
  const std::string file = SharedObjectFileName(name);
  Guard guard;
  if (!guard.ok()) return nullptr;

  Fd fd(openat(guard.dir(), file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() >= 0) {
    if (NobodyHolds(fd.get())) {
      // Its holders all died: it is gone, whatever its file still holds.
      unlinkat(guard.dir(), file.c_str(), 0);
      fd.Reset();
    } else {
      struct stat st;
      if (Flock(fd.get(), LOCK_SH | LOCK_NB) != 0 || fstat(fd.get(), &st) != 0 ||
          static_cast<unsigned long long>(st.st_size) < size)
        return nullptr;
    }
  } else if (errno != ENOENT) {
    return nullptr;
  }

  bool fresh = false;
  if (fd.get() < 0) {
    fd.Reset(openat(guard.dir(), file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    kMode));
    if (fd.get() < 0) return nullptr;
    fresh = true;
    if (Flock(fd.get(), LOCK_SH | LOCK_NB) != 0 ||
        ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
      unlinkat(guard.dir(), file.c_str(), 0);
      return nullptr;
    }
  }

  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  std::unique_ptr<SharedObject> object;
  if (data != MAP_FAILED && (!fresh || !prepare || prepare(data)))
    object.reset(new (std::nothrow) SharedObject(std::string(name), fd.get(), data, size));
  if (!object) {
    if (data != MAP_FAILED) munmap(data, size);
    if (fresh) unlinkat(guard.dir(), file.c_str(), 0);
    return nullptr;
  }
  fd.Release();
  *created = fresh;
  return object;
}

SharedObject::SharedObject(std::string name, int fd, void* data, std::size_t size)
    : name_(std::move(name)), fd_(fd), data_(data), size_(size) {}

SharedObject::~SharedObject() {
  Close();
}

bool SharedObject::Close() {
  if (fd_ < 0) return true;
  bool ok = munmap(data_, size_) == 0;
  data_ = nullptr;
  Guard guard;
  if (guard.ok()) {
    const std::string file = SharedObjectFileName(name_);
    // Trading the shared flock for the exclusive one drops it first; that is harmless
    // here, as every other opener and closer waits for the guard.
    if (NobodyHolds(fd_) && SameFile(fd_, guard.dir(), file.c_str()))
      ok = unlinkat(guard.dir(), file.c_str(), 0) == 0 && ok;
  } else {
    ok = false;  // the file stays; the next opener finds it unheld and starts afresh
  }
  ok = close(fd_) == 0 && ok;
  fd_ = -1;
  return ok;
}

// ---- NamedMutex
//
// The lock is a futex word in the shared object. Taking a free lock is one
// compare-and-swap of the caller's thread id into the word, giving it back one
// exchange; the owner counts its nesting beside the word. The kernel keeps no record
// of the owner for us, so its waiters find a dead one: they sleep with a timeout and,
// whenever it runs out, look the owner up in /proc.

namespace {

using State = NamedLockState;
static_assert(std::atomic<std::uint32_t>::is_always_lock_free &&
                  std::atomic<std::uint64_t>::is_always_lock_free &&
                  sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t),
              "the lock's words are shared between processes and the futex word is 32 bits");

// A waiter looks at the owner each time it has slept this long, doubling to the longest:
// how soon a dead owner is found, against how often a live one is looked up.
constexpr long kFirstCheckNs = 1'000'000;
constexpr long kLongestCheckNs = 64'000'000;

struct ThreadSelf {
  std::uint32_t id = 0;  // 0 until learnt in this thread, and again in a forked child
  std::uint64_t identity = 0;
};
// Read on every lock and unlock: the initial-exec model makes that one load, not a
// call, in the shared library too (16 bytes of the static TLS kept for such use).
__attribute__((tls_model("initial-exec"))) thread_local ThreadSelf self;

// True when /proc is mounted and shows our own pid namespace, so that the thread ids
// the lock keeps mean the same there.
bool ProcIsOurs() {
  char link[32];
  const ssize_t n = readlink("/proc/self", link, sizeof link - 1);
  if (n <= 0) return false;
  link[n] = '\0';
  return std::to_string(getpid()) == link;
}

// True when the thread that holds the word has ended: no such thread, a zombie, or a
// later thread that got its id (recorded holds the owner's identity, when it got to
// write it).
bool OwnerGone(std::uint32_t thread, std::uint64_t recorded) {
  if (thread == 0) return true;  // no owner in the word at all
  ProcStat st;
  const ProcStatResult stat = ProcIsOurs() ? ReadProcStat(thread, &st) : ProcStatResult::kUnknown;
  if (stat == ProcStatResult::kGone) return true;
  if (stat == ProcStatResult::kUnknown) {
    // Without /proc, existence is all that can be told; a zombie passes for alive.
    return kill(static_cast<pid_t>(thread), 0) != 0 && errno == ESRCH;
  }
  if (st.state == 'Z' || st.state == 'X' || st.state == 'x') return true;
  const std::uint32_t recorded_start = static_cast<std::uint32_t>(recorded);
  return recorded >> 32 == thread && recorded_start != 0 &&
         recorded_start != static_cast<std::uint32_t>(st.start_time);
}

[[gnu::noinline]] ThreadSelf LearnSelf() {
  ThreadSelf me;
  me.id = static_cast<std::uint32_t>(syscall(SYS_gettid));
  ProcStat st;
  me.identity = OwnerIdentity(
      me.id, ProcIsOurs() && ReadProcStat(me.id, &st) == ProcStatResult::kRead ? st.start_time : 0);
  // A forked child's thread is a new thread: it must learn itself afresh. Should the
  // handler not be registered, nothing is kept and every call learns again.
  static const bool forgotten_in_children =
      pthread_atfork(nullptr, nullptr, [] { self = ThreadSelf{}; }) == 0;
  if (forgotten_in_children) self = me;
  return me;
}

inline ThreadSelf Self() {
  return self.id != 0 ? self : LearnSelf();
}

NamedMutex::Locked Take(State* s, const ThreadSelf& me, NamedMutex::Locked how) {
  s->owner.store(me.identity, std::memory_order_relaxed);
  s->depth.store(1, std::memory_order_relaxed);
  return how;
}

// Sleeps while the word holds expected, at most ns; the wait's errno, 0 when woken.
int FutexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, long ns) {
  timespec timeout{ns / 1'000'000'000, ns % 1'000'000'000};
  return syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAIT, expected, &timeout,
                 nullptr, 0) == 0
             ? 0
             : errno;
}

void FutexWakeOne(std::atomic<std::uint32_t>* word) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

// Kept out of line, so that the uncontended path in Lock stays a few instructions.
[[gnu::noinline]] NamedMutex::Locked LockContended(State* s, const ThreadSelf& me) {
  long sleep_ns = kFirstCheckNs;
  for (;;) {
    std::uint32_t word = s->word.load(std::memory_order_relaxed);
    if (word == 0) {
      // Others may still sleep on the word: keep the flag, so that our release wakes one.
      if (s->word.compare_exchange_weak(word, me.id | State::kWaiters, std::memory_order_acquire,
                                        std::memory_order_relaxed))
        return Take(s, me, NamedMutex::Locked::kYes);
      continue;
    }
    if (!(word & State::kWaiters)) {
      if (!s->word.compare_exchange_weak(word, word | State::kWaiters, std::memory_order_relaxed,
                                         std::memory_order_relaxed))
        continue;
      word |= State::kWaiters;
    }
    const int error = FutexWait(&s->word, word, sleep_ns);
    if (error == ETIMEDOUT) {
      sleep_ns = std::min(2 * sleep_ns, kLongestCheckNs);
      std::uint32_t held = s->word.load(std::memory_order_acquire);
      const std::uint32_t thread = held & State::kThreadMask;
      if (held == 0) continue;
      // While we wait, a word holding our own id was left by a dead thread that had it
      // before us: our own acquisitions never get here.
      const bool gone =
          thread == me.id || OwnerGone(thread, s->owner.load(std::memory_order_acquire));
      // Should the word have changed since it was looked at, the verdict is void.
      if (gone &&
          s->word.compare_exchange_strong(held, me.id | State::kWaiters, std::memory_order_acquire,
                                          std::memory_order_relaxed))
        return Take(s, me, NamedMutex::Locked::kAbandoned);
    } else if (error != 0 && error != EAGAIN && error != EINTR) {
      return NamedMutex::Locked::kFailed;
    }
  }
}

bool InitLock(void* memory) {
  auto* s = new (memory) State{};
  s->magic = State::kMagic;
  return true;
}

std::unique_ptr<SharedObject> OpenMutexObject(std::string_view name) {
  bool created = false;
  std::unique_ptr<SharedObject> object =
      SharedObject::Open(name, sizeof(State), &created, InitLock);
  // An object of that name that is not such a lock is left alone.
  if (object && static_cast<const State*>(object->data())->magic != State::kMagic) return nullptr;
  return object;
}

}  // namespace

std::uint32_t CurrentThreadId() {
  return Self().id;
}

std::uint64_t CurrentThreadIdentity() {
  return Self().identity;
}

NamedMutex::NamedMutex(std::unique_ptr<SharedObject> object)
    : object_(std::move(object)), mutex_(object_->data()) {}

NamedMutex::~NamedMutex() = default;

std::unique_ptr<NamedMutex> NamedMutex::Open(std::string_view name) {
  std::unique_ptr<SharedObject> object = OpenMutexObject(name);
  if (!object) return nullptr;
  return std::unique_ptr<NamedMutex>(new (std::nothrow) NamedMutex(std::move(object)));
}

std::unique_ptr<NamedMutex> NamedMutex::Reopen() const {
  return Open(object_->name());
}

NamedMutex::Locked NamedMutex::Lock() {
  auto* s = static_cast<State*>(mutex_);
  const ThreadSelf me = Self();
  std::uint32_t word = 0;
  if (s->word.compare_exchange_strong(word, me.id, std::memory_order_acquire,
                                      std::memory_order_relaxed))
    return Take(s, me, Locked::kYes);
  // The word may hold our id for a dead thread that had it before us; the identity
  // beside it, written by every owner once it holds the word, tells the two apart.
  if ((word & State::kThreadMask) == me.id &&
      s->owner.load(std::memory_order_relaxed) == me.identity) {
    const std::uint32_t depth = s->depth.load(std::memory_order_relaxed);
    if (depth == UINT32_MAX) return Locked::kFailed;
    s->depth.store(depth + 1, std::memory_order_relaxed);
    return Locked::kYes;
  }
  return LockContended(s, me);
}

bool NamedMutex::Unlock() {
  auto* s = static_cast<State*>(mutex_);
  const ThreadSelf me = Self();
  if ((s->word.load(std::memory_order_relaxed) & State::kThreadMask) != me.id ||
      s->owner.load(std::memory_order_relaxed) != me.identity)
    return false;
  const std::uint32_t depth = s->depth.load(std::memory_order_relaxed);
  if (depth > 1) {
    s->depth.store(depth - 1, std::memory_order_relaxed);
    return true;
  }
  // Cleared before the word, so that no later owner's word is read with this identity.
  s->owner.store(0, std::memory_order_relaxed);
  if (s->word.exchange(0, std::memory_order_release) & State::kWaiters) FutexWakeOne(&s->word);
  return true;
}

bool NamedMutex::Close() {
  return object_->Close();
}

}  // namespace cslib::port
