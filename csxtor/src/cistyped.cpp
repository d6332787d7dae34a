// CrossInstanceStore typed values: measuring and deleting an entry, and bytes, words,
// double words and byte strings kept as lower-case hex text. Texts are read back
// leniently (upper case, separators, a comment after ';'), since people edit the files.
#include <cstring>
#include <new>

#include "cslib/frame.h"
#include "cslib/store.h"
#include "csxtor/src/cislimits.h"
#include "port/memprobe.h"
#include "port/profile.h"

using cslib::cis::kMaxKey;
using cslib::cis::kStoreSignature;

namespace {

// The longest text RetrieveSizeStr reports: what a 65408-byte buffer can take.
constexpr unsigned long kMaxMeasured = 65407;
// The longest byte string written: its text (65534 characters) and terminator still
// fit a 16-bit buffer size, so every caller can read it back whole.
constexpr unsigned short kMaxStoredBytes = 32767;

constexpr char kHexDigits[] = "0123456789abcdef";

// The value of a hex digit as the decoder sees the character, -1 for a separator, -2
// for the start of a comment.
int DigitValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
  c &= 0x7F;
  if (c < 0x20) c = ' ';
  if (c == ';') return -2;
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

CISErr Decode(const char* text, unsigned long length, unsigned char* destination,
              unsigned short size, unsigned short* count) {
  bool high = true;
  for (unsigned long i = 0; i < length; ++i) {
    const int digit = DigitValue(static_cast<unsigned char>(text[i]));
    if (digit == -2) break;
    if (digit < 0 || *count >= size) continue;
    if (high) {
      destination[*count] = static_cast<unsigned char>(digit << 4);
    } else {
      destination[*count] = static_cast<unsigned char>(destination[*count] | digit);
      ++*count;
    }
    high = !high;
  }
  return length > 2UL * size ? CISErrTruncated : CISOk;
}

unsigned long FromBytes(const unsigned char* bytes, int n) {
  unsigned long value = 0;
  for (int i = n - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

void ToBytes(unsigned long value, unsigned char* bytes, int n) {
  for (int i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

unsigned short CrossInstanceStore::RetrieveSizeStr(const char* key) {
  if (m_Signature != kStoreSignature) return 0;
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || keyLength > kMaxKey) return 0;
  const unsigned long length = m_CISSizeDB(m_Section, key);
  return static_cast<unsigned short>(length < kMaxMeasured ? length : kMaxMeasured);
}

unsigned short CrossInstanceStore::RetrieveSizeBytes(const char* key) {
  if (m_Signature != kStoreSignature) return 0;
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || keyLength > kMaxKey) return 0;
  // The whole text counts, not only the part RetrieveSizeStr reports, so that a buffer
  // of this size takes every byte string StoreGenericBytes writes.
  const unsigned long length = m_CISSizeDB(m_Section, key);
  const unsigned long bytes = length / 2 + length % 2;
  return static_cast<unsigned short>(bytes < 0xFFFF ? bytes : 0xFFFF);
}

CISErr CrossInstanceStore::Delete(const char* key) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || m_Signature != kStoreSignature) return CISErrInvalid;
  if (keyLength > kMaxKey) return CISErrFailed;
  return m_CISDeleteDBEntry(m_Section, key) ? CISOk : CISErrFailed;
}

CISErr CrossInstanceStore::StoreGenericBytes(const char* key, const void* data,
                                             unsigned short count) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || !CSIsValidReadPtr(data, count) || m_Signature != kStoreSignature)
    return CISErrInvalid;
  return m_StoreBytes(key, keyLength, static_cast<const unsigned char*>(data), count);
}

CISErr CrossInstanceStore::m_StoreBytes(const char* key, long keyLength, const unsigned char* data,
                                        unsigned short count) {
  if (keyLength < 1 || keyLength > kMaxKey || count == 0 || count > kMaxStoredBytes)
    return CISErrFailed;
  const std::size_t textSize = 2 * static_cast<std::size_t>(count) + 1;
  char* text = new (std::nothrow) char[textSize];
  if (!text) return CISErrNoMemory;
  for (std::size_t i = 0; i < count; ++i) {
    text[2 * i] = kHexDigits[data[i] >> 4];
    text[2 * i + 1] = kHexDigits[data[i] & 0x0F];
  }
  text[textSize - 1] = '\0';
  // The text is hex digits only: the key and the section decide whether it can be kept.
  CISErr result = CISErrFailed;
  if (cslib::port::IsProfileEntryWritable(m_Section, key, text) &&
      m_CISWriteDB(m_Section, key, text))
    result = CISOk;
  delete[] text;
  return result;
}

CISErr CrossInstanceStore::StoreOneByte(const char* key, unsigned char& value) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || m_Signature != kStoreSignature) return CISErrInvalid;
  const unsigned char bytes[1] = {value};
  return m_StoreBytes(key, keyLength, bytes, 1);
}

CISErr CrossInstanceStore::StoreWord(const char* key, unsigned short& value) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || m_Signature != kStoreSignature) return CISErrInvalid;
  unsigned char bytes[2];
  ToBytes(value, bytes, 2);
  return m_StoreBytes(key, keyLength, bytes, 2);
}

CISErr CrossInstanceStore::StoreDWord(const char* key, unsigned long& value) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || m_Signature != kStoreSignature) return CISErrInvalid;
  unsigned char bytes[4];
  ToBytes(value, bytes, 4);
  return m_StoreBytes(key, keyLength, bytes, 4);
}

CISErr CrossInstanceStore::RetrieveGenericBytes(const char* key, void* destination,
                                                unsigned short size, unsigned short* count,
                                                const void* defaultValue) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || !CSIsValidWritePtr(destination, size) ||
      !CSIsValidWritePtr(count, sizeof *count) || m_Signature != kStoreSignature)
    return CISErrInvalid;
  return m_RetrieveBytes(key, keyLength, static_cast<unsigned char*>(destination), size, count,
                         static_cast<const unsigned char*>(defaultValue));
}

CISErr CrossInstanceStore::m_RetrieveBytes(const char* key, long keyLength,
                                           unsigned char* destination, unsigned short size,
                                           unsigned short* count,
                                           const unsigned char* defaultValue) {
  *count = 0;
  char* text = nullptr;
  unsigned long length = 0;
  const CISErr fetched =
      keyLength > kMaxKey ? CISErrNotFound : m_CISFetchDB(m_Section, key, &text, &length);
  if (fetched == CISErrNoMemory) return CISErrNoMemory;
  if (fetched != CISOk) {
    if (!defaultValue) return CISErrNotFound;
    // The default is looked at only when it is needed, as the entry may well exist.
    if (!CSIsValidReadPtr(defaultValue, size)) return CISErrInvalid;
    const CISErr stored = m_StoreBytes(key, keyLength, defaultValue, size);
    std::memmove(destination, defaultValue, size);
    *count = size;
    return stored;
  }
  const CISErr result = Decode(text, length, destination, size, count);
  delete[] text;
  return result;
}

unsigned char CrossInstanceStore::RetrieveOneByte(const char* key) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || m_Signature != kStoreSignature) return 0;
  unsigned char bytes[1] = {0};
  unsigned short count = 0;
  m_RetrieveBytes(key, keyLength, bytes, 1, &count, nullptr);
  return bytes[0];
}

unsigned short CrossInstanceStore::RetrieveWord(const char* key) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || m_Signature != kStoreSignature) return 0;
  unsigned char bytes[2] = {0, 0};
  unsigned short count = 0;
  m_RetrieveBytes(key, keyLength, bytes, 2, &count, nullptr);
  return static_cast<unsigned short>(FromBytes(bytes, 2));
}

unsigned long CrossInstanceStore::RetrieveDWord(const char* key) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || m_Signature != kStoreSignature) return 0;
  unsigned char bytes[4] = {0, 0, 0, 0};
  unsigned short count = 0;
  m_RetrieveBytes(key, keyLength, bytes, 4, &count, nullptr);
  return FromBytes(bytes, 4);
}

unsigned char CrossInstanceStore::RetrieveOrStoreOneByte(const char* key,
                                                         unsigned char& defaultValue) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || m_Signature != kStoreSignature) return 0;
  const unsigned char fallback[1] = {defaultValue};
  unsigned char bytes[1] = {0};
  unsigned short count = 0;
  m_RetrieveBytes(key, keyLength, bytes, 1, &count, fallback);
  return bytes[0];
}

unsigned short CrossInstanceStore::RetrieveOrStoreWord(const char* key,
                                                       unsigned short& defaultValue) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || m_Signature != kStoreSignature) return 0;
  unsigned char fallback[2];
  ToBytes(defaultValue, fallback, 2);
  unsigned char bytes[2] = {0, 0};
  unsigned short count = 0;
  m_RetrieveBytes(key, keyLength, bytes, 2, &count, fallback);
  return static_cast<unsigned short>(FromBytes(bytes, 2));
}

unsigned long CrossInstanceStore::RetrieveOrStoreDWord(const char* key,
                                                       unsigned long& defaultValue) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || m_Signature != kStoreSignature) return 0;
  unsigned char fallback[4];
  ToBytes(defaultValue, fallback, 4);
  unsigned char bytes[4] = {0, 0, 0, 0};
  unsigned short count = 0;
  m_RetrieveBytes(key, keyLength, bytes, 4, &count, fallback);
  return FromBytes(bytes, 4);
}
