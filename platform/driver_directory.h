// The printer-driver directory composed from a given system directory and
// platform identifier; CSGetPrinterDriverDirectory feeds it the machine's answers.
#ifndef CSLIB_PLATFORM_DRIVER_DIRECTORY_H
#define CSLIB_PLATFORM_DRIVER_DIRECTORY_H

#include <string_view>

namespace cslib {

// As CSGetPrinterDriverDirectory, for the system directory `system` and platform
// identifier `platformId` (2 is Windows NT).
unsigned short ComposeDriverDirectory(std::string_view system, unsigned long platformId,
                                      char* buffer);

}  // namespace cslib

#endif  // CSLIB_PLATFORM_DRIVER_DIRECTORY_H
