// POSIX answers for the Windows directory and the operating-system family: both
// come from the environment ($CSLIB_WINDIR, $CSLIB_OS_FAMILY), read at every call.
#include "port/environment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace cslib::port {
namespace {

// getenv, with unset and empty both giving the empty text.
std::string EnvValue(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HomeDirectory() {
  std::string home = EnvValue("HOME");
  if (!home.empty()) return home;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return "/tmp";
}

}  // namespace

std::string WindowsDirectory() {
  std::string dir = EnvValue("CSLIB_WINDIR");
  if (!dir.empty()) return dir;
  std::string state = EnvValue("XDG_STATE_HOME");
  if (state.empty()) state = HomeDirectory() + "/.local/state";
  return state + "/cslib";
}

std::string SystemDirectory() {
  std::string dir = WindowsDirectory();
  if (!IsPathSeparator(dir.back())) dir += kPathSeparator;
  return dir + "system32";
}

bool QueryPlatformId(unsigned long* id) {
  const std::string family = EnvValue("CSLIB_OS_FAMILY");
  if (family == "winnt")
    *id = 2;
  else if (family == "win9x")
    *id = 1;
  else if (family == "win32s")
    *id = 0;
  else
    *id = 3;
  return true;
}

}  // namespace cslib::port
