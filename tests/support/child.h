// Real child processes for multi-process and crash tests. The child runs a function
// and leaves with its result as exit status; it never returns into the test.
#ifndef CSLIB_TESTS_SUPPORT_CHILD_H
#define CSLIB_TESTS_SUPPORT_CHILD_H

#include <sys/types.h>

#include <functional>

namespace cstest {

class Child {
 public:
  // Forks; the child runs body and exits with its result (0 to 255).
  explicit Child(const std::function<int()>& body);
  ~Child();  // kills and reaps a child that is still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // Waits for the child; its exit status, or 128 + the signal that ended it.
  int Wait();
  void Kill(int signal);

 private:
  pid_t pid_;
  bool reaped_ = false;
  int status_ = -1;
};

// A one-byte message from child processes to the parent (made before the fork): the
// children send, the parent receives and can no longer send.
class Signal {
 public:
  Signal();
  ~Signal();
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;
  void Send();
  bool Receive();  // waits for one message; false when every sender is gone

 private:
  int fds_[2];
};

}  // namespace cstest

#endif  // CSLIB_TESTS_SUPPORT_CHILD_H
