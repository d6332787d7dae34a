// Processor queries. They depend on the instruction set, not on the operating
// system: CPUID and the x87 instructions on x86 and x86-64, nothing elsewhere.
#include "port/processor.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define CSLIB_X86 1
#else
#define CSLIB_X86 0
#endif

namespace cslib::port {

bool IsIntelArchitecture() {
  return CSLIB_X86 != 0;
}

bool CpuidStandardFeatures(std::uint32_t* edx) {
#if CSLIB_X86
  // __get_cpuid first checks that CPUID exists (the EFLAGS ID bit on 32-bit x86)
  // and that function 1 is supported.
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  *edx = d;
  return true;
#else
  (void)edx;
  return false;
#endif
}

unsigned ProcessorType() {
#if CSLIB_X86
  unsigned a = 0, b = 0, c = 0, d = 0;
  // Without CPUID the processor is an early one; it is reported as a 386.
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 386;
  const unsigned family = (a >> 8) & 0xF;
  if (family == 3) return 386;
  if (family == 4) return 486;
  return 586;
#else
  return 0;
#endif
}

void X87InitAndStore(std::uint16_t* status, std::uint16_t* control) {
#if CSLIB_X86
  // The caller's x87 state (control word, exception masks, registers) is saved
  // before the unit is initialised and put back afterwards.
  alignas(16) unsigned char saved[108];
  std::uint16_t sw = *status;
  std::uint16_t cw = *control;
  __asm__ volatile(
      "fnsave %2\n\t"
      "fninit\n\t"
      "fnstsw %0\n\t"
      "fnstcw %1\n\t"
      "frstor %2"
      : "+m"(sw), "+m"(cw), "+m"(saved)
      :
      : "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
  *status = sw;
  *control = cw;
#else
  (void)status;
  (void)control;
#endif
}

}  // namespace cslib::port
