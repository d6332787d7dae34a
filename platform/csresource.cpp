// Resources of loaded modules: strings by id and binary data by type and name,
// read from the table a module carries (cslib_add_resources builds it in). An
// information handle is the address of a table entry and a data handle the
// address of the data, each accepted only while it lies in a loaded module.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "cslib/frame.h"
#include "cslib/process.h"
#include "cslib/text.h"
#include "platform/module_registry.h"
#include "port/memprobe.h"

namespace {

using cslib::kBinaryResource;
using cslib::kStringResource;
using cslib::ResourceEntry;
using cslib::ResourceTable;

// A resource type or name: a number ("#10", or a pointer value below 0x10000 as
// the Windows MAKEINTRESOURCE gives) or a text matched without regard to case.
struct ResourceKey {
  bool valid = false;
  bool numeric = false;
  unsigned long number = 0;
  std::string_view text;
};

ResourceKey ParseText(std::string_view text) {
  ResourceKey key;
  key.valid = true;
  key.text = text;
  if (text.size() >= 2 && text.size() <= 6 && text[0] == '#') {
    unsigned long n = 0;
    for (char c : text.substr(1)) {
      if (c < '0' || c > '9') return key;
      n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    if (n <= 0xFFFF) {
      key.numeric = true;
      key.number = n;
    }
  }
  return key;
}

ResourceKey ParseCallerKey(const char* p) {
  const auto value = reinterpret_cast<std::uintptr_t>(p);
  if (value != 0 && value <= 0xFFFF) {
    ResourceKey key;
    key.valid = key.numeric = true;
    key.number = value;
    return key;
  }
  const long length = cslib::port::ReadableStrlen(p);
  if (length <= 0) return ResourceKey{};
  return ParseText(std::string_view(p, static_cast<std::size_t>(length)));
}

bool Matches(const ResourceKey& caller, const char* own) {
  const ResourceKey key = ParseText(own);
  if (caller.numeric || key.numeric)
    return caller.numeric && key.numeric && caller.number == key.number;
  // Both texts end in their terminators: the caller's was measured up to it.
  return CSStrcmpi(caller.text.data(), own) == 0;
}

// The binary entry of `module`'s table at address `info`, or null. Requires the
// modules lock.
const ResourceEntry* BinaryEntryAt(unsigned long module, unsigned long info) {
  const cslib::LoadedModule* loaded = cslib::FindModule(module);
  if (!loaded || !loaded->resources || loaded->resources->count == 0) return nullptr;
  const ResourceTable& table = *loaded->resources;
  const auto first = reinterpret_cast<std::uintptr_t>(table.entries);
  const std::uintptr_t end = first + table.count * sizeof(ResourceEntry);
  if (info < first || info >= end || (info - first) % sizeof(ResourceEntry) != 0) return nullptr;
  const ResourceEntry* entry = table.entries + (info - first) / sizeof(ResourceEntry);
  return entry->kind == kBinaryResource ? entry : nullptr;
}

}  // namespace

unsigned short CSLoadString(unsigned long instance, unsigned long id, char* buffer,
                            unsigned short size) {
  if (size == 0 || !CSIsValidWritePtr(buffer, size)) return 0;
  // Windows string ids are 16 bits: only the low word of the id counts.
  const std::uint32_t wanted = static_cast<std::uint32_t>(id & 0xFFFF);
  auto lock = cslib::ModulesLock();
  const cslib::LoadedModule* loaded = cslib::FindModule(instance);
  if (loaded && loaded->resources) {
    const ResourceTable& table = *loaded->resources;
    for (std::uint64_t i = 0; i < table.count; ++i) {
      const ResourceEntry& e = table.entries[i];
      if (e.kind != kStringResource || e.id != wanted) continue;
      const std::size_t n = e.size < size ? static_cast<std::size_t>(e.size) : size - 1u;
      std::memcpy(buffer, e.data, n);
      buffer[n] = '\0';
      return static_cast<unsigned short>(n);
    }
  }
  buffer[0] = '\0';
  return 0;
}

unsigned long CSFindResource(unsigned long module, const char* name, const char* type) {
  const ResourceKey wantedName = ParseCallerKey(name);
  const ResourceKey wantedType = ParseCallerKey(type);
  if (!wantedName.valid || !wantedType.valid) return 0;
  auto lock = cslib::ModulesLock();
  const cslib::LoadedModule* loaded = cslib::FindModule(module);
  if (!loaded || !loaded->resources) return 0;
  const ResourceTable& table = *loaded->resources;
  for (std::uint64_t i = 0; i < table.count; ++i) {
    const ResourceEntry& e = table.entries[i];
    if (e.kind == kBinaryResource && Matches(wantedType, e.type) && Matches(wantedName, e.name))
      return reinterpret_cast<unsigned long>(&e);
  }
  return 0;
}

unsigned long CSSizeofResource(unsigned long module, unsigned long resourceInfo) {
  auto lock = cslib::ModulesLock();
  const ResourceEntry* e = BinaryEntryAt(module, resourceInfo);
  return e ? static_cast<unsigned long>(e->size) : 0;
}

unsigned long CSLoadResource(unsigned long module, unsigned long resourceInfo) {
  auto lock = cslib::ModulesLock();
  const ResourceEntry* e = BinaryEntryAt(module, resourceInfo);
  return e ? reinterpret_cast<unsigned long>(e->data) : 0;
}

unsigned char* CSLockResource(unsigned long resourceData) {
  if (resourceData == 0) return nullptr;
  auto lock = cslib::ModulesLock();
  for (const auto& [handle, loaded] : cslib::Modules()) {
    if (!loaded.resources) continue;
    const ResourceTable& table = *loaded.resources;
    for (std::uint64_t i = 0; i < table.count; ++i) {
      const ResourceEntry& e = table.entries[i];
      if (e.kind == kBinaryResource && reinterpret_cast<unsigned long>(e.data) == resourceData)
        return const_cast<unsigned char*>(e.data);
    }
  }
  return nullptr;
}

int CSUnlockResource(unsigned long resourceData) {
  (void)resourceData;
  return 0;
}

int CSFreeResource(unsigned long resourceData) {
  (void)resourceData;  // resources live as long as their module
  return 0;
}
