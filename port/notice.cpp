// Notices go to standard error only when the user asked for them.
#include "port/notice.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cslib::port {

void EmitNotice(std::string_view text) {
  const char* where = std::getenv("CSLIB_NOTICES");
  if (!where || std::strcmp(where, "stderr") != 0) return;
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace cslib::port
