// Per-printer stores: a PerCIS owns one store bound at construction to the section of
// its scope, forwards every value operation to it and gives the result as a
// PerPrinterErr. The subclasses only choose the section and the database type.
#include "cslib/percis.h"

#include <cstring>
#include <memory>
#include <new>

#include "cslib/frame.h"
#include "cslib/printer.h"
#include "cslib/store.h"
#include "printer/storename.h"

namespace {

constexpr unsigned int kPerCISSignature = 12;
constexpr unsigned short kSectionRoom = 255;   // a printer text read as a section name
constexpr unsigned short kStoreNameRoom = 64;  // a store name read for deletion
constexpr std::size_t kLongestStoreKey = 256;  // keys the store accepts
constexpr char kNoFile[] = "";                 // every scope uses its type's default file

// Store results of the writes, deletions and section removals.
PerPrinterErr WriteResult(CISErr r) {
  return r == CISOk ? PerPrinterOk : PerPrinterErrFailed;
}

// Store results of the string and byte reads: a missing value is told apart.
PerPrinterErr ReadResult(CISErr r) {
  if (r == CISOk) return PerPrinterOk;
  return r == CISErrNotFound ? PerPrinterErrNotFound : PerPrinterErrFailed;
}

// Whether a store is valid. A store has no query of its own for that, so it is asked
// for a key one character over the limit: a valid store refuses it as not found
// without touching any file, an invalid one as invalid.
bool StoreIsValid(CrossInstanceStore& store) {
  char key[kLongestStoreKey + 2];
  std::memset(key, 'k', kLongestStoreKey + 1);
  key[kLongestStoreKey + 1] = '\0';
  char value[1];
  return store.RetrieveStr(key, value, sizeof value) != CISErrInvalid;
}

}  // namespace

// ---- Construction, copying, destruction

PerCIS::PerCIS() : m_Store(nullptr), m_Signature(0) {}

PerCIS::PerCIS(const PerCIS& other) : m_Store(nullptr), m_Signature(0) {
  m_CopyPerCIS(other);
}

PerCIS& PerCIS::operator=(const PerCIS& other) {
  if (&other != this) m_CopyPerCIS(other);
  return *this;
}

PerCIS::~PerCIS() {
  m_Release();
}

void* PerCIS::operator new(std::size_t size) noexcept {
  return ::operator new(size, std::nothrow);
}

void PerCIS::operator delete(void* p) noexcept {
  ::operator delete(p);
}

void PerCIS::m_Release() {
  if (m_Signature == kPerCISSignature) delete m_Store;
  m_Store = nullptr;
  m_Signature = 0;
}

// What the target held is given back first, also when the source is not usable, so an
// assignment from such a source leaves nothing behind.
PerPrinterErr PerCIS::m_CopyPerCIS(const PerCIS& source) {
  m_Release();
  if (source.m_Signature != kPerCISSignature || !source.m_Store) return PerPrinterErrFailed;
  std::unique_ptr<CrossInstanceStore> store(new (std::nothrow) CrossInstanceStore(*source.m_Store));
  // A store copy that runs out of memory for its names is invalid, not missing.
  if (!store || !StoreIsValid(*store)) return PerPrinterErrFailed;
  m_Store = store.release();
  m_Signature = kPerCISSignature;
  return PerPrinterOk;
}

PerPrinterErr PerCIS::m_InitPerCIS(const char* section, CISType type) {
  m_Release();
  CISErr opened = CISOk;
  std::unique_ptr<CrossInstanceStore> store(new (std::nothrow)
                                                CrossInstanceStore(opened, section, type, kNoFile));
  // A refused name would leave the store on "Common": that is not this scope's section.
  if (!store || opened != CISOk) return PerPrinterErrFailed;
  m_Store = store.release();
  m_Signature = kPerCISSignature;
  return PerPrinterOk;
}

PerPrinterErr PerCIS::m_InitPerCISSection(CSPerPrinter& printer, CSPerPrinterWellKnown selector,
                                          CISType type) {
  m_Release();
  char section[kSectionRoom + 1];
  if (cslib::printer::ReadSectionName(printer, selector, section, kSectionRoom) != PerPrinterOk)
    return PerPrinterErrFailed;
  return m_InitPerCIS(section, type);
}

int PerCIS::IsPerCIS() const {
  return m_Signature == kPerCISSignature ? 1 : 0;
}

int PerCIS::m_IsInvariant() const {
  return m_Signature == kPerCISSignature && m_Store ? 1 : 0;
}

// ---- Forwarding

PerPrinterErr PerCIS::StoreWord(const char* key, unsigned short& value) {
  if (!m_IsInvariant()) return PerPrinterErrFailed;
  return WriteResult(m_Store->StoreWord(key, value));
}

unsigned short PerCIS::RetrieveWord(const char* key) {
  return m_IsInvariant() ? m_Store->RetrieveWord(key) : 0;
}

unsigned short PerCIS::RetrieveOrStoreWord(const char* key, unsigned short& defaultValue) {
  return m_IsInvariant() ? m_Store->RetrieveOrStoreWord(key, defaultValue) : 0;
}

PerPrinterErr PerCIS::StoreDWord(const char* key, unsigned long& value) {
  if (!m_IsInvariant()) return PerPrinterErrFailed;
  return WriteResult(m_Store->StoreDWord(key, value));
}

unsigned long PerCIS::RetrieveDWord(const char* key) {
  return m_IsInvariant() ? m_Store->RetrieveDWord(key) : 0;
}

unsigned long PerCIS::RetrieveOrStoreDWord(const char* key, unsigned long& defaultValue) {
  return m_IsInvariant() ? m_Store->RetrieveOrStoreDWord(key, defaultValue) : 0;
}

PerPrinterErr PerCIS::StoreStr(const char* key, const char* value) {
  if (!m_IsInvariant()) return PerPrinterErrFailed;
  return WriteResult(m_Store->StoreStr(key, value));
}

unsigned short PerCIS::RetrieveStrLen(const char* key) {
  return m_IsInvariant() ? m_Store->RetrieveSizeStr(key) : 0;
}

PerPrinterErr PerCIS::RetrieveStr(const char* key, char* buffer, unsigned short size) {
  if (!m_IsInvariant()) return PerPrinterErrFailed;
  return ReadResult(m_Store->RetrieveStr(key, buffer, size));
}

PerPrinterErr PerCIS::RetrieveOrStoreStr(const char* key, char* buffer, unsigned short size,
                                         const char* defaultValue) {
  if (!m_IsInvariant()) return PerPrinterErrFailed;
  return ReadResult(m_Store->RetrieveOrStoreStr(key, buffer, size, defaultValue));
}

PerPrinterErr PerCIS::StoreGenericBytes(const char* key, const void* data, unsigned short size) {
  if (!m_IsInvariant()) return PerPrinterErrFailed;
  return WriteResult(m_Store->StoreGenericBytes(key, data, size));
}

PerPrinterErr PerCIS::RetrieveGenericBytes(const char* key, void* buffer, unsigned short size,
                                           unsigned short* outSize) {
  if (!m_IsInvariant()) return PerPrinterErrFailed;
  return ReadResult(m_Store->RetrieveGenericBytes(key, buffer, size, outSize, nullptr));
}

PerPrinterErr PerCIS::RetrieveOrStoreGenericBytes(const char* key, void* buffer,
                                                  unsigned short size, unsigned short* outSize,
                                                  const void* defaultBytes) {
  if (!m_IsInvariant()) return PerPrinterErrFailed;
  unsigned short scratch = 0;
  return ReadResult(
      m_Store->RetrieveGenericBytes(key, buffer, size, outSize ? outSize : &scratch, defaultBytes));
}

PerPrinterErr PerCIS::Delete(const char* key) {
  if (!m_IsInvariant()) return PerPrinterErrFailed;
  return WriteResult(m_Store->Delete(key));
}

// ---- Sections

PerPrinterErr PerCIS::DeleteSection(const char* section) {
  if (!m_IsInvariant()) return PerPrinterErrFailed;
  return WriteResult(m_Store->DeleteSection(section));
}

// A store name that does not fit is never used cut: it would name another printer's
// section, or none.
PerPrinterErr PerCIS::DeleteSection(CSPerPrinter& printer) {
  if (!m_IsInvariant()) return PerPrinterErrFailed;
  if (CSGetOSVersion() == CSOSWinNT) return PerPrinterErrFailed;
  char name[kStoreNameRoom + 1];
  const PerPrinterErr r =
      cslib::printer::ReadSectionName(printer, CSWKCISPrinterName, name, kStoreNameRoom);
  if (r != PerPrinterOk) return r;
  return WriteResult(m_Store->DeleteSection(name));
}

// ---- The scopes

PerMachine::PerMachine(PerPrinterErr& result) {
  result = m_InitPerCIS("Common", CISTypeMachine);
}
PerMachine::PerMachine(PerPrinterErr& result, const char* section) {
  result = m_InitPerCIS(section, CISTypeMachine);
}
PerMachine::PerMachine(const PerMachine& other) = default;
PerMachine& PerMachine::operator=(const PerMachine& other) = default;
PerMachine::~PerMachine() = default;

PerProduct::PerProduct(PerPrinterErr& result) : PerMachine(result, "QZF15") {}
PerProduct::PerProduct(const PerProduct& other) = default;
PerProduct& PerProduct::operator=(const PerProduct& other) = default;
PerProduct::~PerProduct() = default;

PerTestAuto::PerTestAuto(PerPrinterErr& result) : PerMachine(result, "TestAutomation") {}
PerTestAuto::PerTestAuto(const PerTestAuto& other) = default;
PerTestAuto& PerTestAuto::operator=(const PerTestAuto& other) = default;
PerTestAuto::~PerTestAuto() = default;

PerPrinterErr PerTestAuto::DeleteSection() {
  return PerCIS::DeleteSection("TestAutomation");
}

PerUserMachine::PerUserMachine(PerPrinterErr& result) {
  result = m_InitPerCIS("Common", CISTypeUser);
}
PerUserMachine::PerUserMachine(const PerUserMachine& other) = default;
PerUserMachine& PerUserMachine::operator=(const PerUserMachine& other) = default;
PerUserMachine::~PerUserMachine() = default;

PerPort::PerPort(PerPrinterErr& result, CSPerPrinter& printer) {
  result = m_InitPerCISSection(printer, CSWKOutputPort, CISTypeMachine);
}
PerPort::PerPort(const PerPort& other) = default;
PerPort& PerPort::operator=(const PerPort& other) = default;
PerPort::~PerPort() = default;

PerModelNumber::PerModelNumber(PerPrinterErr& result, CSPerPrinter& printer) {
  result = m_InitPerCISSection(printer, CSWKRealName, CISTypeMachine);
}
PerModelNumber::PerModelNumber(const PerModelNumber& other) = default;
PerModelNumber& PerModelNumber::operator=(const PerModelNumber& other) = default;
PerModelNumber::~PerModelNumber() = default;

PerFriendlyName::PerFriendlyName(PerPrinterErr& result, CSPerPrinter& printer) {
  result = m_InitPerCISSection(printer, CSWKCISPrinterName, CISTypeMachine);
}
PerFriendlyName::PerFriendlyName(const PerFriendlyName& other) = default;
PerFriendlyName& PerFriendlyName::operator=(const PerFriendlyName& other) = default;
PerFriendlyName::~PerFriendlyName() = default;

PerPrinterErr PerFriendlyName::DeleteSection(CSPerPrinter& printer) {
  return PerCIS::DeleteSection(printer);
}

PerUserFriendlyName::PerUserFriendlyName(PerPrinterErr& result, CSPerPrinter& printer) {
  result = m_InitPerCISSection(printer, CSWKCISPrinterName, CISTypeUser);
}
PerUserFriendlyName::PerUserFriendlyName(const PerUserFriendlyName& other) = default;
PerUserFriendlyName& PerUserFriendlyName::operator=(const PerUserFriendlyName& other) = default;
PerUserFriendlyName::~PerUserFriendlyName() = default;
