// A program outside the project that uses the installed library.
#include <cslib.h>

#include <cstdio>

int main() {
  char text[32];
  if (CSInttotext(-42, text) == nullptr || CSStrcmp(text, "-42") != 0) return 1;
  if (CSIsValidReadPtr(nullptr, 1) != 0) return 1;
#ifdef CONSUMER_MODULE
  char path[] = CONSUMER_MODULE;
  unsigned long module = 0;
  if (CSLoadLibrary(path, &module) != 0) return 2;
  if (CSLoadString(module, 100, text, sizeof text) != 25 ||
      CSStrcmp(text, "from an installed package") != 0)
    return 3;
  if (CSFreeLibrary(module) != 0) return 4;
#endif
  std::printf("cslib consumer ok\n");
  return 0;
}
