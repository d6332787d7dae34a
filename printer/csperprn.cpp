// A printer's identity: construction and its limits, copying, destruction, the lazily
// derived texts (port list, real name, store name), the model-name query through the
// spooler and the two consistency checks. Texts live in memory blocks locked for the
// object's life.
#include <cstring>
#include <memory>
#include <new>

#include "cslib/blocks.h"
#include "cslib/frame.h"
#include "cslib/printer.h"
#include "port/memprobe.h"
#include "port/spooler.h"
#include "printer/perprinter.h"

namespace cslib::printer {

PerPrinterErr FillSlot(CSMemBlock* block, const char* text, std::size_t length, char** slot,
                       unsigned short* slotLength) {
  if (!block || !text || length > 0xFFFF) return PerPrinterErrFailed;
  if (block->Allocate(length + 1, CSMemBlkAlign2, const_cast<char*>(__FILE__), __LINE__) != 0)
    return PerPrinterErrFailed;
  unsigned char* data = block->Lock();
  if (!data) {
    block->Free();  // so that the next request can try again
    return PerPrinterErrFailed;
  }
  std::memcpy(data, text, length);
  data[length] = '\0';
  *slot = reinterpret_cast<char*>(data);
  *slotLength = static_cast<unsigned short>(length);
  return PerPrinterOk;
}

void EmptySlot(CSMemBlock* block, char** slot, unsigned short* slotLength) {
  if (block && *slot) {
    block->Unlock();
    block->Free();
  }
  *slot = nullptr;
  *slotLength = 0;
}

PerPrinterErr CopyOut(const char* text, std::size_t length, char* buffer, unsigned short max) {
  if (!text) length = 0;
  const std::size_t n = length < max ? length : max;
  if (n > 0) std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return length > max ? PerPrinterErrTruncated : PerPrinterOk;
}

PerPrinterErr QueryModelName(const char* printerName, char* out, unsigned short room) {
  if (room == 0) return PerPrinterErrFailed;
  out[0] = '\0';
  // The value is read into 33 bytes, as the spooler's callers always have.
  char model[33] = "";
  const std::unique_ptr<port::SpoolerPrinter> printer =
      port::CurrentSpooler().OpenPrinter(printerName);
  if (!printer || !printer->ReadData("Printer Model Name", model, sizeof model)) model[0] = '\0';
  const std::size_t cut = room - 1u;
  if (model[0] == '\0') {
    // No model from the spooler, for whatever reason: the printer's own name stands for
    // it, as success.
    const long len = port::ReadableStrnlen(printerName, cut);
    if (len > 0) std::memcpy(out, printerName, static_cast<std::size_t>(len));
    out[len > 0 ? len : 0] = '\0';
    return PerPrinterOk;
  }
  const std::size_t len = std::strlen(model);
  const std::size_t n = len < cut ? len : cut;
  std::memcpy(out, model, n);
  out[n] = '\0';
  return len >= room ? PerPrinterErrTruncated : PerPrinterOk;
}

}  // namespace cslib::printer

using cslib::printer::CopyOut;
using cslib::printer::EmptySlot;
using cslib::printer::FillSlot;
using cslib::printer::kMaxNameLen;
using cslib::printer::kMaxPortLen;
using cslib::printer::kSignature;

namespace {

// The length of text when it can be read through its terminator and has at most
// limit characters; limit + 1 when it is longer; -1 when it cannot be read.
long BoundedLength(const char* text, std::size_t limit) {
  return cslib::port::ReadableStrnlen(text, limit + 1);
}

// A private heap copy of the first length characters of text, or null.
char* Duplicate(const char* text, std::size_t length) {
  char* copy = new (std::nothrow) char[length + 1];
  if (!copy) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

// Whether a kept text can be read and has the recorded length.
bool KeptTextSound(const char* text, unsigned short length) {
  return cslib::port::ReadableStrnlen(text, std::size_t{length} + 1) == length;
}

}  // namespace

// ---- Construction, copying, destruction

CSPerPrinter::CSPerPrinter(PerPrinterErr& result, const char* port, const char* printerName) {
  m_Clear();
  if (BoundedLength(port, kMaxPortLen) < 0 || BoundedLength(printerName, kMaxNameLen) < 0) {
    result = PerPrinterErrInvalid;
    return;
  }
  result = m_InitPerPrinter(port, printerName, 0, nullptr);
}

CSPerPrinter::CSPerPrinter(PerPrinterErr& result, const char* prefix, const char* port,
                           const char* printerName) {
  m_Clear();
  if (cslib::port::ReadableStrlen(prefix) < 0 || BoundedLength(port, kMaxPortLen) < 0 ||
      BoundedLength(printerName, kMaxNameLen) < 0) {
    result = PerPrinterErrInvalid;
    return;
  }
  result = m_InitPerPrinter(port, printerName, 0, prefix);
}

CSPerPrinter::CSPerPrinter(PerPrinterErr& result, long& printerHandle) {
  m_Clear();
  result = m_InitPerPrinter("", "", printerHandle, nullptr);
}

CSPerPrinter::CSPerPrinter(PerPrinterErr& result, const char* port, const char* printerName,
                           long& printerHandle) {
  m_Clear();
  if (BoundedLength(port, kMaxPortLen) < 0 || BoundedLength(printerName, kMaxNameLen) < 0) {
    result = PerPrinterErrFailed;
    return;
  }
  result = m_InitPerPrinter(port, printerName, printerHandle, nullptr);
  if (result != PerPrinterOk) result = m_InitPerPrinter("", "", printerHandle, nullptr);
}

CSPerPrinter::CSPerPrinter(const CSPerPrinter& other) {
  m_Clear();
  m_CopyPerPrinter(other);
}

CSPerPrinter& CSPerPrinter::operator=(const CSPerPrinter& other) {
  if (&other != this) m_CopyPerPrinter(other);
  return *this;
}

CSPerPrinter::~CSPerPrinter() {
  m_Release();
}

void* CSPerPrinter::operator new(std::size_t size) noexcept {
  return ::operator new(size, std::nothrow);
}

void CSPerPrinter::operator delete(void* p) noexcept {
  ::operator delete(p);
}

void CSPerPrinter::m_Clear() {
  m_PrinterName = nullptr;
  m_PrinterNameLen = 0;
  m_PortPrefix = nullptr;
  m_PortPrefixLen = 0;
  m_PortBlock = nullptr;
  m_PortName = nullptr;
  m_PortNameLen = 0;
  m_CurPort = nullptr;
  m_CurPortLen = 0;
  m_Networked = -1;
  m_RealNameBlock = nullptr;
  m_RealName = nullptr;
  m_RealNameLen = 0;
  m_CISNameBlock = nullptr;
  m_CISPrinterName = nullptr;
  m_CISPrinterNameLen = 0;
  m_FileBlock = nullptr;
  m_FileTarget = nullptr;
  m_FileTargetLen = 0;
  m_Signature = 0;
}

void CSPerPrinter::m_Release() {
  if (m_Signature == kSignature) {
    delete[] m_PrinterName;
    delete[] m_PortPrefix;
    EmptySlot(m_PortBlock, &m_PortName, &m_PortNameLen);
    EmptySlot(m_RealNameBlock, &m_RealName, &m_RealNameLen);
    EmptySlot(m_CISNameBlock, &m_CISPrinterName, &m_CISPrinterNameLen);
    EmptySlot(m_FileBlock, &m_FileTarget, &m_FileTargetLen);
    delete m_PortBlock;
    delete m_RealNameBlock;
    delete m_CISNameBlock;
    delete m_FileBlock;
  }
  m_Clear();
}

// The source is copied as it stands: its port list goes into the slot unchanged (no
// second colon removal), the current port keeps its place and the derived texts come
// along, so the copy agrees with its source without asking the spooler again.
PerPrinterErr CSPerPrinter::m_CopyPerPrinter(const CSPerPrinter& source) {
  if (&source == this) return PerPrinterOk;
  m_Release();  // before anything else, so that a failed copy leaks nothing
  if (source.m_Signature != kSignature || !source.m_PrinterName) return PerPrinterErrFailed;
  PerPrinterErr r = m_InitPerPrinter(nullptr, source.m_PrinterName, 0, source.m_PortPrefix);
  if (r == PerPrinterOk && source.m_PortName) {
    r = FillSlot(m_PortBlock, source.m_PortName, source.m_PortNameLen, &m_PortName, &m_PortNameLen);
    if (r == PerPrinterOk) {
      const std::ptrdiff_t offset = source.m_CurPort ? source.m_CurPort - source.m_PortName : 0;
      m_CurPort = m_PortName + offset;
      m_CurPortLen = source.m_CurPortLen;
    }
  }
  if (r == PerPrinterOk) m_Networked = source.m_Networked;
  if (r == PerPrinterOk && source.m_RealName)
    r = FillSlot(m_RealNameBlock, source.m_RealName, source.m_RealNameLen, &m_RealName,
                 &m_RealNameLen);
  if (r == PerPrinterOk && source.m_CISPrinterName)
    r = FillSlot(m_CISNameBlock, source.m_CISPrinterName, source.m_CISPrinterNameLen,
                 &m_CISPrinterName, &m_CISPrinterNameLen);
  if (r == PerPrinterOk && source.m_FileTarget)
    r = FillSlot(m_FileBlock, source.m_FileTarget, source.m_FileTargetLen, &m_FileTarget,
                 &m_FileTargetLen);
  if (r != PerPrinterOk) m_Release();
  return r;
}

// ---- Initialisation and the lazily derived texts

PerPrinterErr CSPerPrinter::m_InitPerPrinter(const char* port, const char* printerName,
                                             long printerHandle, const char* prefix) {
  m_Release();
  // Only the limits are checked here: the name is copied by m_InitPrinterName and the
  // port by SetStr, each measuring its own text.
  const long nameLen = BoundedLength(printerName, kMaxNameLen);
  const long portLen = port ? BoundedLength(port, kMaxPortLen) : 0;
  if (nameLen <= 0 || portLen < 0 || nameLen > static_cast<long>(kMaxNameLen) ||
      portLen > static_cast<long>(kMaxPortLen))
    return PerPrinterErrFailed;

  m_Signature = kSignature;
  const PerPrinterErr r = m_InitPrinterName(printerName, printerHandle, prefix);
  if (r != PerPrinterOk) return r;
  // A block that cannot be had stays null; the structural check then fails, which is
  // how every later operation learns of it.
  m_PortBlock = new CSMemBlock;
  m_RealNameBlock = new CSMemBlock;
  m_CISNameBlock = new CSMemBlock;
  m_FileBlock = new CSMemBlock;
  if (portLen > 0) return SetStr(CSWKPortName, port);
  return PerPrinterOk;
}

PerPrinterErr CSPerPrinter::m_InitPrinterName(const char* printerName, long, const char* prefix) {
  const long nameLen = BoundedLength(printerName, kMaxNameLen);
  if (nameLen < 0 || nameLen > static_cast<long>(kMaxNameLen)) return PerPrinterErrFailed;
  m_PrinterName = Duplicate(printerName, static_cast<std::size_t>(nameLen));
  if (!m_PrinterName) return PerPrinterErrFailed;
  m_PrinterNameLen = static_cast<unsigned short>(nameLen);
  if (prefix) {
    const long prefixLen = cslib::port::ReadableStrlen(prefix);
    if (prefixLen < 0 || prefixLen > 0xFFFF) return PerPrinterErrFailed;
    m_PortPrefix = Duplicate(prefix, static_cast<std::size_t>(prefixLen));
    if (!m_PortPrefix) return PerPrinterErrFailed;
    m_PortPrefixLen = static_cast<unsigned short>(prefixLen);
  }
  return PerPrinterOk;
}

// Nothing on this system gives the port of a printer known only by name, so the
// looked-up list is empty; the structural check then fails from here on.
PerPrinterErr CSPerPrinter::m_InitPortName() {
  if (m_PortName) return PerPrinterErrFailed;
  const PerPrinterErr r = FillSlot(m_PortBlock, "", 0, &m_PortName, &m_PortNameLen);
  if (r == PerPrinterOk) {
    m_CurPort = m_PortName;
    m_CurPortLen = m_PortNameLen;
  }
  return r;
}

PerPrinterErr CSPerPrinter::m_InitRealName() {
  if (m_RealName) return PerPrinterErrFailed;
  std::unique_ptr<char[]> model(new (std::nothrow) char[cslib::printer::kModelRoom + 1]);
  if (!model) return PerPrinterErrFailed;
  const PerPrinterErr r =
      cslib::printer::QueryModelName(m_PrinterName, model.get(), cslib::printer::kModelRoom);
  if (r != PerPrinterOk && r != PerPrinterErrTruncated) return r;
  return FillSlot(m_RealNameBlock, model.get(), std::strlen(model.get()), &m_RealName,
                  &m_RealNameLen);
}

PerPrinterErr CSPerPrinter::m_InitCISPrinterName() {
  if (m_CISPrinterName || !m_PortName || !m_RealName) return PerPrinterErrFailed;
  const std::size_t room = std::size_t{m_PortNameLen} + m_RealNameLen + 2;
  std::unique_ptr<char[]> name(new (std::nothrow) char[room]);
  if (!name) return PerPrinterErrFailed;
  std::size_t len = 0;
  if (m_PortNameLen == 0) {
    name[len++] = ',';
  } else {
    std::memcpy(name.get(), m_PortName, m_PortNameLen);
    len = m_PortNameLen;
    if (name[len - 1] == ':') --len;
    name[len++] = ',';
    std::memcpy(name.get() + len, m_RealName, m_RealNameLen);
    len += m_RealNameLen;
    for (std::size_t i = 0; i < len; ++i)
      if (name[i] == '\\') name[i] = ',';
  }
  name[len] = '\0';
  return FillSlot(m_CISNameBlock, name.get(), len, &m_CISPrinterName, &m_CISPrinterNameLen);
}

// ---- Consistency checks

int CSPerPrinter::IsCSPerPrinter() const {
  return m_Signature == kSignature ? 1 : 0;
}

int CSPerPrinter::m_IsInvariant() const {
  if (m_Signature != kSignature || !m_PrinterName || m_PrinterNameLen == 0 ||
      !KeptTextSound(m_PrinterName, m_PrinterNameLen))
    return 0;
  if (!m_PortBlock || !m_RealNameBlock || !m_CISNameBlock || !m_FileBlock) return 0;
  if (m_PortName) {
    if (m_PortNameLen == 0 || !KeptTextSound(m_PortName, m_PortNameLen) || !m_CurPort) return 0;
    const char* end = m_PortName + m_PortNameLen;
    if (m_CurPort < m_PortName || m_CurPort > end || m_CurPortLen > end - m_CurPort) return 0;
    const bool whole = m_CurPort == m_PortName && m_CurPortLen == m_PortNameLen;
    const void* anyComma = std::memchr(m_PortName, ',', m_PortNameLen);
    if (!anyComma && !whole) return 0;
    if (anyComma && m_CurPortLen != m_PortNameLen) {
      const void* next = std::memchr(m_CurPort, ',', static_cast<std::size_t>(end - m_CurPort));
      if (next && static_cast<const char*>(next) < m_CurPort + m_CurPortLen) return 0;
    }
  }
  if (m_RealName && (m_RealNameLen == 0 || !KeptTextSound(m_RealName, m_RealNameLen))) return 0;
  if (m_CISPrinterName && (m_CISPrinterNameLen == 0 ||
                           !KeptTextSound(m_CISPrinterName, m_CISPrinterNameLen) || !m_RealName))
    return 0;
  if (m_FileTarget && !KeptTextSound(m_FileTarget, m_FileTargetLen)) return 0;
  return 1;
}

// Reads every text a caller relies on from a copy, so that this object's lazily
// derived texts stay as they are.
int CSPerPrinter::IsInvariant() const {
  if (!m_IsInvariant()) return 0;
  CSPerPrinter copy(*this);
  if (!copy.m_IsInvariant()) return 0;
  constexpr unsigned short kRoom = 1024;
  std::unique_ptr<char[]> scratch(new (std::nothrow) char[kRoom + 1]);
  if (!scratch) return 0;
  const CSPerPrinterWellKnown checked[] = {CSWKPrinterName, CSWKOutputPort, CSWKRealName,
                                           CSWKCFileName, CSWKCISPrinterName};
  for (CSPerPrinterWellKnown selector : checked) {
    if (copy.GetStr(selector, scratch.get(), kRoom) != PerPrinterOk) return 0;
    if ((selector == CSWKPrinterName || selector == CSWKCISPrinterName) && scratch[0] == '\0')
      return 0;
  }
  return 1;
}
