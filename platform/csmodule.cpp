// Library loading for callers: shared objects with handles carried as unsigned
// long, the printer-driver directory as second place to look on Windows NT, and
// a registry of the handles handed out, so a foreign handle fails cleanly.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "cslib/frame.h"
#include "cslib/process.h"
#include "platform/driver_directory.h"
#include "platform/module_registry.h"
#include "port/environment.h"
#include "port/memprobe.h"
#include "port/module.h"

namespace cslib {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<unsigned long, LoadedModule> modules;
};

// Never destroyed: a module may be freed from a static destructor at exit.
Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

const ResourceTable* ResourcesOf(void* os) {
  const auto* table =
      static_cast<const ResourceTable*>(port::ModuleOwnSymbol(os, kResourceTableSymbol));
  if (!table || table->magic != kResourceTableMagic || table->version != kResourceTableVersion)
    return nullptr;
  return table;
}

// The driver directory of platform, a separator and the name; empty when there is
// no memory or no directory. The system directory is read once, so that the size
// and the path come from the same answer.
std::unique_ptr<char[]> PathInDriverDirectory(unsigned long platform, const char* fileName,
                                              std::size_t nameLength) {
  const std::string system = port::SystemDirectory();
  const unsigned short needed = ComposeDriverDirectory(system, platform, nullptr);
  if (needed == 0) return nullptr;
  std::unique_ptr<char[]> path(new (std::nothrow) char[needed + nameLength + 2]);
  if (!path) return nullptr;
  std::size_t length = ComposeDriverDirectory(system, platform, path.get());
  if (length == 0) return nullptr;
  if (!port::IsPathSeparator(path[length - 1])) path[length++] = port::kPathSeparator;
  std::memcpy(path.get() + length, fileName, nameLength + 1);
  return path;
}

}  // namespace

std::unique_lock<std::mutex> ModulesLock() {
  return std::unique_lock<std::mutex>(TheRegistry().mutex);
}

std::map<unsigned long, LoadedModule>& Modules() {
  return TheRegistry().modules;
}

LoadedModule* FindModule(unsigned long handle) {
  auto& modules = Modules();
  const auto it = modules.find(handle);
  return it == modules.end() ? nullptr : &it->second;
}

}  // namespace cslib

long CSLoadLibrary(char* fileName, unsigned long* module) {
  namespace port = cslib::port;
  if (!CSIsValidWritePtr(module, sizeof *module)) return CSErrLoadLibrary;
  const long nameLength = port::ReadableStrlen(fileName);
  if (nameLength <= 0) return CSErrLoadLibrary;

  void* os = port::OpenModule(fileName);
  unsigned long platform = 0;
  if (!os && port::QueryPlatformId(&platform) && platform == 2) {
    if (auto path =
            cslib::PathInDriverDirectory(platform, fileName, static_cast<std::size_t>(nameLength)))
      os = port::OpenModule(path.get());
  }
  if (!os) return CSErrLoadLibrary;

  // Looked up outside the lock: a module's constructors may call the library.
  const cslib::ResourceTable* resources = cslib::ResourcesOf(os);
  const auto handle = reinterpret_cast<unsigned long>(os);
  {
    auto lock = cslib::ModulesLock();
    auto [it, inserted] =
        cslib::Modules().try_emplace(handle, cslib::LoadedModule{os, 0, resources});
    (void)inserted;
    ++it->second.loads;
  }
  *module = handle;
  return CSOk;
}

long CSDrvLoadLibrary(char* fileName, unsigned long* module) {
  return CSLoadLibrary(fileName, module);
}

long CSFreeLibrary(unsigned long module) {
  void* os = nullptr;
  {
    auto lock = cslib::ModulesLock();
    cslib::LoadedModule* loaded = cslib::FindModule(module);
    if (!loaded) return CSErrFreeLibrary;
    os = loaded->os;
    // Forgotten before the unload, so no lookup reads the table of a module that is
    // going away; the unload itself runs outside the lock, as its destructors may
    // call the library.
    if (--loaded->loads == 0) cslib::Modules().erase(module);
  }
  return cslib::port::CloseModule(os) ? CSOk : CSErrFreeLibrary;
}

long CSGetProcAddress(unsigned long module, char* name, int (**proc)()) {
  if (!CSIsValidWritePtr(proc, sizeof *proc)) return CSErrProcNotFound;
  *proc = nullptr;
  if (cslib::port::ReadableStrlen(name) <= 0) return CSErrProcNotFound;
  auto lock = cslib::ModulesLock();
  cslib::LoadedModule* loaded = cslib::FindModule(module);
  if (!loaded) return CSErrProcNotFound;
  void* address = cslib::port::ModuleOwnSymbol(loaded->os, name);
  if (!address) return CSErrProcNotFound;
  *proc = reinterpret_cast<int (*)()>(address);
  return CSOk;
}
