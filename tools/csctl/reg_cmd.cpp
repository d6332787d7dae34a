// csctl reg: read and change the registry store. Keys are written ROOT\path\key, the
// root by its full name or its short form (HKLM, HKCU, HKU, HKCR); every operation
// goes through CISReg, and the key's existence is asked of RegKey.
#include <cslib.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>

#include "csctl.h"

namespace csctl {
namespace {

// Big enough for any value the store's 16-bit sizes can carry.
constexpr unsigned short kValueRoom = 65535;

struct RegOptions {
  std::string key;
  std::string name;
  std::optional<std::string> value;
  std::optional<std::string> dword;
  std::optional<std::string> binary;
  std::vector<std::string> multi;
};

struct Root {
  const char* name;
  const char* shortName;
  std::uintptr_t handle;
};

constexpr Root kRoots[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", 0x80000002u},
    {"HKEY_CURRENT_USER", "HKCU", 0x80000001u},
    {"HKEY_USERS", "HKU", 0x80000003u},
    {"HKEY_CLASSES_ROOT", "HKCR", 0x80000000u},
};

// A key name split into its root and the key list CISReg takes.
class KeyName {
 public:
  explicit KeyName(const std::string& text) : text_(text) {
    const std::size_t cut = text.find('\\');
    const std::string root = text.substr(0, cut);
    for (const Root& r : kRoots)
      if (SameName(root, r.name) || SameName(root, r.shortName)) root_ = &r;
    if (!root_)
      throw UsageError("'" + root +
                       "' is not a root: use HKEY_LOCAL_MACHINE (HKLM), "
                       "HKEY_CURRENT_USER (HKCU), HKEY_USERS (HKU) or HKEY_CLASSES_ROOT (HKCR)");
    if (cut == std::string::npos || cut + 1 == text.size())
      throw UsageError("'" + text + "' names no key below the root (ROOT\\path\\key)");
    path_ = text.substr(cut + 1);
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = path_.find('\\', start);
      const std::string part = path_.substr(start, end - start);
      if (part.empty()) throw UsageError("'" + text + "' holds an empty key name");
      parts_.push_back(part);
      const CISStrErr added = list_.Add(part.c_str());
      if (added != CISStrOk) throw Failure::Code("key '" + text + "' cannot be listed", added);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  const char* root() const { return root_->name; }
  const std::vector<std::string>& parts() const { return parts_; }
  const CISStringList* list() const { return &list_; }
  const std::string& text() const { return text_; }

  // True when the key exists. Asked of RegKey, which opens it without creating it.
  bool Exists() const {
    CISRegErr result = CISRegErrFailed;
    const RegKey key(&result, reinterpret_cast<void*>(root_->handle), path_.c_str(), CISsamNormal,
                     REGattribOpen, nullptr);
    return result == CISRegOk && key.m_Key != nullptr;
  }

 private:
  std::string text_;
  const Root* root_ = nullptr;
  std::string path_;
  std::vector<std::string> parts_;
  CISStringList list_;
};

// CISReg creates only the leaf of a key; a person setting a value expects the whole
// path to be made, so each missing level is created as the leaf of a shorter list.
void CreatePath(const KeyName& key, const std::string& what) {
  CISStringList prefix;
  for (std::size_t i = 0; i + 1 < key.parts().size(); ++i) {
    const CISStrErr added = prefix.Add(key.parts()[i].c_str());
    if (added != CISStrOk) throw Failure::Code(what, added);
    CISRegErr result = CISRegOk;
    CISReg level(&result, key.root(), &prefix);
    if (result == CISRegOk) result = level.Store(nullptr, CISsamNormal);
    if (result != CISRegOk) throw Failure::Code(what + ": the path cannot be created", result);
  }
}

std::unique_ptr<CISReg> Select(const KeyName& key, const std::string& what) {
  CISRegErr result = CISRegOk;
  auto reg = std::make_unique<CISReg>(&result, key.root(), key.list());
  if (result != CISRegOk) throw Failure::Code(what, result);
  return reg;
}

std::string ValueLabel(const std::string& name) {
  return name.empty() ? "(default)" : name;
}

void Get(const Global& g, const RegOptions& o) {
  const KeyName key(o.key);
  const std::string what = "reg get " + o.key + " " + ValueLabel(o.name);
  auto reg = Select(key, what);
  Json out{{"key", ToUtf8(o.key)}, {"name", ToUtf8(o.name)}};

  std::string text(static_cast<std::size_t>(kValueRoom) + 1, '\0');
  CISRegErr r = reg->Retrieve(o.name.c_str(), text.data(), kValueRoom - 1, nullptr);
  if (r == CISRegOk) {
    text.resize(text.find('\0'));
    out["type"] = "REG_SZ";
    out["value"] = ToUtf8(text);
    PrintResult(g, out, text);
    return;
  }
  if (r != CISRegErrType) throw Failure::Code(what, r);

  // Not a string: find its type among those the store can name.
  std::vector<unsigned char> data(kValueRoom);
  unsigned short length = 0;
  const char* type = nullptr;
  for (const char* t : {"REG_DWORD", "REG_BINARY", "REG_MULTI_SZ"}) {
    r = reg->Retrieve(o.name.c_str(), data.data(), kValueRoom, &length, t, nullptr, 0);
    if (r == CISRegOk) {
      type = t;
      break;
    }
    if (r != CISRegErrType) throw Failure::Code(what, r);
  }
  data.resize(length);
  out["type"] = type ? type : "other";
  std::string shown;
  if (type && std::string(type) == "REG_DWORD" && length == 4) {
    const unsigned long v =
        data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<unsigned long>(data[3]) << 24);
    out["value"] = v;
    shown = std::to_string(v);
  } else if (type && std::string(type) == "REG_MULTI_SZ") {
    Json items = Json::array();
    std::string item;
    for (unsigned char c : data) {
      if (c != 0) {
        item += static_cast<char>(c);
        continue;
      }
      if (item.empty()) break;
      items.push_back(ToUtf8(item));
      shown += item + '\n';
      item.clear();
    }
    if (!shown.empty()) shown.pop_back();
    out["value"] = std::move(items);
  } else {
    shown = Hex(data.data(), data.size());
    out["value"] = shown;
  }
  PrintResult(g, out, shown);
}

void Set(const Global& g, const RegOptions& o) {
  const int given =
      o.value.has_value() + o.dword.has_value() + o.binary.has_value() + (o.multi.empty() ? 0 : 1);
  if (given != 1)
    throw UsageError("reg set: give exactly one of VALUE, --dword, --binary, --multi");
  const KeyName key(o.key);
  const std::string what = "reg set " + o.key + " " + ValueLabel(o.name);
  if (!key.Exists()) CreatePath(key, what);
  auto reg = Select(key, what);
  Json out{{"key", ToUtf8(o.key)}, {"name", ToUtf8(o.name)}};
  CISRegErr r = CISRegOk;
  std::string shown;
  if (o.value) {
    shown = *o.value;
    out["type"] = "REG_SZ";
    out["value"] = ToUtf8(*o.value);
    r = reg->Store(o.name.empty() ? nullptr : o.name.c_str(), o.value->c_str(), CISsamNormal);
  } else {
    std::vector<unsigned char> data;
    const char* type = "REG_BINARY";
    if (o.dword) {
      type = "REG_DWORD";
      const unsigned long v = ParseNumber(*o.dword, 0xFFFFFFFFul, "--dword");
      for (int i = 0; i < 4; ++i) data.push_back(static_cast<unsigned char>(v >> (8 * i)));
      out["value"] = v;
      shown = std::to_string(v);
    } else if (o.binary) {
      data = ParseHex(*o.binary);
      shown = Hex(data.data(), data.size());
      out["value"] = shown;
    } else {
      type = "REG_MULTI_SZ";
      Json items = Json::array();
      for (const std::string& s : o.multi) {
        if (s.empty()) throw UsageError("--multi: a multi-string holds no empty text");
        data.insert(data.end(), s.begin(), s.end());
        data.push_back(0);
        items.push_back(ToUtf8(s));
        shown += (shown.empty() ? "" : ", ") + s;
      }
      data.push_back(0);
      out["value"] = std::move(items);
    }
    if (data.size() > kValueRoom) throw UsageError("reg set: the value is over 65535 bytes");
    out["type"] = type;
    r = reg->Store(o.name.c_str(), data.data(), static_cast<unsigned short>(data.size()), type,
                   CISsamNormal);
  }
  if (r != CISRegOk) throw Failure::Code(what, r);
  PrintResult(g, out, o.key + " " + ValueLabel(o.name) + " = " + shown);
}

void List(const Global& g, const RegOptions& o) {
  const KeyName key(o.key);
  const std::string what = "reg list " + o.key;
  auto reg = Select(key, what);
  CISStringList names;
  const CISRegErr r = reg->Retrieve(&names);
  // A full list (255 names) refuses the next name: what it holds is still worth showing.
  const bool cut = r == CISRegErrNotFound && names.Count() == 255;
  if (r != CISRegOk && !cut) throw Failure::Code(what, r);
  Json list = Json::array();
  for (unsigned i = 1; i <= names.Count(); ++i) {
    const char* n = names.Find(static_cast<unsigned char>(i));
    if (!n) break;
    list.push_back(ToUtf8(n));
    if (!g.json) std::cout << n << '\n';
  }
  if (cut) std::cerr << "csctl: " << what << ": only the first 255 subkeys are listed\n";
  if (g.json) PrintJson(Json{{"key", ToUtf8(o.key)}, {"subkeys", std::move(list)}});
}

void DeleteValue(const Global& g, const RegOptions& o) {
  const KeyName key(o.key);
  const std::string what = "reg delete " + o.key + " " + ValueLabel(o.name);
  // CISReg creates a missing key to delete a value from it; a typo must not do that.
  if (!key.Exists()) throw Failure::Code(what + ": no such key", CISRegErrNotFound);
  auto reg = Select(key, what);
  const CISRegErr r = reg->Delete(o.name.c_str(), nullptr);
  if (r != CISRegOk) throw Failure::Code(what, r);
  PrintResult(g, Json{{"key", ToUtf8(o.key)}, {"deleted", ToUtf8(o.name)}},
              "deleted " + o.key + " " + ValueLabel(o.name));
}

void DeleteKey(const Global& g, const RegOptions& o) {
  const KeyName key(o.key);
  const std::string what = "reg delete-key " + o.key;
  if (!key.Exists()) throw Failure::Code(what + ": no such key", CISRegErrNotFound);
  auto reg = Select(key, what);
  const CISRegErr r = reg->Delete(key.root(), key.list(), CISsamNormal);
  if (r != CISRegOk) throw Failure::Code(what + " (a key with subkeys is kept)", r);
  PrintResult(g, Json{{"deleted", ToUtf8(o.key)}}, "deleted " + o.key);
}

}  // namespace

void AddRegCommand(CLI::App& app, Global& global) {
  auto o = std::make_shared<RegOptions>();
  CLI::App* reg = app.add_subcommand(
      "reg",
      "Read and change the registry store (keys as ROOT\\path\\key, e.g. HKLM\\Software\\X)");
  reg->require_subcommand(1);

  CLI::App* get =
      reg->add_subcommand("get", "Print one value (the key's default value without NAME)");
  get->add_option("key", o->key, "ROOT\\path\\key")->required();
  get->add_option("name", o->name, "Value name");
  get->callback([&global, o] { Get(global, *o); });

  CLI::App* set = reg->add_subcommand("set", "Store one value (a string unless a type is given)");
  set->add_option("key", o->key, "ROOT\\path\\key (created when missing)")->required();
  set->add_option("name", o->name, "Value name (\"\" for the key's default value)")->required();
  set->add_option("value", o->value, "String value");
  set->add_option("--dword", o->dword, "REG_DWORD value (decimal or 0x hex)");
  set->add_option("--binary", o->binary, "REG_BINARY value as hex digits");
  set->add_option("--multi", o->multi, "REG_MULTI_SZ: one text per --multi");
  set->callback([&global, o] { Set(global, *o); });

  CLI::App* list = reg->add_subcommand("list", "List the subkeys of a key");
  list->add_option("key", o->key, "ROOT\\path\\key")->required();
  list->callback([&global, o] { List(global, *o); });

  CLI::App* del = reg->add_subcommand("delete", "Delete one value of a key");
  del->add_option("key", o->key, "ROOT\\path\\key")->required();
  del->add_option("name", o->name, "Value name (\"\" for the key's default value)")->required();
  del->callback([&global, o] { DeleteValue(global, *o); });

  CLI::App* delkey = reg->add_subcommand("delete-key", "Delete a key that has no subkeys");
  delkey->add_option("key", o->key, "ROOT\\path\\key")->required();
  delkey->callback([&global, o] { DeleteKey(global, *o); });
}

}  // namespace csctl
