// Directory change epochs from inotify. Each watched directory is watched itself (any
// event in it counts) and through each of its ancestors (only events naming the next
// component of the path count), so renaming or replacing any directory on the path is
// noticed as well as any change to a file in it. A fork gives the child its own
// instance: parent and child must not drain each other's events.
#include "port/posix/dirwatch.h"

#include <unordered_map>
#include <vector>

#if defined(__linux__)
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace cslib::port {

DirectoryWatcher& DirectoryWatcher::Instance() {
  static DirectoryWatcher* watcher = new DirectoryWatcher();
  return *watcher;
}

#if defined(__linux__)
namespace {

// A watched directory reports every change to its entries; an ancestor only entries
// appearing, going or being renamed (not the busy writes of files in, say, /tmp). One
// inode may serve as both, so masks are only ever added to.
constexpr std::uint32_t kAncestorMask = IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE |
                                        IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD;
constexpr std::uint32_t kMask = IN_MASK_ADD | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE |
                                IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t kGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

// File systems whose changes all pass through this kernel, so inotify sees every one.
bool IsLocalFileSystem(const std::string& dir) {
  struct statfs fs;
  if (::statfs(dir.c_str(), &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0x794C7630:  // overlayfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0x3153464A:  // jfs
    case 0xCA451A4E:  // bcachefs
      return true;
    default:
      return false;
  }
}

struct Use {
  std::string dir;    // the watched directory this watch serves
  std::string child;  // the path component below the watched inode; empty: the dir itself
};

struct State {
  int fd = -1;
  bool unavailable = false;
  bool forked = false;
  std::uint64_t counter = 0;
  std::unordered_map<std::string, std::uint64_t> epochs;
  std::unordered_map<int, std::vector<Use>> uses;
  std::unordered_map<std::string, std::vector<int>> watches_of;
};

State& Shared() {
  static State* state = new State();
  return *state;
}

void AfterForkInChild() {
  State& s = Shared();
  if (s.fd >= 0) ::close(s.fd);
  s.fd = -1;
  s.forked = true;
}

void Forget(State& s, const std::string& dir) {
  s.epochs.erase(dir);
  const auto w = s.watches_of.find(dir);
  if (w == s.watches_of.end()) return;
  for (int wd : w->second) {
    auto u = s.uses.find(wd);
    if (u == s.uses.end()) continue;
    std::vector<Use>& list = u->second;
    for (std::size_t i = list.size(); i-- > 0;)
      if (list[i].dir == dir) list.erase(list.begin() + static_cast<long>(i));
    if (list.empty()) {
      ::inotify_rm_watch(s.fd, wd);
      s.uses.erase(u);
    }
  }
  s.watches_of.erase(w);
}

void Drain(State& s) {
  alignas(struct inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(s.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    std::vector<std::string> bumped, gone;
    for (ssize_t at = 0; at < n;) {
      const auto* ev = reinterpret_cast<const struct inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
      if (ev->mask & IN_Q_OVERFLOW) {
        for (auto& [dir, epoch] : s.epochs) bumped.push_back(dir);
        continue;
      }
      const auto u = s.uses.find(ev->wd);
      if (u == s.uses.end()) continue;
      const bool self = (ev->mask & kGone) != 0;
      const std::string name = ev->len ? std::string(ev->name) : std::string();
      for (const Use& use : u->second) {
        if (self)
          gone.push_back(use.dir);
        else if (use.child.empty() || use.child == name)
          bumped.push_back(use.dir);
      }
    }
    for (const std::string& dir : bumped)
      if (s.epochs.count(dir)) s.epochs[dir] = ++s.counter;
    for (const std::string& dir : gone) Forget(s, dir);
  }
}

// Watches dir and its ancestors, top down, so a path change anywhere on the way after
// the call is reported. Only plain absolute paths are watched: a relative one moves
// with the working directory.
bool Watch(State& s, const std::string& dir) {
  if (dir.empty() || dir[0] != '/') return false;
  std::vector<std::string> parts;
  for (std::size_t at = 1; at < dir.size();) {
    std::size_t next = dir.find('/', at);
    if (next == std::string::npos) next = dir.size();
    std::string part = dir.substr(at, next - at);
    if (part.empty() || part == "." || part == "..") return false;
    parts.push_back(std::move(part));
    at = next + 1;
  }
  if (!IsLocalFileSystem(dir)) return false;
  std::string path = "/";
  std::vector<int>& mine = s.watches_of[dir];
  for (std::size_t i = 0; i <= parts.size(); ++i) {
    const int wd =
        ::inotify_add_watch(s.fd, path.c_str(), i < parts.size() ? kAncestorMask : kMask);
    if (wd < 0) {
      Forget(s, dir);
      return false;
    }
    s.uses[wd].push_back(Use{dir, i < parts.size() ? parts[i] : std::string()});
    mine.push_back(wd);
    if (i < parts.size()) path += (path.size() > 1 ? "/" : "") + parts[i];
  }
  s.epochs[dir] = ++s.counter;
  return true;
}

}  // namespace

std::uint64_t DirectoryWatcher::Epoch(const std::string& dir) {
  State& s = Shared();
  if (s.forked) {
    s.forked = false;
    s.epochs.clear();
    s.uses.clear();
    s.watches_of.clear();
  }
  if (s.fd < 0) {
    if (s.unavailable) return 0;
    static const bool registered = ::pthread_atfork(nullptr, nullptr, AfterForkInChild) == 0;
    s.fd = registered ? ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1;
    if (s.fd < 0) {
      s.unavailable = true;
      return 0;
    }
  }
  Drain(s);
  const auto it = s.epochs.find(dir);
  if (it != s.epochs.end()) return it->second;
  return Watch(s, dir) ? s.epochs[dir] : 0;
}

#else

std::uint64_t DirectoryWatcher::Epoch(const std::string&) {
  return 0;
}

#endif

}  // namespace cslib::port
