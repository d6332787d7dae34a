// csctl's shared pieces: how a sub-command reports a failure, prints for people or as
// JSON, names result codes, finds the Windows directory and reads INI text. Each
// sub-command lives in its own file and adds itself to the command line through
// its Add*Command function.
#ifndef CSLIB_TOOLS_CSCTL_H
#define CSLIB_TOOLS_CSCTL_H

#include <cstddef>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace csctl {

using Json = nlohmann::ordered_json;

// The machine database's file name, and the longest section name a store binds to.
constexpr std::string_view kDefaultDatabase = "QZFMRC15.INI";
constexpr std::size_t kMaxStoreSection = 193;

// Options every sub-command sees.
struct Global {
  bool json = false;
};

// A failed operation. main prints "csctl: <what>: <code> <name>" (or just "csctl:
// <what>" without a code) on standard error and exits with status 1.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& what, long code = 0, bool hasCode = false)
      : std::runtime_error(what), code_(code), hasCode_(hasCode) {}
  static Failure Code(const std::string& what, long code) { return Failure(what, code, true); }
  long code() const { return code_; }
  bool hasCode() const { return hasCode_; }

 private:
  long code_;
  bool hasCode_;
};

// A command line the parser accepted but whose values make no sense (a bad number, an
// odd hex string): exits with status 2, like a parse error.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The name of a result code of the store, registry or printer families ("CISErrNotFound"),
// or "unknown" for a code none of them uses.
const char* CodeName(long code);

// Text from the library or a file is 8-bit in the system's code page; JSON wants UTF-8.
// Valid UTF-8 passes unchanged, any other byte is taken as Latin-1.
std::string ToUtf8(std::string_view text);

// Writes the result for a script: one JSON document on standard output.
void PrintJson(const Json& value);
// Writes a command's one result: `value` as JSON with --json, else `text` as one line.
void PrintResult(const Global& g, const Json& value, const std::string& text);

// Parses a number for a typed value: decimal or 0x-prefixed hex, at most `max`.
unsigned long ParseNumber(const std::string& text, unsigned long max, const char* what);
// Parses a byte string given as hex digits (blanks, ':' and '-' between bytes allowed).
std::vector<unsigned char> ParseHex(const std::string& text);
// Lower-case hex of the bytes, two digits each.
std::string Hex(const unsigned char* data, std::size_t count);

// The driver directory the library reports.
std::string DriverDirectory();

// The Windows directory as the library composes it: $CSLIB_WINDIR, else
// $XDG_STATE_HOME/cslib, else $HOME/.local/state/cslib, ending in one separator.
std::string WindowsDirectoryPrefix();

// The database path (the store's record in the map file) of a store of type `type`
// built now with fileName, as the library composes it for the current OS family.
std::string DatabasePath(int type, const std::string& fileName);

// The last component of a path ('/' or '\\' separated).
std::string Leaf(const std::string& path);

// The path the library opens for a database path: "WIN.INI" stands for the file in the
// Windows directory.
std::string DatabaseFile(const std::string& databasePath);

// An INI file's text as the profile functions read it: names match without regard to
// ASCII case, the first of two like-named sections or keys wins, comments and lines
// without '=' are no entries. Read-only: every write goes through the library.
class IniText {
 public:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;  // in file order, duplicates included
  };

  // False when the file cannot be read (a missing file reads as empty and gives true).
  bool Load(const std::string& path);
  const std::vector<Section>& sections() const { return sections_; }
  // The first section of that name, or null.
  const Section* Find(std::string_view name) const;
  // The value of the first entry of that key in the section, or null.
  static const std::string* Value(const Section& section, std::string_view key);

 private:
  std::vector<Section> sections_;
};

// ASCII-case-blind equality, as the profile functions compare names.
bool SameName(std::string_view a, std::string_view b);

void AddStoreCommand(CLI::App& app, Global& global);
void AddMapCommand(CLI::App& app, Global& global);
void AddPrinterCommand(CLI::App& app, Global& global);
void AddRegCommand(CLI::App& app, Global& global);
void AddSysinfoCommand(CLI::App& app, Global& global);

}  // namespace csctl

#endif  // CSLIB_TOOLS_CSCTL_H
