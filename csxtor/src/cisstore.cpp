// CrossInstanceStore: construction and database set-up, the single-entry steps every
// store operation is built on (with the section map kept in "QZFCSS15.INI"), the
// string operations and copying. Every value goes to the INI files through the
// profile engine (port/profile.h); a store caches nothing itself.
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "cslib/frame.h"
#include "cslib/store.h"
#include "cslib/text.h"
#include "csxtor/src/cislimits.h"
#include "port/environment.h"
#include "port/ini.h"
#include "port/memprobe.h"
#include "port/notice.h"
#include "port/profile.h"

namespace {

using cslib::cis::kMaxKey;
using cslib::cis::kMaxSectionName;
using cslib::cis::kStoreSignature;
constexpr std::size_t kNoticeSize = 512;
constexpr char kMapFileName[] = "QZFCSS15.INI";
constexpr char kDefaultDBName[] = "QZFMRC15.INI";
constexpr char kWinIniName[] = "WIN.INI";
constexpr char kConfigSection[] = "CISConfig";
constexpr char kDefaultSection[] = "Common";
constexpr char kMapPrefix[] = "DefMap;";

char* Duplicate(const char* text) {
  const std::size_t n = std::strlen(text);
  char* copy = new (std::nothrow) char[n + 1];
  if (copy) std::memcpy(copy, text, n + 1);
  return copy;
}

// Releases a store's three owned strings and clears the pointers.
void ReleaseStrings(char*& section, char*& dbFile, char*& mapFile) {
  delete[] section;
  delete[] dbFile;
  delete[] mapFile;
  section = dbFile = mapFile = nullptr;
}

// Appends text to a notice being composed, cutting it at the notice's end.
void Append(char* notice, std::size_t* used, const char* text) {
  while (*text && *used + 1 < kNoticeSize) notice[(*used)++] = *text++;
  notice[*used] = '\0';
}

}  // namespace

CrossInstanceStore::CrossInstanceStore(CISErr& result, const char* section, CISType type,
                                       const char* fileName)
    : m_Signature(0),
      m_Type(CISTypeMachine),
      m_DBFile(nullptr),
      m_MapFile(nullptr),
      m_Section(nullptr) {
  const long length = cslib::port::ReadableStrlen(section);
  const bool usable = length >= 1 && length <= kMaxSectionName;
  result = CISOk;
  m_Signature = kStoreSignature;
  m_Section = Duplicate(usable ? section : kDefaultSection);
  const bool setUp = m_CISInitDB(type, fileName) != 0;
  if (!usable || !setUp || !m_Section) result = CISErrFailed;
  if (!setUp || !m_Section) {
    // A store without its files or its section name has nothing to work on.
    ReleaseStrings(m_Section, m_DBFile, m_MapFile);
    m_Signature = 0;
  }
}

CrossInstanceStore::CrossInstanceStore(const CrossInstanceStore& other)
    : m_Signature(0),
      m_Type(CISTypeMachine),
      m_DBFile(nullptr),
      m_MapFile(nullptr),
      m_Section(nullptr) {
  m_CopyCIS(other);
}

CrossInstanceStore& CrossInstanceStore::operator=(const CrossInstanceStore& other) {
  if (this != &other) m_CopyCIS(other);
  return *this;
}

CrossInstanceStore::~CrossInstanceStore() {
  if (m_Signature != 0) ReleaseStrings(m_Section, m_DBFile, m_MapFile);
  m_Section = m_DBFile = m_MapFile = nullptr;
  m_Type = CISTypeMachine;
  m_Signature = 0;
}

void CrossInstanceStore::m_CopyCIS(const CrossInstanceStore& source) {
  if (m_Signature == kStoreSignature) ReleaseStrings(m_Section, m_DBFile, m_MapFile);
  m_Section = m_DBFile = m_MapFile = nullptr;
  m_Type = CISTypeMachine;
  m_Signature = 0;
  if (source.m_Signature != kStoreSignature) return;

  m_Signature = kStoreSignature;
  m_Section = Duplicate(source.m_Section);
  m_DBFile = Duplicate(source.m_DBFile);
  m_MapFile = Duplicate(source.m_MapFile);
  m_Type = source.m_Type;
  if (!m_Section || !m_DBFile || !m_MapFile) {
    ReleaseStrings(m_Section, m_DBFile, m_MapFile);
    m_Type = CISTypeMachine;
    m_Signature = 0;
  }
}

int CrossInstanceStore::m_CISInitDB(CISType type, const char* fileName) {
  const CSOSVersion os = CSGetOSVersion();
  if (cslib::port::ReadableStrlen(fileName) < 0) return 0;
  m_Type = type;

  std::string dbFile;
  if (type == CISTypeWinIni) {
    dbFile = kWinIniName;
  } else if (type == CISTypeNamedFile && os != CSOSWinNT) {
    dbFile = fileName;
  } else {
    const char* leaf = kDefaultDBName;
    if (type == CISTypeNamedFile) {
      leaf = fileName;
      for (const char* p = fileName; *p; ++p)
        if (cslib::port::IsPathSeparator(*p)) leaf = p + 1;
    }
    dbFile = cslib::port::ProfilePath(leaf);
  }
  m_DBFile = Duplicate(dbFile.c_str());
  m_MapFile = Duplicate(cslib::port::ProfilePath(kMapFileName).c_str());
  if (!m_DBFile || !m_MapFile) return 0;

  cslib::port::ProfileDeleteKey(m_MapFile, kConfigSection, "");
  if (type != CISTypeWinIni) cslib::port::ProfileDeleteKey(m_DBFile, kDefaultSection, "");
  return 1;
}

const char* CrossInstanceStore::m_ProfileFile() const {
  return m_Type == CISTypeWinIni ? nullptr : m_DBFile;
}

void CrossInstanceStore::CISLocate(const char* section, const char* key, const char* dbPath,
                                   char* scratch, char* notice) {
  const std::size_t room = std::strlen(dbPath) + 1;
  const cslib::port::ProfileView map(m_MapFile);
  std::size_t found = map.ReadValue(section, key, "", scratch, room);
  const std::size_t sectionLength = std::strlen(section);
  if (found == 0 && sectionLength <= static_cast<std::size_t>(kMaxSectionName)) {
    char mapSection[sizeof kMapPrefix + kMaxSectionName];
    std::memcpy(mapSection, kMapPrefix, sizeof kMapPrefix - 1);
    std::memcpy(mapSection + sizeof kMapPrefix - 1, section, sectionLength + 1);
    found = map.ReadValue(mapSection, key, "", scratch, room);
    if (found == 0) {
      // Added only if still missing under the file's lock: the first use wins.
      cslib::port::ProfileAddValue(m_MapFile, mapSection, key, dbPath);
      std::memcpy(scratch, dbPath, room);
      found = room - 1;
    }
  }
  // No location at all (a section too long to be mapped) is no mismatch.
  if (found == 0 || CSiStrcmp(scratch, dbPath) == 0) return;

  std::size_t used = 0;
  notice[0] = '\0';
  for (const char* part :
       {"A CrossInstanceStore data mismatch was detected for the entry key\n", key, "\n\n",
        "This may be due to a stale CIS database left over from a previous install.\n",
        "Please quit applications, remove or rename the files ", dbPath, " and ", kMapFileName,
        ", then reinstall.\n", "\n\nContinue?"})
    Append(notice, &used, part);
  cslib::port::EmitNotice(notice);
}

void CrossInstanceStore::CISUnMap(const char* section, const char* key) {
  if (!key || !*key || std::strlen(section) > static_cast<std::size_t>(kMaxSectionName)) return;
  cslib::port::ProfileDeleteKey(m_MapFile, std::string(kMapPrefix) + section, key);
}

void CrossInstanceStore::CISUnMapSection(const char* section) {
  if (std::strlen(section) > static_cast<std::size_t>(kMaxSectionName)) return;
  cslib::port::ProfileDeleteSection(m_MapFile, std::string(kMapPrefix) + section);
}

int CrossInstanceStore::m_CISWriteDB(const char* section, const char* key, const char* value) {
  if (char* scratch = new (std::nothrow) char[std::strlen(m_DBFile) + 1]) {
    char notice[kNoticeSize];
    CISLocate(section, key, m_DBFile, scratch, notice);
    delete[] scratch;
  }
  const bool ok = value ? cslib::port::ProfileWriteValue(m_ProfileFile(), section, key, value)
                        : cslib::port::ProfileDeleteKey(m_ProfileFile(), section, key);
  if (!value) CISUnMap(section, key);
  return ok ? 1 : 0;
}

int CrossInstanceStore::m_CISDeleteDBEntry(const char* section, const char* key) {
  return m_CISWriteDB(section, key, nullptr);
}

int CrossInstanceStore::m_CISDeleteDBSection(const char* section) {
  CISUnMapSection(section);
  return cslib::port::ProfileDeleteSection(m_ProfileFile(), section) ? 1 : 0;
}

int CrossInstanceStore::m_CISReadDB(const char* section, const char* key, char* buffer,
                                    unsigned short size) {
  if (char* scratch = new (std::nothrow) char[std::strlen(m_DBFile) + 1]) {
    char notice[kNoticeSize];
    CISLocate(section, key, m_DBFile, scratch, notice);
    delete[] scratch;
  }
  return static_cast<int>(
      cslib::port::ProfileReadValue(m_ProfileFile(), section, key, "", buffer, size));
}

unsigned long CrossInstanceStore::m_CISSizeDB(const char* section, const char* key) {
  if (char* scratch = new (std::nothrow) char[std::strlen(m_DBFile) + 1]) {
    char notice[kNoticeSize];
    CISLocate(section, key, m_DBFile, scratch, notice);
    delete[] scratch;
  }
  return static_cast<unsigned long>(
      cslib::port::ProfileView(m_ProfileFile()).Value(section, key).size());
}

CISErr CrossInstanceStore::m_CISFetchDB(const char* section, const char* key, char** value,
                                        unsigned long* length) {
  *value = nullptr;
  *length = 0;
  if (char* scratch = new (std::nothrow) char[std::strlen(m_DBFile) + 1]) {
    char notice[kNoticeSize];
    CISLocate(section, key, m_DBFile, scratch, notice);
    delete[] scratch;
  }
  // Measured and copied from one view of the file, so a concurrent write cannot cut it.
  const cslib::port::ProfileView view(m_ProfileFile());
  const std::string_view found = view.Value(section, key);
  if (found.empty()) return CISErrNotFound;
  char* text = new (std::nothrow) char[found.size() + 1];
  if (!text) return CISErrNoMemory;
  std::memcpy(text, found.data(), found.size());
  text[found.size()] = '\0';
  *value = text;
  *length = static_cast<unsigned long>(found.size());
  return CISOk;
}

int CrossInstanceStore::m_CISReadSection(const char* section, char* buffer, unsigned short size) {
  return static_cast<int>(cslib::port::ProfileReadKeys(m_ProfileFile(), section, "", buffer, size));
}

CISErr CrossInstanceStore::StoreStr(const char* key, const char* value) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || cslib::port::ReadableStrlen(value) < 0 || m_Signature != kStoreSignature)
    return CISErrInvalid;
  if (keyLength < 1 || keyLength > kMaxKey) return CISErrFailed;
  // Refused before the section map is touched, so nothing at all is written.
  if (!cslib::port::IsProfileEntryWritable(m_Section, key, value)) return CISErrFailed;
  return m_CISWriteDB(m_Section, key, value) ? CISOk : CISErrFailed;
}

CISErr CrossInstanceStore::RetrieveStr(const char* key, char* buffer, unsigned short size) {
  return RetrieveOrStoreStr(key, buffer, size, nullptr);
}

CISErr CrossInstanceStore::RetrieveOrStoreStr(const char* key, char* buffer, unsigned short size,
                                              const char* defaultValue) {
  const long keyLength = cslib::port::ReadableStrlen(key);
  if (keyLength < 0 || !CSIsValidWritePtr(buffer, size) || m_Signature != kStoreSignature)
    return CISErrInvalid;
  if (keyLength > kMaxKey || size == 0) {
    if (size > 0) buffer[0] = '\0';
    return CISErrNotFound;
  }
  if (m_CISReadDB(m_Section, key, buffer, size) > 0) return CISOk;

  buffer[0] = '\0';
  if (!defaultValue) return CISErrNotFound;
  const long defaultLength = cslib::port::ReadableStrlen(defaultValue);
  if (defaultLength < 0) return CISErrInvalid;
  const CISErr stored = StoreStr(key, defaultValue);
  const std::size_t whole = static_cast<std::size_t>(defaultLength);
  const std::size_t n = cslib::port::ini::CopyValue({defaultValue, whole}, buffer, size);
  // A default that could not be stored is reported as such, not as a cut.
  if (stored != CISOk) return stored;
  return n < whole ? CISErrTruncated : CISOk;
}
