// Printer services: one printer's identity as a driver component sees it (its name,
// port list and current port, model name, store name and print-to-file target), its
// texts by selector, and its ports. Texts are 8-bit and zero-terminated; lengths are
// counts of characters without the terminator.
#ifndef CSLIB_PRINTER_H
#define CSLIB_PRINTER_H

#include <cstddef>

#include "cslib/export.h"

class CSMemBlock;

// Result of every printer operation that reports a code (0 is success).
enum PerPrinterErr {
  PerPrinterOk = 0,
  PerPrinterErrFailed = -740,       // no memory, input refused, set once already, bad source
  PerPrinterErrInvalid = -741,      // unreadable or unwritable argument, or a broken object
  PerPrinterErrNotFound = -742,     // the value does not exist
  PerPrinterErrUnsupported = -743,  // the selector is not handled by this operation
  PerPrinterErrTruncated = -744,    // the text was cut to the room given (cut text delivered)
  PerPrinterErrOpenPrinter = -745   // the spooler could not open the printer (never returned)
};

// The texts of a printer, for GetStr, GetStrLen and SetStr.
enum CSPerPrinterWellKnown : int {
  CSWKPrinterName = 0,     // the name given
  CSWKRealName = 1,        // the model name the spooler reports, else the printer's name
  CSWKCFileName = 2,       // "QZCFileName" stored for the model (or in "Common")
  CSWKCISPrinterName = 3,  // the store name: port list, comma, real name; '\' become ','
  CSWKOutputPort = 4,      // "FILE", the printer's network name, or the current port
  CSWKPortName = 5,        // the port list (settable once, while unset)
  CSWKPrintToFile = 6,     // the print-to-file target (settable while unset or empty)
  CSWKPortPrefix = 7,      // the prefix given to the prefix constructor
  CSWKPrefixedPort = 8     // the prefix followed by the output port
};

class CSLIB_API CSPerPrinter {
 public:
  // Port and printer name. -741 when either text cannot be read; -740 for an empty
  // name, a name over 256 or a port over 127 characters, or no memory. A port ending
  // in ':' is kept without it; an empty port is looked up when first needed.
  CSPerPrinter(PerPrinterErr& result, const char* port, const char* printerName);
  // As above, also keeping prefix (CSWKPortPrefix, CSWKPrefixedPort).
  CSPerPrinter(PerPrinterErr& result, const char* prefix, const char* port,
               const char* printerName);
  // From a spooler handle alone: nothing yields a name from a handle, so always -740.
  CSPerPrinter(PerPrinterErr& result, long& printerHandle);
  // Port and name, else the handle: 0 or -740 (also for unreadable texts).
  CSPerPrinter(PerPrinterErr& result, const char* port, const char* printerName,
               long& printerHandle);
  // Copies keep the texts already derived, so a copy never asks the spooler again for
  // them. A failed copy leaves the target invalid (IsCSPerPrinter 0).
  CSPerPrinter(const CSPerPrinter& other);
  CSPerPrinter& operator=(const CSPerPrinter& other);
  virtual ~CSPerPrinter();

  static void* operator new(std::size_t size) noexcept;  // global heap; null on exhaustion
  static void operator delete(void* p) noexcept;

  int IsCSPerPrinter() const;  // 1 while initialised (signature 74)
  // 1 when the object is sound and every text a caller relies on can be had whole
  // (the model's file name included). Works on a copy: derives nothing in this object.
  int IsInvariant() const;

  // The selector's text, cut to max characters, then a zero byte: buffer must be
  // writable for max + 1 bytes. -744 when cut; -741 bad buffer or object; -743 other
  // selectors; -742 no file name for the model. Derives what the selector needs.
  PerPrinterErr GetStr(CSPerPrinterWellKnown selector, char* buffer, unsigned short max);
  // The length GetStr delivers with room enough; 0 when it cannot be had.
  unsigned short GetStrLen(CSPerPrinterWellKnown selector);
  // Sets CSWKPortName (once, while unset; one final ':' dropped) or CSWKPrintToFile
  // (while unset or empty). -740 when already set or for CSWKPrinterName; -743 others.
  PerPrinterErr SetStr(CSPerPrinterWellKnown selector, const char* text);
  // No selector has a byte form: -743 on a sound call, -741 for bad arguments.
  PerPrinterErr GetBytes(CSPerPrinterWellKnown selector, void* buffer, unsigned short size,
                         unsigned short* outSize);
  PerPrinterErr SetBytes(CSPerPrinterWellKnown selector, const void* data, unsigned short size);

  // Ports: the list is split at commas only; a port may end in ':'. Port buffers need
  // room for the port and its terminator (128 bytes hold any port given at construction).
  unsigned short PortCount();       // ports before the first empty one
  int IsPrinterPooled();            // 1 with more than one port
  int FindFirstPort(char* buffer);  // 1 when a non-empty first port was copied (no ':')
  // 1 when a non-empty port follows the port named previous and was copied.
  int FindNextPort(const char* previous, char* buffer);
  // Moves the current port of a pooled printer to the port named (a final ':' of the
  // name ignored). 0 and no change when not pooled; -740 when not in the list, while
  // printing to a file, or for a bad object or name.
  PerPrinterErr SelectPooledPort(const char* port);
  int IsPortSelected();  // 1 when output goes to one port (or a file)
  int IsNetworked();     // asked once, then kept: \\ port or name, or not LPT/COM/FILE
  // Sets the print-to-file target (SetStr CSWKPrintToFile); -740 for an unreadable path.
  PerPrinterErr SetPrintToFile(const char* path);
  int IsPrintToFile();  // 1 when the output port is "FILE"
  // 1 for a drive path (C:\...) or a network path (\\...) of 4 or more characters that
  // is not the text from the current port on (compared without regard to case).
  int IsPrintToFileTarget(const char* path);

 protected:
  PerPrinterErr m_InitPerPrinter(const char* port, const char* printerName, long printerHandle,
                                 const char* prefix);
  PerPrinterErr m_InitPrinterName(const char* printerName, long printerHandle, const char* prefix);
  PerPrinterErr m_InitPortName();
  PerPrinterErr m_InitRealName();
  PerPrinterErr m_InitCISPrinterName();
  PerPrinterErr m_CopyPerPrinter(const CSPerPrinter& source);
  int m_IsInvariant() const;  // structural check that every public operation runs first

  char* m_PrinterName;
  unsigned short m_PrinterNameLen;
  char* m_PortPrefix;
  unsigned short m_PortPrefixLen;
  CSMemBlock* m_PortBlock;
  char* m_PortName;
  unsigned short m_PortNameLen;
  char* m_CurPort;
  unsigned short m_CurPortLen;
  short m_Networked;
  CSMemBlock* m_RealNameBlock;
  char* m_RealName;
  unsigned short m_RealNameLen;
  CSMemBlock* m_CISNameBlock;
  char* m_CISPrinterName;
  unsigned short m_CISPrinterNameLen;
  CSMemBlock* m_FileBlock;
  char* m_FileTarget;
  unsigned short m_FileTargetLen;
  unsigned int m_Signature;

 private:
  void m_Clear();    // every field empty, as after construction
  void m_Release();  // gives back all it owns, then m_Clear
  // The text CSWKOutputPort delivers once the port list exists, and its length.
  const char* m_OutputText(unsigned short* length) const;
  // The position in the port list of the port named name (final ':' ignored), or -1;
  // *matched gets the compared length.
  long m_FindPort(const char* name, unsigned short* matched) const;
};

#endif  // CSLIB_PRINTER_H
