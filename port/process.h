// Starting programs and waiting until one is ready for input, for the process
// functions. A started program belongs to nobody: it goes on running on its own,
// and the library keeps nothing of it.
#ifndef CSLIB_PORT_PROCESS_H
#define CSLIB_PORT_PROCESS_H

#include <string>
#include <vector>

namespace cslib::port {

// The timeout that means "no limit" (the Windows INFINITE).
inline constexpr unsigned long kNoTimeLimit = 0xFFFFFFFFul;

// Starts args[0] with args as its argument vector, the caller's environment and
// current directory, the standard input, output and error of the caller and no
// other open file. A program name without '/' is looked up on PATH. True, with the
// program's process id in *pid, once the program runs; false when it could not be
// found or started, including an exec that failed in the new process.
bool StartProgram(const std::vector<std::string>& args, long* pid);

enum class ReadyWait { kReady, kTimedOut, kEnded };

// Waits until process `pid` is ready for input: its main thread is seen asleep
// waiting (for input, a timer, a lock) at two polls in a row. kTimedOut when that
// does not happen within timeoutMs milliseconds (kNoTimeLimit or more: no limit),
// kEnded when the process ends, or cannot be observed, first.
ReadyWait WaitUntilReadyForInput(long pid, unsigned long timeoutMs);

}  // namespace cslib::port

#endif  // CSLIB_PORT_PROCESS_H
