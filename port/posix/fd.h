// A file descriptor owned by a scope: closed when the scope ends, unless it was
// handed on. For the POSIX side of the platform layer.
#ifndef CSLIB_PORT_POSIX_FD_H
#define CSLIB_PORT_POSIX_FD_H

#include <unistd.h>

namespace cslib::port {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

  // Closes the descriptor held, if any, and holds fd instead.
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

  // Closes now and reports whether close succeeded (true when nothing was held); a
  // write's late errors show here.
  bool Close() {
    const int fd = Release();
    return fd < 0 || close(fd) == 0;
  }

  // Hands the descriptor on: it is no longer closed here.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace cslib::port

#endif  // CSLIB_PORT_POSIX_FD_H
