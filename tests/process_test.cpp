// Program start: Windows command-line splitting, starting real programs with and
// without waiting, programs that cannot start, and one that never becomes ready.
// Every program started writes its pid to a file, and the test kills it.
#include <cslib.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "port/cmdline.h"
#include "support/child.h"
#include "support/testenv.h"

namespace {

using cstest::ReadFile;
using cstest::TempDir;

TEST(CommandLine, SplitByTheWindowsRules) {
  using Args = std::vector<std::string>;
  struct Case {
    const char* line;
    Args args;
  } cases[] = {
      {"", {}},
      {" \t ", {}},
      {"prog", {"prog"}},
      {"  prog  a\tb  ", {"prog", "a", "b"}},
      {"\"C:\\Program Files\\x.exe\" arg", {"C:\\Program Files\\x.exe", "arg"}},
      {"pro\"g na\"me x", {"prog name", "x"}},
      {"C:\\dir\\ x", {"C:\\dir\\", "x"}},  // the program's backslashes are plain
      {"p\\\" a\" b", {"p\\ a", "b"}},
      {"p \"a b\" c", {"p", "a b", "c"}},
      {"p a\"b c\"d", {"p", "ab cd"}},
      {"p \"\"", {"p", ""}},
      {"p \"\" x", {"p", "", "x"}},
      {"p a\\\\b", {"p", "a\\\\b"}},        // backslashes not before a quote
      {"p a\\\"b", {"p", "a\"b"}},          // \" is a quote
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},  // \\" is a backslash, then quoting
      {"p a\\\\\\\"b", {"p", "a\\\"b"}},    // \\\" is a backslash and a quote
      {"p \"a\"\"b\"", {"p", "a\"b"}},      // "" inside quotes is one quote
      {"p \"unterminated arg", {"p", "unterminated arg"}},
      {"p trailing\\", {"p", "trailing\\"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(cslib::port::SplitWindowsCommandLine(c.line), c.args);
  }
}

// Waits (bounded) for a file another process writes; its content, or empty.
std::string AwaitFile(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    std::string content = ReadFile(path);
    if (!content.empty() && content.back() == '\n') return content;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return std::string();
}

bool IsAlive(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

// Kills the program whose pid a started shell wrote, at the end of the test.
class StartedProgram {
 public:
  explicit StartedProgram(const std::string& pidFile) {
    const std::string text = AwaitFile(pidFile);
    pid_ = text.empty() ? 0 : std::stoi(text);
  }
  ~StartedProgram() {
    if (pid_ > 0) kill(pid_, SIGKILL);
  }
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
};

// The programs started here are adopted by the test process (a subreaper), not by
// init, so the test can reap them: every test ends with no child left, running or
// not, and no zombie is left to an init that does not reap.
class CreateProcess : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }
  void TearDown() override {
    for (int i = 0; i < 1000; ++i) {
      const pid_t r = waitpid(-1, nullptr, WNOHANG);
      if (r < 0 && errno == ECHILD) return;
      if (r == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "a started program is still running";
  }
};

TEST_F(CreateProcess, NoCommandLineStartsNothing) {
  cstest::MappedPages none(1, PROT_NONE);
  EXPECT_EQ(CSCreateProcess(nullptr, 1, 0), CSErrCreateProcess);
  EXPECT_EQ(CSCreateProcess(none.data(), 1, 0), -2803);
  EXPECT_EQ(CSCreateProcess("", 1, 0), -2803);
  EXPECT_EQ(CSCreateProcess("  \t", 1, 100), -2803);
}

TEST_F(CreateProcess, ArgumentsReachTheProgramFoundOnPath) {
  TempDir dir;
  const std::string out = dir.File("args");
  // The shell writes its arguments, one a line, then moves the file into place.
  const std::string line = "sh -c \"printf '%s\\n' \\\"$@\\\" > " + out + ".tmp; mv " + out +
                           ".tmp " + out + "\" sh \"two words\" back\\\\slash q\\\"uote \"\"";
  ASSERT_EQ(CSCreateProcess(line.c_str(), 1, 0), 0);
  EXPECT_EQ(AwaitFile(out), "two words\nback\\\\slash\nq\"uote\n\n");
}

// Starts a shell that writes its pid and then runs script, with the given timeout:
// the call gives expected, and the program runs on afterwards.
void ExpectStartedAndRunning(const std::string& script, unsigned long timeout, long expected) {
  TempDir dir;
  const std::string line = "/bin/sh -c \"echo $$ > " + dir.File("pid") + "; " + script + "\"";
  EXPECT_EQ(CSCreateProcess(line.c_str(), 1, timeout), expected);
  StartedProgram program(dir.File("pid"));
  ASSERT_GT(program.pid(), 0);
  EXPECT_TRUE(IsAlive(program.pid()));
}

TEST_F(CreateProcess, TimeoutZeroReturnsAtOnceAndTheProgramRuns) {
  ExpectStartedAndRunning("exec sleep 30", 0, 0);
}

// The library reaps the process it forks itself and the program is not the
// caller's child, so a caller's wait() never meets it.
TEST_F(CreateProcess, TheCallerIsLeftWithoutAChild) {
  TempDir dir;
  const std::string line = "/bin/sh -c \"echo $$ > " + dir.File("pid") + "; exec sleep 30\"";
  cstest::Child caller([&] {
    if (CSCreateProcess(line.c_str(), 1, 0) != 0) return 1;
    errno = 0;
    if (waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD) return 2;
    return 0;
  });
  EXPECT_EQ(caller.Wait(), 0);
  StartedProgram program(dir.File("pid"));
  EXPECT_GT(program.pid(), 0);
}

TEST_F(CreateProcess, WaitsUntilTheProgramSleepsWaiting) {
  ExpectStartedAndRunning("exec sleep 30", 10000, 0);
}

TEST_F(CreateProcess, ABusyProgramIsNotIdleAndKeepsRunning) {
  ExpectStartedAndRunning("while :; do :; done", 200, CSErrProcessNotIdle);
}

TEST_F(CreateProcess, AProgramThatEndsBeforeItIsReadyIsAFailedWait) {
  EXPECT_EQ(CSCreateProcess("/bin/sh -c \"exit 0\"", 1, 10000), CSErrCreateProcess);
}

// Failures after the fork (exec refusing the file) come back as well as those
// found before it.
TEST_F(CreateProcess, AProgramThatCannotStartIsReported) {
  TempDir dir;
  cstest::WriteFile(dir.File("plain.txt"), "not a program\n");
  cstest::WriteFile(dir.File("garbage"), std::string("\x7f\x01\x02garbage", 10));
  ASSERT_EQ(chmod(dir.File("garbage").c_str(), 0755), 0);
  const std::string lines[] = {
      "no-such-program-of-cslib-tests",
      "/no/such/dir/program arg",
      dir.File("plain.txt"),
      dir.File("garbage"),
      dir.path(),
  };
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_EQ(CSCreateProcess(line.c_str(), 1, 0), CSErrCreateProcess);
    EXPECT_EQ(CSCreateProcess(line.c_str(), 1, 1000), CSErrCreateProcess);
  }
}

}  // namespace
