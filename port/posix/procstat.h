// The state and start time of a process or thread, from /proc/<id>/stat: what the
// ready-for-input wait and the named mutex's dead-owner check look at.
#ifndef CSLIB_PORT_POSIX_PROCSTAT_H
#define CSLIB_PORT_POSIX_PROCSTAT_H

namespace cslib::port {

struct ProcStat {
  char state = '?';                   // R, S, D, Z, ...
  unsigned long long start_time = 0;  // clock ticks after boot
};

enum class ProcStatResult {
  kRead,     // *out holds the entry
  kGone,     // no such process or thread (it ended, or never was)
  kUnknown,  // /proc could not be read or its text was not understood
};

// Reads /proc/<id>/stat for a process id or a thread id of our pid namespace.
ProcStatResult ReadProcStat(long id, ProcStat* out);

}  // namespace cslib::port

#endif  // CSLIB_PORT_POSIX_PROCSTAT_H
