// The registry kept in SQLite databases under "registry" in the Windows directory: one
// file per root (current user: one per user id). Many processes share a file (WAL
// journal, writes under BEGIN IMMEDIATE, a busy database waited for). Connections and
// key look-ups are kept per file and per process; a connection inherited across fork()
// is never touched again.
#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "port/environment.h"
#include "port/registry.h"

namespace cslib::port {
namespace {

constexpr unsigned long kMaxValueName = 16383;
constexpr int kBusyTimeoutMs = 2000;
constexpr int kSchemaVersion = 1;

// Names compare as Windows compares them: ASCII letters folded to upper case, so that
// '_' (0x5F) sorts after the letters, then byte by byte, a shorter name first.
int CompareNames(void*, int len1, const void* p1, int len2, const void* p2) {
  const auto* a = static_cast<const unsigned char*>(p1);
  const auto* b = static_cast<const unsigned char*>(p2);
  const int n = len1 < len2 ? len1 : len2;
  for (int i = 0; i < n; ++i) {
    unsigned char ca = a[i], cb = b[i];
    if (ca >= 'a' && ca <= 'z') ca -= 'a' - 'A';
    if (cb >= 'a' && cb <= 'z') cb -= 'a' - 'A';
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return len1 == len2 ? 0 : (len1 < len2 ? -1 : 1);
}

// Key 0 is the root of every database; real keys never reuse an id (AUTOINCREMENT), so
// a handle on a deleted key can never reach a newer key.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE REGNAME,"
    "  UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE REGNAME,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "PRAGMA user_version = 1;";

// Two levels walked in one statement: a read statement is a read transaction of its
// own, and starting one costs more than the index look-ups it runs.
constexpr const char* kFindTwoLevels =
    "SELECT a.id, b.id FROM keys a JOIN keys b ON b.parent = a.id AND b.name = ?3 "
    "WHERE a.parent = ?1 AND a.name = ?2";

struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FileId& o) const { return dev == o.dev && ino == o.ino; }
  bool operator!=(const FileId& o) const { return !(*this == o); }
};

bool StatFile(const std::string& path, FileId* id) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  id->dev = st.st_dev;
  id->ino = st.st_ino;
  return true;
}

struct StmtDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

// Resets a cached statement (and drops its bindings) when the scope ends.
class Use {
 public:
  explicit Use(const StmtPtr& s) : s_(s.get()) {}
  ~Use() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  sqlite3_stmt* operator*() const { return s_; }

  void Bind(int i, sqlite3_int64 v) { sqlite3_bind_int64(s_, i, v); }
  void Bind(int i, std::string_view text) {
    sqlite3_bind_text(s_, i, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  }
  void BindBlob(int i, const void* data, unsigned long size) {
    // A null pointer would bind SQL NULL; an empty value is an empty blob.
    sqlite3_bind_blob(s_, i, size ? data : "", static_cast<int>(size), SQLITE_STATIC);
  }

  // sqlite3_step, retried while another process keeps the database busy beyond the
  // busy timeout: a busy database is waited for, never reported.
  int Step() {
    for (;;) {
      const int rc = sqlite3_step(s_);
      if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) return rc;
      sqlite3_reset(s_);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

 private:
  sqlite3_stmt* s_;
};

// Two counters shared by every process using one database, in a small file beside it:
// key deletions begun and the last one finished. A process may trust the key look-ups
// it remembers only while no deletion is under way and none began since it looked:
// keys are never renamed and their ids never reused, so only a deletion can make a
// remembered look-up wrong. A process killed mid-deletion leaves them unequal, which
// only stops the remembering until the next deletion finishes.
class DeletionCounter {
 public:
  DeletionCounter() = default;
  ~DeletionCounter() {
    if (words_) ::munmap(words_, kBytes);
  }
  DeletionCounter(const DeletionCounter&) = delete;
  DeletionCounter& operator=(const DeletionCounter&) = delete;

  // Maps the counter file; without it nothing is ever remembered.
  void Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    struct stat st;
    // Only ever grown, so that two first users cannot wipe each other's counts.
    if (::fstat(fd, &st) == 0 &&
        (st.st_size >= static_cast<off_t>(kBytes) || ::ftruncate(fd, kBytes) == 0)) {
      void* p = ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (p != MAP_FAILED) words_ = static_cast<std::uint64_t*>(p);
    }
    ::close(fd);
  }

  // The generation under which look-ups may be remembered: false while a deletion is
  // under way (or the counters are not available).
  bool Stable(std::uint64_t* generation) const {
    if (!words_) return false;
    const std::uint64_t begun = __atomic_load_n(&words_[0], __ATOMIC_SEQ_CST);
    const std::uint64_t finished = __atomic_load_n(&words_[1], __ATOMIC_SEQ_CST);
    *generation = begun;
    return begun == finished;
  }
  bool Unchanged(std::uint64_t generation) const {
    return words_ && __atomic_load_n(&words_[0], __ATOMIC_SEQ_CST) == generation;
  }

  // Called under the database's write lock, before anything is deleted, and after the
  // transaction ended whatever its outcome.
  std::uint64_t Begin() { return words_ ? __atomic_add_fetch(&words_[0], 1, __ATOMIC_SEQ_CST) : 0; }
  void Finish(std::uint64_t ticket) {
    if (words_) __atomic_store_n(&words_[1], ticket, __ATOMIC_SEQ_CST);
  }

 private:
  static constexpr std::size_t kBytes = 2 * sizeof(std::uint64_t);
  std::uint64_t* words_ = nullptr;
};

class Database {
 public:
  // close_v2 lets the statements, finalized as the members go after this body, end
  // the connection.
  ~Database() { sqlite3_close_v2(db_); }

  // Opens (with `create`, creating it and its directory) the database at `path`.
  // Null when it cannot be opened; *missing tells that it simply does not exist.
  static std::shared_ptr<Database> Open(const std::string& path, bool create, bool* missing) {
    *missing = false;
    if (create) {
      std::error_code ec;
      std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
      if (ec) return nullptr;
    }
    std::shared_ptr<Database> d(new (std::nothrow) Database);
    if (!d) return nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) |
                      SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_PRIVATECACHE;
    const int rc = sqlite3_open_v2(path.c_str(), &d->db_, flags, nullptr);
    if (rc != SQLITE_OK) {
      *missing = (rc == SQLITE_CANTOPEN) && !create && !std::filesystem::exists(path);
      return nullptr;
    }
    if (!StatFile(path, &d->id_) || !d->Prepare()) return nullptr;
    d->deletions_.Open(path + "-seq");
    return d;
  }

  const FileId& id() const { return id_; }
  std::mutex& mutex() { return mutex_; }

  // Runs body inside BEGIN IMMEDIATE ... COMMIT, waiting out other writers; a body
  // that fails rolls everything back.
  template <class Body>
  long Write(Body&& body) {
    {
      Use begin(begin_);
      if (begin.Step() != SQLITE_DONE) return kRegIoFailed;
    }
    const long result = body();
    if (result == kRegSuccess) {
      Use commit(commit_);
      if (commit.Step() == SQLITE_DONE) return kRegSuccess;
      // A failed COMMIT leaves the transaction open: it is rolled back below.
    }
    Use rollback(rollback_);
    rollback.Step();
    return result == kRegSuccess ? kRegIoFailed : result;
  }

  // The id of `name` below `parent` into *id: kRegSuccess, kRegFileNotFound or an error.
  long FindChild(sqlite3_int64 parent, std::string_view name, sqlite3_int64* id) {
    Use q(find_child_);
    q.Bind(1, parent);
    q.Bind(2, name);
    const int rc = q.Step();
    if (rc == SQLITE_ROW) {
      *id = sqlite3_column_int64(*q, 0);
      return kRegSuccess;
    }
    return rc == SQLITE_DONE ? kRegFileNotFound : kRegIoFailed;
  }

  // The ids of the keys one and two levels below `parent` (names `first`, `second`).
  long FindTwoLevels(sqlite3_int64 parent, std::string_view first, std::string_view second,
                     sqlite3_int64* middle, sqlite3_int64* id) {
    Use q(find_two_);
    q.Bind(1, parent);
    q.Bind(2, first);
    q.Bind(3, second);
    const int rc = q.Step();
    if (rc == SQLITE_ROW) {
      *middle = sqlite3_column_int64(*q, 0);
      *id = sqlite3_column_int64(*q, 1);
      return kRegSuccess;
    }
    return rc == SQLITE_DONE ? kRegFileNotFound : kRegIoFailed;
  }

  // ---- Remembered key look-ups (see DeletionCounter) ----

  // Whether remembered look-ups may be used now; *generation is handed back to
  // Remember. Forgets everything learnt under an older generation.
  bool CacheUsable(std::uint64_t* generation) {
    if (!deletions_.Stable(generation)) return false;
    if (*generation != cache_generation_ || cache_.size() > kMaxCached) {
      cache_.clear();
      cache_generation_ = *generation;
    }
    return true;
  }
  bool Cached(sqlite3_int64 parent, std::string_view name, sqlite3_int64* id) {
    const auto it = cache_.find(CacheKey(parent, name));
    if (it == cache_.end()) return false;
    *id = it->second;
    return true;
  }
  // Keeps look-ups made since CacheUsable gave `generation`, unless a deletion began.
  void Remember(std::uint64_t generation,
                const std::vector<std::pair<std::string, sqlite3_int64>>& learnt) {
    if (!deletions_.Unchanged(generation) || generation != cache_generation_) return;
    for (const auto& entry : learnt) cache_[entry.first] = entry.second;
  }
  static std::string CacheKey(sqlite3_int64 parent, std::string_view name) {
    std::string key = std::to_string(parent);
    key += '\\';
    for (char c : name) key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return key;
  }
  DeletionCounter& deletions() { return deletions_; }

  // kRegSuccess when key `id` exists (the root always does), kRegKeyDeleted if not.
  long KeyAlive(sqlite3_int64 id) {
    if (id == 0) return kRegSuccess;
    Use q(key_exists_);
    q.Bind(1, id);
    const int rc = q.Step();
    if (rc == SQLITE_ROW) return kRegSuccess;
    return rc == SQLITE_DONE ? kRegKeyDeleted : kRegIoFailed;
  }

  long InsertKey(sqlite3_int64 parent, std::string_view name, sqlite3_int64* id) {
    Use q(insert_key_);
    q.Bind(1, parent);
    q.Bind(2, name);
    if (q.Step() != SQLITE_DONE) return kRegIoFailed;
    *id = sqlite3_last_insert_rowid(db_);
    return kRegSuccess;
  }

  // kRegSuccess when key `id` has no subkey, kRegAccessDenied when it has one.
  long NoChildren(sqlite3_int64 id) {
    Use q(has_child_);
    q.Bind(1, id);
    const int rc = q.Step();
    if (rc == SQLITE_DONE) return kRegSuccess;
    return rc == SQLITE_ROW ? kRegAccessDenied : kRegIoFailed;
  }

  long RemoveKey(sqlite3_int64 id) {
    Use values(delete_key_values_);
    values.Bind(1, id);
    if (values.Step() != SQLITE_DONE) return kRegIoFailed;
    Use key(delete_key_);
    key.Bind(1, id);
    return key.Step() == SQLITE_DONE ? kRegSuccess : kRegIoFailed;
  }

  long SetValue(sqlite3_int64 key, std::string_view name, unsigned long type, const void* data,
                unsigned long size) {
    Use q(set_value_);
    q.Bind(1, key);
    q.Bind(2, name);
    q.Bind(3, static_cast<sqlite3_int64>(type));
    q.BindBlob(4, data, size);
    return q.Step() == SQLITE_DONE ? kRegSuccess : kRegIoFailed;
  }

  // Looks value `name` of `key` up and hands its type and bytes to `take`.
  template <class Take>
  long GetValue(sqlite3_int64 key, std::string_view name, Take&& take) {
    Use q(get_value_);
    q.Bind(1, key);
    q.Bind(2, name);
    const int rc = q.Step();
    if (rc == SQLITE_DONE) return kRegFileNotFound;
    if (rc != SQLITE_ROW) return kRegIoFailed;
    const auto type = static_cast<unsigned long>(sqlite3_column_int64(*q, 0));
    const void* data = sqlite3_column_blob(*q, 1);
    const auto size = static_cast<unsigned long>(sqlite3_column_bytes(*q, 1));
    return take(type, data, size);
  }

  long DeleteValue(sqlite3_int64 key, std::string_view name) {
    Use q(delete_value_);
    q.Bind(1, key);
    q.Bind(2, name);
    if (q.Step() != SQLITE_DONE) return kRegIoFailed;
    return sqlite3_changes(db_) ? kRegSuccess : kRegFileNotFound;
  }

  // Name of the index-th subkey of `key`, handed to `take`; kRegNoMoreItems past the end.
  template <class Take>
  long EnumChild(sqlite3_int64 key, unsigned long index, Take&& take) {
    Use q(enum_child_);
    q.Bind(1, key);
    q.Bind(2, static_cast<sqlite3_int64>(index));
    const int rc = q.Step();
    if (rc == SQLITE_DONE) return kRegNoMoreItems;
    if (rc != SQLITE_ROW) return kRegIoFailed;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(*q, 0));
    return take(std::string_view(text ? text : "", sqlite3_column_bytes(*q, 0)));
  }

 private:
  Database() = default;

  bool Exec(const char* sql) {
    for (;;) {
      const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK) return true;
      if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  bool PrepareOne(StmtPtr* out, const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK)
      return false;
    out->reset(s);
    return true;
  }

  int UserVersion() {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &s, nullptr) != SQLITE_OK) return -1;
    StmtPtr owner(s);
    Use q(owner);
    return q.Step() == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
  }

  // The connection's settings, the schema (made once per file, under the write lock so
  // that two first users do not race) and the statements every operation uses.
  bool Prepare() {
    if (sqlite3_create_collation_v2(db_, "REGNAME", SQLITE_UTF8, nullptr, CompareNames, nullptr) !=
        SQLITE_OK)
      return false;
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // NORMAL keeps every commit through a crash of the process (the WAL is in the
    // file system); only a power loss may take back the last commits.
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=NORMAL")) return false;
    if (UserVersion() != kSchemaVersion) {
      if (!Exec("BEGIN IMMEDIATE")) return false;
      if (!Exec(kSchema) || !Exec("COMMIT")) {
        Exec("ROLLBACK");
        return false;
      }
    }
    return PrepareOne(&begin_, "BEGIN IMMEDIATE") && PrepareOne(&commit_, "COMMIT") &&
           PrepareOne(&rollback_, "ROLLBACK") &&
           PrepareOne(&find_child_, "SELECT id FROM keys WHERE parent=?1 AND name=?2") &&
           PrepareOne(&find_two_, kFindTwoLevels) &&
           PrepareOne(&key_exists_, "SELECT 1 FROM keys WHERE id=?1") &&
           PrepareOne(&insert_key_, "INSERT INTO keys(parent, name) VALUES(?1, ?2)") &&
           PrepareOne(&has_child_, "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1") &&
           PrepareOne(&delete_key_, "DELETE FROM keys WHERE id=?1") &&
           PrepareOne(&delete_key_values_, "DELETE FROM vals WHERE key=?1") &&
           PrepareOne(&set_value_,
                      "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                      "ON CONFLICT(key, name) DO UPDATE SET type=excluded.type, "
                      "data=excluded.data") &&
           PrepareOne(&get_value_, "SELECT type, data FROM vals WHERE key=?1 AND name=?2") &&
           PrepareOne(&delete_value_, "DELETE FROM vals WHERE key=?1 AND name=?2") &&
           PrepareOne(&enum_child_,
                      "SELECT name FROM keys WHERE parent=?1 ORDER BY name LIMIT 1 OFFSET ?2");
  }

  static constexpr std::size_t kMaxCached = 4096;

  sqlite3* db_ = nullptr;
  FileId id_;
  DeletionCounter deletions_;
  std::unordered_map<std::string, sqlite3_int64> cache_;
  std::uint64_t cache_generation_ = 0;
  std::mutex mutex_;
  StmtPtr begin_, commit_, rollback_, find_child_, find_two_, key_exists_, insert_key_, has_child_,
      delete_key_, delete_key_values_, set_value_, get_value_, delete_value_, enum_child_;
};

// Counts the fork()s this process came out of, so that a connection made before one
// is recognised after it without a system call per operation.
std::atomic<unsigned long> fork_generation{0};

void CountFork() {
  fork_generation.fetch_add(1, std::memory_order_relaxed);
}

unsigned long ForkGeneration() {
  return fork_generation.load(std::memory_order_relaxed);
}

// What a handle stands for: a key of one database file, and the connection it was
// opened on (used directly while the process has not forked since).
struct OpenKey {
  std::string path;
  FileId file;  // the file the key id belongs to (unused for key 0)
  sqlite3_int64 key = 0;
  std::shared_ptr<Database> db;  // null when the database did not exist yet
  unsigned long generation = 0;
};

// Process-wide state: open connections by file path and live handles by value. It is
// never destroyed, so a handle closed during static destruction still finds it.
class Registry {
 public:
  static Registry& Get() {
    static Registry* r = new Registry;
    return *r;
  }

  // The database at `path` for this process. Without `create` a missing file gives
  // null with *missing set.
  std::shared_ptr<Database> Connect(const std::string& path, bool create, bool* missing) {
    std::lock_guard<std::mutex> lock(mutex_);
    *missing = false;
    ForgetInheritedConnections();
    auto it = dbs_.find(path);
    if (it != dbs_.end()) {
      FileId now;
      if (StatFile(path, &now) && now == it->second->id()) return it->second;
      // The file was removed (or replaced) under us: its connection is of no use.
      dbs_.erase(it);
    }
    std::shared_ptr<Database> d = Database::Open(path, create, missing);
    if (!d) return nullptr;
    if (dbs_.size() >= 16) DropVanished();
    dbs_[path] = d;
    return d;
  }

  RegHandle AddHandle(OpenKey key) {
    std::lock_guard<std::mutex> lock(mutex_);
    next_ += 4;
    handles_.emplace(next_, std::move(key));
    return reinterpret_cast<RegHandle>(next_);
  }

  bool FindHandle(RegHandle h, OpenKey* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == handles_.end()) return false;
    *out = it->second;
    return true;
  }

  bool RemoveHandle(RegHandle h) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == handles_.end()) return false;
    // A connection from before a fork() must not be closed here either.
    if (it->second.db && it->second.generation != ForkGeneration())
      inherited_.push_back(std::move(it->second.db));
    handles_.erase(it);
    return true;
  }

 private:
  Registry() : generation_(ForkGeneration()) { pthread_atfork(nullptr, nullptr, CountFork); }

  // A connection must never be used on both sides of a fork(). The child keeps the
  // parent's connections alive but untouched (closing them could disturb the parent's
  // locks) and opens its own.
  void ForgetInheritedConnections() {
    const unsigned long now = ForkGeneration();
    if (now == generation_) return;
    generation_ = now;
    for (auto& entry : dbs_) inherited_.push_back(std::move(entry.second));
    dbs_.clear();
  }

  // Closes the connections whose file no longer exists, so that a process working in
  // many scratch Windows directories does not pile up open files.
  void DropVanished() {
    for (auto it = dbs_.begin(); it != dbs_.end();) {
      FileId now;
      if (!StatFile(it->first, &now) || now != it->second->id())
        it = dbs_.erase(it);
      else
        ++it;
    }
  }

  std::mutex mutex_;
  unsigned long generation_;
  std::unordered_map<std::string, std::shared_ptr<Database>> dbs_;
  std::vector<std::shared_ptr<Database>> inherited_;
  std::unordered_map<std::uintptr_t, OpenKey> handles_;
  std::uintptr_t next_ = 0x10000;
};

bool IsRoot(RegHandle h) {
  const auto v = reinterpret_cast<std::uintptr_t>(h);
  return v >= kRegClassesRoot && v <= kRegUsers;
}

std::string RootPath(RegHandle root) {
  std::string dir = WindowsDirectory();
  if (!dir.empty() && !IsPathSeparator(dir.back())) dir += kPathSeparator;
  dir += "registry";
  dir += kPathSeparator;
  switch (reinterpret_cast<std::uintptr_t>(root)) {
    case kRegLocalMachine:
      return dir + "machine.db";
    case kRegCurrentUser:
      return dir + "user-" + std::to_string(::getuid()) + ".db";
    case kRegUsers:
      return dir + "users.db";
    default:
      return dir + "classes.db";
  }
}

// A handle resolved to its database and key. `db` is null when the database does
// not exist yet and nothing was to be created: the root of such a database is empty.
struct Target {
  std::string path;
  std::shared_ptr<Database> db;
  sqlite3_int64 key = 0;
};

long Resolve(RegHandle h, bool create, Target* t) {
  OpenKey k;
  if (IsRoot(h)) {
    k.path = RootPath(h);
  } else if (!Registry::Get().FindHandle(h, &k)) {
    return kRegInvalidHandle;
  }
  t->path = k.path;
  t->key = k.key;
  if (k.db && k.generation == ForkGeneration()) {
    t->db = std::move(k.db);
    return kRegSuccess;
  }
  bool missing = false;
  t->db = Registry::Get().Connect(k.path, create, &missing);
  if (!t->db) {
    if (!missing) return kRegCannotOpen;
    return k.key == 0 ? kRegSuccess : kRegKeyDeleted;
  }
  if (k.key != 0 && t->db->id() != k.file) return kRegKeyDeleted;
  return kRegSuccess;
}

// Splits a key path into its levels. Null or empty: no level.
long SplitPath(const char* path, std::vector<std::string_view>* levels) {
  levels->clear();
  if (!path || !*path) return kRegSuccess;
  std::string_view rest(path);
  if (rest.back() == '\\') rest.remove_suffix(1);
  for (;;) {
    const std::size_t cut = rest.find('\\');
    const std::string_view level = rest.substr(0, cut);
    if (level.empty()) return kRegBadPathname;
    if (level.size() > kRegMaxKeyName) return kRegInvalidParameter;
    levels->push_back(level);
    if (cut == std::string_view::npos) return kRegSuccess;
    rest.remove_prefix(cut + 1);
  }
}

std::string_view ValueName(const char* name) {
  return name ? std::string_view(name) : "";
}

// Walks `levels` down from `key`; kRegFileNotFound at the first missing level, or
// kRegKeyDeleted when the starting key itself is gone.
long Walk(Database& db, sqlite3_int64 key, const std::vector<std::string_view>& levels,
          sqlite3_int64* found) {
  std::uint64_t generation = 0;
  const bool cached = db.CacheUsable(&generation);
  std::size_t i = 0;
  if (cached)
    while (i < levels.size() && db.Cached(key, levels[i], &key)) ++i;
  std::vector<std::pair<std::string, sqlite3_int64>> learnt;
  // Two levels a statement while all is found (each statement is a read transaction,
  // whose locking costs more than its look-ups); a miss is walked again level by
  // level to tell where it lies.
  while (levels.size() - i >= 2) {
    sqlite3_int64 middle = 0, child = 0;
    const long rc = db.FindTwoLevels(key, levels[i], levels[i + 1], &middle, &child);
    if (rc == kRegFileNotFound) break;
    if (rc != kRegSuccess) return rc;
    if (cached) {
      learnt.emplace_back(Database::CacheKey(key, levels[i]), middle);
      learnt.emplace_back(Database::CacheKey(middle, levels[i + 1]), child);
    }
    key = child;
    i += 2;
  }
  for (; i < levels.size(); ++i) {
    sqlite3_int64 child = 0;
    const long rc = db.FindChild(key, levels[i], &child);
    if (rc == kRegFileNotFound && i == 0) {
      const long alive = db.KeyAlive(key);
      if (alive != kRegSuccess) return alive;
    }
    if (rc != kRegSuccess) {
      if (cached) db.Remember(generation, learnt);
      return rc;
    }
    if (cached) learnt.emplace_back(Database::CacheKey(key, levels[i]), child);
    key = child;
  }
  if (cached) db.Remember(generation, learnt);
  *found = key;
  return levels.empty() ? db.KeyAlive(key) : kRegSuccess;
}

RegHandle NewHandle(const Target& t, sqlite3_int64 key) {
  OpenKey k;
  k.path = t.path;
  if (t.db) k.file = t.db->id();
  k.key = key;
  k.db = t.db;
  k.generation = ForkGeneration();
  return Registry::Get().AddHandle(std::move(k));
}

}  // namespace

long OpenRegistryKey(RegHandle parent, const char* path, RegHandle* key) {
  if (!key) return kRegInvalidParameter;
  *key = nullptr;
  std::vector<std::string_view> levels;
  if (const long rc = SplitPath(path, &levels); rc != kRegSuccess) return rc;
  Target t;
  if (const long rc = Resolve(parent, false, &t); rc != kRegSuccess) return rc;
  sqlite3_int64 found = 0;
  if (!t.db) {
    if (!levels.empty()) return kRegFileNotFound;
  } else {
    std::lock_guard<std::mutex> lock(t.db->mutex());
    if (const long rc = Walk(*t.db, t.key, levels, &found); rc != kRegSuccess) return rc;
  }
  *key = NewHandle(t, found);
  return kRegSuccess;
}

long CreateRegistryKey(RegHandle parent, const char* path, RegHandle* key, bool* created) {
  if (!key) return kRegInvalidParameter;
  *key = nullptr;
  if (created) *created = false;
  std::vector<std::string_view> levels;
  if (const long rc = SplitPath(path, &levels); rc != kRegSuccess) return rc;
  Target t;
  if (const long rc = Resolve(parent, true, &t); rc != kRegSuccess) return rc;
  sqlite3_int64 found = t.key;
  bool made = false;
  std::lock_guard<std::mutex> lock(t.db->mutex());
  // Most keys to create exist already: looking first spares a write transaction.
  if (const long rc = Walk(*t.db, t.key, levels, &found); rc != kRegFileNotFound) {
    if (rc == kRegSuccess) *key = NewHandle(t, found);
    return rc;
  }
  const long rc = t.db->Write([&]() -> long {
    found = t.key;
    made = false;
    if (const long alive = t.db->KeyAlive(found); alive != kRegSuccess) return alive;
    for (std::string_view level : levels) {
      sqlite3_int64 child = 0;
      long step = made ? kRegFileNotFound : t.db->FindChild(found, level, &child);
      if (step == kRegFileNotFound) {
        step = t.db->InsertKey(found, level, &child);
        made = true;
      }
      if (step != kRegSuccess) return step;
      found = child;
    }
    return kRegSuccess;
  });
  if (rc != kRegSuccess) return rc;
  if (created) *created = made;
  *key = NewHandle(t, found);
  return kRegSuccess;
}

long CloseRegistryKey(RegHandle key) {
  if (IsRoot(key)) return kRegSuccess;
  return Registry::Get().RemoveHandle(key) ? kRegSuccess : kRegInvalidHandle;
}

long SetRegistryValue(RegHandle key, const char* name, unsigned long type, const void* data,
                      unsigned long size) {
  const std::string_view value = ValueName(name);
  if (value.size() > kMaxValueName || (!data && size) || size > 0x7fffffffUL)
    return kRegInvalidParameter;
  Target t;
  if (const long rc = Resolve(key, true, &t); rc != kRegSuccess) return rc;
  std::lock_guard<std::mutex> lock(t.db->mutex());
  return t.db->Write([&]() -> long {
    if (const long alive = t.db->KeyAlive(t.key); alive != kRegSuccess) return alive;
    return t.db->SetValue(t.key, value, type, data, size);
  });
}

long QueryRegistryValue(RegHandle key, const char* name, unsigned long* type, void* data,
                        unsigned long* size) {
  if (data && !size) return kRegInvalidParameter;
  Target t;
  if (const long rc = Resolve(key, false, &t); rc != kRegSuccess) return rc;
  if (!t.db) return kRegFileNotFound;
  std::lock_guard<std::mutex> lock(t.db->mutex());
  const long rc = t.db->GetValue(t.key, ValueName(name),
                                 [&](unsigned long stored, const void* bytes, unsigned long count) {
                                   if (type) *type = stored;
                                   long result = kRegSuccess;
                                   if (data) {
                                     if (count > *size)
                                       result = kRegMoreData;
                                     else if (count)
                                       std::memcpy(data, bytes, count);
                                   }
                                   if (size) *size = count;
                                   return result;
                                 });
  return rc == kRegFileNotFound ? (t.db->KeyAlive(t.key) == kRegSuccess ? rc : kRegKeyDeleted) : rc;
}

long EnumRegistrySubkey(RegHandle key, unsigned long index, char* name, unsigned long size) {
  if (!name || !size) return kRegInvalidParameter;
  Target t;
  if (const long rc = Resolve(key, false, &t); rc != kRegSuccess) return rc;
  if (!t.db) return kRegNoMoreItems;
  std::lock_guard<std::mutex> lock(t.db->mutex());
  const long rc = t.db->EnumChild(t.key, index, [&](std::string_view found) {
    if (found.size() + 1 > size) return kRegMoreData;
    std::memcpy(name, found.data(), found.size());
    name[found.size()] = '\0';
    return kRegSuccess;
  });
  return rc == kRegNoMoreItems ? (t.db->KeyAlive(t.key) == kRegSuccess ? rc : kRegKeyDeleted) : rc;
}

long DeleteRegistryValue(RegHandle key, const char* name) {
  Target t;
  if (const long rc = Resolve(key, false, &t); rc != kRegSuccess) return rc;
  if (!t.db) return kRegFileNotFound;
  std::lock_guard<std::mutex> lock(t.db->mutex());
  return t.db->Write([&]() -> long {
    if (const long alive = t.db->KeyAlive(t.key); alive != kRegSuccess) return alive;
    return t.db->DeleteValue(t.key, ValueName(name));
  });
}

long DeleteRegistryKey(RegHandle parent, const char* path) {
  std::vector<std::string_view> levels;
  if (const long rc = SplitPath(path, &levels); rc != kRegSuccess) return rc;
  if (levels.empty()) return kRegInvalidParameter;
  Target t;
  if (const long rc = Resolve(parent, false, &t); rc != kRegSuccess) return rc;
  if (!t.db) return kRegFileNotFound;
  std::lock_guard<std::mutex> lock(t.db->mutex());
  std::uint64_t ticket = 0;
  const long rc = t.db->Write([&]() -> long {
    ticket = t.db->deletions().Begin();
    sqlite3_int64 victim = 0;
    if (const long rc = Walk(*t.db, t.key, levels, &victim); rc != kRegSuccess) return rc;
    if (const long rc = t.db->NoChildren(victim); rc != kRegSuccess) return rc;
    return t.db->RemoveKey(victim);
  });
  t.db->deletions().Finish(ticket);
  return rc;
}

}  // namespace cslib::port
