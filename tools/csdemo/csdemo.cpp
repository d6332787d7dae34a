// csdemo: a short walk through the library for a person trying it out.
#include <cslib.h>

#include <cstdio>

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

}  // namespace

int main() {
  std::printf("operating-system family: %s (CSLIB_OS_FAMILY)\n", FamilyName(CSGetOSVersion()));

  char text[16];
  std::printf("CSInttotext(-2147483647 - 1) = %s\n", CSInttotext(-2147483647 - 1, text));
  std::printf("CSStrcmp(\"abc\", \"abd\") = %d\n", CSStrcmp("abc", "abd"));
  std::printf("CSStrlen(nullptr) = %d (no fault)\n", CSStrlen(nullptr));
  std::printf("CSIsValidWritePtr(\"literal\", 1) = %d (string literals are read-only)\n",
              CSIsValidWritePtr("literal", 1));
  std::printf("CSIsValidWritePtr(text, sizeof text) = %d\n",
              CSIsValidWritePtr(text, sizeof text));
  return 0;
}
