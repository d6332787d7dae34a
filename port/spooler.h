// The print spooler as the printer services use it: open a printer by name, read one
// of its data values, close it. The machine's spooler today keeps each printer's data
// in SPOOLER.INI in the Windows directory; another spooler can be put beside it behind
// the same two classes without touching the printer services.
#ifndef CSLIB_PORT_SPOOLER_H
#define CSLIB_PORT_SPOOLER_H

#include <cstddef>
#include <memory>

namespace cslib::port {

// One printer opened for reading; closed when destroyed.
class SpoolerPrinter {
 public:
  virtual ~SpoolerPrinter() = default;
  // Copies the text value `name` of the printer's data, with its terminator, into
  // buffer. False (the buffer then holds nothing useful) when the printer has no such value or
  // it does not fit in size bytes (a text of size characters does not fit).
  virtual bool ReadData(const char* name, char* buffer, std::size_t size) = 0;
};

class Spooler {
 public:
  virtual ~Spooler() = default;
  // The printer called name, opened for reading; null when the spooler knows no such
  // printer or the printer cannot be opened.
  virtual std::unique_ptr<SpoolerPrinter> OpenPrinter(const char* name) = 0;
};

// The machine's spooler: SPOOLER.INI in the Windows directory, one section per
// printer (named by the printer, matched without regard to ASCII case), one entry per
// data value. A printer without a section cannot be opened.
Spooler& IniSpooler();

// The spooler every printer query goes to: the one installed with UseSpooler, else
// IniSpooler().
Spooler& CurrentSpooler();

// Installs spooler (null: back to IniSpooler()) and returns the one installed before
// (null when that was IniSpooler()). The spooler must outlive its use; meant for
// tests and for a host that brings its own spooler, set before any printer query.
Spooler* UseSpooler(Spooler* spooler);

}  // namespace cslib::port

#endif  // CSLIB_PORT_SPOOLER_H
