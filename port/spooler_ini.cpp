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

// Whether the list holds name (ASCII case ignored, blanks around it too).
bool ListHolds(const std::vector<std::string_view>& list, std::string_view name) {
  const ini::NameEqual equal;
  const std::string_view wanted = ini::Trim(name);
  for (std::string_view item : list)
    if (equal(ini::Trim(item), wanted)) return true;
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
    const ProfileView spooler(kSpoolerFile);
    if (!ListHolds(spooler.KeyNames(section_), name)) return false;
    // One byte more than the caller's room shows a value that would not fit.
    std::string value(size + 1, '\0');
    const std::size_t n = spooler.ReadValue(section_, name, "", value.data(), value.size());
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
      if (!ListHolds(ProfileView(kSpoolerFile).SectionNames(), name)) return nullptr;
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
