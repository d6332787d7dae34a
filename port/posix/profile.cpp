// The INI engine's file work on POSIX: a per-process cache of parsed files that is
// checked on every call, an exclusive lock across each read-modify-write, and atomic
// replacement of the file.
//
// Beside each INI file NAME lives a hidden lock file `.NAME.lock`. Writers flock it for
// the whole read-modify-write and, once the new file is renamed into place, bump the
// 64-bit generation counter it holds; readers map that counter. A cached copy is used
// only when the counter is unchanged, the copy is older than one timestamp tick, and
// either the directory's change epoch (port/posix/dirwatch.h) has not moved or the
// file's identity (device, inode, size, mtime, ctime) is what it was. A copy read less
// than a tick after the file last changed is re-read on every call until it is older:
// a same-size rewrite inside one tick leaves the identity unchanged.
//
// Writes go to `.NAME.tmp` in the same directory, are flushed with fdatasync and then
// renamed over NAME, so a process killed at any instant leaves the old file or the new
// one, never a part. The directory is not synced: after a power loss a rename that had
// just completed may be lost, never the file's content.
#include "port/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "port/environment.h"
#include "port/ini.h"
#include "port/posix/dirwatch.h"
#include "port/posix/fd.h"

namespace cslib::port {
namespace {

// A copy younger than this (against the file's mtime and ctime) is not trusted.
constexpr std::int64_t kFineTickNs = 50'000'000;
// File systems that keep whole seconds (no nanoseconds seen) need a wider margin.
constexpr std::int64_t kCoarseTickNs = 3'000'000'000;

std::int64_t Ns(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

struct Stamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtime = 0;
  std::int64_t ctime = 0;
  bool whole_seconds = false;
  mode_t mode = 0;  // not compared: a change of mode moves ctime

  static Stamp Of(const struct stat& st) {
    Stamp s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtime = Ns(st.st_mtim);
    s.ctime = Ns(st.st_ctim);
    s.whole_seconds = st.st_mtim.tv_nsec == 0 && st.st_ctim.tv_nsec == 0;
    s.mode = st.st_mode;
    return s;
  }
  bool operator==(const Stamp& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           mtime == o.mtime && ctime == o.ctime;
  }
  bool operator!=(const Stamp& o) const { return !(*this == o); }
  // Whether the file changed recently enough that another change could still carry the
  // same timestamps.
  bool Recent() const {
    if (!exists) return false;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t last = mtime > ctime ? mtime : ctime;
    return Ns(now) - last < (whole_seconds ? kCoarseTickNs : kFineTickNs);
  }
};

Stamp StatPath(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return Stamp{};
  return Stamp::Of(st);
}

struct SplitPath {
  std::string dir, lock, temp;
};

SplitPath Split(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  SplitPath p;
  p.dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  p.lock = p.dir + "/." + name + ".lock";
  p.temp = p.dir + "/." + name + ".tmp";
  return p;
}

// The generation counter at the start of a lock file, mapped shared.
class Generation {
 public:
  // Maps the counter of an existing lock file for reading; null when there is none yet.
  static std::unique_ptr<Generation> OpenForReading(const std::string& lock_path) {
    Fd fd(::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || st.st_size < 8) return nullptr;
    return Map(fd.get(), PROT_READ);
  }
  // Maps the counter of a lock file the caller holds open for writing, giving the file
  // its 8 bytes first when it is new.
  static std::unique_ptr<Generation> OpenForWriting(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return nullptr;
    if (st.st_size < 8 && ::ftruncate(fd, 8) != 0) return nullptr;
    return Map(fd, PROT_READ | PROT_WRITE);
  }
  ~Generation() { ::munmap(word_, 8); }
  Generation(const Generation&) = delete;
  Generation& operator=(const Generation&) = delete;

  std::uint64_t Load() const { return __atomic_load_n(word_, __ATOMIC_ACQUIRE); }
  std::uint64_t Bump() { return __atomic_add_fetch(word_, 1, __ATOMIC_ACQ_REL); }

 private:
  explicit Generation(std::uint64_t* word) : word_(word) {}
  static std::unique_ptr<Generation> Map(int fd, int protection) {
    void* p = ::mmap(nullptr, 8, protection, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) return nullptr;
    return std::unique_ptr<Generation>(new (std::nothrow)
                                           Generation(static_cast<std::uint64_t*>(p)));
  }
  std::uint64_t* word_;
};

// The whole content of a regular file and its identity as of the read. A missing file
// (or anything that is not a regular file) reads as empty with `exists` false.
bool ReadWhole(const std::string& path, std::string* content, Stamp* stamp) {
  content->clear();
  *stamp = Stamp{};
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return errno == ENOENT || errno == ENOTDIR || errno == EISDIR;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) return true;
  *stamp = Stamp::Of(st);
  content->resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  for (;;) {
    if (got == content->size()) content->resize(got + 4096);
    const ssize_t n = ::read(fd.get(), &(*content)[got], content->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  content->resize(got);
  return true;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool MakeDirectories(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  for (std::size_t at = 1; at <= dir.size(); ++at) {
    if (at != dir.size() && dir[at] != '/') continue;
    const std::string part = dir.substr(0, at);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

using DocPtr = std::shared_ptr<const ini::Document>;

struct CacheEntry {
  std::string dir;          // the directory holding the file
  std::uint64_t epoch = 0;  // the directory's change epoch when last checked; 0: none
  bool loaded = false;
  DocPtr doc;  // null while the file is missing
  Stamp stamp;
  std::unique_ptr<Generation> generation;
  std::uint64_t seen_generation = 0;
  bool trusted = false;
};

std::mutex& CacheMutex() {
  static std::mutex m;
  return m;
}

std::unordered_map<std::string, CacheEntry>& Cache() {
  static auto* cache = new std::unordered_map<std::string, CacheEntry>();
  return *cache;
}

// The file's current content, parsed, and its identity: from the cache when it is
// provably current, else read afresh. False when the file exists but cannot be read;
// *doc is null for a missing file.
bool Snapshot(const std::string& path, DocPtr* doc, Stamp* current = nullptr) {
  std::lock_guard<std::mutex> guard(CacheMutex());
  CacheEntry& e = Cache()[path];
  if (e.dir.empty()) e.dir = Split(path).dir;
  // Taken before the file is looked at: a change after this moves the epoch on.
  const std::uint64_t epoch = DirectoryWatcher::Instance().Epoch(e.dir);
  if (e.loaded && e.trusted && (!e.generation || e.generation->Load() == e.seen_generation)) {
    if ((epoch != 0 && epoch == e.epoch) || StatPath(path) == e.stamp) {
      e.epoch = epoch;
      *doc = e.doc;
      if (current) *current = e.stamp;
      return true;
    }
  }
  e.epoch = epoch;

  if (!e.generation) e.generation = Generation::OpenForReading(Split(path).lock);
  // The counter is read before the file: a write that lands in between makes the next
  // call read again, never keeps an old copy under a new counter.
  const std::uint64_t generation = e.generation ? e.generation->Load() : 0;
  std::string content;
  Stamp stamp;
  if (!ReadWhole(path, &content, &stamp)) {
    e.loaded = false;
    doc->reset();
    return false;
  }
  if (!stamp.exists) {
    e.doc.reset();
  } else if (!e.doc || e.doc->content() != content) {
    e.doc = std::make_shared<const ini::Document>(std::move(content));
  }
  e.loaded = true;
  e.stamp = stamp;
  e.seen_generation = generation;
  e.trusted = !stamp.Recent();
  *doc = e.doc;
  if (current) *current = stamp;
  return true;
}

// The current content for a read: a file that cannot be read reads like a missing one.
DocPtr Current(const std::string& path) {
  DocPtr doc;
  Snapshot(path, &doc);
  return doc;
}

const ini::Document& Empty() {
  static const ini::Document* empty = new ini::Document(std::string());
  return *empty;
}

using EditFn = std::function<ini::Edit(const ini::Document&, std::string*)>;

// Read-modify-write of one file under its lock. `creates` is false for deletions,
// which leave a missing file missing.
bool Modify(const std::string& path, bool creates, const EditFn& edit) {
  const SplitPath parts = Split(path);
  if (!creates) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return true;
  } else if (!MakeDirectories(parts.dir)) {
    return false;
  }

  Fd lock(::open(parts.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!lock.ok()) return false;
  int rc;
  do {
    rc = ::flock(lock.get(), LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return false;
  std::unique_ptr<Generation> generation = Generation::OpenForWriting(lock.get());
  if (!generation) return false;

  DocPtr current;
  Stamp old;
  if (!Snapshot(path, &current, &old)) return false;
  std::string updated;
  switch (edit(current ? *current : Empty(), &updated)) {
    case ini::Edit::kRefused:
      return false;
    case ini::Edit::kUnchanged:
      return true;
    case ini::Edit::kChanged:
      break;
  }

  ::unlink(parts.temp.c_str());
  Fd temp(::open(parts.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!temp.ok()) return false;
  bool ok = WriteAll(temp.get(), updated);
  if (ok && old.exists) ok = ::fchmod(temp.get(), old.mode & 07777) == 0;
  ok = ok && ::fdatasync(temp.get()) == 0;
  ok = temp.Close() && ok;
  ok = ok && ::rename(parts.temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(parts.temp.c_str());
    return false;
  }
  generation->Bump();

  // The next read in this process checks the file again (the copy is young), but finds
  // the content it already has parsed here.
  std::lock_guard<std::mutex> guard(CacheMutex());
  CacheEntry& e = Cache()[path];
  e.doc = std::make_shared<const ini::Document>(std::move(updated));
  e.loaded = true;
  e.trusted = false;
  return true;
}

const char* OrEmpty(const char* s) {
  return s ? s : "";
}

// The default as the profile reads return it: null is empty, trailing spaces go.
std::string_view DefaultText(const char* default_value) {
  std::string_view d(OrEmpty(default_value));
  while (!d.empty() && d.back() == ' ') d.remove_suffix(1);
  return d;
}

}  // namespace

std::string ProfilePath(const char* file) {
  std::string name = file ? file : "WIN.INI";
  for (char c : name)
    if (IsPathSeparator(c)) return name;
  std::string dir = WindowsDirectory();
  if (dir.empty() || !IsPathSeparator(dir.back())) dir += kPathSeparator;
  return dir + name;
}

ProfileView::ProfileView(const char* file) : doc_(Current(ProfilePath(file))) {}

std::size_t ProfileView::ReadValue(std::string_view section, std::string_view key,
                                   const char* default_value, char* buffer,
                                   std::size_t size) const {
  const ini::Entry* e = doc_ ? doc_->FindEntry(section, key) : nullptr;
  return ini::CopyValue(e ? e->value : DefaultText(default_value), buffer, size);
}

std::string_view ProfileView::Value(std::string_view section, std::string_view key) const {
  const ini::Entry* e = doc_ ? doc_->FindEntry(section, key) : nullptr;
  return e ? e->value : std::string_view();
}

std::vector<std::string_view> ProfileView::KeyNames(std::string_view section) const {
  return doc_ ? ini::KeyNames(*doc_, section) : std::vector<std::string_view>{};
}

std::vector<std::string_view> ProfileView::SectionNames() const {
  return doc_ ? ini::SectionNames(*doc_) : std::vector<std::string_view>{};
}

std::size_t ProfileReadValue(const char* file, std::string_view section, std::string_view key,
                             const char* default_value, char* buffer, std::size_t size) {
  return ProfileView(file).ReadValue(section, key, default_value, buffer, size);
}

std::size_t ProfileReadKeys(const char* file, std::string_view section, const char* default_value,
                            char* buffer, std::size_t size) {
  const ProfileView view(file);
  const std::vector<std::string_view> names = view.KeyNames(section);
  if (!names.empty()) return ini::CopyList(names, buffer, size);
  return ini::CopyValue(DefaultText(default_value), buffer, size);
}

std::size_t ProfileReadSections(const char* file, char* buffer, std::size_t size) {
  return ini::CopyList(ProfileView(file).SectionNames(), buffer, size);
}

bool ProfileWriteValue(const char* file, std::string_view section, std::string_view key,
                       std::string_view value) {
  if (!IsProfileEntryWritable(section, key, value)) return false;
  return Modify(ProfilePath(file), true, [&](const ini::Document& doc, std::string* out) {
    return ini::SetValue(doc, section, key, value, out);
  });
}

bool ProfileAddValue(const char* file, std::string_view section, std::string_view key,
                     std::string_view value) {
  if (!IsProfileEntryWritable(section, key, value)) return false;
  return Modify(ProfilePath(file), true, [&](const ini::Document& doc, std::string* out) {
    return ini::AddValue(doc, section, key, value, out);
  });
}

bool ProfileDeleteKey(const char* file, std::string_view section, std::string_view key) {
  return Modify(ProfilePath(file), false, [&](const ini::Document& doc, std::string* out) {
    return ini::DeleteKey(doc, section, key, out);
  });
}

bool ProfileDeleteSection(const char* file, std::string_view section) {
  return Modify(ProfilePath(file), false, [&](const ini::Document& doc, std::string* out) {
    return ini::DeleteSection(doc, section, out);
  });
}

void ProfileFlush(const char* file) {
  std::lock_guard<std::mutex> guard(CacheMutex());
  Cache().erase(ProfilePath(file));
}

}  // namespace cslib::port
