// Forked child processes for tests.
#include "support/child.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace cstest {

Child::Child(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    const int code = body();
    std::fflush(nullptr);
    _exit(code);
  }
  if (pid_ < 0) {
    reaped_ = true;
    status_ = 255;
  }
}

Child::~Child() {
  if (!reaped_) {
    kill(pid_, SIGKILL);
    Wait();
  }
}

int Child::Wait() {
  if (reaped_) return status_;
  int raw = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &raw, 0);
  } while (r < 0 && errno == EINTR);
  reaped_ = true;
  if (r < 0) return status_ = 255;
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

void Child::Kill(int signal) {
  if (!reaped_) kill(pid_, signal);
}

Signal::Signal() {
  if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  EXPECT_GE(fds_[0], 0) << "pipe failed";
}

Signal::~Signal() {
  close(fds_[0]);
  if (fds_[1] >= 0) close(fds_[1]);
}

void Signal::Send() {
  EXPECT_EQ(write(fds_[1], "x", 1), 1);
}

bool Signal::Receive() {
  // The receiver gives up its own sending end, so that the read ends (false) once the
  // senders are gone instead of waiting on a pipe this process still holds open.
  if (fds_[1] >= 0) close(fds_[1]);
  fds_[1] = -1;
  char c;
  return read(fds_[0], &c, 1) == 1;
}

}  // namespace cstest
