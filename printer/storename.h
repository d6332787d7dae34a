// Reading a printer's text to name a store section: the text counts only when it came
// whole and the printer is still sound afterwards. A printer without a port derives
// the store name "," once and then fails its checks; every such printer would share
// that section.
#ifndef CSLIB_PRINTER_STORENAME_H
#define CSLIB_PRINTER_STORENAME_H

#include "cslib/printer.h"

namespace cslib::printer {

// The selector's text into buffer (room characters and a terminator). 0 when it came
// whole from a sound printer; the printer's code (-744 for a cut text), or -741 for a
// printer the reading left broken, otherwise.
inline PerPrinterErr ReadSectionName(CSPerPrinter& printer, CSPerPrinterWellKnown selector,
                                     char* buffer, unsigned short room) {
  buffer[0] = '\0';
  const PerPrinterErr r = printer.GetStr(selector, buffer, room);
  if (r != PerPrinterOk) return r;
  // Every sound printer has a name: a length of 0 means it fails its checks now.
  return printer.GetStrLen(CSWKPrinterName) == 0 ? PerPrinterErrInvalid : PerPrinterOk;
}

}  // namespace cslib::printer

#endif  // CSLIB_PRINTER_STORENAME_H
