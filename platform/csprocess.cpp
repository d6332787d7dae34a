// Program start: the Windows command line is split into an argument vector and
// the program is started; with a timeout, the call waits until the program is
// ready for input. The library keeps nothing of the program.
#include <string_view>

#include "cslib/process.h"
#include "port/cmdline.h"
#include "port/memprobe.h"
#include "port/process.h"

long CSCreateProcess(const char* commandLine, short showWindow, unsigned long timeout) {
  namespace port = cslib::port;
  (void)showWindow;  // programs here have no window to show
  const long length = port::ReadableStrlen(commandLine);
  if (length < 0) return CSErrCreateProcess;
  const std::vector<std::string> args = port::SplitWindowsCommandLine(
      std::string_view(commandLine, static_cast<std::size_t>(length)));
  long pid = 0;
  if (!port::StartProgram(args, &pid)) return CSErrCreateProcess;
  if (timeout == 0) return CSOk;
  switch (port::WaitUntilReadyForInput(pid, timeout)) {
    case port::ReadyWait::kReady:
      return CSOk;
    case port::ReadyWait::kTimedOut:
      return CSErrProcessNotIdle;
    case port::ReadyWait::kEnded:
      break;
  }
  return CSErrCreateProcess;
}
