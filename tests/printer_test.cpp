// One printer's identity on small fixtures: a SPOOLER.INI for the model names and a
// database file for the model's file name. Construction limits and codes, the store
// name, every selector through GetStr and GetStrLen, the copy rule, ports and pooling,
// network and print-to-file tests, copies, and how often the spooler is asked.
#include <cslib.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "port/spooler.h"
#include "support/allocfail.h"
#include "support/testenv.h"

namespace {

using cstest::WriteFile;

// Forwards to the SPOOLER.INI spooler and counts the printers opened.
class CountingSpooler : public cslib::port::Spooler {
 public:
  std::unique_ptr<cslib::port::SpoolerPrinter> OpenPrinter(const char* name) override {
    ++opened;
    return cslib::port::IniSpooler().OpenPrinter(name);
  }
  int opened = 0;
};

class PrinterTest : public cstest::WinDirTest {
 protected:
  void SetUp() override {
    previous_ = cslib::port::UseSpooler(&spooler_);
    Spooler(
        "[Front Desk]\nPrinter Model Name=Model 500\n"
        "[\\\\srv\\Back Office]\nPrinter Model Name=Model 700\n");
  }
  void TearDown() override { cslib::port::UseSpooler(previous_); }

  void Spooler(const std::string& content) { WriteFile(WinFile("SPOOLER.INI"), content); }
  void Database(const std::string& content) { WriteFile(WinFile("QZFMRC15.INI"), content); }
  int Opened() const { return spooler_.opened; }

 private:
  CountingSpooler spooler_;
  cslib::port::Spooler* previous_ = nullptr;
};

// The text GetStr delivers with room for max characters; the result into *r.
std::string Get(CSPerPrinter& p, CSPerPrinterWellKnown selector, unsigned short max = 1024,
                PerPrinterErr* r = nullptr) {
  std::vector<char> buffer(max + 1u, '\x7f');
  const PerPrinterErr got = p.GetStr(selector, buffer.data(), max);
  if (r) *r = got;
  return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

// ---- The spooler stand-in

TEST_F(PrinterTest, IniSpoolerOpensKnownPrintersAndReadsWhatFits) {
  Spooler("[Front Desk]\nPrinter Model Name=Model 500\nEmpty=\n[Bare]\n");
  auto& spooler = cslib::port::IniSpooler();
  EXPECT_EQ(spooler.OpenPrinter("Nobody"), nullptr);
  EXPECT_NE(spooler.OpenPrinter("Bare"), nullptr);  // a section without entries exists
  auto printer = spooler.OpenPrinter("front desk");
  ASSERT_NE(printer, nullptr);
  char buffer[10];
  EXPECT_TRUE(printer->ReadData("printer model name", buffer, sizeof buffer));  // 9 + zero
  EXPECT_STREQ(buffer, "Model 500");
  EXPECT_FALSE(printer->ReadData("Printer Model Name", buffer, 9));  // does not fit
  EXPECT_TRUE(printer->ReadData("Empty", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(printer->ReadData("Missing", buffer, sizeof buffer));
}

// ---- Construction

TEST_F(PrinterTest, ConstructorLimitsAndCodes) {
  const std::string name256(256, 'n'), name257(257, 'n');
  const std::string port127(127, 'p'), port128(128, 'p');
  struct Case {
    const char* port;
    const char* name;
    PerPrinterErr result;
  } cases[] = {
      {"LPT1:", name256.c_str(), PerPrinterOk},
      {"LPT1:", name257.c_str(), PerPrinterErrFailed},
      {port127.c_str(), "Front Desk", PerPrinterOk},
      {port128.c_str(), "Front Desk", PerPrinterErrFailed},
      {"LPT1:", "", PerPrinterErrFailed},
      {"", "Front Desk", PerPrinterOk},
      {nullptr, "Front Desk", PerPrinterErrInvalid},
      {"LPT1:", nullptr, PerPrinterErrInvalid},
  };
  long handle = 7;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.port ? c.port : "(null)") + " / " + (c.name ? c.name : "(null)"));
    PerPrinterErr r = PerPrinterOk;
    CSPerPrinter plain(r, c.port, c.name);
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(plain.IsCSPerPrinter(), c.result == PerPrinterOk);
    CSPerPrinter prefixed(r, "pre", c.port, c.name);
    EXPECT_EQ(r, c.result);
    // The constructor that falls back to the handle knows only 0 and -740.
    CSPerPrinter withHandle(r, c.port, c.name, handle);
    EXPECT_EQ(r, c.result == PerPrinterOk ? PerPrinterOk : PerPrinterErrFailed);
  }
  PerPrinterErr r = PerPrinterOk;
  CSPerPrinter nullPrefix(r, nullptr, "LPT1", "Front Desk");
  EXPECT_EQ(r, PerPrinterErrInvalid);
  auto* fromHandle = new CSPerPrinter(r, handle);
  EXPECT_EQ(r, PerPrinterErrFailed);
  EXPECT_EQ(fromHandle->IsCSPerPrinter(), 0);
  EXPECT_EQ(fromHandle->IsInvariant(), 0);
  delete fromHandle;
  EXPECT_EQ(handle, 7);
}

TEST_F(PrinterTest, UnreadableTextsAreRefused) {
  cstest::MappedPages pages(2, PROT_READ | PROT_WRITE);
  ASSERT_EQ(mprotect(pages.data() + cstest::MappedPages::PageSize(),
                     cstest::MappedPages::PageSize(), PROT_NONE),
            0);
  // A name that runs into the unreadable page before its end.
  char* name = pages.data() + cstest::MappedPages::PageSize() - 3;
  std::memcpy(name, "abc", 3);
  PerPrinterErr r = PerPrinterOk;
  CSPerPrinter p(r, "LPT1", name);
  EXPECT_EQ(r, PerPrinterErrInvalid);
  CSPerPrinter q(r, "LPT1", pages.data() + cstest::MappedPages::PageSize());
  EXPECT_EQ(r, PerPrinterErrInvalid);
  long handle = 0;
  CSPerPrinter h(r, name, "Front Desk", handle);
  EXPECT_EQ(r, PerPrinterErrFailed);
}

TEST_F(PrinterTest, PortListKeepsAllButItsLastColon) {
  struct Case {
    const char* given;
    const char* kept;
  } cases[] = {{"COM2:", "COM2"}, {"LPT1:,LPT2:", "LPT1:,LPT2"}, {"LPT1", "LPT1"}};
  for (const Case& c : cases) {
    PerPrinterErr r = PerPrinterErrFailed;
    CSPerPrinter p(r, c.given, "Front Desk");
    ASSERT_EQ(r, PerPrinterOk);
    EXPECT_EQ(Get(p, CSWKPortName), c.kept);
    EXPECT_EQ(Get(p, CSWKOutputPort), c.kept);
  }
}

TEST_F(PrinterTest, PrefixIsKeptOnlyByThePrefixConstructor) {
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter prefixed(r, "\\\\.\\", "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(Get(prefixed, CSWKPortPrefix), "\\\\.\\");
  EXPECT_EQ(Get(prefixed, CSWKPrefixedPort), "\\\\.\\LPT1");
  CSPerPrinter plain(r, "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(plain.GetStr(CSWKPortPrefix, nullptr, 0), PerPrinterErrInvalid);
  EXPECT_EQ(Get(plain, CSWKPortPrefix, 10, &r), "");
  EXPECT_EQ(r, PerPrinterOk);
  EXPECT_EQ(Get(plain, CSWKPrefixedPort), "LPT1");
}

// ---- Real name and store name

TEST_F(PrinterTest, StoreNameJoinsPortListAndRealName) {
  struct Case {
    const char* port;
    const char* name;
    const char* real;
    const char* store;
  } cases[] = {
      {"LPT1:", "Front Desk", "Model 500", "LPT1,Model 500"},
      {"LPT1:,LPT2:", "Front Desk", "Model 500", "LPT1:,LPT2,Model 500"},
      {"\\\\srv\\lp", "Front Desk", "Model 500", ",,srv,lp,Model 500"},
      {"Ne00:", "\\\\srv\\Back Office", "Model 700", "Ne00,Model 700"},
      {"LPT1", "Not Spooled", "Not Spooled", "LPT1,Not Spooled"},  // no section: the name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.store);
    PerPrinterErr r = PerPrinterErrFailed;
    CSPerPrinter p(r, c.port, c.name);
    ASSERT_EQ(r, PerPrinterOk);
    EXPECT_EQ(Get(p, CSWKCISPrinterName, 1024, &r), c.store);
    EXPECT_EQ(r, PerPrinterOk);
    EXPECT_EQ(Get(p, CSWKRealName), c.real);
  }
}

TEST_F(PrinterTest, ModelNamesTheSpoolerCannotGiveFallBackToThePrinterName) {
  const std::string model32(32, 'm'), model33(33, 'm'), longName(100, 'x');
  Spooler("[Exact]\nPrinter Model Name=" + model32 + "\n[Over]\nPrinter Model Name=" + model33 +
          "\n[Empty]\nPrinter Model Name=\n[Other]\nDriver=x\n");
  struct Case {
    std::string name;
    std::string real;
  } cases[] = {
      {"Exact", model32}, {"Over", "Over"},     {"Empty", "Empty"},
      {"Other", "Other"}, {"Absent", "Absent"}, {longName, longName.substr(0, 63)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PerPrinterErr r = PerPrinterErrFailed;
    CSPerPrinter p(r, "LPT1", c.name.c_str());
    ASSERT_EQ(r, PerPrinterOk);
    EXPECT_EQ(Get(p, CSWKRealName, 1024, &r), c.real);
    EXPECT_EQ(r, PerPrinterOk);
    EXPECT_EQ(p.GetStrLen(CSWKRealName), c.real.size());
  }
}

TEST_F(PrinterTest, SpoolerIsAskedOncePerObject) {
  Database("[Model 500]\nQZCFileName=m500.dat\n");
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(Opened(), 0);  // nothing is asked before a text needs it
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Get(p, CSWKRealName), "Model 500");
    EXPECT_EQ(Get(p, CSWKCISPrinterName), "LPT1,Model 500");
    EXPECT_EQ(Get(p, CSWKCFileName), "m500.dat");
    EXPECT_EQ(p.GetStrLen(CSWKRealName), 9);
    EXPECT_EQ(p.GetStrLen(CSWKCFileName), 8);
  }
  EXPECT_EQ(Opened(), 1);
  // A copy takes the derived texts along and does not ask again.
  CSPerPrinter copy(p);
  EXPECT_EQ(Get(copy, CSWKCISPrinterName), "LPT1,Model 500");
  EXPECT_EQ(Get(copy, CSWKRealName), "Model 500");
  EXPECT_EQ(Opened(), 1);
  // Another object asks for itself.
  CSPerPrinter other(r, "LPT2:", "Front Desk");
  EXPECT_EQ(Get(other, CSWKCISPrinterName), "LPT2,Model 500");
  EXPECT_EQ(Opened(), 2);
}

// ---- Selectors

TEST_F(PrinterTest, EverySelectorAgreesWithItsLength) {
  Database("[Common]\nQZCFileName=common.dat\n");
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter local(r, "pre:", "LPT1:,LPT2:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  CSPerPrinter network(r, "pre:", "LPT3:", "\\\\srv\\Back Office");
  ASSERT_EQ(r, PerPrinterOk);
  CSPerPrinter toFile(r, "pre:", "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  ASSERT_EQ(toFile.SetPrintToFile("C:\\out.prn"), PerPrinterOk);

  struct Case {
    CSPerPrinter* printer;
    CSPerPrinterWellKnown selector;
    const char* text;
  } cases[] = {
      {&local, CSWKPrinterName, "Front Desk"},
      {&local, CSWKRealName, "Model 500"},
      {&local, CSWKCFileName, "common.dat"},
      {&local, CSWKCISPrinterName, "LPT1:,LPT2,Model 500"},
      {&local, CSWKOutputPort, "LPT1:,LPT2"},
      {&local, CSWKPortName, "LPT1:,LPT2"},
      {&local, CSWKPrintToFile, ""},
      {&local, CSWKPortPrefix, "pre:"},
      {&local, CSWKPrefixedPort, "pre:LPT1:,LPT2"},
      {&network, CSWKOutputPort, "\\\\srv\\Back Office"},  // the network name wins
      {&network, CSWKPrefixedPort, "pre:\\\\srv\\Back Office"},
      {&network, CSWKCISPrinterName, "LPT3,Model 700"},
      {&toFile, CSWKOutputPort, "FILE"},
      {&toFile, CSWKPrefixedPort, "pre:FILE"},
      {&toFile, CSWKPrintToFile, "C:\\out.prn"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.selector) + " " + c.text);
    // The length first, so that it has to derive what it measures.
    CSPerPrinter fresh(*c.printer);
    EXPECT_EQ(fresh.GetStrLen(c.selector), std::strlen(c.text));
    EXPECT_EQ(Get(*c.printer, c.selector, 1024, &r), c.text);
    EXPECT_EQ(r, PerPrinterOk);
    EXPECT_EQ(c.printer->GetStrLen(c.selector), std::strlen(c.text));
  }
}

TEST_F(PrinterTest, CopyRuleCutsAtMax) {
  Database("[Model 500]\nQZCFileName=m500.dat\n");
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "pre:", "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  for (CSPerPrinterWellKnown selector :
       {CSWKPrinterName, CSWKRealName, CSWKCFileName, CSWKCISPrinterName, CSWKOutputPort,
        CSWKPortName, CSWKPortPrefix, CSWKPrefixedPort}) {
    SCOPED_TRACE(selector);
    const std::string whole = Get(p, selector);
    const auto len = static_cast<unsigned short>(whole.size());
    ASSERT_GT(len, 1);
    EXPECT_EQ(Get(p, selector, len, &r), whole);
    EXPECT_EQ(r, PerPrinterOk);
    EXPECT_EQ(Get(p, selector, len - 1, &r), whole.substr(0, len - 1));
    EXPECT_EQ(r, PerPrinterErrTruncated);
    EXPECT_EQ(Get(p, selector, 0, &r), "");
    EXPECT_EQ(r, PerPrinterErrTruncated);
  }
  EXPECT_EQ(Get(p, CSWKPrintToFile, 0, &r), "");  // an empty text fits in no room
  EXPECT_EQ(r, PerPrinterOk);
  // The buffer must take max characters and the zero byte; a short one stays untouched.
  cstest::MappedPages pages(2, PROT_READ | PROT_WRITE);
  const std::size_t page = cstest::MappedPages::PageSize();
  ASSERT_EQ(mprotect(pages.data() + page, page, PROT_NONE), 0);
  char* buffer = pages.data() + page - 4;
  std::memcpy(buffer, "xyz", 4);
  EXPECT_EQ(p.GetStr(CSWKPrinterName, buffer, 4), PerPrinterErrInvalid);
  EXPECT_STREQ(buffer, "xyz");
  EXPECT_EQ(p.GetStr(CSWKPrinterName, buffer, 3), PerPrinterErrTruncated);
  EXPECT_STREQ(buffer, "Fro");
}

TEST_F(PrinterTest, FileNameComesFromTheModelThenCommon) {
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(Get(p, CSWKCFileName, 1024, &r), "");
  EXPECT_EQ(r, PerPrinterErrNotFound);
  EXPECT_EQ(p.GetStrLen(CSWKCFileName), 0);
  EXPECT_EQ(p.IsInvariant(), 0);  // a printer must have a file name to be sound
  Database("[Common]\nQZCFileName=common.dat\n");
  EXPECT_EQ(Get(p, CSWKCFileName, 1024, &r), "common.dat");
  EXPECT_EQ(r, PerPrinterOk);
  EXPECT_EQ(p.IsInvariant(), 1);
  // Read afresh each time: the model's own value now comes first.
  Database("[Common]\nQZCFileName=common.dat\n[Model 500]\nQZCFileName=m500.dat\n");
  EXPECT_EQ(Get(p, CSWKCFileName, 1024, &r), "m500.dat");
  EXPECT_EQ(r, PerPrinterOk);
}

TEST_F(PrinterTest, FileNameValueOfExactlyMaxIsWhole) {
  Database("[Model 500]\nQZCFileName=m500.dat\n");
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(Get(p, CSWKCFileName, 8, &r), "m500.dat");
  EXPECT_EQ(r, PerPrinterOk);
  EXPECT_EQ(Get(p, CSWKCFileName, 7, &r), "m500.da");
  EXPECT_EQ(r, PerPrinterErrTruncated);
}

TEST_F(PrinterTest, OutputPortOfNetworkNames) {
  struct Case {
    const char* port;
    const char* name;
    const char* output;
  } cases[] = {
      {"LPT1:", "\\\\srv\\Back Office", "\\\\srv\\Back Office"},
      {"\\\\srv\\lp", "\\\\srv\\Back Office", "\\\\srv\\lp"},
      {"\\\\srv\\lp", "Front Desk", "\\\\srv\\lp"},
  };
  for (const Case& c : cases) {
    PerPrinterErr r = PerPrinterErrFailed;
    CSPerPrinter p(r, c.port, c.name);
    ASSERT_EQ(r, PerPrinterOk);
    EXPECT_EQ(Get(p, CSWKOutputPort), c.output);
  }
}

TEST_F(PrinterTest, SetStrRules) {
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(p.SetStr(CSWKPrinterName, "Other"), PerPrinterErrFailed);
  EXPECT_EQ(p.SetStr(CSWKPortName, "LPT2"), PerPrinterErrFailed);
  for (int selector : {1, 2, 3, 4, 7, 8, 9, -1}) {
    const auto s = static_cast<CSPerPrinterWellKnown>(selector);
    EXPECT_EQ(p.SetStr(s, "x"), PerPrinterErrUnsupported) << selector;
  }
  Get(p, static_cast<CSPerPrinterWellKnown>(9), 10, &r);
  EXPECT_EQ(r, PerPrinterErrUnsupported);
  EXPECT_EQ(p.GetStrLen(static_cast<CSPerPrinterWellKnown>(9)), 0);
  EXPECT_EQ(p.SetStr(CSWKPrintToFile, nullptr), PerPrinterErrInvalid);

  // Without a port at construction the list may be set once; a final colon goes.
  CSPerPrinter late(r, "", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(late.SetStr(CSWKPortName, "COM1:"), PerPrinterOk);
  EXPECT_EQ(Get(late, CSWKPortName), "COM1");
  EXPECT_EQ(late.SetStr(CSWKPortName, "COM2"), PerPrinterErrFailed);

  // Bytes: no selector has a byte form; bad pointers come first.
  char bytes[4];
  unsigned short outSize = 0;
  for (int selector = 0; selector <= 9; ++selector) {
    const auto s = static_cast<CSPerPrinterWellKnown>(selector);
    EXPECT_EQ(p.GetBytes(s, bytes, sizeof bytes, &outSize), PerPrinterErrUnsupported);
    EXPECT_EQ(p.SetBytes(s, bytes, sizeof bytes), PerPrinterErrUnsupported);
  }
  EXPECT_EQ(p.GetBytes(CSWKPrinterName, bytes, sizeof bytes, nullptr), PerPrinterErrInvalid);
  EXPECT_EQ(p.GetBytes(CSWKPrinterName, nullptr, 4, &outSize), PerPrinterErrInvalid);
  EXPECT_EQ(p.SetBytes(CSWKPrinterName, nullptr, 4), PerPrinterErrInvalid);
}

TEST_F(PrinterTest, PrintToFileOnceAndOnlyOnce) {
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "pre:", "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(p.IsPrintToFile(), 0);
  // An empty target already sends output to a file, and may still be replaced.
  EXPECT_EQ(p.SetPrintToFile(""), PerPrinterOk);
  EXPECT_EQ(p.IsPrintToFile(), 1);
  EXPECT_EQ(Get(p, CSWKOutputPort), "FILE");
  EXPECT_EQ(p.SetPrintToFile("C:\\out.prn"), PerPrinterOk);
  EXPECT_EQ(p.SetPrintToFile("C:\\other.prn"), PerPrinterErrFailed);
  EXPECT_EQ(p.SetStr(CSWKPrintToFile, ""), PerPrinterErrFailed);
  EXPECT_EQ(Get(p, CSWKPrintToFile), "C:\\out.prn");
  EXPECT_EQ(Get(p, CSWKPrefixedPort), "pre:FILE");
  EXPECT_EQ(p.GetStrLen(CSWKPrefixedPort), 8);
  EXPECT_EQ(p.SetPrintToFile(nullptr), PerPrinterErrFailed);

  // A port given as FILE: prints to a file without any target.
  CSPerPrinter filePort(r, "FILE:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(filePort.IsPrintToFile(), 1);
  EXPECT_EQ(Get(filePort, CSWKPrintToFile), "");
}

TEST_F(PrinterTest, PrintToFileTargets) {
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "C:\\port.prn", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  struct Case {
    const char* path;
    int target;
  } cases[] = {
      {"C:\\out.prn", 1}, {"\\\\srv\\share", 1}, {"out.prn", 0},
      {"C:\\", 0},        {"c:\\PORT.PRN", 0},  // the current port, compared without case
      {"C:/out.prn", 0},  {nullptr, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(p.IsPrintToFileTarget(c.path), c.target) << c.path;
}

// ---- Ports

TEST_F(PrinterTest, PooledPortsCountAndWalk) {
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "LPT1:,LPT2:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(p.PortCount(), 2);
  EXPECT_EQ(p.IsPrinterPooled(), 1);
  EXPECT_EQ(p.IsPortSelected(), 0);
  char port[128];
  EXPECT_EQ(p.FindFirstPort(port), 1);
  EXPECT_STREQ(port, "LPT1");
  EXPECT_EQ(p.FindNextPort(port, port), 1);
  EXPECT_STREQ(port, "LPT2");
  EXPECT_EQ(p.FindNextPort("LPT2", port), 0);
  EXPECT_EQ(p.FindNextPort("LPT3", port), 0);
  EXPECT_EQ(p.FindNextPort("LPT1:", port), 1);
  EXPECT_STREQ(port, "LPT2");

  struct Case {
    const char* list;
    unsigned short count;
    const char* first;
  } cases[] = {
      {"LPT1", 1, "LPT1"}, {"LPT1,", 2, "LPT1"}, {"LPT1,,LPT2", 2, "LPT1"},
      {",LPT1", 1, ""},    {"a b, c", 2, "a b"},
  };
  for (const Case& c : cases) {
    CSPerPrinter q(r, c.list, "Front Desk");
    ASSERT_EQ(r, PerPrinterOk);
    EXPECT_EQ(q.PortCount(), c.count) << c.list;
    EXPECT_EQ(q.FindFirstPort(port), c.first[0] != '\0') << c.list;
    EXPECT_STREQ(port, c.first);
  }
}

TEST_F(PrinterTest, SelectPooledPort) {
  struct Case {
    const char* name;
    PerPrinterErr result;
    const char* output;
  } cases[] = {
      {"LPT2", PerPrinterOk, "LPT2"},
      {"LPT2:", PerPrinterOk, "LPT2"},
      {"LPT1:", PerPrinterOk, "LPT1"},
      {"LPT3", PerPrinterErrFailed, "LPT1:,LPT2"},
      {"LPT", PerPrinterErrFailed, "LPT1:,LPT2"},  // a port must end after the name
      {"lpt2", PerPrinterErrFailed, "LPT1:,LPT2"},
      {"LPT1:,LPT2", PerPrinterErrFailed, "LPT1:,LPT2"},  // never a span of ports
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PerPrinterErr r = PerPrinterErrFailed;
    CSPerPrinter p(r, "LPT1:,LPT2:", "Front Desk");
    ASSERT_EQ(r, PerPrinterOk);
    EXPECT_EQ(p.SelectPooledPort(c.name), c.result);
    EXPECT_EQ(Get(p, CSWKOutputPort), c.output);
    EXPECT_EQ(p.IsPortSelected(), c.result == PerPrinterOk);
    EXPECT_EQ(Get(p, CSWKPortName), "LPT1:,LPT2");     // the list itself never changes
    EXPECT_EQ(Get(p, CSWKPrinterName), "Front Desk");  // the object stays sound
  }
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "LPT1,LPT2", "Front Desk");
  EXPECT_EQ(p.SelectPooledPort("LPT2"), PerPrinterOk);
  EXPECT_EQ(p.SelectPooledPort("LPT1"), PerPrinterOk);  // selecting again moves it again
  EXPECT_EQ(Get(p, CSWKOutputPort), "LPT1");
  EXPECT_EQ(p.SelectPooledPort(nullptr), PerPrinterErrFailed);
  ASSERT_EQ(p.SetPrintToFile("C:\\out.prn"), PerPrinterOk);
  EXPECT_EQ(p.SelectPooledPort("LPT2"), PerPrinterErrFailed);

  CSPerPrinter single(r, "LPT1:", "Front Desk");
  EXPECT_EQ(single.SelectPooledPort("COM9"), PerPrinterOk);  // not pooled: nothing to do
  EXPECT_EQ(Get(single, CSWKOutputPort), "LPT1");
  EXPECT_EQ(single.IsPortSelected(), 1);
}

TEST_F(PrinterTest, NetworkDetection) {
  struct Case {
    const char* port;
    const char* name;
    int networked;
  } cases[] = {
      {"LPT1", "Front Desk", 0},        {"com3:", "Front Desk", 0},
      {"FILE:", "Front Desk", 0},       {"Ne00:", "Front Desk", 1},
      {"Lpt1", "Front Desk", 1},        {"LPT1", "\\\\srv\\Back Office", 1},
      {"\\\\srv\\lp", "Front Desk", 1}, {"FIL", "Front Desk", 1},
  };
  for (const Case& c : cases) {
    PerPrinterErr r = PerPrinterErrFailed;
    CSPerPrinter p(r, c.port, c.name);
    ASSERT_EQ(r, PerPrinterOk);
    EXPECT_EQ(p.IsNetworked(), c.networked) << c.port << " " << c.name;
  }
  // Worked out once, from the current port of the first call.
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "LPT1,Ne00", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(p.IsNetworked(), 0);
  ASSERT_EQ(p.SelectPooledPort("Ne00"), PerPrinterOk);
  EXPECT_EQ(p.IsNetworked(), 0);
  CSPerPrinter selectedFirst(r, "LPT1,Ne00", "Front Desk");
  ASSERT_EQ(selectedFirst.SelectPooledPort("Ne00"), PerPrinterOk);
  EXPECT_EQ(selectedFirst.IsNetworked(), 1);
}

TEST_F(PrinterTest, PrinterWithoutPortBecomesUnusableOnceItsPortIsLookedUp) {
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(Get(p, CSWKPrinterName), "Front Desk");
  EXPECT_EQ(p.PortCount(), 0);  // looks the port up: nothing gives one
  Get(p, CSWKPrinterName, 1024, &r);
  EXPECT_EQ(r, PerPrinterErrInvalid);
  EXPECT_EQ(p.SelectPooledPort("LPT1"), PerPrinterErrFailed);
  EXPECT_EQ(p.IsCSPerPrinter(), 1);
}

// ---- Copies

TEST_F(PrinterTest, CopiesKeepSelectionTargetAndDerivedTexts) {
  Database("[Common]\nQZCFileName=common.dat\n");
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "pre:", "LPT1:,LPT2:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  ASSERT_EQ(p.SelectPooledPort("LPT2"), PerPrinterOk);
  ASSERT_EQ(p.IsNetworked(), 0);
  EXPECT_EQ(Get(p, CSWKCISPrinterName), "LPT1:,LPT2,Model 500");
  CSPerPrinter copy(p);
  EXPECT_EQ(copy.IsInvariant(), 1);
  EXPECT_EQ(Get(copy, CSWKOutputPort), "LPT2");
  EXPECT_EQ(Get(copy, CSWKPrefixedPort), "pre:LPT2");
  EXPECT_EQ(Get(copy, CSWKCISPrinterName), "LPT1:,LPT2,Model 500");

  CSPerPrinter target(r, "COM1", "Somebody");
  ASSERT_EQ(p.SetPrintToFile("C:\\out.prn"), PerPrinterOk);
  target = p;
  EXPECT_EQ(Get(target, CSWKPrinterName), "Front Desk");
  EXPECT_EQ(Get(target, CSWKPrintToFile), "C:\\out.prn");
  EXPECT_EQ(target.SetPrintToFile("D:\\x.prn"), PerPrinterErrFailed);
  EXPECT_EQ(Opened(), 1);

  target = target;  // nothing happens
  EXPECT_EQ(Get(target, CSWKOutputPort), "FILE");
  EXPECT_EQ(target.IsInvariant(), 1);
}

TEST_F(PrinterTest, CopyOfAPortListEndingInTwoColonsIsExact) {
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "LPT1::", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  ASSERT_EQ(Get(p, CSWKPortName), "LPT1:");
  CSPerPrinter copy(p);
  EXPECT_EQ(Get(copy, CSWKPortName), "LPT1:");
  EXPECT_EQ(Get(copy, CSWKCISPrinterName), Get(p, CSWKCISPrinterName));
}

TEST_F(PrinterTest, CopyingAnInvalidObjectInvalidatesTheTarget) {
  long handle = 0;
  PerPrinterErr r = PerPrinterOk;
  CSPerPrinter invalid(r, handle);
  ASSERT_EQ(r, PerPrinterErrFailed);
  CSPerPrinter copy(invalid);
  EXPECT_EQ(copy.IsCSPerPrinter(), 0);
  // The target gives back what it held (the leak check of the sanitised build would
  // see a lost text or block).
  CSPerPrinter target(r, "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(Get(target, CSWKCISPrinterName), "LPT1,Model 500");
  target = invalid;
  EXPECT_EQ(target.IsCSPerPrinter(), 0);
  EXPECT_EQ(target.GetStr(CSWKPrinterName, nullptr, 0), PerPrinterErrInvalid);
  Get(target, CSWKPrinterName, 10, &r);
  EXPECT_EQ(r, PerPrinterErrInvalid);
  EXPECT_EQ(target.PortCount(), 0);
  EXPECT_EQ(target.SelectPooledPort("LPT1"), PerPrinterErrFailed);
  EXPECT_EQ(target.SetPrintToFile("C:\\x.prn"), PerPrinterErrInvalid);
  EXPECT_EQ(target.IsPrintToFileTarget("C:\\x.prn"), 1);
}

TEST_F(PrinterTest, FullCheckDerivesNothingInTheCheckedObject) {
  Database("[Common]\nQZCFileName=common.dat\n");
  PerPrinterErr r = PerPrinterErrFailed;
  CSPerPrinter p(r, "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  EXPECT_EQ(p.IsInvariant(), 1);
  EXPECT_EQ(p.IsInvariant(), 1);
  EXPECT_EQ(Opened(), 2);  // each check's copy asked for itself
  EXPECT_EQ(Get(p, CSWKRealName), "Model 500");
  EXPECT_EQ(Opened(), 3);  // the object had not kept the copies' answers
}

// ---- Exhausted memory

TEST_F(PrinterTest, MissingMemoryIsReportedAndTriedAgain) {
  PerPrinterErr r = PerPrinterOk;
  {
    cstest::FailingAllocations none;
    CSPerPrinter p(r, "LPT1:", "Front Desk");
  }
  EXPECT_EQ(r, PerPrinterErrFailed);

  CSPerPrinter p(r, "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  {
    char buffer[80] = "stale";
    cstest::FailingAllocations none;
    EXPECT_EQ(p.GetStr(CSWKRealName, buffer, 79), PerPrinterErrFailed);
    EXPECT_STREQ(buffer, "");
  }
  EXPECT_EQ(Get(p, CSWKRealName, 1024, &r), "Model 500");  // the slot was left unset
  EXPECT_EQ(r, PerPrinterOk);
  {
    cstest::FailingAllocations none;
    CSPerPrinter copy(p);
    EXPECT_EQ(copy.IsCSPerPrinter(), 0);
  }
  // Wherever construction runs out of memory, it reports it and leaves nothing behind
  // (the sanitised build checks for leaks); a construction that succeeds is whole.
  for (long after = 0; after < 40; ++after) {
    SCOPED_TRACE(after);
    std::string name;
    {
      cstest::FailingAllocations some(after);
      CSPerPrinter q(r, "pre", "LPT1:", "Front Desk");
      if (r == PerPrinterOk) {
        cstest::AllowAllocations();
        name = Get(q, CSWKPrefixedPort);
      }
    }
    EXPECT_TRUE(r == PerPrinterOk || r == PerPrinterErrFailed || r == PerPrinterErrInvalid) << r;
    {
      // A first attempt that fails half-way is given back before the handle is tried.
      long handle = 0;
      PerPrinterErr h = PerPrinterOk;
      cstest::FailingAllocations some(after);
      CSPerPrinter q(h, "LPT1:", "Front Desk", handle);
      EXPECT_EQ(h == PerPrinterOk, q.IsCSPerPrinter() == 1);
    }
    if (r == PerPrinterOk) {
      EXPECT_EQ(name, "preLPT1");
    }
  }
}

}  // namespace
