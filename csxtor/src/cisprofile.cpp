// The profile-style functions: one store per call, set up on the caller's section of
// WIN.INI or of a named file, one operation, then torn down. Failures fold into the
// plain results the Windows functions have: 0, or the caller's default.
#include <cstring>
#include <string_view>

#include "cslib/frame.h"
#include "cslib/profile.h"
#include "cslib/store.h"
#include "port/ini.h"
#include "port/memprobe.h"

namespace {

// Buffer sizes reach the store as 16-bit counts; a larger buffer holds 65535 bytes.
unsigned short BufferSize(int size) {
  if (size <= 0) return 0;
  return static_cast<unsigned short>(size < 0xFFFF ? size : 0xFFFF);
}

int GetString(CISType type, const char* section, const char* key, const char* defaultValue,
              char* buffer, int size, const char* fileName) {
  CISErr result = CISOk;
  CrossInstanceStore store(result, section, type, fileName);
  const unsigned short room = BufferSize(size);
  if (!buffer || result != CISOk || room == 0 || !CSIsValidWritePtr(buffer, room)) return 0;
  if (store.RetrieveStr(key, buffer, room) == CISOk) return static_cast<int>(std::strlen(buffer));
  const long length = defaultValue ? cslib::port::ReadableStrlen(defaultValue) : 0;
  const std::string_view text =
      length > 0 ? std::string_view(defaultValue, static_cast<std::size_t>(length)) : "";
  return static_cast<int>(cslib::port::ini::CopyValue(text, buffer, room));
}

int GetInt(CISType type, const char* section, const char* key, int defaultValue,
           const char* fileName) {
  CISErr result = CISOk;
  CrossInstanceStore store(result, section, type, fileName);
  if (result != CISOk) return defaultValue;
  unsigned char bytes[4] = {0, 0, 0, 0};
  unsigned short count = 0;
  if (store.RetrieveGenericBytes(key, bytes, sizeof bytes, &count, nullptr) != CISOk)
    return defaultValue;
  const unsigned int value =
      bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<unsigned int>(bytes[3]) << 24;
  return static_cast<int>(value);
}

int WriteString(CISType type, const char* section, const char* key, const char* value,
                const char* fileName) {
  CISErr result = CISOk;
  CrossInstanceStore store(result, section, type, fileName);
  if (result != CISOk) return 0;
  return (value ? store.StoreStr(key, value) : store.Delete(key)) == CISOk ? 1 : 0;
}

int WriteInt(CISType type, const char* section, const char* key, int value, const char* fileName) {
  CISErr result = CISOk;
  CrossInstanceStore store(result, section, type, fileName);
  if (result != CISOk) return 0;
  const unsigned int bits = static_cast<unsigned int>(value);
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
      static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
  return store.StoreGenericBytes(key, bytes, sizeof bytes) == CISOk ? 1 : 0;
}

}  // namespace

int CISGetProfileString(const char* section, const char* key, const char* defaultValue,
                        char* buffer, int size) {
  return GetString(CISTypeWinIni, section, key, defaultValue, buffer, size, "");
}

int CISGetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                               char* buffer, int size, const char* fileName) {
  return GetString(CISTypeNamedFile, section, key, defaultValue, buffer, size, fileName);
}

int CISGetProfileInt(const char* section, const char* key, int defaultValue) {
  return GetInt(CISTypeWinIni, section, key, defaultValue, "");
}

int CISGetPrivateProfileInt(const char* section, const char* key, int defaultValue,
                            const char* fileName) {
  return GetInt(CISTypeNamedFile, section, key, defaultValue, fileName);
}

int CISWriteProfileString(const char* section, const char* key, const char* value) {
  return WriteString(CISTypeWinIni, section, key, value, "");
}

int CISWritePrivateProfileString(const char* section, const char* key, const char* value,
                                 const char* fileName) {
  return WriteString(CISTypeNamedFile, section, key, value, fileName);
}

int CISWriteProfileInt(const char* section, const char* key, int value) {
  return WriteInt(CISTypeWinIni, section, key, value, "");
}

int CISWritePrivateProfileInt(const char* section, const char* key, int value,
                              const char* fileName) {
  return WriteInt(CISTypeNamedFile, section, key, value, fileName);
}
