// Names of the library's result codes, for csctl's failure messages and JSON: the
// store, registry and printer families, which are the codes csctl's commands meet.
#include <cslib.h>

#include "csctl.h"

namespace csctl {

const char* CodeName(long code) {
  switch (code) {
    case 0:
      return "Ok";
    case CISErrFailed:
      return "CISErrFailed";
    case CISErrInvalid:
      return "CISErrInvalid";
    case CISErrNotFound:
      return "CISErrNotFound";
    case CISErrTruncated:
      return "CISErrTruncated";
    case CISErrSection:
      return "CISErrSection";
    case CISErrNoMemory:
      return "CISErrNoMemory";
    case CISRegErrFailed:
      return "CISRegErrFailed";
    case CISRegErrBadArg:
      return "CISRegErrBadArg";
    case CISRegErrNotFound:
      return "CISRegErrNotFound";
    case CISRegErrBadKeyList:
      return "CISRegErrBadKeyList";
    case CISRegErrUnknownRoot:
      return "CISRegErrUnknownRoot";
    case CISRegErrNoMemory:
      return "CISRegErrNoMemory";
    case CISRegErrType:
      return "CISRegErrType";
    case CISStrErrInvalid:
      return "CISStrErrInvalid";
    case CISStrErrBadString:
      return "CISStrErrBadString";
    case CISStrErrNoRoom:
      return "CISStrErrNoRoom";
    case PerPrinterErrFailed:
      return "PerPrinterErrFailed";
    case PerPrinterErrInvalid:
      return "PerPrinterErrInvalid";
    case PerPrinterErrNotFound:
      return "PerPrinterErrNotFound";
    case PerPrinterErrUnsupported:
      return "PerPrinterErrUnsupported";
    case PerPrinterErrTruncated:
      return "PerPrinterErrTruncated";
    case PerPrinterErrOpenPrinter:
      return "PerPrinterErrOpenPrinter";
    default:
      return "unknown";
  }
}

}  // namespace csctl
