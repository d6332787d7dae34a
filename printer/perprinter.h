// Pieces shared by the printer services' sources: the text slots a printer keeps in
// memory blocks, the rule by which every kept text is handed out, and the model-name
// query through the spooler (also used by the printer enumeration).
#ifndef CSLIB_PRINTER_PERPRINTER_H
#define CSLIB_PRINTER_PERPRINTER_H

#include <cstddef>

#include "cslib/printer.h"

namespace cslib::printer {

inline constexpr unsigned int kSignature = 74;
inline constexpr std::size_t kMaxNameLen = 256;
inline constexpr std::size_t kMaxPortLen = 127;
inline constexpr unsigned short kModelRoom = 64;  // real name: at most 63 characters

// Fills an unset slot with the first length characters of text and a terminator:
// length + 1 bytes in block, 2-byte aligned, locked until EmptySlot. -740 when the
// block is missing, the length does not fit 16 bits, or memory cannot be had (the slot
// stays unset then).
PerPrinterErr FillSlot(CSMemBlock* block, const char* text, std::size_t length, char** slot,
                       unsigned short* slotLength);
// Unlocks and frees a set slot and leaves it unset.
void EmptySlot(CSMemBlock* block, char** slot, unsigned short* slotLength);

// Hands out a kept text: its first min(length, max) characters and a zero byte; -744
// when the text is longer than max. A null text is the empty text.
PerPrinterErr CopyOut(const char* text, std::size_t length, char* buffer, unsigned short max);

// The model name of the printer called printerName, as the spooler's value "Printer
// Model Name" (at most 32 characters), into out (room bytes: at most room - 1
// characters and a terminator). When the spooler has none, the printer's name stands
// for it and the result is 0; a model name cut to fit gives -744.
PerPrinterErr QueryModelName(const char* printerName, char* out, unsigned short room);

// The value "QZCFileName" stored for model: looked up in the model's section of the
// default database, then in "Common". Delivers at most size - 1 characters and a
// terminator into buffer, and the whole value's length (up to 65534) into *length.
// -742 when neither section holds a value, -740 for any other store failure.
PerPrinterErr LookupCFileName(const char* model, char* buffer, std::size_t size,
                              std::size_t* length);

}  // namespace cslib::printer

#endif  // CSLIB_PRINTER_PERPRINTER_H
