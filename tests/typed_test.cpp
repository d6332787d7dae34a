// CrossInstanceStore typed values: the exact hex text each store writes, the lenient
// decoding of texts people edit, defaults stored once and only once, measuring, the
// largest byte strings read back whole, deleting, and running out of memory.
#include <cslib.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "port/profile.h"
#include "support/allocfail.h"
#include "support/testenv.h"

namespace {

using cstest::FailingSize;
using cstest::ScopedEnv;

class TypedTest : public cstest::WinDirTest {
 protected:
  void SetUp() override {
    CISErr result = CISErrFailed;
    store_ = std::make_unique<CrossInstanceStore>(result, "Sec", CISTypeMachine, "");
    ASSERT_EQ(result, CISOk);
  }
  std::string Db() const { return WinFile("QZFMRC15.INI"); }
  std::string Map() const { return WinFile("QZFCSS15.INI"); }
  std::string Entry(const std::string& key) const {
    std::vector<char> buffer(200000);
    cslib::port::ProfileGetString("Sec", key.c_str(), "<missing>", buffer.data(), buffer.size(),
                                  Db().c_str());
    return buffer.data();
  }
  std::string Mapped(const std::string& key) const {
    char buffer[1024];
    cslib::port::ProfileGetString("DefMap;Sec", key.c_str(), "<missing>", buffer, sizeof buffer,
                                  Map().c_str());
    return buffer;
  }
  // Every write replaces the file, so an unchanged inode means nothing was written.
  ino_t Inode(const std::string& path) const {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
  }
  CrossInstanceStore& store() { return *store_; }

 private:
  std::unique_ptr<CrossInstanceStore> store_;
};

TEST_F(TypedTest, StoresWriteLowerCaseHexInMemoryOrder) {
  unsigned char byte = 0x5A;
  unsigned short word = 0x1234;
  unsigned long dword = 0x12345678;
  unsigned long wide = 0xAABBCCDD9ABCDEF0UL;  // only the low four bytes are kept
  const unsigned char bytes[] = {0x00, 0xAB, 0xFF};
  EXPECT_EQ(store().StoreOneByte("byte", byte), CISOk);
  EXPECT_EQ(store().StoreWord("word", word), CISOk);
  EXPECT_EQ(store().StoreDWord("dword", dword), CISOk);
  EXPECT_EQ(store().StoreDWord("wide", wide), CISOk);
  EXPECT_EQ(store().StoreGenericBytes("bytes", bytes, sizeof bytes), CISOk);
  EXPECT_EQ(Entry("byte"), "5a");
  EXPECT_EQ(Entry("word"), "3412");
  EXPECT_EQ(Entry("dword"), "78563412");
  EXPECT_EQ(Entry("wide"), "f0debc9a");
  EXPECT_EQ(Entry("bytes"), "00abff");
  EXPECT_EQ(Mapped("dword"), Db());

  EXPECT_EQ(store().RetrieveOneByte("byte"), 0x5A);
  EXPECT_EQ(store().RetrieveWord("word"), 0x1234);
  EXPECT_EQ(store().RetrieveDWord("dword"), 0x12345678UL);
  EXPECT_EQ(store().RetrieveDWord("wide"), 0x9ABCDEF0UL);
  unsigned char back[3];
  unsigned short count = 0;
  EXPECT_EQ(store().RetrieveGenericBytes("bytes", back, sizeof back, &count, nullptr), CISOk);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::memcmp(back, bytes, 3), 0);
}

TEST_F(TypedTest, DecodingIsLenient) {
  const struct {
    const char* text;
    unsigned short size;
    std::vector<unsigned char> bytes;  // the destination afterwards (it starts as 0xEE)
    unsigned short count;
    CISErr result;
  } cases[] = {
      {"3412", 2, {0x34, 0x12}, 2, CISOk},
      {"AB CD", 2, {0xAB, 0xCD}, 2, CISErrTruncated},  // 5 characters for 2 bytes
      {"aB-c:D", 4, {0xAB, 0xCD, 0xEE, 0xEE}, 2, CISOk},
      {"12;34", 2, {0x12, 0xEE}, 1, CISErrTruncated},  // the comment counts as text
      {"12 ;34", 4, {0x12, 0xEE, 0xEE, 0xEE}, 1, CISOk},
      {"5", 2, {0x50, 0xEE}, 0, CISOk},  // a digit without its partner
      {"123", 2, {0x12, 0x30}, 1, CISOk},
      {"xy", 2, {0xEE, 0xEE}, 0, CISOk},
      {"\xB1\xB2", 1, {0x12}, 1, CISOk},  // the low seven bits: 1 and 2
      {"12\xBB"
       "34",
       4,
       {0x12, 0xEE, 0xEE, 0xEE},
       1,
       CISOk},  // 0xBB is ';'
      {"0a0b0c0d0e", 4, {0x0A, 0x0B, 0x0C, 0x0D}, 4, CISErrTruncated},
      {"\x01"
       "1\t2",
       2,
       {0x12, 0xEE},
       1,
       CISOk},  // control characters separate
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(store().StoreStr("k", c.text), CISOk);
    std::vector<unsigned char> out(c.size, 0xEE);
    unsigned short count = 99;
    EXPECT_EQ(store().RetrieveGenericBytes("k", out.data(), c.size, &count, nullptr), c.result);
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(out, c.bytes);
  }
  // The single-value reads start from 0 and keep what the text gives.
  ASSERT_EQ(store().StoreStr("five", "5"), CISOk);
  EXPECT_EQ(store().RetrieveOneByte("five"), 0x50);
  EXPECT_EQ(store().RetrieveWord("five"), 0x0050);
  EXPECT_EQ(store().RetrieveDWord("five"), 0x50UL);
  EXPECT_EQ(store().RetrieveWord("missing"), 0);
}

TEST_F(TypedTest, DefaultsAreStoredOnceAndOnlyOnce) {
  unsigned long seven = 7, nine = 9;
  EXPECT_EQ(store().RetrieveOrStoreDWord("d", seven), 7UL);
  EXPECT_EQ(Entry("d"), "07000000");
  const ino_t db = Inode(Db()), map = Inode(Map());
  EXPECT_EQ(store().RetrieveOrStoreDWord("d", nine), 7UL);
  EXPECT_EQ(Inode(Db()), db);
  EXPECT_EQ(Inode(Map()), map);

  unsigned char byte = 0xC3;
  unsigned short word = 0xBEEF;
  EXPECT_EQ(store().RetrieveOrStoreOneByte("b", byte), 0xC3);
  EXPECT_EQ(store().RetrieveOrStoreWord("w", word), 0xBEEF);
  EXPECT_EQ(Entry("b"), "c3");
  EXPECT_EQ(Entry("w"), "efbe");

  // An empty entry counts as missing: the default goes over it.
  ASSERT_EQ(store().StoreStr("empty", ""), CISOk);
  EXPECT_EQ(store().RetrieveOrStoreDWord("empty", nine), 9UL);
  EXPECT_EQ(Entry("empty"), "09000000");

  // A text without digits is no missing entry: nothing is stored.
  ASSERT_EQ(store().StoreStr("junk", "xy"), CISOk);
  EXPECT_EQ(store().RetrieveOrStoreDWord("junk", nine), 0UL);
  EXPECT_EQ(Entry("junk"), "xy");

  // The byte-string form hands the default back whole with the store's result.
  const unsigned char fallback[] = {1, 2, 3};
  unsigned char out[3] = {0, 0, 0};
  unsigned short count = 0;
  EXPECT_EQ(store().RetrieveGenericBytes("g", out, 3, &count, fallback), CISOk);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::memcmp(out, fallback, 3), 0);
  EXPECT_EQ(Entry("g"), "010203");
  const std::string k257(257, 'k');
  EXPECT_EQ(store().RetrieveGenericBytes(k257.c_str(), out, 3, &count, fallback), CISErrFailed);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(store().RetrieveGenericBytes("none", out, 3, &count, nullptr), CISErrNotFound);
  EXPECT_EQ(count, 0);
}

TEST_F(TypedTest, Measuring) {
  ASSERT_EQ(store().StoreStr("s300", std::string(300, 'x').c_str()), CISOk);
  ASSERT_EQ(store().StoreStr("five", "ab cd"), CISOk);
  ASSERT_EQ(store().StoreStr("huge", std::string(70000, 'f').c_str()), CISOk);
  ASSERT_EQ(store().StoreStr("empty", ""), CISOk);
  EXPECT_EQ(store().RetrieveSizeStr("s300"), 300);
  EXPECT_EQ(store().RetrieveSizeStr("huge"), 65407);
  EXPECT_EQ(store().RetrieveSizeStr("empty"), 0);
  EXPECT_EQ(store().RetrieveSizeStr("missing"), 0);
  EXPECT_EQ(store().RetrieveSizeStr(std::string(257, 'k').c_str()), 0);
  EXPECT_EQ(store().RetrieveSizeBytes("five"), 3);
  EXPECT_EQ(store().RetrieveSizeBytes("huge"), 35000);
  EXPECT_EQ(store().RetrieveSizeBytes("missing"), 0);
  EXPECT_EQ(Mapped("missing"), Db());  // measuring maps the key as a read does
}

TEST_F(TypedTest, LargestByteStringsReadBackWhole) {
  for (unsigned short n : {32703, 32704, 32767}) {
    SCOPED_TRACE(n);
    std::vector<unsigned char> data(n);
    for (unsigned i = 0; i < n; ++i) data[i] = static_cast<unsigned char>(i * 7 + i / 256);
    ASSERT_EQ(store().StoreGenericBytes("big", data.data(), n), CISOk);
    EXPECT_EQ(store().RetrieveSizeBytes("big"), n);
    std::vector<unsigned char> out(n);
    unsigned short count = 0;
    EXPECT_EQ(store().RetrieveGenericBytes("big", out.data(), n, &count, nullptr), CISOk);
    EXPECT_EQ(count, n);
    EXPECT_EQ(out, data);
    // A destination one byte short says so.
    EXPECT_EQ(store().RetrieveGenericBytes("big", out.data(), n - 1, &count, nullptr),
              CISErrTruncated);
    EXPECT_EQ(count, n - 1);
  }
  // Longer strings could not be read back whole: refused, nothing written.
  std::vector<unsigned char> too_long(32768, 0x11);
  EXPECT_EQ(store().StoreGenericBytes("long", too_long.data(), 32768), CISErrFailed);
  EXPECT_EQ(store().StoreGenericBytes("long", too_long.data(), 65535), CISErrFailed);
  EXPECT_EQ(Entry("long"), "<missing>");
}

TEST_F(TypedTest, RefusedStoresWriteNothing) {
  const unsigned char data[] = {1};
  const std::string k257(257, 'k');
  EXPECT_EQ(store().StoreGenericBytes("k", data, 0), CISErrFailed);
  EXPECT_EQ(store().StoreGenericBytes("", data, 1), CISErrFailed);
  EXPECT_EQ(store().StoreGenericBytes(k257.c_str(), data, 1), CISErrFailed);
  EXPECT_EQ(store().StoreGenericBytes("a=b", data, 1), CISErrFailed);
  unsigned long value = 1;
  EXPECT_EQ(store().StoreDWord("", value), CISErrFailed);
  EXPECT_FALSE(cstest::FileExists(Db()));
  EXPECT_FALSE(cstest::FileExists(Map()));
}

TEST_F(TypedTest, Delete) {
  unsigned short word = 1;
  ASSERT_EQ(store().StoreWord("k", word), CISOk);
  EXPECT_EQ(store().Delete("K"), CISOk);
  EXPECT_EQ(Entry("k"), "<missing>");
  EXPECT_EQ(Mapped("k"), "<missing>");
  EXPECT_EQ(store().Delete("never there"), CISOk);
  EXPECT_EQ(store().Delete(std::string(257, 'k').c_str()), CISErrFailed);
  EXPECT_EQ(store().Delete(nullptr), CISErrInvalid);
}

TEST_F(TypedTest, BadPointersAndInvalidStores) {
  cstest::MappedPages none(1, PROT_NONE);
  cstest::MappedPages readonly(1, PROT_READ);
  unsigned char out[4];
  unsigned short count = 0;
  unsigned long value = 5;
  const unsigned char data[4] = {1, 2, 3, 4};
  EXPECT_EQ(store().StoreGenericBytes(nullptr, data, 4), CISErrInvalid);
  EXPECT_EQ(store().StoreGenericBytes("k", none.data(), 4), CISErrInvalid);
  EXPECT_EQ(store().StoreGenericBytes("k", nullptr, 0), CISErrInvalid);
  EXPECT_EQ(store().StoreDWord(none.data(), value), CISErrInvalid);
  EXPECT_EQ(store().RetrieveGenericBytes("k", readonly.data(), 4, &count, nullptr), CISErrInvalid);
  EXPECT_EQ(store().RetrieveGenericBytes(
                "k", out, 4, reinterpret_cast<unsigned short*>(readonly.data()), nullptr),
            CISErrInvalid);
  EXPECT_EQ(store().RetrieveOrStoreDWord(nullptr, value), 0UL);
  EXPECT_EQ(store().RetrieveSizeBytes(none.data()), 0);
  EXPECT_FALSE(cstest::FileExists(Db()));
  // An unreadable default matters only when the entry is missing.
  ASSERT_EQ(store().StoreDWord("there", value), CISOk);
  EXPECT_EQ(store().RetrieveGenericBytes("there", out, 4, &count, none.data()), CISOk);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(store().RetrieveGenericBytes("absent", out, 4, &count, none.data()), CISErrInvalid);
  EXPECT_EQ(Entry("absent"), "<missing>");

  CISErr result;
  CrossInstanceStore invalid(result, "Sec", CISTypeMachine, nullptr);
  EXPECT_EQ(invalid.StoreDWord("k", value), CISErrInvalid);
  EXPECT_EQ(invalid.Delete("k"), CISErrInvalid);
  EXPECT_EQ(invalid.RetrieveDWord("there"), 0UL);
  EXPECT_EQ(invalid.RetrieveOrStoreDWord("new", value), 0UL);
  EXPECT_EQ(invalid.RetrieveSizeStr("there"), 0);
  EXPECT_EQ(invalid.RetrieveGenericBytes("there", out, 4, &count, nullptr), CISErrInvalid);
  EXPECT_EQ(Entry("new"), "<missing>");
}

TEST_F(TypedTest, OutOfMemoryIsReportedAndWritesNothing) {
  // A 25,000-byte string's text and terminator take 50,001 bytes.
  std::vector<unsigned char> data(25000, 0x5C);
  {
    FailingSize fail(50001);
    EXPECT_EQ(store().StoreGenericBytes("k", data.data(), 25000), CISErrNoMemory);
  }
  EXPECT_EQ(Entry("k"), "<missing>");
  ASSERT_EQ(store().StoreGenericBytes("k", data.data(), 25000), CISOk);
  std::vector<unsigned char> out(25000, 0);
  unsigned short count = 7;
  {
    FailingSize fail(50001);
    EXPECT_EQ(store().RetrieveGenericBytes("k", out.data(), 25000, &count, data.data()),
              CISErrNoMemory);
  }
  EXPECT_EQ(count, 0);
  EXPECT_EQ(out, std::vector<unsigned char>(25000, 0));
  EXPECT_EQ(store().RetrieveGenericBytes("k", out.data(), 25000, &count, nullptr), CISOk);
  EXPECT_EQ(out, data);
}

}  // namespace
