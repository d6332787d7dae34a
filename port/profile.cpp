// The Windows-shaped profile calls, mapped onto the engine's operations. Portable: the
// engine itself (port/posix/profile.cpp) does the file work.
#include "port/profile.h"

#include "port/ini.h"

namespace cslib::port {

bool IsProfileEntryWritable(std::string_view section, std::string_view key,
                            std::string_view value) {
  return ini::IsWritableSection(section) && ini::IsWritableKey(key) && ini::IsWritableValue(value);
}

std::size_t ProfileGetString(const char* section, const char* key, const char* default_value,
                             char* buffer, std::size_t size, const char* file) {
  if (!buffer) return 0;
  if (!section) return ProfileReadSections(file, buffer, size);
  if (!key) return ProfileReadKeys(file, section, default_value, buffer, size);
  return ProfileReadValue(file, section, key, default_value, buffer, size);
}

bool ProfileWriteString(const char* section, const char* key, const char* value, const char* file) {
  if (!section) {
    if (!key && !value) {
      ProfileFlush(file);
      return true;
    }
    return false;
  }
  if (!key) return ProfileDeleteSection(file, section);
  if (!value) return ProfileDeleteKey(file, section, key);
  return ProfileWriteValue(file, section, key, value);
}

}  // namespace cslib::port
