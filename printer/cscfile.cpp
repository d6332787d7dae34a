// The file name stored for a printer model: the value "QZCFileName" of the model's
// section in the default database, else of "Common". Read at every request, nothing
// kept, so a value changed by another process is seen at once.
#include <cstring>
#include <memory>
#include <new>

#include "cslib/store.h"
#include "printer/perprinter.h"

namespace cslib::printer {
namespace {

constexpr char kFileNameKey[] = "QZCFileName";
// The store's buffers are sized by an unsigned short: the longest value read whole.
constexpr unsigned short kReadRoom = 0xFFFF;

CISErr ReadFileName(const char* section, char* buffer) {
  CISErr opened = CISOk;
  CrossInstanceStore store(opened, section, CISTypeMachine, "");
  return store.RetrieveStr(kFileNameKey, buffer, kReadRoom);
}

}  // namespace

PerPrinterErr LookupCFileName(const char* model, char* buffer, std::size_t size,
                              std::size_t* length) {
  *length = 0;
  if (size > 0) buffer[0] = '\0';
  // Read with all the room the store allows, so the whole length is known whatever
  // the caller's room.
  std::unique_ptr<char[]> value(new (std::nothrow) char[kReadRoom]);
  if (!value) return PerPrinterErrFailed;
  CISErr r = ReadFileName(model, value.get());
  if (r != CISOk) r = ReadFileName("Common", value.get());
  if (r == CISErrNotFound) return PerPrinterErrNotFound;
  if (r != CISOk) return PerPrinterErrFailed;
  *length = std::strlen(value.get());
  if (size > 0) {
    const std::size_t n = *length < size - 1 ? *length : size - 1;
    std::memcpy(buffer, value.get(), n);
    buffer[n] = '\0';
  }
  return PerPrinterOk;
}

}  // namespace cslib::printer
