// The resource table a module carries when it is built with cslib_add_resources
// (cmake/cslibResources.cmake generates it). The layout is fixed by its version:
// the generated code spells the same layout with plain types.
#ifndef CSLIB_PLATFORM_RESOURCE_TABLE_H
#define CSLIB_PLATFORM_RESOURCE_TABLE_H

#include <cstdint>

namespace cslib {

// The exported symbol of a module that holds its table.
inline constexpr char kResourceTableSymbol[] = "cslib_resource_table";
inline constexpr std::uint32_t kResourceTableMagic = 0x43535253;  // "CSRS"
inline constexpr std::uint32_t kResourceTableVersion = 1;

enum : std::uint32_t { kStringResource = 1, kBinaryResource = 2 };

struct ResourceEntry {
  std::uint32_t kind;
  std::uint32_t id;  // string resources: 0 to 65535
  const char* type;  // binary resources: "#<number>" or a name
  const char* name;
  const unsigned char* data;  // never null; a zero byte follows the data
  std::uint64_t size;         // in bytes, that zero byte not counted
};

struct ResourceTable {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint64_t count;
  const ResourceEntry* entries;
};

}  // namespace cslib

#endif  // CSLIB_PLATFORM_RESOURCE_TABLE_H
