// Splitting a Windows command line into the arguments a POSIX program receives,
// by the rules of the Windows C run-time (quotes, backslashes before quotes).
#ifndef CSLIB_PORT_CMDLINE_H
#define CSLIB_PORT_CMDLINE_H

#include <string>
#include <string_view>
#include <vector>

namespace cslib::port {

// The first argument, the program, ends at a blank outside quotes; its quotes are
// removed and its backslashes are plain characters. In the arguments after it:
// blanks (space, tab) outside quotes separate; a quote toggles quoting; two quotes
// inside quotes give one quote; 2n backslashes before a quote give n backslashes
// and the quote toggles, 2n+1 give n backslashes and a literal quote; backslashes
// before anything else stay as they are. An empty line gives no arguments.
std::vector<std::string> SplitWindowsCommandLine(std::string_view line);

}  // namespace cslib::port

#endif  // CSLIB_PORT_CMDLINE_H
