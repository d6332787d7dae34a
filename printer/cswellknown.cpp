// A printer's texts by selector: GetStr hands out each text under one copy rule and
// runs the derivations a selector needs on its first request; GetStrLen agrees with
// it; SetStr sets the port list or the print-to-file target. No text has a byte form.
#include <cstring>

#include "cslib/blocks.h"
#include "cslib/frame.h"
#include "cslib/printer.h"
#include "port/memprobe.h"
#include "printer/perprinter.h"

using cslib::printer::CopyOut;
using cslib::printer::EmptySlot;
using cslib::printer::FillSlot;

namespace {

constexpr char kFileOutput[] = "FILE";
constexpr unsigned short kFileOutputLen = 4;

}  // namespace

const char* CSPerPrinter::m_OutputText(unsigned short* length) const {
  if (m_FileTarget) {
    *length = kFileOutputLen;
    return kFileOutput;
  }
  // A printer reached by its network name prints there, whatever local port it shows.
  if (m_CurPort && (m_CurPortLen == 0 || m_CurPort[0] != '\\') && m_PrinterName[0] == '\\') {
    *length = m_PrinterNameLen;
    return m_PrinterName;
  }
  *length = m_CurPortLen;
  return m_CurPort;
}

PerPrinterErr CSPerPrinter::GetStr(CSPerPrinterWellKnown selector, char* buffer,
                                   unsigned short max) {
  if (!CSIsValidWritePtr(buffer, max + 1ul) || !m_IsInvariant()) return PerPrinterErrInvalid;
  PerPrinterErr r = PerPrinterOk;
  switch (static_cast<unsigned int>(selector)) {
    case CSWKPrinterName:
      return CopyOut(m_PrinterName, m_PrinterNameLen, buffer, max);
    case CSWKRealName:
      if (!m_RealName) {
        buffer[0] = '\0';
        if ((r = m_InitRealName()) != PerPrinterOk) return r;
      }
      return CopyOut(m_RealName, m_RealNameLen, buffer, max);
    case CSWKCFileName: {
      if (!m_RealName) {
        buffer[0] = '\0';
        if ((r = m_InitRealName()) != PerPrinterOk) return r;
      }
      // The buffer holds max + 1 bytes: the store may fill all of them, and a value
      // longer than max is reported as cut, as every other text is.
      std::size_t length = 0;
      r = cslib::printer::LookupCFileName(m_RealName, buffer, max + std::size_t{1}, &length);
      if (r == PerPrinterOk && length > max) r = PerPrinterErrTruncated;
      return r;
    }
    case CSWKCISPrinterName:
      if (m_CISPrinterName) return CopyOut(m_CISPrinterName, m_CISPrinterNameLen, buffer, max);
      buffer[0] = '\0';
      if (!m_PortName && (r = m_InitPortName()) != PerPrinterOk) return r;
      if (!m_RealName && (r = m_InitRealName()) != PerPrinterOk) return r;
      r = m_InitCISPrinterName();
      if (CopyOut(m_CISPrinterName, m_CISPrinterNameLen, buffer, max) == PerPrinterErrTruncated)
        return PerPrinterErrTruncated;
      return r;
    case CSWKOutputPort: {
      if (!m_FileTarget && !m_PortName) {
        buffer[0] = '\0';
        if ((r = m_InitPortName()) != PerPrinterOk) return r;
      }
      unsigned short length = 0;
      const char* text = m_OutputText(&length);
      return CopyOut(text, length, buffer, max);
    }
    case CSWKPortName:
      if (!m_PortName) {
        buffer[0] = '\0';
        if ((r = m_InitPortName()) != PerPrinterOk) return r;
      }
      return CopyOut(m_PortName, m_PortNameLen, buffer, max);
    case CSWKPrintToFile:
      return CopyOut(m_FileTarget, m_FileTargetLen, buffer, max);
    case CSWKPortPrefix:
      return CopyOut(m_PortPrefix, m_PortPrefixLen, buffer, max);
    case CSWKPrefixedPort:
      if ((r = GetStr(CSWKPortPrefix, buffer, max)) != PerPrinterOk) return r;
      if (m_PortPrefixLen >= max) return PerPrinterErrTruncated;
      return GetStr(CSWKOutputPort, buffer + m_PortPrefixLen,
                    static_cast<unsigned short>(max - m_PortPrefixLen));
    default:
      return PerPrinterErrUnsupported;
  }
}

unsigned short CSPerPrinter::GetStrLen(CSPerPrinterWellKnown selector) {
  if (selector == CSWKCFileName) {
    if (!m_IsInvariant()) return 0;
    if (!m_RealName && m_InitRealName() != PerPrinterOk) return 0;
    char scratch[1];
    std::size_t length = 0;
    if (cslib::printer::LookupCFileName(m_RealName, scratch, sizeof scratch, &length) !=
        PerPrinterOk)
      return 0;
    return static_cast<unsigned short>(length);
  }
  char scratch[2];
  // The prefixed port needs the output port derived even when the prefix alone
  // already overflows the scratch room.
  const CSPerPrinterWellKnown derive = selector == CSWKPrefixedPort ? CSWKOutputPort : selector;
  const PerPrinterErr r = GetStr(derive, scratch, 1);
  if (r != PerPrinterOk && r != PerPrinterErrTruncated) return 0;
  unsigned short output = 0;
  switch (static_cast<unsigned int>(selector)) {
    case CSWKPrinterName:
      return m_PrinterNameLen;
    case CSWKRealName:
      return m_RealNameLen;
    case CSWKCISPrinterName:
      return m_CISPrinterNameLen;
    case CSWKPortName:
      return m_PortNameLen;
    case CSWKPrintToFile:
      return m_FileTargetLen;
    case CSWKPortPrefix:
      return m_PortPrefixLen;
    case CSWKOutputPort:
      m_OutputText(&output);
      return output;
    case CSWKPrefixedPort: {
      m_OutputText(&output);
      const unsigned long total = static_cast<unsigned long>(m_PortPrefixLen) + output;
      return total > 0xFFFF ? 0 : static_cast<unsigned short>(total);
    }
    default:
      return 0;
  }
}

PerPrinterErr CSPerPrinter::SetStr(CSPerPrinterWellKnown selector, const char* text) {
  if (!CSIsValidReadPtr(text, 1) || !m_IsInvariant()) return PerPrinterErrInvalid;
  switch (static_cast<unsigned int>(selector)) {
    case CSWKPrinterName:
      return PerPrinterErrFailed;
    case CSWKPortName: {
      if (m_PortName) return PerPrinterErrFailed;
      const long length = cslib::port::ReadableStrlen(text);
      if (length < 0) return PerPrinterErrFailed;
      const PerPrinterErr r = FillSlot(m_PortBlock, text, static_cast<std::size_t>(length),
                                       &m_PortName, &m_PortNameLen);
      if (r != PerPrinterOk) return r;
      if (m_PortNameLen > 0 && m_PortName[m_PortNameLen - 1] == ':')
        m_PortName[--m_PortNameLen] = '\0';
      m_CurPort = m_PortName;
      m_CurPortLen = m_PortNameLen;
      return PerPrinterOk;
    }
    case CSWKPrintToFile: {
      if (m_FileTarget && m_FileTargetLen > 0) return PerPrinterErrFailed;
      const long length = cslib::port::ReadableStrlen(text);
      if (length < 0) return PerPrinterErrFailed;
      if (m_FileTarget) EmptySlot(m_FileBlock, &m_FileTarget, &m_FileTargetLen);
      return FillSlot(m_FileBlock, text, static_cast<std::size_t>(length), &m_FileTarget,
                      &m_FileTargetLen);
    }
    default:
      return PerPrinterErrUnsupported;
  }
}

PerPrinterErr CSPerPrinter::GetBytes(CSPerPrinterWellKnown, void* buffer, unsigned short size,
                                     unsigned short* outSize) {
  if (!CSIsValidWritePtr(buffer, size) || !CSIsValidWritePtr(outSize, sizeof *outSize) ||
      !m_IsInvariant())
    return PerPrinterErrInvalid;
  return PerPrinterErrUnsupported;
}

PerPrinterErr CSPerPrinter::SetBytes(CSPerPrinterWellKnown, const void* data, unsigned short size) {
  if (!CSIsValidReadPtr(data, size) || !m_IsInvariant()) return PerPrinterErrInvalid;
  return PerPrinterErrUnsupported;
}
