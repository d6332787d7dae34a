// csctl run as a real process, in a fresh Windows directory each: every sub-command's
// main path, its failures (exit status and the one-line message), and --json output
// parsed back.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/testenv.h"

extern char** environ;

namespace {

using Json = nlohmann::json;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
  Json json() const { return Json::parse(out); }
};

// Runs csctl with args; its output goes through files, so nothing can block on a pipe.
Result Csctl(const std::vector<std::string>& args) {
  cstest::TempDir io;
  const std::string outPath = io.File("out");
  const std::string errPath = io.File("err");
  std::vector<std::string> all{CSCTL_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = -1;
  Result run;
  const int spawned = posix_spawn(&pid, CSCTL_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << CSCTL_PATH;
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = cstest::ReadFile(outPath);
  run.err = cstest::ReadFile(errPath);
  return run;
}

// A failure: the given status, nothing on standard output, one line on standard error
// that holds `holds`.
void ExpectFailure(const Result& r, int status, const std::string& holds) {
  EXPECT_EQ(r.status, status) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(holds), std::string::npos) << r.err;
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_EQ(r.err.rfind("csctl: ", 0), 0u) << r.err;
}

void ExpectOk(const Result& r) {
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

class CsctlTest : public cstest::WinDirTest {};

TEST_F(CsctlTest, StoresTypedValuesAsTheStoreKeepsThemAndReadsThemBack) {
  struct Case {
    std::vector<std::string> set;  // after "store set Common <key>"
    std::string getFlag;
    std::string stored;  // the text in the database file
    Json value;
  };
  const std::vector<Case> cases{
      {{"Front desk"}, "", "Front desk", "Front desk"},
      {{"--dword", "0x12345678"}, "--dword", "78563412", 0x12345678},
      {{"--dword", "4294967295"}, "--dword", "ffffffff", 4294967295u},
      {{"--word", "0x1234"}, "--word", "3412", 0x1234},
      {{"--byte", "200"}, "--byte", "c8", 200},
      {{"--bytes", "00 AB:ff"}, "--bytes", "00abff", "00abff"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string key = "K" + std::to_string(n++);
    std::vector<std::string> set{"--json", "store", "set", "Common", key};
    set.insert(set.end(), c.set.begin(), c.set.end());
    const Result s = Csctl(set);
    ExpectOk(s);
    EXPECT_EQ(s.json()["stored"], c.stored);
    EXPECT_NE(cstest::ReadFile(WinFile("QZFMRC15.INI")).find(key + "=" + c.stored + "\n"),
              std::string::npos);

    std::vector<std::string> get{"store", "get", "Common", key, "--json"};
    if (!c.getFlag.empty()) get.push_back(c.getFlag);
    const Result g = Csctl(get);
    ExpectOk(g);
    EXPECT_EQ(g.json()["value"], c.value) << key;
  }
  // For people: the value alone.
  const Result text = Csctl({"store", "get", "Common", "K0"});
  ExpectOk(text);
  EXPECT_EQ(text.out, "Front desk\n");
}

TEST_F(CsctlTest, ReadsTextWrittenByOthersTheWayTheStoreDecodesIt) {
  cstest::WriteFile(WinFile("QZFMRC15.INI"), "[Common]\nW=5\nLong=123456\nBytes=AB CD;x\n");
  const Result w = Csctl({"--json", "store", "get", "Common", "W", "--word"});
  ExpectOk(w);
  EXPECT_EQ(w.json()["value"], 0x0050);
  const Result b = Csctl({"--json", "store", "get", "Common", "Bytes", "--bytes"});
  ExpectOk(b);
  EXPECT_EQ(b.json()["value"], "abcd");
  // Three bytes of text cannot be one word: the store's truncation, named.
  ExpectFailure(Csctl({"store", "get", "Common", "Long", "--word"}), 1, "-703 CISErrTruncated");
}

TEST_F(CsctlTest, MissingKeysAndRefusedInputFailWithTheCodeAndItsName) {
  ExpectFailure(Csctl({"store", "get", "Common", "Nothing"}), 1, "-702 CISErrNotFound");
  ExpectFailure(Csctl({"store", "get", "Common", "Nothing", "--dword"}), 1, "-702 CISErrNotFound");
  // A key holding a line break still gives a one-line message.
  ExpectFailure(Csctl({"store", "get", "Common", "a\nb"}), 1, "-702 CISErrNotFound");
  ExpectFailure(Csctl({"store", "set", "Common", "a=b", "v"}), 1, "-700 CISErrFailed");
  ExpectFailure(Csctl({"store", "set", std::string(194, 's'), "k", "v"}), 1, "-700 CISErrFailed");
  ExpectFailure(Csctl({"store", "keys", "Nowhere"}), 1, "-702 CISErrNotFound");
  ExpectFailure(Csctl({"store", "move-section", "Nowhere", "Else"}), 1, "-700 CISErrFailed");
  // A refused section name must not send the value to "Common" instead.
  EXPECT_EQ(cstest::ReadFile(WinFile("QZFMRC15.INI")).find("k=v"), std::string::npos);
}

TEST_F(CsctlTest, BadArgumentsAreRefusedBeforeAnythingIsWritten) {
  const std::vector<std::vector<std::string>> cases{
      {"nosuch"},
      {"store"},
      {"store", "get", "Common"},
      {"store", "set", "Common", "K", "--dword", "12x"},
      {"store", "set", "Common", "K", "--dword", "0x100000000"},
      {"store", "set", "Common", "K", "--word", "65536"},
      {"store", "set", "Common", "K", "--byte", "-1"},
      {"store", "set", "Common", "K", "--bytes", "abc"},
      {"store", "set", "Common", "K", "--bytes", "a b"},
      {"store", "set", "Common", "K", "text", "--dword", "1"},
      {"store", "set", "Common", "K"},
      {"store", "get", "Common", "K", "--dword", "--word"},
      {"store", "--db", "nowhere", "get", "Common", "K"},
      {"store", "--db", "winini", "--file", "x.ini", "get", "Common", "K"},
      {"reg", "get", "HKEY_NOWHERE\\Software", "v"},
      {"reg", "get", "HKLM", "v"},
      {"reg", "get", "HKLM\\Software\\\\X", "v"},
      {"reg", "set", "HKLM\\Software\\X", "v", "--dword", "x"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.back());
    ExpectFailure(Csctl(args), 2, "");
  }
  EXPECT_FALSE(cstest::FileExists(WinFile("QZFMRC15.INI")));
}

TEST_F(CsctlTest, HelpIsThereForEverySubCommand) {
  for (const char* sub : {"store", "map", "printer", "reg", "sysinfo"}) {
    const Result r = Csctl({sub, "--help"});
    ExpectOk(r);
    EXPECT_NE(r.out.find("Usage"), std::string::npos) << sub;
  }
  const Result r = Csctl({"store", "set", "--help"});
  ExpectOk(r);
  EXPECT_NE(r.out.find("--dword"), std::string::npos);
}

TEST_F(CsctlTest, ListsDeletesAndMovesSections) {
  ExpectOk(Csctl({"store", "set", "Tray", "Paper", "A4"}));
  ExpectOk(Csctl({"store", "set", "Tray", "Count", "--dword", "2"}));
  ExpectOk(Csctl({"store", "set", "Other", "X", "1"}));

  const Result keys = Csctl({"--json", "store", "keys", "tray", "--values"});
  ExpectOk(keys);
  EXPECT_EQ(keys.json()["keys"], Json::parse(R"([{"key":"Paper","value":"A4"},
                                                   {"key":"Count","value":"02000000"}])"));

  ExpectOk(Csctl({"store", "delete", "Tray", "Paper"}));
  ExpectOk(Csctl({"store", "move-section", "Tray", "Moved"}));
  const Result sections = Csctl({"--json", "store", "sections"});
  ExpectOk(sections);
  EXPECT_EQ(sections.json()["sections"], Json::parse(R"(["Other","Moved"])"));
  const Result count = Csctl({"--json", "store", "get", "Moved", "Count", "--dword"});
  ExpectOk(count);
  EXPECT_EQ(count.json()["value"], 2);

  ExpectOk(Csctl({"store", "delete-section", "Other"}));
  const Result after = Csctl({"store", "sections"});
  ExpectOk(after);
  EXPECT_EQ(after.out, "Moved\n");
  // The section map follows: the moved keys are recorded under their new section only.
  const std::string map = cstest::ReadFile(WinFile("QZFCSS15.INI"));
  EXPECT_EQ(map.find("[DefMap;Tray]"), std::string::npos) << map;
  EXPECT_EQ(map.find("[DefMap;Other]"), std::string::npos) << map;
  EXPECT_NE(map.find("[DefMap;Moved]"), std::string::npos) << map;
}

TEST_F(CsctlTest, ChoosesTheDatabaseByType) {
  ExpectOk(Csctl({"store", "--db", "winini", "set", "Common", "W", "1"}));
  EXPECT_NE(cstest::ReadFile(WinFile("WIN.INI")).find("W=1"), std::string::npos);
  cstest::TempDir elsewhere;
  const std::string named = elsewhere.File("named.ini");
  ExpectOk(Csctl({"store", "--file", named, "set", "Common", "N", "2"}));
  EXPECT_NE(cstest::ReadFile(named).find("N=2"), std::string::npos);
  const Result got = Csctl({"--json", "store", "--file", named, "get", "Common", "N"});
  ExpectOk(got);
  EXPECT_EQ(got.json()["database"], named);
  {
    // On the NT family a named file lives in the Windows directory, under its own name.
    cstest::ScopedEnv nt("CSLIB_OS_FAMILY", "winnt");
    ExpectOk(Csctl({"store", "--file", named, "set", "Common", "N", "3"}));
    EXPECT_NE(cstest::ReadFile(WinFile("named.ini")).find("N=3"), std::string::npos);
  }
  const Result listed = Csctl({"--json", "map", "list"});
  ExpectOk(listed);
  std::vector<std::string> databases;
  const Json entries = listed.json()["entries"];
  for (const Json& e : entries) databases.push_back(e["database"]);
  EXPECT_EQ(databases, (std::vector<std::string>{"WIN.INI", named}));
}

TEST_F(CsctlTest, MapCheckReportsStaleRecordsAndClearRemovesOnlyThose) {
  ExpectOk(Csctl({"store", "set", "Common", "Fresh", "1"}));
  ExpectOk(Csctl({"store", "--db", "winini", "set", "Common", "Win", "1"}));
  const std::string map = cstest::ReadFile(WinFile("QZFCSS15.INI"));
  const std::string old = "/old/install/QZFMRC15.INI";
  // Records left by an install in another Windows directory, in a section of their own,
  // next to a current one, and a location entry pointing elsewhere.
  cstest::WriteFile(WinFile("QZFCSS15.INI"), map + "[DefMap;Gone]\nA=" + old + "\nB=" + old +
                                                 "\n[DefMap;Mixed]\nNow=" + WinDir() +
                                                 "/QZFMRC15.INI\nThen=" + old +
                                                 "\n[Mixed]\nPinned=" + old + "\n");

  const Result check = Csctl({"--json", "map", "check"});
  ExpectOk(check);
  std::vector<std::string> stale;
  const Json mismatches = check.json()["mismatches"];
  for (const Json& m : mismatches) {
    stale.push_back(m["section"].get<std::string>() + "/" + m["key"].get<std::string>());
    EXPECT_EQ(m["database"], old);
    EXPECT_EQ(m["current"], WinDir() + "/QZFMRC15.INI");
  }
  EXPECT_EQ(stale, (std::vector<std::string>{"Gone/A", "Gone/B", "Mixed/Then", "Mixed/Pinned"}));
  const Result forPeople = Csctl({"map", "check"});
  ExpectOk(forPeople);
  EXPECT_NE(forPeople.out.find("recorded: " + old), std::string::npos) << forPeople.out;

  // Compared with a WIN.INI store, the machine database's keys are the odd ones.
  const Result asWin = Csctl({"--json", "map", "check", "--db", "winini", "--section", "Common"});
  ExpectOk(asWin);
  ASSERT_EQ(asWin.json()["mismatches"].size(), 1u);
  EXPECT_EQ(asWin.json()["mismatches"][0]["key"], "Fresh");

  const Result clear = Csctl({"--json", "map", "clear"});
  ExpectOk(clear);
  EXPECT_EQ(clear.json()["cleared"].size(), 3u);
  EXPECT_EQ(clear.json()["kept_location_entries"][0]["key"], "Pinned");
  const std::string after = cstest::ReadFile(WinFile("QZFCSS15.INI"));
  EXPECT_EQ(after.find("[DefMap;Gone]"), std::string::npos) << after;
  EXPECT_EQ(after.find("Then="), std::string::npos) << after;
  for (const char* kept : {"Fresh=", "Win=WIN.INI", "Now=", "Pinned="})
    EXPECT_NE(after.find(kept), std::string::npos) << kept << "\n" << after;

  const Result again = Csctl({"--json", "map", "check"});
  ExpectOk(again);
  EXPECT_EQ(again.json()["mismatches"].size(), 1u);  // the location entry stays
}

TEST_F(CsctlTest, DescribesAPrinterFromTheSpoolerAndWinIni) {
  cstest::WriteFile(WinFile("WIN.INI"),
                    "[devices]\nFront Desk=QZDRV,LPT1:\nPool=QZDRV,LPT1:,LPT2:\n");
  cstest::WriteFile(WinFile("SPOOLER.INI"), "[Front Desk]\nPrinter Model Name=Model 500\n");

  const Result desk = Csctl({"--json", "printer", "show", "Front Desk"});
  ExpectOk(desk);
  const Json d = desk.json();
  EXPECT_EQ(d["name"], "Front Desk");
  EXPECT_EQ(d["real_name"], "Model 500");
  EXPECT_EQ(d["store_name"], "LPT1,Model 500");
  EXPECT_EQ(d["output_port"], "LPT1");
  EXPECT_EQ(d["ports"], Json::parse(R"(["LPT1"])"));
  EXPECT_EQ(d["pooled"], false);
  EXPECT_EQ(d["networked"], false);
  EXPECT_EQ(d["print_to_file"], false);

  const Result pool = Csctl({"--json", "printer", "show", "Pool"});
  ExpectOk(pool);
  EXPECT_EQ(pool.json()["ports"], Json::parse(R"(["LPT1","LPT2"])"));
  EXPECT_EQ(pool.json()["pooled"], true);

  const Result given = Csctl({"--json", "printer", "show", "Front Desk", "--port", "\\\\srv\\q"});
  ExpectOk(given);
  EXPECT_EQ(given.json()["networked"], true);
  const Result file = Csctl({"printer", "show", "Front Desk", "--port", "FILE:"});
  ExpectOk(file);
  EXPECT_NE(file.out.find("Print to file:  yes"), std::string::npos) << file.out;

  ExpectFailure(Csctl({"printer", "show", "Ghost"}), 1, "-742 PerPrinterErrNotFound");
  ExpectFailure(Csctl({"printer", "show", "", "--port", "LPT1"}), 1, "-740 PerPrinterErrFailed");
  // Describing writes nothing.
  EXPECT_FALSE(cstest::FileExists(WinFile("QZFCSS15.INI")));
}

TEST_F(CsctlTest, ListsTheInstalledPrintersOfADriverAndModel) {
  cstest::WriteFile(WinFile("WIN.INI"),
                    "[devices]\nFront Desk=QZDRV,LPT1:\nBack=QZDRV,LPT2:,LPT3:\n"
                    "Other=ELSE,LPT1:\nModel 500=QZDRV,COM1:\n");
  cstest::WriteFile(WinFile("SPOOLER.INI"),
                    "[Front Desk]\nPrinter Model Name=Model 500\n"
                    "[Back]\nPrinter Model Name=Model 500\n"
                    "[Other]\nPrinter Model Name=Model 500\n");
  const Result r =
      Csctl({"--json", "printer", "list", "--driver", "QZDRV", "--model", "Model 500"});
  ExpectOk(r);
  EXPECT_EQ(r.json()["printers"], Json::parse(R"([{"name":"Front Desk","ports":"LPT1"},
                                                   {"name":"Back","ports":"LPT2:,LPT3"},
                                                   {"name":"Model 500","ports":"COM1"}])"));
  const Result none = Csctl({"--json", "printer", "list", "--driver", "QZDRV", "--model", "X"});
  ExpectOk(none);
  EXPECT_TRUE(none.json()["printers"].empty());
  ExpectFailure(Csctl({"printer", "list", "--driver", "QZDRV"}), 2, "--model");
}

TEST_F(CsctlTest, RegistryValuesOfEachTypeKeysAndDeletion) {
  const std::string key = "HKLM\\Software\\Maker\\Settings";
  struct Case {
    std::string name;
    std::vector<std::string> set;
    std::string type;
    Json value;
  };
  const std::vector<Case> cases{
      {"Mode", {"fast"}, "REG_SZ", "fast"},
      {"", {"unnamed"}, "REG_SZ", "unnamed"},
      {"Count", {"--dword", "0x10"}, "REG_DWORD", 16},
      {"Blob", {"--binary", "00abff"}, "REG_BINARY", "00abff"},
      {"Trays", {"--multi", "Upper", "--multi", "Lower"}, "REG_MULTI_SZ", {"Upper", "Lower"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> set{"reg", "set", key, c.name};
    set.insert(set.end(), c.set.begin(), c.set.end());
    ExpectOk(Csctl(set));
    const Result got = Csctl({"--json", "reg", "get", key, c.name});
    ExpectOk(got);
    EXPECT_EQ(got.json()["type"], c.type) << c.name;
    EXPECT_EQ(got.json()["value"], c.value) << c.name;
  }
  ExpectOk(Csctl({"reg", "set", "HKEY_LOCAL_MACHINE\\Software\\Maker\\Other", "x", "1"}));
  const Result list = Csctl({"--json", "reg", "list", "HKLM\\Software\\Maker"});
  ExpectOk(list);
  EXPECT_EQ(list.json()["subkeys"], Json::parse(R"(["Other","Settings"])"));

  ExpectOk(Csctl({"reg", "delete", key, "Mode"}));
  ExpectFailure(Csctl({"reg", "get", key, "Mode"}), 1, "-722 CISRegErrNotFound");
  ExpectFailure(Csctl({"reg", "get", "HKLM\\Software\\Nowhere"}), 1, "-722 CISRegErrNotFound");
  // Deleting from a key that is not there reports it rather than creating the key.
  ExpectFailure(Csctl({"reg", "delete", "HKLM\\Software\\Nowhere", "v"}), 1, "CISRegErrNotFound");
  const Result still = Csctl({"reg", "list", "HKLM\\Software"});
  ExpectOk(still);
  EXPECT_EQ(still.out, "Maker\n");

  ExpectFailure(Csctl({"reg", "delete-key", "HKLM\\Software\\Maker"}), 1, "-720 CISRegErrFailed");
  ExpectOk(Csctl({"reg", "delete-key", "HKLM\\Software\\Maker\\Other"}));
  const Result left = Csctl({"reg", "list", "HKLM\\Software\\Maker"});
  ExpectOk(left);
  EXPECT_EQ(left.out, "Settings\n");
}

TEST_F(CsctlTest, SystemInformationFollowsTheFamilyAndTheWindowsDirectory) {
  const Result plain = Csctl({"--json", "sysinfo"});
  ExpectOk(plain);
  Json j = plain.json();
  EXPECT_EQ(j["os_family"], "unknown");
  EXPECT_EQ(j["windows_directory"], WinDir());
  EXPECT_EQ(j["driver_directory"], WinDir() + "/system32");
  EXPECT_TRUE(j["processor"].is_string());
  EXPECT_TRUE(j["floating_point"].is_boolean());

  cstest::ScopedEnv nt("CSLIB_OS_FAMILY", "winnt");
  const Result onNt = Csctl({"--json", "sysinfo"});
  ExpectOk(onNt);
  j = onNt.json();
  EXPECT_EQ(j["os_family"], "winnt");
  EXPECT_EQ(j["windows_directory"], WinDir());
  EXPECT_EQ(j["driver_directory"], WinDir() + "/system32/spool/drivers/w32x86/2");
}

TEST_F(CsctlTest, JsonCarriesTextThatIsNotUtf8) {
  // A value in the system's 8-bit code page still gives valid JSON (bytes as Latin-1).
  cstest::WriteFile(WinFile("QZFMRC15.INI"), "[Common]\nName=Caf\xE9\n");
  const Result r = Csctl({"--json", "store", "get", "Common", "Name"});
  ExpectOk(r);
  EXPECT_EQ(r.json()["value"], "Caf\xC3\xA9");
}

}  // namespace
