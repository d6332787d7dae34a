// csctl sysinfo: what the library makes of the machine it runs on: the operating-system
// family, the processor class, the floating-point unit and the directories it uses.
#include <cslib.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "csctl.h"

namespace csctl {
namespace {

const char* FamilyName(CSOSVersion v) {
  switch (v) {
    case CSOSWin32s:
      return "win32s";
    case CSOSWin9x:
      return "win9x";
    case CSOSWinNT:
      return "winnt";
    default:
      return "unknown";
  }
}

const char* ArchitectureName(TQZSysArch a) {
  switch (a) {
    case SysArch386:
      return "386";
    case SysArch486:
      return "486";
    case SysArchX86:
      return "x86";
    case SysArchX86Mmx:
      return "x86 with MMX";
    default:
      return "not x86";
  }
}

void Sysinfo(const Global& g) {
  const std::string driver = DriverDirectory();
  std::string windows = WindowsDirectoryPrefix();
  if (windows.size() > 1) windows.pop_back();

  const CSOSVersion os = CSGetOSVersion();
  const TQZSysArch arch = CSSystemArchitecture();
  const int fpu = CSHaveFloatingPoint();
  if (g.json) {
    PrintJson(Json{{"os_family", FamilyName(os)},
                   {"os_family_code", static_cast<int>(os)},
                   {"processor", ArchitectureName(arch)},
                   {"processor_code", static_cast<int>(arch)},
                   {"floating_point", fpu != 0},
                   {"driver_directory", ToUtf8(driver)},
                   {"windows_directory", ToUtf8(windows)}});
    return;
  }
  std::cout << "OS family:          " << FamilyName(os) << '\n'
            << "Processor:          " << ArchitectureName(arch) << '\n'
            << "Floating point:     " << (fpu ? "yes" : "no") << '\n'
            << "Driver directory:   " << driver << '\n'
            << "Windows directory:  " << windows << '\n';
}

}  // namespace

void AddSysinfoCommand(CLI::App& app, Global& global) {
  CLI::App* sys = app.add_subcommand(
      "sysinfo", "Show the OS family, processor, floating point and the library's directories");
  sys->callback([&global] { Sysinfo(global); });
}

}  // namespace csctl
