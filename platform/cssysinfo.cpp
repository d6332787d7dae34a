// System information: the processor class from the architecture and CPUID, the
// x87 test, and the printer-driver directory below the system directory.
#include <cstring>
#include <string>

#include "cslib/frame.h"
#include "cslib/sysinfo.h"
#include "platform/driver_directory.h"
#include "port/environment.h"
#include "port/processor.h"

namespace {

constexpr std::uint32_t kMmxFeature = 1u << 23;
constexpr unsigned long kPlatformWinNT = 2;
// Below the system directory on Windows NT: the x86 driver environment's
// directory and its version-2 subdirectory, 22 characters, plus one separator.
constexpr std::string_view kDriverSubdirectory = "spool/drivers/w32x86/2";
constexpr unsigned kDriverExtra = 1 + kDriverSubdirectory.size();
static_assert(kDriverExtra == 23);

}  // namespace

TQZSysArch CSSystemArchitecture(void) {
  namespace port = cslib::port;
  if (!port::IsIntelArchitecture()) return SysArchNotX86;
  switch (port::ProcessorType()) {
    case 386:
      return SysArch386;
    case 486:
      return SysArch486;
    default:
      break;
  }
  std::uint32_t features = 0;
  if (!port::CpuidStandardFeatures(&features)) return SysArchX86;
  return (features & kMmxFeature) ? SysArchX86Mmx : SysArchX86;
}

int CSHaveFloatingPoint(void) {
  if (!cslib::port::IsIntelArchitecture()) return 0;
  std::uint16_t status = 0x5A5A;
  std::uint16_t control = 0x5A5A;
  cslib::port::X87InitAndStore(&status, &control);
  if ((status & 0xFF) != 0) return 0;
  return (control & 0x103F) == 0x003F ? 1 : 0;
}

unsigned short cslib::ComposeDriverDirectory(std::string_view system, unsigned long platformId,
                                             char* buffer) {
  // N: what the system reports as the system directory's size, terminator included.
  const std::size_t n = system.size() + 1;
  const bool nt = platformId == kPlatformWinNT;
  const std::size_t needed = nt ? n + kDriverExtra : n;
  // A size the result cannot carry would send callers off with a short buffer.
  if (needed > 0xFFFF) return 0;
  if (!buffer) return static_cast<unsigned short>(needed);
  if (!CSIsValidWritePtr(buffer, needed + 1)) return 0;

  std::memcpy(buffer, system.data(), system.size());
  std::size_t length = system.size();
  if (nt) {
    if (length == 0 || !port::IsPathSeparator(buffer[length - 1]))
      buffer[length++] = port::kPathSeparator;
    std::memcpy(buffer + length, kDriverSubdirectory.data(), kDriverSubdirectory.size());
    length += kDriverSubdirectory.size();
  }
  buffer[length] = '\0';
  return static_cast<unsigned short>(length);
}

unsigned short CSGetPrinterDriverDirectory(char* buffer) {
  unsigned long id = 0;
  if (!cslib::port::QueryPlatformId(&id)) return 0;
  return cslib::ComposeDriverDirectory(cslib::port::SystemDirectory(), id, buffer);
}
