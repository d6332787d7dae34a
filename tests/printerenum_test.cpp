// The printers of a driver and model listed from WIN.INI's [devices] and SPOOLER.INI,
// moving a printer's settings when its port changes, numbered entries of "DEZU", and a
// driver's life from describing its printer to switching its port.
#include <cslib.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <string>
#include <vector>

#include "port/profile.h"
#include "support/allocfail.h"
#include "support/testenv.h"

namespace {

using cstest::WriteFile;

constexpr char kDatabase[] = "QZFMRC15.INI";

class PrinterEnumTest : public cstest::WinDirTest {
 protected:
  void SetUp() override {
    WriteFile(WinFile("SPOOLER.INI"),
              "[Front Desk]\nPrinter Model Name=Model 500\n"
              "[Back Office]\nPrinter Model Name=Model 500\n"
              "[Other]\nPrinter Model Name=Model 500\n"
              "[Longer Driver]\nPrinter Model Name=Model 500\n"
              "[Lower Case]\nPrinter Model Name=Model 500\n"
              "[Seven]\nPrinter Model Name=Model 700\n");
  }
  void Devices(const std::string& entries) {
    WriteFile(WinFile("WIN.INI"), "[windows]\ndevice=x\n[devices]\n" + entries + "[ports]\n");
  }
  std::string Database() const { return cstest::ReadFile(WinFile(kDatabase)); }
};

std::vector<std::string> Entries(CISStringList& list) {
  std::vector<std::string> texts;
  for (unsigned i = 1; i <= list.Count(); ++i)
    texts.push_back(list.Find(static_cast<unsigned char>(i)));
  return texts;
}

std::string Stored(const std::string& section, const std::string& key) {
  char buffer[256];
  cslib::port::ProfileReadValue(kDatabase, section, key, "", buffer, sizeof buffer);
  return buffer;
}

using Texts = std::vector<std::string>;

TEST_F(PrinterEnumTest, ListsQualifyingPrintersInSectionOrderWithTheirPorts) {
  Devices("Front Desk=QZDRV,LPT1:\nOther=OTHERDRV,LPT4:\nBack Office=QZDRV,LPT2:,LPT3:\n");
  CISStringList names, ports;
  EXPECT_EQ(CSGetAllFriendlyNamesAndPorts("Model 500", "QZDRV", &names, &ports), PerPrinterOk);
  EXPECT_EQ(Entries(names), (Texts{"Front Desk", "Back Office"}));
  EXPECT_EQ(Entries(ports), (Texts{"LPT1", "LPT2:,LPT3"}));

  CISStringList only;
  EXPECT_EQ(CSGetAllFriendlyNames("Model 500", "QZDRV", &only), PerPrinterOk);
  EXPECT_EQ(Entries(only), (Texts{"Front Desk", "Back Office"}));
}

TEST_F(PrinterEnumTest, DriverAndModelMatchExactly) {
  Devices(
      "Longer Driver=QZDRV2,LPT5:\n"  // the driver name only begins the driver field
      "Lower Case=qzdrv,LPT6:\n"
      "Seven=QZDRV,LPT7:\n"      // another model
      "Model 500=QZDRV,COM1:\n"  // no model in the spooler: its own name counts
      "Bare=QZDRV,COM2:\n"       // no model in the spooler, another name
      "No Port=QZDRV\n"          // no comma after the driver
      "Front Desk=QZDRV,\n");    // an empty port text
  CISStringList names, ports;
  EXPECT_EQ(CSGetAllFriendlyNamesAndPorts("Model 500", "QZDRV", &names, &ports), PerPrinterOk);
  EXPECT_EQ(Entries(names), (Texts{"Model 500", "Front Desk"}));
  EXPECT_EQ(Entries(ports), (Texts{"COM1", ""}));

  CISStringList lower;
  EXPECT_EQ(CSGetAllFriendlyNames("model 500", "QZDRV", &lower), PerPrinterOk);
  EXPECT_EQ(lower.Count(), 0);
  // A null driver is the empty driver field.
  Devices("Front Desk=,LPT9:\nBack Office=QZDRV,LPT1:\n");
  CISStringList empty;
  EXPECT_EQ(CSGetAllFriendlyNames("Model 500", nullptr, &empty), PerPrinterOk);
  EXPECT_EQ(Entries(empty), (Texts{"Front Desk"}));
}

TEST_F(PrinterEnumTest, EveryPrinterOfALongSectionIsSeen) {
  std::string entries;
  for (int i = 0; i < 60; ++i)
    entries += "Printer number " + std::to_string(i) + " of the office=OTHERDRV,LPT1:\n";
  Devices(entries + "Front Desk=QZDRV,LPT1:\n");  // past the first kilobyte of names
  CISStringList names;
  EXPECT_EQ(CSGetAllFriendlyNames("Model 500", "QZDRV", &names), PerPrinterOk);
  EXPECT_EQ(Entries(names), (Texts{"Front Desk"}));
}

TEST_F(PrinterEnumTest, RefusedArgumentsLeaveTheListsAsTheyWere) {
  Devices("Front Desk=QZDRV,LPT1:\n");
  cstest::MappedPages unreadable(1, PROT_NONE);
  CISStringList empty, held;
  ASSERT_EQ(held.Add("kept"), CISStrOk);
  struct Case {
    const char* what;
    const char* model;
    const char* driver;
    CISStringList* names;
    CISStringList* ports;
    bool namesAlone;  // refused without a ports list too
  } cases[] = {
      {"names hold an entry", "Model 500", "QZDRV", &held, &empty, true},
      {"ports hold an entry", "Model 500", "QZDRV", &empty, &held, false},
      {"no names", "Model 500", "QZDRV", nullptr, &empty, true},
      {"no ports", "Model 500", "QZDRV", &empty, nullptr, false},
      {"one list for both", "Model 500", "QZDRV", &empty, &empty, false},
      {"no model", nullptr, "QZDRV", &empty, &empty, true},
      {"unreadable driver", "Model 500", unreadable.data(), &empty, &empty, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CSGetAllFriendlyNamesAndPorts(c.model, c.driver, c.names, c.ports),
              PerPrinterErrFailed);
    if (c.namesAlone) {
      EXPECT_EQ(CSGetAllFriendlyNames(c.model, c.driver, c.names), PerPrinterErrFailed);
    }
    EXPECT_EQ(empty.Count(), 0);
    EXPECT_EQ(Entries(held), (Texts{"kept"}));
  }
}

TEST_F(PrinterEnumTest, ListsStayParallelWhenMemoryRunsOut) {
  Devices("Front Desk=QZDRV,LPT1:\nBack Office=QZDRV,LPT2:\n");
  for (long after = 0;; ++after) {
    SCOPED_TRACE(after);
    CISStringList names, ports;
    PerPrinterErr r;
    {
      cstest::FailingAllocations some(after);
      r = CSGetAllFriendlyNamesAndPorts("Model 500", "QZDRV", &names, &ports);
    }
    ASSERT_EQ(names.Count(), ports.Count());
    if (names.Count() > 0) {
      EXPECT_EQ(Entries(names)[0], "Front Desk");
    }
    if (r == PerPrinterOk && names.Count() == 2) break;
    ASSERT_LT(after, 10000);
  }
}

TEST_F(PrinterEnumTest, NoDevicesGivesEmptyLists) {
  CISStringList names, ports;
  EXPECT_EQ(CSGetAllFriendlyNamesAndPorts("Model 500", "QZDRV", &names, &ports), PerPrinterOk);
  Devices("");
  EXPECT_EQ(CSGetAllFriendlyNamesAndPorts("Model 500", "QZDRV", &names, &ports), PerPrinterOk);
  EXPECT_EQ(names.Count(), 0);
  EXPECT_EQ(ports.Count(), 0);
}

TEST_F(PrinterEnumTest, SwitchPortMovesTheMachineSection) {
  PerPrinterErr r = PerPrinterErrInvalid;
  CSPerPrinter lpt1(r, "LPT1:", "Front Desk");
  CSPerPrinter lpt2(r, "LPT2:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  PerFriendlyName settings(r, lpt1);
  ASSERT_EQ(settings.StoreStr("Paper", "A4"), PerPrinterOk);
  ASSERT_EQ(settings.StoreStr("Copies", "2"), PerPrinterOk);

  {
    cstest::ScopedEnv nt("CSLIB_OS_FAMILY", "winnt");
    const std::string before = Database();
    EXPECT_EQ(SwitchPort(lpt1, lpt2), PerPrinterErrFailed);
    EXPECT_EQ(Database(), before);
  }
  EXPECT_EQ(SwitchPort(lpt1, lpt2), PerPrinterOk);
  EXPECT_EQ(Stored("LPT2,Model 500", "Paper"), "A4");
  EXPECT_EQ(Stored("LPT2,Model 500", "Copies"), "2");
  EXPECT_EQ(Database().find("[LPT1,Model 500]"), std::string::npos);
  // Nothing left to move: the move fails.
  EXPECT_EQ(SwitchPort(lpt1, lpt2), PerPrinterErrFailed);
}

TEST_F(PrinterEnumTest, SwitchPortNeverMovesACutOrBrokenStoreName) {
  PerPrinterErr r = PerPrinterErrInvalid;
  const std::string longPort(70, 'p');
  CSPerPrinter shortName(r, "LPT1:", "Front Desk");
  CSPerPrinter longName(r, longPort.c_str(), "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  PerFriendlyName shortSettings(r, shortName);
  PerFriendlyName longSettings(r, longName);
  ASSERT_EQ(shortSettings.StoreStr("Paper", "A4"), PerPrinterOk);
  ASSERT_EQ(longSettings.StoreStr("Paper", "Letter"), PerPrinterOk);
  const std::string before = Database();
  EXPECT_EQ(SwitchPort(longName, shortName), PerPrinterErrTruncated);
  EXPECT_EQ(SwitchPort(shortName, longName), PerPrinterErrTruncated);
  EXPECT_EQ(Database(), before);
  EXPECT_EQ(Database().find("[" + longPort.substr(0, 64) + "]"), std::string::npos);

  // A printer without a port has no store name of its own.
  CSPerPrinter portless(r, "", "Front Desk");
  EXPECT_EQ(SwitchPort(portless, shortName), PerPrinterErrInvalid);
  EXPECT_EQ(SwitchPort(shortName, portless), PerPrinterErrInvalid);
  EXPECT_EQ(Database(), before);

  // A store name of exactly 64 characters is whole.
  CSPerPrinter fits(r, std::string(54, 'q').c_str(), "Front Desk");
  ASSERT_EQ(fits.GetStrLen(CSWKCISPrinterName), 64);
  EXPECT_EQ(SwitchPort(shortName, fits), PerPrinterOk);
  EXPECT_EQ(Stored(std::string(54, 'q') + ",Model 500", "Paper"), "A4");
}

TEST_F(PrinterEnumTest, NumberedEntries) {
  EXPECT_EQ(SetDEZUEnum("Tray", 12, "X"), PerPrinterOk);
  EXPECT_EQ(Stored("DEZU", "Tray12"), "X");
  char buffer[8] = "";
  EXPECT_EQ(FindDEZUEnum("Tray", 12, buffer, sizeof buffer), PerPrinterOk);
  EXPECT_STREQ(buffer, "X");
  EXPECT_EQ(FindDEZUEnum("Tray", 13, buffer, sizeof buffer), PerPrinterErrFailed);
  EXPECT_EQ(SetDEZUEnum("Tray", 65535, "Y"), PerPrinterOk);
  EXPECT_EQ(Stored("DEZU", "Tray65535"), "Y");
  EXPECT_EQ(FindDEZUEnum("Tray", 12, nullptr, 8), PerPrinterErrFailed);

  // A prefix that cannot be read writes nothing (not even under "(null)12").
  cstest::MappedPages unreadable(1, PROT_NONE);
  const std::string before = Database();
  EXPECT_EQ(SetDEZUEnum(nullptr, 12, "Z"), PerPrinterErrFailed);
  EXPECT_EQ(SetDEZUEnum(unreadable.data(), 12, "Z"), PerPrinterErrFailed);
  EXPECT_EQ(SetDEZUEnum("Tray", 14, nullptr), PerPrinterErrFailed);
  EXPECT_EQ(Database(), before);
}

// A driver's life: it describes its printer, keeps its settings through the printer's
// store, the printer moves to another port, and the settings move with it.
TEST_F(PrinterEnumTest, SettingsFollowThePrinterToItsNewPort) {
  Devices("Front Desk=QZDRV,LPT1:\n");
  CISStringList names, ports;
  ASSERT_EQ(CSGetAllFriendlyNamesAndPorts("Model 500", "QZDRV", &names, &ports), PerPrinterOk);
  ASSERT_EQ(Entries(names), (Texts{"Front Desk"}));

  PerPrinterErr r = PerPrinterErrInvalid;
  CSPerPrinter printer(r, ports.Find(1), names.Find(1));
  ASSERT_EQ(r, PerPrinterOk);
  {
    PerFriendlyName settings(r, printer);
    ASSERT_EQ(r, PerPrinterOk);
    unsigned long copies = 2;
    unsigned short duplex = 1;
    char paper[16];
    EXPECT_EQ(settings.RetrieveOrStoreDWord("Copies", copies), 2ul);
    EXPECT_EQ(settings.RetrieveOrStoreWord("Duplex", duplex), 1);
    EXPECT_EQ(settings.RetrieveOrStoreStr("Paper", paper, sizeof paper, "A4"), PerPrinterOk);
    const unsigned char margins[3] = {5, 10, 15};
    EXPECT_EQ(settings.StoreGenericBytes("Margins", margins, sizeof margins), PerPrinterOk);
    unsigned long changed = 3;
    EXPECT_EQ(settings.StoreDWord("Copies", changed), PerPrinterOk);
  }

  Devices("Front Desk=QZDRV,LPT2:\n");
  CSPerPrinter moved(r, "LPT2:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  ASSERT_EQ(SwitchPort(printer, moved), PerPrinterOk);
  // The old section's map went with it.
  EXPECT_EQ(cstest::ReadFile(WinFile("QZFCSS15.INI")).find("DefMap;LPT1,Model 500"),
            std::string::npos);

  PerFriendlyName now(r, moved);
  ASSERT_EQ(r, PerPrinterOk);
  unsigned long copies = 9;
  unsigned short duplex = 9;
  char paper[16];
  unsigned char margins[3] = {};
  unsigned short count = 0;
  EXPECT_EQ(now.RetrieveOrStoreDWord("Copies", copies), 3ul);
  EXPECT_EQ(now.RetrieveOrStoreWord("Duplex", duplex), 1);
  EXPECT_EQ(now.RetrieveOrStoreStr("Paper", paper, sizeof paper, "Letter"), PerPrinterOk);
  EXPECT_STREQ(paper, "A4");
  EXPECT_EQ(now.RetrieveGenericBytes("Margins", margins, sizeof margins, &count), PerPrinterOk);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(margins[2], 15);

  PerFriendlyName old(r, printer);
  ASSERT_EQ(r, PerPrinterOk);
  for (const char* key : {"Copies", "Duplex", "Paper", "Margins"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(old.RetrieveStrLen(key), 0);
    EXPECT_EQ(old.RetrieveStr(key, paper, sizeof paper), PerPrinterErrNotFound);
  }
}

}  // namespace
