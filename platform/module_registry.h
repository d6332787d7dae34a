// The modules the library has loaded for its callers. A handle that is not in
// the registry was never handed out (or is released): every function taking a
// module, resource or data handle checks it here instead of trusting the number.
#ifndef CSLIB_PLATFORM_MODULE_REGISTRY_H
#define CSLIB_PLATFORM_MODULE_REGISTRY_H

#include <map>
#include <mutex>

#include "platform/resource_table.h"

namespace cslib {

struct LoadedModule {
  void* os;                        // the loader's handle
  unsigned long loads;             // CSLoadLibrary calls not yet matched by CSFreeLibrary
  const ResourceTable* resources;  // null when the module carries none
};

// Every access to Modules() holds ModulesLock(); a module stays loaded while the
// lock is held, so its resource table may be read.
std::unique_lock<std::mutex> ModulesLock();
std::map<unsigned long, LoadedModule>& Modules();

// The registered module of `handle`, or null. Requires ModulesLock().
LoadedModule* FindModule(unsigned long handle);

}  // namespace cslib

#endif  // CSLIB_PLATFORM_MODULE_REGISTRY_H
