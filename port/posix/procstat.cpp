// Reading /proc/<id>/stat. The command name in parentheses may hold blanks and
// parentheses itself, so fields are counted from the last ')'.
#include "port/posix/procstat.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

namespace cslib::port {

ProcStatResult ReadProcStat(long id, ProcStat* out) {
  const std::string path = "/proc/" + std::to_string(id) + "/stat";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT || errno == ESRCH ? ProcStatResult::kGone : ProcStatResult::kUnknown;
  char buf[1024];
  ssize_t n;
  do {
    n = read(fd, buf, sizeof buf - 1);
  } while (n < 0 && errno == EINTR);
  const int read_error = errno;
  close(fd);
  if (n < 0 && read_error == ESRCH) return ProcStatResult::kGone;  // ended after the open
  if (n <= 0) return ProcStatResult::kUnknown;

  std::string_view text(buf, static_cast<std::size_t>(n));
  const std::size_t close_paren = text.rfind(')');
  if (close_paren == std::string_view::npos || close_paren + 2 >= text.size())
    return ProcStatResult::kUnknown;
  text.remove_prefix(close_paren + 2);
  const char state = text[0];
  // Field 22, the start time, is the 20th field after the command name.
  for (int field = 0; field < 19; ++field) {
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos) return ProcStatResult::kUnknown;
    text.remove_prefix(blank + 1);
  }
  unsigned long long start = 0;
  for (char c : text.substr(0, text.find(' '))) {
    if (c < '0' || c > '9') return ProcStatResult::kUnknown;
    start = start * 10 + static_cast<unsigned>(c - '0');
  }
  out->state = state;
  out->start_time = start;
  return ProcStatResult::kRead;
}

}  // namespace cslib::port
