// The printers of one driver and model, listed from WIN.INI's [devices] (key: the name
// users see; value: driver, comma, port text); moving a printer's settings section when
// its port changes; numbered entries of the machine's section "DEZU".
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "cslib/frame.h"
#include "cslib/percis.h"
#include "cslib/printer.h"
#include "cslib/store.h"
#include "cslib/strlist.h"
#include "cslib/text.h"
#include "port/memprobe.h"
#include "port/profile.h"
#include "printer/perprinter.h"
#include "printer/storename.h"

namespace {

constexpr char kDevices[] = "devices";
constexpr char kNumberedSection[] = "DEZU";
constexpr char kNoFile[] = "";
constexpr unsigned short kStoreNameRoom = 64;  // a store name read for a move

// Whether a devices value names driver: the driver field, up to the first comma, is
// driver exactly (case counts). *port gets the text after that comma.
bool NamesDriver(std::string_view value, std::string_view driver, std::string_view* port) {
  if (value.size() <= driver.size() || value.compare(0, driver.size(), driver) != 0 ||
      value[driver.size()] != ',')
    return false;
  *port = value.substr(driver.size() + 1);
  return true;
}

// Whether the printer called name has model as its model name (the spooler's, else its
// own name, as a printer identity derives it, at most 63 characters).
bool IsOfModel(const char* name, const char* model) {
  char found[cslib::printer::kModelRoom + 1];
  return cslib::printer::QueryModelName(name, found, cslib::printer::kModelRoom) == PerPrinterOk &&
         std::strcmp(found, model) == 0;
}

// Adds the name and the port text (without a final ':') as entries of the same
// position: when the port cannot be added the name is taken back.
void AddPrinter(CISStringList* names, CISStringList* ports, const char* name,
                std::string_view port) {
  if (!port.empty() && port.back() == ':') port.remove_suffix(1);
  std::unique_ptr<char[]> portText(new (std::nothrow) char[port.size() + 1]);
  if (!portText) return;
  port.copy(portText.get(), port.size());
  portText[port.size()] = '\0';
  if (names->Add(name) != CISStrOk) return;
  if (ports->Add(portText.get()) != CISStrOk) names->Replace(nullptr);
}

// Whether a list can receive the printers: a valid list object without entries.
bool IsEmptyList(CISStringList* list) {
  return list && CSIsValidWritePtr(list, sizeof *list) && list->IsListInvariant() &&
         list->Count() == 0;
}

PerPrinterErr Enumerate(const char* model, const char* driver, CISStringList* names,
                        CISStringList* ports) {
  const long driverLength = driver ? cslib::port::ReadableStrlen(driver) : 0;
  if (cslib::port::ReadableStrlen(model) < 0 || driverLength < 0) return PerPrinterErrFailed;
  const std::string_view driverName(driver ? driver : "", static_cast<std::size_t>(driverLength));
  try {
    // One view of WIN.INI for the names and every value, so all come from one content.
    const cslib::port::ProfileView devices(nullptr);
    for (std::string_view key : devices.KeyNames(kDevices)) {
      std::string_view port;
      if (!NamesDriver(devices.Value(kDevices, key), driverName, &port)) continue;
      const std::string name(key);
      if (!IsOfModel(name.c_str(), model)) continue;
      AddPrinter(names, ports, name.c_str(), port);
    }
  } catch (const std::bad_alloc&) {
    return PerPrinterErrFailed;
  }
  return PerPrinterOk;
}

}  // namespace

PerPrinterErr CSGetAllFriendlyNames(const char* model, const char* driver, CISStringList* names) {
  if (!IsEmptyList(names)) return PerPrinterErrFailed;
  CISStringList ports;
  return Enumerate(model, driver, names, &ports);
}

PerPrinterErr CSGetAllFriendlyNamesAndPorts(const char* model, const char* driver,
                                            CISStringList* names, CISStringList* ports) {
  if (!IsEmptyList(names) || !IsEmptyList(ports) || names == ports) return PerPrinterErrFailed;
  return Enumerate(model, driver, names, ports);
}

// Both store names are read whole or not at all: a cut name would move another
// printer's section, or make a section no printer names.
PerPrinterErr SwitchPort(CSPerPrinter& from, CSPerPrinter& to) {
  if (CSGetOSVersion() == CSOSWinNT) return PerPrinterErrFailed;
  char fromName[kStoreNameRoom + 1];
  char toName[kStoreNameRoom + 1];
  PerPrinterErr r =
      cslib::printer::ReadSectionName(from, CSWKCISPrinterName, fromName, kStoreNameRoom);
  if (r != PerPrinterOk) return r;
  r = cslib::printer::ReadSectionName(to, CSWKCISPrinterName, toName, kStoreNameRoom);
  if (r != PerPrinterOk) return r;
  CISErr opened = CISOk;
  CrossInstanceStore store(opened, fromName, CISTypeMachine, kNoFile);
  return store.MoveSection(fromName, toName) == CISOk ? PerPrinterOk : PerPrinterErrFailed;
}

PerPrinterErr FindDEZUEnum(const char* prefix, unsigned short index, char* buffer,
                           unsigned short size) {
  CISErr opened = CISOk;
  CrossInstanceStore store(opened, kNumberedSection, CISTypeMachine, kNoFile);
  return store.FindStringEnum(prefix, index, buffer, size) == CISOk ? PerPrinterOk
                                                                    : PerPrinterErrFailed;
}

// The prefix is checked before it is formatted: the formatter would print an unreadable
// one as "(null)" and the value would land under a key nobody asked for.
PerPrinterErr SetDEZUEnum(const char* prefix, unsigned short index, const char* value) {
  const long prefixLength = cslib::port::ReadableStrlen(prefix);
  if (prefixLength < 0) return PerPrinterErrFailed;
  CISErr opened = CISOk;
  CrossInstanceStore store(opened, kNumberedSection, CISTypeMachine, kNoFile);
  if (opened != CISOk) return PerPrinterErrFailed;
  // The prefix, the five digits of the largest index and the terminator.
  std::unique_ptr<char[]> key(new (std::nothrow) char[static_cast<std::size_t>(prefixLength) + 6]);
  if (!key) return PerPrinterErrFailed;
  CSiSprintf(key.get(), "%s%d", prefix, static_cast<int>(index));
  return store.StoreStr(key.get(), value) == CISOk ? PerPrinterOk : PerPrinterErrFailed;
}
