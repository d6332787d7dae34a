// csctl's helpers shared by the sub-commands: text for JSON, number and hex parsing,
// the Windows directory and database paths as the library composes them, and a
// read-only INI reader for listing what a file holds.
#include <cslib.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "csctl.h"

namespace csctl {
namespace {

constexpr std::string_view kWinIni = "WIN.INI";

constexpr const char* kSeparators = "/\\";

// Length of the valid UTF-8 sequence at text[i], or 0 when there is none.
std::size_t Utf8Sequence(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  std::size_t n = 0;
  unsigned char lowest = 0x80;
  unsigned char highest = 0xBF;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lowest = 0xA0;
    if (c == 0xED) highest = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lowest = 0x90;
    if (c == 0xF4) highest = 0x8F;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  if (byte(i + 1) < lowest || byte(i + 1) > highest) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return n;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8Sequence(text, i);
    if (n > 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      const unsigned char c = static_cast<unsigned char>(text[i++]);
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void PrintJson(const Json& value) {
  std::cout << value.dump(2) << '\n';
}

void PrintResult(const Global& g, const Json& value, const std::string& text) {
  if (g.json)
    PrintJson(value);
  else
    std::cout << text << '\n';
}

unsigned long ParseNumber(const std::string& text, unsigned long max, const char* what) {
  std::string_view digits(text);
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  unsigned long value = 0;
  bool any = false;
  for (char c : digits) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) throw UsageError(std::string(what) + ": '" + text + "' is not a number");
    if (value > (max - static_cast<unsigned long>(d)) / static_cast<unsigned long>(base))
      throw UsageError(std::string(what) + ": " + text + " is more than " + std::to_string(max));
    value = value * static_cast<unsigned long>(base) + static_cast<unsigned long>(d);
    any = true;
  }
  if (!any) throw UsageError(std::string(what) + ": '" + text + "' is not a number");
  return value;
}

std::vector<unsigned char> ParseHex(const std::string& text) {
  std::vector<unsigned char> bytes;
  int high = -1;
  for (char c : text) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) {
      // Separators may stand between bytes only, never inside one.
      if ((c == ' ' || c == ':' || c == '-') && high < 0) continue;
      throw UsageError("--bytes: '" + text + "' is not a hex byte string");
    }
    if (high < 0) {
      high = d;
    } else {
      bytes.push_back(static_cast<unsigned char>(high * 16 + d));
      high = -1;
    }
  }
  if (high >= 0) throw UsageError("--bytes: '" + text + "' has an odd number of hex digits");
  if (bytes.empty()) throw UsageError("--bytes: no bytes given");
  return bytes;
}

std::string Hex(const unsigned char* data, std::size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0x0F];
  }
  return out;
}

std::string DriverDirectory() {
  const unsigned short size = CSGetPrinterDriverDirectory(nullptr);
  if (size == 0) throw Failure("the driver directory cannot be had");
  std::string buffer(static_cast<std::size_t>(size) + 1, '\0');
  const unsigned short length = CSGetPrinterDriverDirectory(buffer.data());
  if (length == 0) throw Failure("the driver directory cannot be had");
  buffer.resize(length);
  return buffer;
}

std::string WindowsDirectoryPrefix() {
  // The library tells where the system directory is (the driver directory, on every
  // family but NT); the Windows directory is the one above it.
  std::string path = DriverDirectory();
  for (std::string_view tail : {"system32/spool/drivers/w32x86/2", "system32"}) {
    if (path.size() >= tail.size() &&
        path.compare(path.size() - tail.size(), tail.size(), tail.data(), tail.size()) == 0) {
      path.resize(path.size() - tail.size());
      return path;
    }
  }
  throw Failure("the Windows directory cannot be told from the driver directory " + path);
}

std::string DatabasePath(int type, const std::string& fileName) {
  if (type == CISTypeWinIni) return std::string(kWinIni);
  if (type == CISTypeNamedFile) {
    if (CSGetOSVersion() != CSOSWinNT) return fileName;
    return WindowsDirectoryPrefix() + Leaf(fileName);
  }
  return WindowsDirectoryPrefix() + std::string(kDefaultDatabase);
}

std::string Leaf(const std::string& path) {
  const std::size_t cut = path.find_last_of(kSeparators);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string DatabaseFile(const std::string& databasePath) {
  if (databasePath.find_first_of(kSeparators) != std::string::npos) return databasePath;
  return WindowsDirectoryPrefix() + databasePath;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool IniText::Load(const std::string& path) {
  sections_.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    // A file that is not there holds nothing; one that is there but unreadable is a fault.
    std::error_code ec;
    return !std::filesystem::exists(path, ec) && !ec;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  std::string_view rest(text);
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);

  Section* current = nullptr;
  while (!rest.empty()) {
    std::size_t end = rest.find_first_of("\r\n");
    std::string_view line = rest.substr(0, end);
    if (end == std::string_view::npos) {
      rest = {};
    } else {
      rest.remove_prefix(end + (rest.substr(end, 2) == "\r\n" ? 2 : 1));
    }
    line = line.substr(0, line.find('\0'));
    line = Trim(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        sections_.push_back(Section{std::string(Trim(line.substr(1, close - 1))), {}});
        current = &sections_.back();
        continue;
      }
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || !current) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    current->entries.push_back(Entry{std::string(Trim(line.substr(0, eq))), std::string(value)});
  }
  return true;
}

const IniText::Section* IniText::Find(std::string_view name) const {
  for (const Section& s : sections_)
    if (SameName(s.name, name)) return &s;
  return nullptr;
}

const std::string* IniText::Value(const Section& section, std::string_view key) {
  for (const Entry& e : section.entries)
    if (SameName(e.key, key)) return &e.value;
  return nullptr;
}

}  // namespace csctl
