// csctl store: read and change the cross-instance store's settings. Every value goes
// through the library's store, so hex text and the section map follow its rules;
// only the lists of sections and keys are read from the database file's text.
#include <cslib.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "csctl.h"

namespace csctl {
namespace {

struct StoreOptions {
  std::string db = "machine";
  std::string file;
  std::string section;
  std::string key;
  std::string source;
  std::string target;
  std::optional<std::string> value;
  std::optional<std::string> dword;
  std::optional<std::string> word;
  std::optional<std::string> byte;
  std::optional<std::string> bytes;
  bool getDword = false;
  bool getWord = false;
  bool getByte = false;
  bool getBytes = false;
  bool values = false;
};

CISType TypeOf(const StoreOptions& o) {
  if (!o.file.empty()) {
    if (o.db != "machine" && o.db != "file") throw UsageError("--file goes with --db file only");
    return CISTypeNamedFile;
  }
  if (o.db == "user") return CISTypeUser;
  if (o.db == "winini") return CISTypeWinIni;
  if (o.db == "file") throw UsageError("--db file needs --file PATH");
  return CISTypeMachine;
}

// A store bound to `section`. The library falls back to "Common" for a name it cannot
// bind; that fallback would make the tool touch a section the user did not name.
std::unique_ptr<CrossInstanceStore> OpenStore(const StoreOptions& o, const std::string& section,
                                              const std::string& what) {
  const CISType type = TypeOf(o);
  CISErr result = CISOk;
  auto store = std::make_unique<CrossInstanceStore>(result, section.c_str(), type, o.file.c_str());
  if (result != CISOk) {
    if (section.empty() || section.size() > kMaxStoreSection)
      throw Failure::Code(what + ": section name must have 1 to 193 characters", result);
    throw Failure::Code(what + ": the store cannot be set up", result);
  }
  return store;
}

std::string Where(const std::string& section, const std::string& key) {
  return "[" + section + "] " + key;
}

Json Describe(const StoreOptions& o) {
  const std::string path = DatabasePath(TypeOf(o), o.file);
  return Json{{"database", ToUtf8(path)}, {"file", ToUtf8(DatabaseFile(path))}};
}

// A string value, whole (up to the 65407 characters the store measures).
std::string ReadString(CrossInstanceStore& store, const std::string& key, CISErr* result) {
  const unsigned short length = store.RetrieveSizeStr(key.c_str());
  std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
  *result =
      store.RetrieveStr(key.c_str(), buffer.data(), static_cast<unsigned short>(buffer.size()));
  if (*result != CISOk) return {};
  buffer.resize(length);
  return buffer.substr(0, buffer.find('\0'));
}

void Get(const Global& g, const StoreOptions& o) {
  auto store = OpenStore(o, o.section, "store get");
  const std::string what = "store get " + Where(o.section, o.key);
  Json out = Describe(o);
  out["section"] = ToUtf8(o.section);
  out["key"] = ToUtf8(o.key);

  unsigned short size = 0;
  const char* type = "string";
  if (o.getByte) size = 1, type = "byte";
  if (o.getWord) size = 2, type = "word";
  if (o.getDword) size = 4, type = "dword";
  if (o.getBytes) {
    type = "bytes";
    size = store->RetrieveSizeBytes(o.key.c_str());
    if (size == 0) size = 1;  // lets the store report the missing entry itself
  }
  out["type"] = type;

  if (size == 0) {
    CISErr r = CISOk;
    const std::string value = ReadString(*store, o.key, &r);
    if (r != CISOk) throw Failure::Code(what, r);
    out["value"] = ToUtf8(value);
    PrintResult(g, out, value);
    return;
  }

  std::vector<unsigned char> data(size, 0);
  unsigned short count = 0;
  const CISErr r = store->RetrieveGenericBytes(o.key.c_str(), data.data(), size, &count, nullptr);
  if (r == CISErrTruncated)
    throw Failure::Code(
        what + ": the stored text holds more than " + std::to_string(size) + " byte(s)", r);
  if (r != CISOk) throw Failure::Code(what, r);
  if (o.getBytes) {
    const std::string hex = Hex(data.data(), count);
    out["value"] = hex;
    PrintResult(g, out, hex);
    return;
  }
  // Stored least significant byte first, as on the 32-bit target.
  unsigned long value = 0;
  for (unsigned short i = size; i-- > 0;) value = (value << 8) | data[i];
  out["value"] = value;
  std::ostringstream text;
  text << value << " (0x" << std::hex << value << ")";
  PrintResult(g, out, text.str());
}

void Set(const Global& g, const StoreOptions& o) {
  const int given = o.value.has_value() + o.dword.has_value() + o.word.has_value() +
                    o.byte.has_value() + o.bytes.has_value();
  if (given != 1)
    throw UsageError("store set: give exactly one of VALUE, --dword, --word, --byte, --bytes");
  auto store = OpenStore(o, o.section, "store set");
  const std::string what = "store set " + Where(o.section, o.key);
  Json out = Describe(o);
  out["section"] = ToUtf8(o.section);
  out["key"] = ToUtf8(o.key);

  CISErr r = CISOk;
  std::string stored;
  if (o.value) {
    out["type"] = "string";
    r = store->StoreStr(o.key.c_str(), o.value->c_str());
    stored = *o.value;
  } else if (o.bytes) {
    out["type"] = "bytes";
    const std::vector<unsigned char> data = ParseHex(*o.bytes);
    if (data.size() > 32767) throw UsageError("--bytes: at most 32767 bytes");
    r = store->StoreGenericBytes(o.key.c_str(), data.data(),
                                 static_cast<unsigned short>(data.size()));
    stored = Hex(data.data(), data.size());
  } else if (o.dword) {
    out["type"] = "dword";
    unsigned long v = ParseNumber(*o.dword, 0xFFFFFFFFul, "--dword");
    r = store->StoreDWord(o.key.c_str(), v);
    const unsigned char le[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                 static_cast<unsigned char>(v >> 16),
                                 static_cast<unsigned char>(v >> 24)};
    stored = Hex(le, 4);
  } else if (o.word) {
    out["type"] = "word";
    unsigned short v = static_cast<unsigned short>(ParseNumber(*o.word, 0xFFFF, "--word"));
    r = store->StoreWord(o.key.c_str(), v);
    const unsigned char le[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    stored = Hex(le, 2);
  } else {
    out["type"] = "byte";
    unsigned char v = static_cast<unsigned char>(ParseNumber(*o.byte, 0xFF, "--byte"));
    r = store->StoreOneByte(o.key.c_str(), v);
    stored = Hex(&v, 1);
  }
  if (r != CISOk) throw Failure::Code(what, r);
  out["stored"] = ToUtf8(stored);
  PrintResult(g, out, Where(o.section, o.key) + " = " + stored);
}

void Delete(const Global& g, const StoreOptions& o) {
  auto store = OpenStore(o, o.section, "store delete");
  const CISErr r = store->Delete(o.key.c_str());
  if (r != CISOk) throw Failure::Code("store delete " + Where(o.section, o.key), r);
  Json out = Describe(o);
  out["section"] = ToUtf8(o.section);
  out["deleted"] = ToUtf8(o.key);
  PrintResult(g, out, "deleted " + Where(o.section, o.key));
}

IniText LoadDatabase(const StoreOptions& o, const std::string& what) {
  const std::string file = DatabaseFile(DatabasePath(TypeOf(o), o.file));
  IniText ini;
  if (!ini.Load(file)) throw Failure(what + ": " + file + " cannot be read");
  return ini;
}

void Keys(const Global& g, const StoreOptions& o) {
  const std::string what = "store keys [" + o.section + "]";
  // Set up the store first: it refuses what the library refuses, as every command does.
  std::unique_ptr<CrossInstanceStore> store = OpenStore(o, o.section, what);
  const IniText ini = LoadDatabase(o, what);
  const IniText::Section* section = ini.Find(o.section);
  if (!section || section->entries.empty())
    throw Failure::Code(what + ": no such section or no entries", CISErrNotFound);

  Json out = Describe(o);
  out["section"] = ToUtf8(section->name);
  Json keys = Json::array();
  for (const IniText::Entry& e : section->entries) {
    Json item{{"key", ToUtf8(e.key)}};
    std::string value;
    if (o.values) {
      CISErr r = CISOk;
      value = ReadString(*store, e.key, &r);
      item["value"] = r == CISOk ? Json(ToUtf8(value)) : Json(nullptr);
    }
    if (!g.json) std::cout << e.key << (o.values ? "=" + value : std::string()) << '\n';
    keys.push_back(std::move(item));
  }
  out["keys"] = std::move(keys);
  if (g.json) PrintJson(out);
}

void Sections(const Global& g, const StoreOptions& o) {
  const IniText ini = LoadDatabase(o, "store sections");
  Json out = Describe(o);
  Json names = Json::array();
  for (const IniText::Section& s : ini.sections()) {
    // The profile functions never reach a second like-named section.
    if (ini.Find(s.name) != &s) continue;
    names.push_back(ToUtf8(s.name));
    if (!g.json) std::cout << s.name << '\n';
  }
  out["sections"] = std::move(names);
  if (g.json) PrintJson(out);
}

void MoveSection(const Global& g, const StoreOptions& o) {
  auto store = OpenStore(o, "Common", "store move-section");
  const CISErr r = store->MoveSection(o.source.c_str(), o.target.c_str());
  if (r != CISOk)
    throw Failure::Code("store move-section [" + o.source + "] to [" + o.target + "]", r);
  Json out = Describe(o);
  out["moved"] = ToUtf8(o.source);
  out["to"] = ToUtf8(o.target);
  PrintResult(g, out, "moved [" + o.source + "] to [" + o.target + "]");
}

void DeleteSection(const Global& g, const StoreOptions& o) {
  auto store = OpenStore(o, "Common", "store delete-section");
  const CISErr r = store->DeleteSection(o.section.c_str());
  if (r != CISOk) throw Failure::Code("store delete-section [" + o.section + "]", r);
  Json out = Describe(o);
  out["deleted"] = ToUtf8(o.section);
  PrintResult(g, out, "deleted [" + o.section + "]");
}

}  // namespace

void AddStoreCommand(CLI::App& app, Global& global) {
  auto o = std::make_shared<StoreOptions>();
  CLI::App* store = app.add_subcommand(
      "store", "Read and change settings of the cross-instance store (its INI databases)");
  store->require_subcommand(1);
  store->add_option("--db", o->db, "Database: machine (default), user, winini, file")
      ->check(CLI::IsMember({"machine", "user", "winini", "file"}));
  store->add_option("--file", o->file, "The named database file (implies --db file)");

  CLI::App* get = store->add_subcommand("get", "Print one value");
  get->add_option("section", o->section, "Section name")->required();
  get->add_option("key", o->key, "Key")->required();
  CLI::Option* fd = get->add_flag("--dword", o->getDword, "Read a double word (4 hex bytes)");
  CLI::Option* fw = get->add_flag("--word", o->getWord, "Read a word (2 hex bytes)");
  CLI::Option* fb = get->add_flag("--byte", o->getByte, "Read one byte");
  CLI::Option* fs = get->add_flag("--bytes", o->getBytes, "Read a byte string, printed as hex");
  fd->excludes(fw, fb, fs);
  fw->excludes(fb, fs);
  fb->excludes(fs);
  get->callback([&global, o] { Get(global, *o); });

  CLI::App* set = store->add_subcommand("set", "Store one value, a string or a typed one");
  set->add_option("section", o->section, "Section name")->required();
  set->add_option("key", o->key, "Key")->required();
  set->add_option("value", o->value, "String value");
  set->add_option("--dword", o->dword, "Double word (decimal or 0x hex)");
  set->add_option("--word", o->word, "Word (decimal or 0x hex)");
  set->add_option("--byte", o->byte, "Byte (decimal or 0x hex)");
  set->add_option("--bytes", o->bytes, "Byte string as hex digits, e.g. 00abff");
  set->callback([&global, o] { Set(global, *o); });

  CLI::App* del = store->add_subcommand("delete", "Delete one key");
  del->add_option("section", o->section, "Section name")->required();
  del->add_option("key", o->key, "Key")->required();
  del->callback([&global, o] { Delete(global, *o); });

  CLI::App* keys = store->add_subcommand("keys", "List the keys of a section");
  keys->add_option("section", o->section, "Section name")->required();
  keys->add_flag("--values", o->values, "Also read each value (as a string) through the store");
  keys->callback([&global, o] { Keys(global, *o); });

  CLI::App* sections = store->add_subcommand("sections", "List the sections of the database");
  sections->callback([&global, o] { Sections(global, *o); });

  CLI::App* move = store->add_subcommand("move-section", "Move every entry to another section");
  move->add_option("source", o->source, "Section to move")->required();
  move->add_option("target", o->target, "Section to move it to")->required();
  move->callback([&global, o] { MoveSection(global, *o); });

  CLI::App* delsec = store->add_subcommand("delete-section", "Delete a section and its entries");
  delsec->add_option("section", o->section, "Section name")->required();
  delsec->callback([&global, o] { DeleteSection(global, *o); });
}

}  // namespace csctl
