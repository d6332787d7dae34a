// csctl map: the section map ("DefMap;<section>" sections of QZFCSS15.INI, recording
// which database file each key was first used through) and the location entries that
// override it. `check` finds the keys whose record differs from the database a store
// would use now (the keys a store raises its mismatch notice for); `clear` removes such
// records, through the library, from the map file only.
#include <cslib.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>

#include "csctl.h"

namespace csctl {
namespace {

constexpr std::string_view kMapPrefix = "DefMap;";
constexpr std::string_view kConfigSection = "CISConfig";
constexpr std::string_view kMapFileName = "QZFCSS15.INI";

struct MapOptions {
  std::string db;
  std::string file;
  std::string section;
  bool all = false;
};

// One key's record as the store's locate step finds it.
struct Record {
  std::string section;
  std::string key;
  std::string database;   // the path found
  bool location = false;  // from a location entry, which takes precedence over the map
  std::string expected;   // what a store would use now
  bool stale = false;
};

std::string MapFile() {
  return WindowsDirectoryPrefix() + std::string(kMapFileName);
}

bool IsMapSection(std::string_view name) {
  return name.size() >= kMapPrefix.size() &&
         SameName(name.substr(0, kMapPrefix.size()), kMapPrefix);
}

// The database a store would use now for a key recorded as `recorded`: the one the
// options name, or else a store of the kind that wrote the record.
std::string Expected(const MapOptions& o, const std::string& recorded) {
  if (!o.file.empty()) return DatabasePath(CISTypeNamedFile, o.file);
  if (o.db == "winini") return DatabasePath(CISTypeWinIni, "");
  if (o.db == "machine" || o.db == "user") return DatabasePath(CISTypeMachine, "");
  if (recorded == "WIN.INI") return DatabasePath(CISTypeWinIni, "");
  if (Leaf(recorded) == kDefaultDatabase) return DatabasePath(CISTypeMachine, "");
  return DatabasePath(CISTypeNamedFile, recorded);
}

// Every key the map file records, with the record its locate step would find. The
// locate step reads the record with room for the expected path only, so a longer record
// that begins with it counts as a match.
std::vector<Record> Records(const MapOptions& o, const IniText& map) {
  std::vector<Record> records;
  const auto add = [&](const std::string& section, const std::string& key) {
    for (const Record& r : records)
      if (SameName(r.section, section) && SameName(r.key, key)) return;
    Record r{section, key, {}, false, {}, false};
    const IniText::Section* own = map.Find(section);
    const std::string* location = own ? IniText::Value(*own, key) : nullptr;
    if (location && !location->empty()) {
      r.database = *location;
      r.location = true;
    } else {
      const IniText::Section* mapped = map.Find(std::string(kMapPrefix) + section);
      const std::string* value = mapped ? IniText::Value(*mapped, key) : nullptr;
      if (!value || value->empty()) return;
      r.database = *value;
    }
    r.expected = Expected(o, r.database);
    r.stale = r.database.compare(0, r.expected.size(), r.expected) != 0 ||
              r.database.size() < r.expected.size();
    records.push_back(std::move(r));
  };
  for (const IniText::Section& s : map.sections()) {
    if (SameName(s.name, kConfigSection) || map.Find(s.name) != &s) continue;
    const std::string section = IsMapSection(s.name) ? s.name.substr(kMapPrefix.size()) : s.name;
    if (!o.section.empty() && !SameName(section, o.section)) continue;
    for (const IniText::Entry& e : s.entries) add(section, e.key);
  }
  return records;
}

IniText LoadMap(const std::string& what) {
  const std::string file = MapFile();
  IniText map;
  if (!map.Load(file)) throw Failure(what + ": " + file + " cannot be read");
  return map;
}

Json ToJson(const Record& r) {
  return Json{{"section", ToUtf8(r.section)},   {"key", ToUtf8(r.key)},
              {"database", ToUtf8(r.database)}, {"kind", r.location ? "location" : "map"},
              {"current", ToUtf8(r.expected)},  {"stale", r.stale}};
}

void List(const Global& g, const MapOptions& o) {
  const std::vector<Record> records = Records(o, LoadMap("map list"));
  if (g.json) {
    Json list = Json::array();
    for (const Record& r : records) list.push_back(ToJson(r));
    PrintJson(Json{{"map_file", ToUtf8(MapFile())}, {"entries", std::move(list)}});
    return;
  }
  for (const Record& r : records)
    std::cout << "[" << r.section << "] " << r.key << " -> " << r.database
              << (r.location ? "  (location entry)" : "") << '\n';
}

void Check(const Global& g, const MapOptions& o) {
  const std::vector<Record> records = Records(o, LoadMap("map check"));
  Json list = Json::array();
  for (const Record& r : records) {
    if (!r.stale) continue;
    list.push_back(ToJson(r));
    if (g.json) continue;
    std::cout << "[" << r.section << "] " << r.key << '\n'
              << "  recorded: " << r.database << (r.location ? "  (location entry)" : "") << '\n'
              << "  now:      " << r.expected << '\n';
  }
  if (g.json) {
    PrintJson(Json{{"map_file", ToUtf8(MapFile())}, {"mismatches", std::move(list)}});
    return;
  }
  if (list.empty()) {
    std::cout << "No mismatch: every key's record matches the database a store uses now.\n";
    return;
  }
  std::cout << list.size() << " key(s) recorded for another database. Each use of them through the "
            << "store raises its mismatch notice.\n"
            << "`csctl map clear` removes their section-map entries (next use records the "
            << "current database);\nvalues left in the recorded files are not moved. Location "
            << "entries are kept: edit them in " << MapFile() << ".\n";
}

// A store on the map file itself: its own entries are the section map's.
std::unique_ptr<CrossInstanceStore> MapStore(const std::string& section, const std::string& what) {
  CISErr result = CISOk;
  auto store = std::make_unique<CrossInstanceStore>(result, section.c_str(), CISTypeNamedFile,
                                                    MapFile().c_str());
  if (result != CISOk) throw Failure::Code(what + ": the map file cannot be opened", result);
  return store;
}

void Clear(const Global& g, const MapOptions& o) {
  const std::string what = "map clear";
  // The store working on the map file finds each entry it removes recorded for another
  // database (the entry is that record) and would announce a mismatch for every one.
  ::unsetenv("CSLIB_NOTICES");
  const IniText map = LoadMap(what);
  std::vector<Record> records = Records(o, map);

  // Group what goes by map section; a section that loses every entry goes whole.
  std::map<std::string, std::vector<const Record*>> doomed;
  Json cleared = Json::array();
  Json kept = Json::array();
  for (const Record& r : records) {
    if (!(o.all || r.stale)) continue;
    if (r.location) {
      kept.push_back(ToJson(r));
      continue;
    }
    doomed[r.section].push_back(&r);
  }
  for (const auto& [section, list] : doomed) {
    const std::string mapSection = std::string(kMapPrefix) + section;
    const IniText::Section* s = map.Find(mapSection);
    const bool whole = s && s->entries.size() == list.size();
    if (whole) {
      const CISErr r = MapStore("Common", what)->DeleteSection(mapSection.c_str());
      if (r != CISOk) throw Failure::Code(what + ": [" + mapSection + "]", r);
    } else {
      if (mapSection.size() > kMaxStoreSection)
        throw Failure::Code(what + ": [" + mapSection +
                                "] is too long a name to clear key by key; use --all --section",
                            CISErrFailed);
      auto store = MapStore(mapSection, what);
      for (const Record* rec : list) {
        const CISErr r = store->Delete(rec->key.c_str());
        if (r != CISOk) throw Failure::Code(what + ": [" + mapSection + "] " + rec->key, r);
      }
    }
    for (const Record* rec : list) {
      cleared.push_back(ToJson(*rec));
      if (!g.json) std::cout << "cleared [" << rec->section << "] " << rec->key << '\n';
    }
  }
  if (g.json) {
    PrintJson(Json{{"map_file", ToUtf8(MapFile())},
                   {"cleared", std::move(cleared)},
                   {"kept_location_entries", std::move(kept)}});
    return;
  }
  for (const Json& k : kept)
    std::cout << "kept location entry [" << k["section"].get<std::string>() << "] "
              << k["key"].get<std::string>() << " -> " << k["database"].get<std::string>() << '\n';
  if (cleared.empty() && kept.empty()) std::cout << "Nothing to clear.\n";
}

void AddSelection(CLI::App* cmd, MapOptions& o) {
  cmd->add_option("--db", o.db,
                  "Compare with this store's database (machine, user, winini) instead of the "
                  "kind that wrote each record")
      ->check(CLI::IsMember({"machine", "user", "winini"}));
  cmd->add_option("--file", o.file, "Compare with a store of this named database file");
  cmd->add_option("--section", o.section, "Only this section's keys");
}

}  // namespace

void AddMapCommand(CLI::App& app, Global& global) {
  auto o = std::make_shared<MapOptions>();
  CLI::App* map = app.add_subcommand(
      "map", "The section map: which database file each key was first used through");
  map->require_subcommand(1);

  CLI::App* list = map->add_subcommand("list", "List every recorded key and its database");
  AddSelection(list, *o);
  list->callback([&global, o] { List(global, *o); });

  CLI::App* check = map->add_subcommand(
      "check", "Report the keys whose recorded database differs from the one used now");
  AddSelection(check, *o);
  check->callback([&global, o] { Check(global, *o); });

  CLI::App* clear =
      map->add_subcommand("clear", "Remove stale section-map entries (location entries are kept)");
  AddSelection(clear, *o);
  clear->add_flag("--all", o->all, "Remove every section-map entry selected, stale or not");
  clear->callback([&global, o] { Clear(global, *o); });
}

}  // namespace csctl
