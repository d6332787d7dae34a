// Named objects on POSIX shared memory (the tmpfs at /dev/shm). Every holder keeps the
// object's file open with a shared flock; a dead holder's flock goes with it. Opening
// and closing run under one exclusive flock on the directory itself, so that deciding
// "create, open, or start afresh over a file nobody holds" and removing the file of the
// last holder never interleave, and exactly one opener is told it created the object.
// The mutex is a robust, recursive, process-shared pthread mutex inside such an object.
#include "port/named.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace cslib::port {
namespace {

constexpr char kDirectory[] = "/dev/shm";
constexpr char kFilePrefix[] = "cslib.";
// Objects are private to their owner, as the system's default security would have it.
constexpr mode_t kMode = 0600;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

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
    if (std::strncmp(entry->d_name, kFilePrefix, sizeof kFilePrefix - 1) != 0) continue;
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

namespace {

bool InitMutex(void* memory) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  const bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
                  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
                  pthread_mutex_init(static_cast<pthread_mutex_t*>(memory), &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return ok;
}

std::unique_ptr<SharedObject> OpenMutexObject(std::string_view name) {
  bool created = false;
  return SharedObject::Open(name, sizeof(pthread_mutex_t), &created, InitMutex);
}

}  // namespace

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
  auto* m = static_cast<pthread_mutex_t*>(mutex_);
  const int r = pthread_mutex_lock(m);
  if (r == 0) return Locked::kYes;
  if (r == EOWNERDEAD) {
    // The owner died: whatever it guarded may be half-done, but the mutex itself is
    // sound again once marked so; the caller decides what to make of it.
    pthread_mutex_consistent(m);
    return Locked::kAbandoned;
  }
  return Locked::kFailed;
}

bool NamedMutex::Close() {
  return object_->Close();
}

bool NamedMutex::Unlock() {
  return pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex_)) == 0;
}

}  // namespace cslib::port
