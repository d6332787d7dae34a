// csdemo: a short walk through the cross-instance store for a person trying it out.
// It stores and reads a few settings, then shows where the INI files are and what they
// hold. The files go to the Windows directory: $CSLIB_WINDIR, or the per-user default.
#include <cslib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

const char* FamilyName(CSOSVersion v) {
  switch (v) {
    case CSOSWin32s:
      return "Win32s";
    case CSOSWin9x:
      return "Windows 95 family";
    case CSOSWinNT:
      return "Windows NT family";
    default:
      return "unknown";
  }
}

const char* ResultName(CISErr e) {
  switch (e) {
    case CISOk:
      return "CISOk";
    case CISErrFailed:
      return "CISErrFailed";
    case CISErrInvalid:
      return "CISErrInvalid";
    case CISErrNotFound:
      return "CISErrNotFound";
    case CISErrTruncated:
      return "CISErrTruncated";
    case CISErrSection:
      return "CISErrSection";
    case CISErrNoMemory:
      return "CISErrNoMemory";
  }
  return "?";
}

// The Windows directory as the library sees it (the same rule, for display).
std::string WindowsDirectory() {
  const char* dir = std::getenv("CSLIB_WINDIR");
  if (dir && *dir) return dir;
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state) return std::string(state) + "/cslib";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/state/cslib";
}

void ShowFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::cout << "\n--- " << path << (in ? "" : " (not there)") << "\n";
  if (!in) return;
  std::ostringstream text;
  text << in.rdbuf();
  std::cout << text.str();
}

}  // namespace

int main() {
  const std::string windir = WindowsDirectory();
  std::printf("operating-system family: %s (CSLIB_OS_FAMILY)\n", FamilyName(CSGetOSVersion()));
  std::printf("Windows directory: %s (CSLIB_WINDIR)\n\n", windir.c_str());

  CISErr result = CISOk;
  CrossInstanceStore store(result, "Demo", CISTypeMachine, "");
  std::printf("CrossInstanceStore(\"Demo\", CISTypeMachine): %s\n", ResultName(result));
  if (result != CISOk) return 1;

  std::printf("StoreStr(\"Greeting\", \"Hello from the store\"): %s\n",
              ResultName(store.StoreStr("Greeting", "Hello from the store")));
  char buffer[64];
  CISErr r = store.RetrieveStr("Greeting", buffer, sizeof buffer);
  std::printf("RetrieveStr(\"Greeting\"): %s, \"%s\"\n", ResultName(r), buffer);

  r = store.RetrieveOrStoreStr("Paper", buffer, sizeof buffer, "A4");
  std::printf("RetrieveOrStoreStr(\"Paper\", default \"A4\"): %s, \"%s\" (stored if missing)\n",
              ResultName(r), buffer);

  char small[6];
  r = store.RetrieveStr("Greeting", small, sizeof small);
  std::printf("RetrieveStr(\"Greeting\") into 6 bytes: %s, \"%s\"\n", ResultName(r), small);
  r = store.RetrieveOrStoreStr("Tray", small, sizeof small, "Upper cassette");
  std::printf("RetrieveOrStoreStr(\"Tray\") into 6 bytes: %s, \"%s\" (whole default stored)\n",
              ResultName(r), small);

  r = store.RetrieveStr("Missing", buffer, sizeof buffer);
  std::printf("RetrieveStr(\"Missing\"): %s\n", ResultName(r));
  r = store.StoreStr("Bad", "two\nlines");
  std::printf("StoreStr(\"Bad\", \"two\\nlines\"): %s (refused, nothing written)\n", ResultName(r));

  CrossInstanceStore winini(result, "Demo", CISTypeWinIni, "");
  std::printf("WIN.INI store, StoreStr(\"Greeting\", \"Hello, WIN.INI\"): %s\n",
              ResultName(winini.StoreStr("Greeting", "Hello, WIN.INI")));

  const std::string sep = (!windir.empty() && windir.back() == '/') ? "" : "/";
  ShowFile(windir + sep + "QZFMRC15.INI");
  ShowFile(windir + sep + "WIN.INI");
  ShowFile(windir + sep + "QZFCSS15.INI");
  std::printf(
      "\nThe map file records, under DefMap;<section>, the database file through which each\n"
      "key was first used; \"Greeting\" was first used through QZFMRC15.INI, so the WIN.INI\n"
      "store found a mismatch (set CSLIB_NOTICES=stderr to see the notice).\n");
  return 0;
}
