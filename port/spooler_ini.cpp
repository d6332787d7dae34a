// The spooler of SPOOLER.INI: printer data read through the INI engine, so the file
// follows every rule of the profile files (names without regard to case, the file's
// current content at every read). Also holds the choice of the current spooler.
#include <atomic>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "port/ini.h"
#include "port/profile.h"
#include "port/spooler.h"

namespace cslib::port {
namespace {

constexpr char kSpoolerFile[] = "SPOOLER.INI";

// A name list as ProfileReadSections and ProfileReadKeys give it, read whole: the
// buffer grows until the list is not cut.
template <typename Read>
std::vector<char> ReadWholeList(Read read) {
  std::vector<char> buffer(1024);
  for (;;) {
    const std::size_t n = read(buffer.data(), buffer.size());
    if (n + 2 < buffer.size() || buffer.size() >= (std::size_t{1} << 26)) {
      buffer.resize(n + 1);
      return buffer;
    }
    buffer.resize(buffer.size() * 4);
  }
}

// Whether the zero-separated list holds name (ASCII case ignored, blanks around it too).
bool ListHolds(const std::vector<char>& list, std::string_view name) {
  const ini::NameEqual equal;
  const std::string_view wanted = ini::Trim(name);
  std::size_t at = 0;
  while (at < list.size() && list[at] != '\0') {
    const std::string_view item(list.data() + at);
    if (equal(ini::Trim(item), wanted)) return true;
    at += item.size() + 1;
  }
  return false;
}

class IniPrinter : public SpoolerPrinter {
 public:
  explicit IniPrinter(std::string section) : section_(std::move(section)) {}

  bool ReadData(const char* name, char* buffer, std::size_t size) override {
    if (!name || !buffer || size == 0) return false;
    try {
      return Read(name, buffer, size);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

 private:
  bool Read(const char* name, char* buffer, std::size_t size) const {
    const std::vector<char> keys = ReadWholeList(
        [&](char* b, std::size_t n) { return ProfileReadKeys(kSpoolerFile, section_, "", b, n); });
    if (!ListHolds(keys, name)) return false;
    // One byte more than the caller's room shows a value that would not fit.
    std::string value(size + 1, '\0');
    const std::size_t n =
        ProfileReadValue(kSpoolerFile, section_, name, "", value.data(), value.size());
    if (n >= size) return false;
    value.copy(buffer, n);
    buffer[n] = '\0';
    return true;
  }

  std::string section_;
};

class IniSpoolerImpl : public Spooler {
 public:
  std::unique_ptr<SpoolerPrinter> OpenPrinter(const char* name) override {
    if (!name || !*name) return nullptr;
    try {
      const std::vector<char> sections = ReadWholeList(
          [](char* b, std::size_t n) { return ProfileReadSections(kSpoolerFile, b, n); });
      if (!ListHolds(sections, name)) return nullptr;
      return std::unique_ptr<SpoolerPrinter>(new (std::nothrow) IniPrinter(name));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
};

std::atomic<Spooler*> g_installed{nullptr};

}  // namespace

Spooler& IniSpooler() {
  static IniSpoolerImpl spooler;
  return spooler;
}

Spooler& CurrentSpooler() {
  Spooler* installed = g_installed.load(std::memory_order_acquire);
  return installed ? *installed : IniSpooler();
}

Spooler* UseSpooler(Spooler* spooler) {
  return g_installed.exchange(spooler, std::memory_order_acq_rel);
}

}  // namespace cslib::port
