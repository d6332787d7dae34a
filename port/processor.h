// The processor the library runs on, as the system-information functions ask
// about it: its family, the CPUID feature flags and the x87 unit's answer.
#ifndef CSLIB_PORT_PROCESSOR_H
#define CSLIB_PORT_PROCESSOR_H

#include <cstdint>

namespace cslib::port {

// True on x86 and x86-64, which both count as the Intel architecture.
bool IsIntelArchitecture();

// The processor type in the Windows sense: 386, 486, or 586 for every later
// processor. Only meaningful when IsIntelArchitecture().
unsigned ProcessorType();

// The standard feature flags (EDX of CPUID function 1). False, with nothing
// written, when the processor has no CPUID instruction or is not x86.
bool CpuidStandardFeatures(std::uint32_t* edx);

// Initialises the x87 unit (FNINIT) and stores its status word into *status and
// its control word into *control; the caller presets both, so a unit that does not
// answer leaves them as they were. The caller's x87 state is restored afterwards.
// Does nothing unless IsIntelArchitecture().
void X87InitAndStore(std::uint16_t* status, std::uint16_t* control);

}  // namespace cslib::port

#endif  // CSLIB_PORT_PROCESSOR_H
