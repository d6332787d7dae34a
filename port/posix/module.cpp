// Shared objects through the dynamic loader. dlsym also searches the objects a
// module depends on; a Windows module exports only its own procedures, so a
// symbol counts only when its definition lies in the module itself.
#include "port/module.h"

#include <dlfcn.h>
#include <link.h>

namespace cslib::port {

void* OpenModule(const char* path) {
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

bool CloseModule(void* module) {
  return dlclose(module) == 0;
}

void* ModuleOwnSymbol(void* module, const char* name) {
  void* address = dlsym(module, name);
  if (!address) return nullptr;
  link_map* own = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &own) != 0 || !own) return nullptr;
  Dl_info info{};
  link_map* defining = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&defining), RTLD_DL_LINKMAP) == 0)
    return nullptr;
  return defining == own ? address : nullptr;
}

}  // namespace cslib::port
