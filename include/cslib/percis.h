// Per-printer stores: settings of one scope (the machine, the user, the product, test
// automation, an output port, a printer model, a printer, a printer for the user), each
// a store bound once to its section; and the printers of a driver and model listed from
// WIN.INI's [devices], a printer's settings moved to a new port, and numbered entries.
#ifndef CSLIB_PERCIS_H
#define CSLIB_PERCIS_H

#include <cstddef>

#include "cslib/export.h"
#include "cslib/printer.h"
#include "cslib/store.h"

class CISStringList;

// A store bound to one section, its results given as PerPrinterErr: -740 for an object
// that is not usable or any store failure, -742 for a string or byte value that is
// missing. Retrievals that return a value give 0 on an object that is not usable.
class CSLIB_API PerCIS {
 public:
  // A copy binds its own store to the same file and section. A copy of an object that
  // is not usable, or one that runs out of memory, is not usable (IsPerCIS 0).
  PerCIS(const PerCIS& other);
  PerCIS& operator=(const PerCIS& other);
  virtual ~PerCIS();

  static void* operator new(std::size_t size) noexcept;  // global heap; null on exhaustion
  static void operator delete(void* p) noexcept;

  int IsPerCIS() const;  // 1 while the object holds a usable store (signature 12)

  // Typed values as the store keeps them (hex text); the references are only read.
  PerPrinterErr StoreWord(const char* key, unsigned short& value);
  unsigned short RetrieveWord(const char* key);
  unsigned short RetrieveOrStoreWord(const char* key, unsigned short& defaultValue);
  PerPrinterErr StoreDWord(const char* key, unsigned long& value);
  unsigned long RetrieveDWord(const char* key);
  unsigned long RetrieveOrStoreDWord(const char* key, unsigned long& defaultValue);

  PerPrinterErr StoreStr(const char* key, const char* value);
  // The length of key's value in characters; 0 when missing or not usable.
  unsigned short RetrieveStrLen(const char* key);
  // Reads key's value, cut to size - 1 characters. -742 when missing.
  PerPrinterErr RetrieveStr(const char* key, char* buffer, unsigned short size);
  // As RetrieveStr; a missing value is stored with defaultValue and handed back. -740
  // when the default had to be cut to fit the buffer (it is stored whole).
  PerPrinterErr RetrieveOrStoreStr(const char* key, char* buffer, unsigned short size,
                                   const char* defaultValue);

  PerPrinterErr StoreGenericBytes(const char* key, const void* data, unsigned short size);
  // Decodes key's bytes into buffer; *outSize (required) gets the bytes delivered. -742
  // when missing, -740 when the stored text is longer than the buffer holds.
  PerPrinterErr RetrieveGenericBytes(const char* key, void* buffer, unsigned short size,
                                     unsigned short* outSize);
  // As RetrieveGenericBytes; a missing value is stored with size bytes of defaultBytes,
  // which are handed back. outSize may be null.
  PerPrinterErr RetrieveOrStoreGenericBytes(const char* key, void* buffer, unsigned short size,
                                            unsigned short* outSize, const void* defaultBytes);

  PerPrinterErr Delete(const char* key);  // removing a missing key succeeds

 protected:
  PerCIS();  // not usable until one of the m_Init members succeeds

  // Binds a store on section of type's default database file (releasing any store held
  // before). -740, object not usable, when the store cannot be had or refuses the name
  // (empty, unreadable, or longer than 193 characters).
  PerPrinterErr m_InitPerCIS(const char* section, CISType type);
  // As m_InitPerCIS, the section being the printer's text for selector (at most 255
  // characters). A text the printer cannot give whole, or whose reading leaves the
  // printer failing its checks (one without a port), leaves the object not usable (-740).
  PerPrinterErr m_InitPerCISSection(CSPerPrinter& printer, CSPerPrinterWellKnown selector,
                                    CISType type);
  int m_IsInvariant() const;  // usable: signature 12 and a store

  // Removes section (any section of this object's database file) with its entries.
  PerPrinterErr DeleteSection(const char* section);
  // Removes the section named by printer's store name (at most 64 characters; a longer
  // name gives -744 and nothing is removed). Refused on Windows NT (-740).
  PerPrinterErr DeleteSection(CSPerPrinter& printer);

 private:
  PerPrinterErr m_CopyPerCIS(const PerCIS& source);
  void m_Release();  // gives back the store; the object is then not usable

  CrossInstanceStore* m_Store;
  unsigned int m_Signature;
};

// Section "Common" of the machine's database.
class CSLIB_API PerMachine : public PerCIS {
 public:
  explicit PerMachine(PerPrinterErr& result);
  PerMachine(const PerMachine& other);
  PerMachine& operator=(const PerMachine& other);
  ~PerMachine() override;

 protected:
  PerMachine(PerPrinterErr& result, const char* section);  // a fixed machine section
};

// Section "QZF15" of the machine's database.
class CSLIB_API PerProduct : public PerMachine {
 public:
  explicit PerProduct(PerPrinterErr& result);
  PerProduct(const PerProduct& other);
  PerProduct& operator=(const PerProduct& other);
  ~PerProduct() override;
};

// Section "TestAutomation" of the machine's database.
class CSLIB_API PerTestAuto : public PerMachine {
 public:
  explicit PerTestAuto(PerPrinterErr& result);
  PerTestAuto(const PerTestAuto& other);
  PerTestAuto& operator=(const PerTestAuto& other);
  ~PerTestAuto() override;

  PerPrinterErr DeleteSection();  // removes "TestAutomation" with all its entries
};

// Section "Common" of the user's database.
class CSLIB_API PerUserMachine : public PerCIS {
 public:
  explicit PerUserMachine(PerPrinterErr& result);
  PerUserMachine(const PerUserMachine& other);
  PerUserMachine& operator=(const PerUserMachine& other);
  ~PerUserMachine() override;
};

// The section of the printer's output port ("FILE" while it prints to a file, its
// network name for a network printer on a local port). The printer is written to: it
// derives the texts it needs.
class CSLIB_API PerPort : public PerCIS {
 public:
  PerPort(PerPrinterErr& result, CSPerPrinter& printer);
  PerPort(const PerPort& other);
  PerPort& operator=(const PerPort& other);
  ~PerPort() override;
};

// The section of the printer's model name.
class CSLIB_API PerModelNumber : public PerCIS {
 public:
  PerModelNumber(PerPrinterErr& result, CSPerPrinter& printer);
  PerModelNumber(const PerModelNumber& other);
  PerModelNumber& operator=(const PerModelNumber& other);
  ~PerModelNumber() override;
};

// The section of the printer's store name (port list, comma, model name), machine-wide.
// The section stays the one bound at construction, whatever port the printer selects.
class CSLIB_API PerFriendlyName : public PerCIS {
 public:
  PerFriendlyName(PerPrinterErr& result, CSPerPrinter& printer);
  PerFriendlyName(const PerFriendlyName& other);
  PerFriendlyName& operator=(const PerFriendlyName& other);
  ~PerFriendlyName() override;

  // Removes the section named by printer's store name: -744 (nothing removed) for a
  // name over 64 characters, -740 on Windows NT or when the removal fails.
  PerPrinterErr DeleteSection(CSPerPrinter& printer);
};

// The section of the printer's store name in the user's database.
class CSLIB_API PerUserFriendlyName : public PerCIS {
 public:
  PerUserFriendlyName(PerPrinterErr& result, CSPerPrinter& printer);
  PerUserFriendlyName(const PerUserFriendlyName& other);
  PerUserFriendlyName& operator=(const PerUserFriendlyName& other);
  ~PerUserFriendlyName() override;
};

CSLIB_C_BEGIN

// Appends to names, in the order of WIN.INI's [devices], every printer whose driver
// field (up to its comma) is driver exactly and whose model name (the spooler's, else
// the printer's own name, at most 63 characters) is model exactly. -740, nothing added,
// for an unreadable model or driver (null driver: the empty text) or a list that is
// null, not valid or not empty. A full list (255) drops further printers.
CSLIB_API PerPrinterErr CSGetAllFriendlyNames(const char* model, const char* driver,
                                              CISStringList* names);
// As above, also appending each printer's port text (without a final ':') to ports,
// entry for entry.
CSLIB_API PerPrinterErr CSGetAllFriendlyNamesAndPorts(const char* model, const char* driver,
                                                      CISStringList* names, CISStringList* ports);

// Moves the machine's settings section of from's store name to to's store name (the
// user's sections stay). -740 on Windows NT or when the move fails; a store name over
// 64 characters gives -744 and nothing is moved. Same names (ASCII case ignored): 0.
CSLIB_API PerPrinterErr SwitchPort(CSPerPrinter& from, CSPerPrinter& to);

// Numbered entries of the machine's section "DEZU": the key is prefix followed by index
// in decimal ("Tray", 12: "Tray12"). -740 for any failure, a missing entry included.
CSLIB_API PerPrinterErr FindDEZUEnum(const char* prefix, unsigned short index, char* buffer,
                                     unsigned short size);
// -740, nothing written, for an unreadable prefix or value, or a failed write.
CSLIB_API PerPrinterErr SetDEZUEnum(const char* prefix, unsigned short index, const char* value);

CSLIB_C_END

#endif  // CSLIB_PERCIS_H
