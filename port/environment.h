// The machine's answers to "where is the Windows directory" and "which operating
// system family is this", as the library's Parts ask them. Both are read afresh at
// every call, so a process may switch them between two operations.
#ifndef CSLIB_PORT_ENVIRONMENT_H
#define CSLIB_PORT_ENVIRONMENT_H

#include <string>

namespace cslib::port {

// The separator the library puts between a directory and a file name.
inline constexpr char kPathSeparator = '/';

// True for '/' and '\\': a caller's path may use either.
inline bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

// The directory that stands for the Windows directory: $CSLIB_WINDIR; when that is
// unset or empty, $XDG_STATE_HOME/cslib, else $HOME/.local/state/cslib. Returned as
// given (it may or may not end in a separator). The directory need not exist yet:
// whoever writes a file below it creates it.
std::string WindowsDirectory();

// The system directory: "system32" in the Windows directory.
std::string SystemDirectory();

// The platform identifier that the Windows version query reports: 0 (Win32s),
// 1 (Windows 95 family), 2 (Windows NT family), or 3 when the family is unknown
// ($CSLIB_OS_FAMILY unset, empty, "unknown" or anything unrecognised). Returns false
// only when the query itself fails.
bool QueryPlatformId(unsigned long* id);

}  // namespace cslib::port

#endif  // CSLIB_PORT_ENVIRONMENT_H
