// CrossInstanceStore section operations: counting the own section's entries, numbered
// entries, deleting any section and moving one section's entries to another (a printer
// whose port changes takes its settings along). A move deletes its source only once
// every entry has been copied, so a failure can leave a partial copy, never a loss.
#include <cstring>
#include <new>

#include "cslib/blocks.h"
#include "cslib/frame.h"
#include "cslib/store.h"
#include "cslib/text.h"
#include "csxtor/src/cislimits.h"
#include "port/ini.h"
#include "port/memprobe.h"

using cslib::cis::kMaxDeletedSection;
using cslib::cis::kStoreSignature;

namespace {

constexpr unsigned long kWorkingBlockSize = 4096;
// Key lists are read with a 16-bit size: a list needing more cannot be read whole.
constexpr unsigned long kLargestKeyList = 0xFFFF;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Whether two section names address the same section of an INI file: the files match
// names without regard to ASCII case or to blanks around them.
bool SameSection(const char* a, const char* b) {
  namespace ini = cslib::port::ini;
  return ini::NameEqual{}(ini::Trim(a), ini::Trim(b));
}

// Whether a value read from a file would come back different once written as it
// stands: reads drop blanks around a value and one pair of quotes around it.
bool NeedsQuotes(const char* value, unsigned long length) {
  if (length == 0) return false;
  if (IsBlank(value[0]) || IsBlank(value[length - 1])) return true;
  const char first = value[0];
  return length >= 2 && (first == '"' || first == '\'') && value[length - 1] == first;
}

}  // namespace

CISErr CrossInstanceStore::FindStringEnum(const char* prefix, unsigned short number, char* buffer,
                                          unsigned short size) {
  const long prefixLength = cslib::port::ReadableStrlen(prefix);
  if (prefixLength < 0 || !CSIsValidWritePtr(buffer, size) || m_Signature != kStoreSignature)
    return CISErrInvalid;
  // The prefix, up to five digits and the terminator.
  char* key = new (std::nothrow) char[static_cast<std::size_t>(prefixLength) + 6];
  if (!key) return CISErrNoMemory;
  std::memcpy(key, prefix, static_cast<std::size_t>(prefixLength));
  char digits[5];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + number % 10);
    number = static_cast<unsigned short>(number / 10);
  } while (number != 0);
  char* end = key + prefixLength;
  while (n > 0) *end++ = digits[--n];
  *end = '\0';
  const CISErr result = RetrieveStr(key, buffer, size);
  delete[] key;
  return result;
}

CISErr CrossInstanceStore::DeleteSection(const char* section) {
  const long length = cslib::port::ReadableStrlen(section);
  if (length < 0 || m_Signature != kStoreSignature) return CISErrInvalid;
  if (length > kMaxDeletedSection) return CISErrSection;
  return m_CISDeleteDBSection(section) ? CISOk : CISErrSection;
}

CISErr CrossInstanceStore::MoveSection(const char* source, const char* target) {
  if (cslib::port::ReadableStrlen(source) < 0 || cslib::port::ReadableStrlen(target) < 0 ||
      m_Signature != kStoreSignature)
    return CISErrInvalid;
  // Copying a section onto itself and then deleting the source would lose it.
  if (CSiStrcmpi(source, target) == 0 || SameSection(source, target)) return CISOk;
  const CISErr copied = m_CISCopyDBSection(source, target);
  if (copied != CISOk) return copied;
  return DeleteSection(source);
}

CISErr CrossInstanceStore::m_CISReadKeyList(const char* section, CSMemBlock& block, char** list,
                                            unsigned short* size) {
  for (;;) {
    const unsigned long blockSize = block.GetSize();
    char* data = reinterpret_cast<char*>(block.Lock());
    if (!data) {
      block.Unlock();
      return CISErrNoMemory;
    }
    const int got = m_CISReadSection(section, data, static_cast<unsigned short>(blockSize));
    if (got <= 0) {
      block.Unlock();
      return CISErrFailed;
    }
    // A list that fills the block to its last two bytes may have been cut.
    if (static_cast<unsigned long>(got) < blockSize - 2) {
      *list = data;
      *size = static_cast<unsigned short>(blockSize);
      return CISOk;
    }
    block.Unlock();
    if (blockSize >= kLargestKeyList) return CISErrFailed;
    const unsigned long larger = 2 * blockSize < kLargestKeyList ? 2 * blockSize : kLargestKeyList;
    if (block.ReAllocate(larger, 0) != 0) return CISErrNoMemory;
  }
}

CISErr CrossInstanceStore::m_CISCopyDBSection(const char* source, const char* target) {
  CSMemBlock block(kWorkingBlockSize, 0);
  if (block.GetSize() == 0) return CISErrNoMemory;
  char* list = nullptr;
  unsigned short listSize = 0;
  const CISErr read = m_CISReadKeyList(source, block, &list, &listSize);
  if (read != CISOk) return read;
  unsigned short names = 0;
  // The list was read whole, so a cut one means something is badly wrong: copy nothing.
  if (NumSectionEntries(list, listSize, &names) != CISOk) {
    block.Unlock();
    return CISErrFailed;
  }

  CISErr result = CISOk;
  const char* name = list;
  for (unsigned short i = 0; i < names && *name; ++i, name += std::strlen(name) + 1) {
    char* value = nullptr;
    unsigned long length = 0;
    const CISErr fetched = m_CISFetchDB(source, name, &value, &length);
    // An empty entry counts as missing and is not copied.
    if (fetched == CISErrNotFound) continue;
    // An entry left behind must keep the source from being deleted.
    if (fetched != CISOk) {
      result = fetched;
      break;
    }
    int written = 0;
    if (NeedsQuotes(value, length)) {
      if (char* quoted = new (std::nothrow) char[length + 3]) {
        quoted[0] = '"';
        std::memcpy(quoted + 1, value, length);
        quoted[length + 1] = '"';
        quoted[length + 2] = '\0';
        written = m_CISWriteDB(target, name, quoted);
        delete[] quoted;
      } else {
        result = CISErrNoMemory;
      }
    } else {
      written = m_CISWriteDB(target, name, value);
    }
    delete[] value;
    if (result != CISOk) break;
    if (!written) {
      result = CISErrFailed;
      break;
    }
  }
  block.Unlock();
  return result;
}

CISErr CrossInstanceStore::NumSectionEntries(const char* list, unsigned short size,
                                             unsigned short* count) {
  if (!CSIsValidReadPtr(list, size) || !CSIsValidWritePtr(count, sizeof *count) ||
      m_Signature != kStoreSignature)
    return CISErrInvalid;
  unsigned short names = 0;
  std::size_t at = 0;
  while (at < size) {
    if (list[at] == '\0') {
      *count = names;
      return CISOk;
    }
    const void* end = std::memchr(list + at, '\0', size - at);
    if (!end) break;
    const std::size_t next = static_cast<std::size_t>(static_cast<const char*>(end) - list) + 1;
    if (next >= size) break;
    ++names;
    at = next;
  }
  *count = names;
  return CISErrTruncated;
}

unsigned short CrossInstanceStore::QuerySection() {
  CSMemBlock block(kWorkingBlockSize, 0);
  if (block.GetSize() == 0 || m_Signature != kStoreSignature) return 0;
  // The key-list read locks the block itself; a block that cannot be locked gives 0.
  char* list = nullptr;
  unsigned short listSize = 0;
  if (m_CISReadKeyList(m_Section, block, &list, &listSize) != CISOk) return 0;
  unsigned short names = 0;
  if (NumSectionEntries(list, listSize, &names) != CISOk) names = 0;
  block.Unlock();
  return names;
}
