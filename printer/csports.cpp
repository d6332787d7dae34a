// A printer's ports: counting and walking the comma-separated port list, selecting one
// port of a pooled printer, the network test (asked once per object) and printing to
// a file. Port names compare with case; a colon ends a local port name.
#include <cstring>

#include "cslib/frame.h"
#include "cslib/printer.h"
#include "cslib/text.h"
#include "port/memprobe.h"
#include "printer/perprinter.h"

namespace {

constexpr unsigned short kPortRoom = 128;

// Copies the port that starts at from (it ends at the next comma or at end; one final
// colon dropped) into buffer, when buffer can take it. 1 when the port is not empty.
int ReadPort(const char* from, const char* end, char* buffer) {
  const void* comma = std::memchr(from, ',', static_cast<std::size_t>(end - from));
  const char* stop = comma ? static_cast<const char*>(comma) : end;
  if (stop > from && stop[-1] == ':') --stop;
  const std::size_t length = static_cast<std::size_t>(stop - from);
  if (!CSIsValidWritePtr(buffer, length + 1)) return 0;
  std::memcpy(buffer, from, length);
  buffer[length] = '\0';
  return length > 0 ? 1 : 0;
}

}  // namespace

long CSPerPrinter::m_FindPort(const char* name, unsigned short* matched) const {
  const long nameLen = cslib::port::ReadableStrlen(name);
  if (nameLen < 0 || !m_PortName) return -1;
  std::size_t n = static_cast<std::size_t>(nameLen);
  if (n > 0 && name[n - 1] == ':') --n;
  // A port never holds a comma: such a name would select a span of several ports and
  // leave the object broken.
  if (std::memchr(name, ',', n)) return -1;
  const std::size_t listLen = m_PortNameLen;
  std::size_t at = 0;
  for (;;) {
    if (at + n <= listLen && std::memcmp(m_PortName + at, name, n) == 0) {
      const char after = m_PortName[at + n];  // the terminator at the list's end
      if (after == '\0' || after == ',' || after == ':') {
        *matched = static_cast<unsigned short>(n);
        return static_cast<long>(at);
      }
    }
    const void* comma = std::memchr(m_PortName + at, ',', listLen - at);
    if (!comma) return -1;
    at = static_cast<std::size_t>(static_cast<const char*>(comma) - m_PortName) + 1;
    if (at >= listLen) return -1;
  }
}

unsigned short CSPerPrinter::PortCount() {
  if (!m_IsInvariant()) return 0;
  if (!m_PortName) m_InitPortName();
  if (!m_PortName || m_PortNameLen == 0) return 0;
  unsigned short count = 1;
  for (unsigned short i = 0; i < m_PortNameLen; ++i) {
    if (m_PortName[i] != ',') continue;
    if (i == 0 || m_PortName[i - 1] == ',') break;  // an empty port ends the count
    ++count;
  }
  return count;
}

int CSPerPrinter::IsPrinterPooled() {
  return PortCount() > 1 ? 1 : 0;
}

int CSPerPrinter::FindFirstPort(char* buffer) {
  if (!m_IsInvariant()) return 0;
  if (!m_PortName) m_InitPortName();
  if (!m_PortName) return 0;
  return ReadPort(m_PortName, m_PortName + m_PortNameLen, buffer);
}

int CSPerPrinter::FindNextPort(const char* previous, char* buffer) {
  if (!m_IsInvariant()) return 0;
  if (!m_PortName) m_InitPortName();
  unsigned short matched = 0;
  const long at = m_FindPort(previous, &matched);
  if (at < 0) return 0;
  const char* end = m_PortName + m_PortNameLen;
  const void* comma =
      std::memchr(m_PortName + at, ',', static_cast<std::size_t>(end - (m_PortName + at)));
  if (!comma || static_cast<const char*>(comma) + 1 >= end) return 0;
  return ReadPort(static_cast<const char*>(comma) + 1, end, buffer);
}

PerPrinterErr CSPerPrinter::SelectPooledPort(const char* port) {
  if (!m_IsInvariant() || cslib::port::ReadableStrlen(port) < 0) return PerPrinterErrFailed;
  if (!IsPrinterPooled()) return PerPrinterOk;
  if (m_FileTarget && m_FileTargetLen > 0) return PerPrinterErrFailed;
  unsigned short matched = 0;
  const long at = m_FindPort(port, &matched);
  if (at < 0) return PerPrinterErrFailed;
  m_CurPort = m_PortName + at;
  m_CurPortLen = matched;
  return PerPrinterOk;
}

int CSPerPrinter::IsPortSelected() {
  char output[kPortRoom + 1];
  const PerPrinterErr r = GetStr(CSWKOutputPort, output, kPortRoom);
  if (r != PerPrinterOk && r != PerPrinterErrTruncated) return 0;
  return std::strchr(output, ',') ? 0 : 1;
}

int CSPerPrinter::IsNetworked() {
  if (!m_IsInvariant()) return 0;
  if (m_Networked >= 0) return m_Networked;
  if (!m_PortName) m_InitPortName();
  if (!m_CurPort) return 0;  // no port list could be had: asked again next time
  const char* port = m_CurPort;
  const unsigned short len = m_CurPortLen;
  bool networked;
  if (len >= 2 && port[0] == '\\' && port[1] == '\\') {
    networked = true;
  } else if (m_PrinterName[0] == '\\' && m_PrinterName[1] == '\\') {
    networked = true;
  } else if (len >= 3 && (std::strncmp(port, "LPT", 3) == 0 || std::strncmp(port, "COM", 3) == 0 ||
                          std::strncmp(port, "lpt", 3) == 0 || std::strncmp(port, "com", 3) == 0)) {
    networked = false;
  } else {
    networked = !(len >= 4 && std::strncmp(port, "FILE", 4) == 0);
  }
  m_Networked = networked ? 1 : 0;
  return m_Networked;
}

PerPrinterErr CSPerPrinter::SetPrintToFile(const char* path) {
  if (cslib::port::ReadableStrlen(path) < 0) return PerPrinterErrFailed;
  return SetStr(CSWKPrintToFile, path);
}

int CSPerPrinter::IsPrintToFile() {
  char output[kPortRoom + 1];
  const PerPrinterErr r = GetStr(CSWKOutputPort, output, kPortRoom);
  if (r != PerPrinterOk && r != PerPrinterErrTruncated) return 0;
  return std::strcmp(output, "FILE") == 0 ? 1 : 0;
}

// Runs without the structural check: it only reads the current port when one is set.
int CSPerPrinter::IsPrintToFileTarget(const char* path) {
  const long len = cslib::port::ReadableStrlen(path);
  if (len < 4) return 0;
  if (m_Signature == cslib::printer::kSignature && m_PortName && m_CurPort &&
      CSiStrcmpi(path, m_CurPort) == 0)
    return 0;
  if (path[1] == ':' && path[2] == '\\') return 1;
  return path[0] == '\\' && path[1] == '\\' ? 1 : 0;
}
