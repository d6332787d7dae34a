// A program outside the project that uses the installed library.
#include <cslib.h>

#include <cstdio>

int main() {
  char text[16];
  if (CSInttotext(-42, text) == nullptr || CSStrcmp(text, "-42") != 0) return 1;
  if (CSIsValidReadPtr(nullptr, 1) != 0) return 1;
  std::printf("cslib consumer ok\n");
  return 0;
}
