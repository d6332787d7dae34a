// Change epochs for directories, so the INI cache can tell without a stat per file
// that nothing in a directory has changed since it last looked. On Linux an inotify
// instance watches each directory and every directory on the path to it (a rename of
// any of them is seen too); elsewhere, and where a directory cannot be watched (it is
// missing, the watch limit is reached, or the file system is not local), Epoch gives
// 0 and the caller checks the file itself.
#ifndef CSLIB_PORT_POSIX_DIRWATCH_H
#define CSLIB_PORT_POSIX_DIRWATCH_H

#include <cstdint>
#include <string>

namespace cslib::port {

// Not thread-safe: the caller serialises every call (the INI cache's mutex).
class DirectoryWatcher {
 public:
  static DirectoryWatcher& Instance();

  // A value that differs from every earlier result for `dir` once anything in dir, or
  // any directory on the path to it, has changed since that result was given (events
  // already delivered are taken in first). 0 when dir cannot be watched.
  std::uint64_t Epoch(const std::string& dir);

 private:
  DirectoryWatcher() = default;
};

}  // namespace cslib::port

#endif  // CSLIB_PORT_POSIX_DIRWATCH_H
