// Program start on POSIX. The program is started by a short-lived intermediate
// process (a double fork), so init adopts and reaps it and the caller never finds
// an unexpected child. A close-on-exec pipe carries back the program's process id
// and, when exec fails in the new process, its errno. Readiness is read from
// /proc/<pid>/stat.
#include "port/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "port/clock.h"
#include "port/posix/fd.h"
#include "port/posix/procstat.h"

extern char** environ;

namespace cslib::port {
namespace {

// One message on the start pipe. Each is written with one write() smaller than
// PIPE_BUF, so messages from the two processes never interleave.
struct StartMessage {
  std::int32_t kind;
  std::int32_t value;
};
enum : std::int32_t { kProgramPid = 1, kForkFailed = 2, kExecFailed = 3 };

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The program as exec will see it: a name holding '/' as it stands, any other the
// first executable file of that name in a PATH directory. Empty when none is found.
std::string ResolveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* env = std::getenv("PATH");
  std::string_view path = env ? env : "/usr/local/bin:/usr/bin:/bin";
  for (;;) {
    const std::size_t colon = path.find(':');
    std::string dir(path.substr(0, colon));
    if (dir.empty()) dir = ".";  // an empty entry is the current directory
    std::string candidate = dir + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) return std::string();
    path.remove_prefix(colon + 1);
  }
}

void Send(int fd, std::int32_t kind, std::int32_t value) {
  const StartMessage m{kind, value};
  ssize_t r;
  do {
    r = write(fd, &m, sizeof m);
  } while (r < 0 && errno == EINTR);
}

// In the new process, before exec: no file but 0, 1 and 2 survives the exec, and
// the program starts with every signal at its default and none blocked. Only
// async-signal-safe calls here.
void PrepareForExec() {
  if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) != 0) {
    rlimit lim{};
    rlim_t max = getrlimit(RLIMIT_NOFILE, &lim) == 0 ? lim.rlim_cur : 1024;
    if (max == RLIM_INFINITY || max > 65536) max = 65536;
    for (int fd = 3; fd < static_cast<int>(max); ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Blocks every signal for its scope, so no handler of the caller runs in the
// processes forked meanwhile.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t old_;
};

// The state and start time of a process; false when it is gone or cannot be read.
bool ReadProcessStat(long pid, ProcStat* out) {
  return ReadProcStat(pid, out) == ProcStatResult::kRead;
}

void SleepMicroseconds(long us) {
  timespec ts{us / 1000000, (us % 1000000) * 1000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace

bool StartProgram(const std::vector<std::string>& args, long* pid) {
  if (args.empty() || args[0].empty()) return false;
  const std::string program = ResolveProgram(args[0]);
  if (program.empty()) return false;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  Fd reader(fds[0]);
  Fd writer(fds[1]);

  pid_t middle;
  {
    SignalsBlocked blocked;
    middle = fork();
    if (middle == 0) {
      const pid_t program_pid = fork();
      if (program_pid == 0) {
        PrepareForExec();
        execve(program.c_str(), argv.data(), environ);
        Send(writer.get(), kExecFailed, errno);
        _exit(127);
      }
      if (program_pid > 0)
        Send(writer.get(), kProgramPid, program_pid);
      else
        Send(writer.get(), kForkFailed, errno);
      _exit(0);
    }
  }
  writer.Reset();
  if (middle < 0) return false;

  // The pipe reaches end of file once the intermediate has left and the program's
  // exec has succeeded (closing its end) or failed (after its message).
  long started = -1;
  bool failed = false;
  StartMessage m{};
  for (;;) {
    const ssize_t n = read(reader.get(), &m, sizeof m);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof m)) break;
    if (m.kind == kProgramPid)
      started = m.value;
    else
      failed = true;
  }
  // The intermediate is reaped by its own pid only. ECHILD (SIGCHLD ignored, or a
  // caller's handler reaped it first) needs nothing more.
  while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }
  if (failed || started <= 0) return false;
  *pid = started;
  return true;
}

ReadyWait WaitUntilReadyForInput(long pid, unsigned long timeoutMs) {
  const bool limited = timeoutMs < kNoTimeLimit;
  const std::uint64_t deadline =
      MonotonicTicks() + static_cast<std::uint64_t>(timeoutMs) * (kMonotonicTicksPerSecond / 1000);
  ProcStat first;
  if (!ReadProcessStat(pid, &first)) return ReadyWait::kEnded;
  ProcStat now = first;
  int asleep = 0;
  long pause = 1000;
  for (;;) {
    // A different start time means the pid now names another process.
    if (now.start_time != first.start_time || now.state == 'Z' || now.state == 'X' ||
        now.state == 'x')
      return ReadyWait::kEnded;
    asleep = now.state == 'S' ? asleep + 1 : 0;
    if (asleep >= 2) return ReadyWait::kReady;
    if (limited && MonotonicTicks() >= deadline) return ReadyWait::kTimedOut;
    SleepMicroseconds(pause);
    if (pause < 10000) pause += 1000;
    if (!ReadProcessStat(pid, &now)) return ReadyWait::kEnded;
  }
}

}  // namespace cslib::port
