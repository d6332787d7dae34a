// Per-printer stores on a small SPOOLER.INI: the section and file each scope binds to,
// how store results come out, stores of a printer that cannot name a section, copies,
// section removal, and the class allocation operators.
#include <cslib.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "port/profile.h"
#include "support/allocfail.h"
#include "support/testenv.h"

namespace {

using cstest::WriteFile;

constexpr char kDatabase[] = "QZFMRC15.INI";

class PerCISTest : public cstest::WinDirTest {
 protected:
  void SetUp() override {
    WriteFile(WinFile("SPOOLER.INI"), "[Front Desk]\nPrinter Model Name=Model 500\n");
  }
  std::string Database() const { return cstest::ReadFile(WinFile(kDatabase)); }
};

// The value of key in section of the default database, as the file holds it.
std::string Stored(const std::string& section, const std::string& key) {
  char buffer[512];
  cslib::port::ProfileReadValue(kDatabase, section, key, "", buffer, sizeof buffer);
  return buffer;
}

// Opens the protected members to the tests: any machine section, and deleting it.
class AnyMachineSection : public PerMachine {
 public:
  AnyMachineSection(PerPrinterErr& result, const char* section) : PerMachine(result, section) {}
  using PerCIS::DeleteSection;
};

TEST_F(PerCISTest, FixedScopesBindTheirSections) {
  struct Case {
    const char* section;
    std::function<PerCIS*(PerPrinterErr&)> make;
  } cases[] = {
      {"Common", [](PerPrinterErr& r) { return new PerMachine(r); }},
      {"QZF15", [](PerPrinterErr& r) { return new PerProduct(r); }},
      {"TestAutomation", [](PerPrinterErr& r) { return new PerTestAuto(r); }},
      {"Common", [](PerPrinterErr& r) { return new PerUserMachine(r); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section);
    PerPrinterErr r = PerPrinterErrInvalid;
    std::unique_ptr<PerCIS> store(c.make(r));
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(r, PerPrinterOk);
    EXPECT_EQ(store->IsPerCIS(), 1);
    EXPECT_EQ(store->StoreStr("Scope", c.section), PerPrinterOk);
    EXPECT_EQ(Stored(c.section, "Scope"), c.section);
  }
}

TEST_F(PerCISTest, PrinterScopesBindThePrintersTexts) {
  PerPrinterErr r = PerPrinterErrInvalid;
  CSPerPrinter printer(r, "LPT1:", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  PerPort port(r, printer);
  EXPECT_EQ(r, PerPrinterOk);
  PerModelNumber model(r, printer);
  EXPECT_EQ(r, PerPrinterOk);
  PerFriendlyName friendly(r, printer);
  EXPECT_EQ(r, PerPrinterOk);
  PerUserFriendlyName user(r, printer);
  EXPECT_EQ(r, PerPrinterOk);

  EXPECT_EQ(port.StoreStr("k", "port"), PerPrinterOk);
  EXPECT_EQ(model.StoreStr("k", "model"), PerPrinterOk);
  EXPECT_EQ(friendly.StoreStr("k", "friendly"), PerPrinterOk);
  EXPECT_EQ(Stored("LPT1", "k"), "port");
  EXPECT_EQ(Stored("Model 500", "k"), "model");
  EXPECT_EQ(Stored("LPT1,Model 500", "k"), "friendly");
  // The user's type uses the same default database file: one section for both.
  char buffer[16];
  EXPECT_EQ(user.RetrieveStr("k", buffer, sizeof buffer), PerPrinterOk);
  EXPECT_STREQ(buffer, "friendly");

  // The section stays the one bound, whatever the printer does later.
  CSPerPrinter pooled(r, "LPT1:,LPT2:", "Front Desk");
  PerPort before(r, pooled);
  ASSERT_EQ(pooled.SelectPooledPort("LPT2"), PerPrinterOk);
  EXPECT_EQ(before.StoreStr("k", "pooled"), PerPrinterOk);
  EXPECT_EQ(Stored("LPT1:,LPT2", "k"), "pooled");
  PerPort after(r, pooled);
  EXPECT_EQ(after.StoreStr("k", "selected"), PerPrinterOk);
  EXPECT_EQ(Stored("LPT2", "k"), "selected");

  // A printer that prints to a file has its port settings under "FILE".
  ASSERT_EQ(printer.SetPrintToFile("C:\\out.prn"), PerPrinterOk);
  PerPort file(r, printer);
  EXPECT_EQ(r, PerPrinterOk);
  EXPECT_EQ(file.StoreStr("k", "file"), PerPrinterOk);
  EXPECT_EQ(Stored("FILE", "k"), "file");
}

TEST_F(PerCISTest, StoreResultsAreTranslated) {
  PerPrinterErr r = PerPrinterErrInvalid;
  PerMachine store(r);
  ASSERT_EQ(r, PerPrinterOk);
  ASSERT_EQ(store.StoreStr("Name", "Front Desk"), PerPrinterOk);
  const std::string longKey(257, 'k');
  char small[4];
  char text[32];
  unsigned char bytes[2];
  unsigned short count = 0;
  const unsigned char defaults[2] = {0xAB, 0xCD};
  struct Case {
    const char* what;
    std::function<PerPrinterErr()> call;
    PerPrinterErr result;
  } cases[] = {
      {"string read", [&] { return store.RetrieveStr("Name", text, sizeof text); }, PerPrinterOk},
      {"missing string", [&] { return store.RetrieveStr("Missing", small, sizeof small); },
       PerPrinterErrNotFound},
      {"unwritable buffer", [&] { return store.RetrieveStr("Name", nullptr, 8); },
       PerPrinterErrFailed},
      {"default cut to the buffer",
       [&] { return store.RetrieveOrStoreStr("Cut", small, sizeof small, "longer"); },
       PerPrinterErrFailed},
      {"empty key", [&] { return store.StoreStr("", "x"); }, PerPrinterErrFailed},
      {"null value", [&] { return store.StoreStr("Key", nullptr); }, PerPrinterErrFailed},
      {"no bytes", [&] { return store.StoreGenericBytes("Bytes", bytes, 0); }, PerPrinterErrFailed},
      {"missing bytes", [&] { return store.RetrieveGenericBytes("Missing", bytes, 2, &count); },
       PerPrinterErrNotFound},
      {"bytes without a count",
       [&] { return store.RetrieveGenericBytes("Name", bytes, 2, nullptr); }, PerPrinterErrFailed},
      {"text longer than the bytes",
       [&] { return store.RetrieveGenericBytes("Name", bytes, 2, &count); }, PerPrinterErrFailed},
      {"default bytes, no count",
       [&] { return store.RetrieveOrStoreGenericBytes("Pair", bytes, 2, nullptr, defaults); },
       PerPrinterOk},
      {"delete missing", [&] { return store.Delete("Missing"); }, PerPrinterOk},
      {"delete long key", [&] { return store.Delete(longKey.c_str()); }, PerPrinterErrFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(), c.result);
  }
  EXPECT_STREQ(text, "Front Desk");
  EXPECT_EQ(Stored("Common", "Cut"), "longer");  // stored whole though reported
  EXPECT_EQ(Stored("Common", "Pair"), "abcd");
  EXPECT_EQ(bytes[0], 0xAB);
  EXPECT_EQ(bytes[1], 0xCD);

  unsigned short word = 0x1234;
  EXPECT_EQ(store.StoreWord("Word", word), PerPrinterOk);
  EXPECT_EQ(Stored("Common", "Word"), "3412");
  EXPECT_EQ(store.RetrieveWord("Word"), 0x1234);
  unsigned long dword = 7;
  EXPECT_EQ(store.RetrieveOrStoreDWord("DWord", dword), 7ul);
  EXPECT_EQ(Stored("Common", "DWord"), "07000000");
  unsigned long other = 9;
  EXPECT_EQ(store.RetrieveOrStoreDWord("DWord", other), 7ul);  // read, not stored again
  EXPECT_EQ(store.RetrieveDWord("Missing"), 0ul);
  EXPECT_EQ(store.RetrieveStrLen("Name"), 10);
  EXPECT_EQ(store.Delete("Name"), PerPrinterOk);
  EXPECT_EQ(store.RetrieveStrLen("Name"), 0);
}

TEST_F(PerCISTest, APrinterThatCannotNameASectionGivesUnusableStores) {
  long handle = 1;
  PerPrinterErr r = PerPrinterOk;
  CSPerPrinter invalid(r, handle);
  ASSERT_EQ(r, PerPrinterErrFailed);
  // A network printer on a local port stores its port settings under its name; one
  // of 256 characters is longer than any section the store takes.
  const std::string longName = "\\\\srv\\" + std::string(250, 'n');
  CSPerPrinter network(r, "LPT1:", longName.c_str());
  ASSERT_EQ(r, PerPrinterOk);
  // A printer without a port derives the store name "," once and then fails its
  // checks: every such printer would share that section.
  CSPerPrinter portless(r, "", "Front Desk");
  ASSERT_EQ(r, PerPrinterOk);
  const std::string before = Database();

  std::vector<std::unique_ptr<PerCIS>> stores;
  stores.emplace_back(new PerPort(r, invalid));
  EXPECT_EQ(r, PerPrinterErrFailed);
  stores.emplace_back(new PerModelNumber(r, invalid));
  EXPECT_EQ(r, PerPrinterErrFailed);
  stores.emplace_back(new PerFriendlyName(r, invalid));
  EXPECT_EQ(r, PerPrinterErrFailed);
  stores.emplace_back(new PerUserFriendlyName(r, invalid));
  EXPECT_EQ(r, PerPrinterErrFailed);
  stores.emplace_back(new PerPort(r, network));
  EXPECT_EQ(r, PerPrinterErrFailed);
  stores.emplace_back(new PerFriendlyName(r, portless));
  EXPECT_EQ(r, PerPrinterErrFailed);
  stores.emplace_back(new AnyMachineSection(r, std::string(194, 's').c_str()));
  EXPECT_EQ(r, PerPrinterErrFailed);

  for (auto& store : stores) {
    EXPECT_EQ(store->IsPerCIS(), 0);
    unsigned short word = 1;
    unsigned long dword = 1;
    char buffer[8];
    unsigned short count = 0;
    EXPECT_EQ(store->StoreStr("k", "v"), PerPrinterErrFailed);
    EXPECT_EQ(store->StoreWord("k", word), PerPrinterErrFailed);
    EXPECT_EQ(store->StoreDWord("k", dword), PerPrinterErrFailed);
    EXPECT_EQ(store->StoreGenericBytes("k", "v", 1), PerPrinterErrFailed);
    EXPECT_EQ(store->Delete("k"), PerPrinterErrFailed);
    EXPECT_EQ(store->RetrieveStr("k", buffer, sizeof buffer), PerPrinterErrFailed);
    EXPECT_EQ(store->RetrieveOrStoreStr("k", buffer, sizeof buffer, "v"), PerPrinterErrFailed);
    EXPECT_EQ(store->RetrieveGenericBytes("k", buffer, 1, &count), PerPrinterErrFailed);
    EXPECT_EQ(store->RetrieveOrStoreGenericBytes("k", buffer, 1, &count, "v"), PerPrinterErrFailed);
    EXPECT_EQ(store->RetrieveOrStoreWord("k", word), 0);
    EXPECT_EQ(store->RetrieveOrStoreDWord("k", dword), 0ul);
    EXPECT_EQ(store->RetrieveWord("k"), 0);
    EXPECT_EQ(store->RetrieveDWord("k"), 0ul);
    EXPECT_EQ(store->RetrieveStrLen("k"), 0);
  }
  EXPECT_EQ(Database(), before);  // nothing written by any of them
}

TEST_F(PerCISTest, CopiesAreIndependentAndAFailedCopyIsUnusable) {
  PerPrinterErr r = PerPrinterErrInvalid;
  auto* original = new PerProduct(r);
  ASSERT_EQ(r, PerPrinterOk);
  PerProduct copy(*original);
  delete original;
  EXPECT_EQ(copy.IsPerCIS(), 1);
  EXPECT_EQ(copy.StoreStr("k", "copy"), PerPrinterOk);
  EXPECT_EQ(Stored("QZF15", "k"), "copy");

  copy = copy;  // assigning an object to itself keeps it
  EXPECT_EQ(copy.IsPerCIS(), 1);

  long handle = 0;
  CSPerPrinter invalidPrinter(r, handle);
  PerFriendlyName unusable(r, invalidPrinter);
  ASSERT_EQ(r, PerPrinterErrFailed);
  PerFriendlyName fromUnusable(unusable);
  EXPECT_EQ(fromUnusable.IsPerCIS(), 0);
  // Assigning an unusable object gives back the store the target held (the leak
  // checker of the sanitizer build sees any left behind) and leaves it unusable.
  PerCIS& target = copy;
  target = unusable;
  EXPECT_EQ(copy.IsPerCIS(), 0);
  EXPECT_EQ(copy.StoreStr("k", "lost"), PerPrinterErrFailed);
  EXPECT_EQ(Stored("QZF15", "k"), "copy");

  PerMachine machine(r);
  for (long after : {0L, 1L, 2L}) {
    SCOPED_TRACE(after);
    std::optional<PerMachine> failed;
    {
      // The store object itself, then each of the names it copies.
      cstest::FailingAllocations some(after);
      failed.emplace(machine);
    }
    EXPECT_EQ(failed->IsPerCIS(), 0);
    EXPECT_EQ(failed->StoreStr("k", "v"), PerPrinterErrFailed);
  }
}

TEST_F(PerCISTest, ClassAllocationReturnsNullAndDeletesWholeThroughTheBase) {
  PerPrinterErr r = PerPrinterErrInvalid;
  {
    cstest::FailingAllocations none;
    EXPECT_EQ(new PerMachine(r), nullptr);
  }
  CSPerPrinter printer(r, "LPT1:", "Front Desk");
  PerCIS* store = new PerUserFriendlyName(r, printer);
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(r, PerPrinterOk);
  delete store;  // the sanitizer build checks that the store went with it
}

TEST_F(PerCISTest, DeletingSections) {
  PerPrinterErr r = PerPrinterErrInvalid;
  CSPerPrinter printer(r, "LPT1:", "Front Desk");
  PerFriendlyName friendly(r, printer);
  ASSERT_EQ(r, PerPrinterOk);
  PerTestAuto automation(r);
  ASSERT_EQ(r, PerPrinterOk);
  ASSERT_EQ(friendly.StoreStr("a", "1"), PerPrinterOk);
  ASSERT_EQ(automation.StoreStr("b", "2"), PerPrinterOk);
  ASSERT_EQ(automation.StoreStr("c", "3"), PerPrinterOk);

  {
    cstest::ScopedEnv nt("CSLIB_OS_FAMILY", "winnt");
    const std::string before = Database();
    EXPECT_EQ(friendly.DeleteSection(printer), PerPrinterErrFailed);
    EXPECT_EQ(Database(), before);
  }
  // A store name longer than the 64 characters read is never used cut.
  const std::string longPort(70, 'p');
  CSPerPrinter longNamed(r, longPort.c_str(), "Front Desk");
  PerFriendlyName longStore(r, longNamed);
  ASSERT_EQ(r, PerPrinterOk);
  ASSERT_EQ(longStore.StoreStr("d", "4"), PerPrinterOk);
  const std::string cut = longPort.substr(0, 64);
  AnyMachineSection cutSection(r, cut.c_str());
  ASSERT_EQ(cutSection.StoreStr("e", "5"), PerPrinterOk);
  std::string before = Database();
  EXPECT_EQ(longStore.DeleteSection(longNamed), PerPrinterErrTruncated);
  EXPECT_EQ(Database(), before);

  EXPECT_EQ(friendly.DeleteSection(printer), PerPrinterOk);
  EXPECT_EQ(Stored("LPT1,Model 500", "a"), "");
  EXPECT_EQ(Stored("TestAutomation", "b"), "2");
  EXPECT_EQ(automation.DeleteSection(), PerPrinterOk);
  EXPECT_EQ(Stored("TestAutomation", "b"), "");
  EXPECT_EQ(Stored("TestAutomation", "c"), "");
  EXPECT_EQ(Database().find("[TestAutomation]"), std::string::npos);

  // Any section of the object's file, by name; the store's refusal comes out as -740.
  EXPECT_EQ(cutSection.DeleteSection(cut.c_str()), PerPrinterOk);
  EXPECT_EQ(Stored(cut, "e"), "");
  EXPECT_EQ(cutSection.DeleteSection(std::string(257, 's').c_str()), PerPrinterErrFailed);
  long handle = 0;
  CSPerPrinter invalidPrinter(r, handle);
  PerFriendlyName unusable(r, invalidPrinter);
  EXPECT_EQ(unusable.DeleteSection(longNamed), PerPrinterErrFailed);
  EXPECT_EQ(Stored(longPort + ",Model 500", "d"), "4");
}

}  // namespace
