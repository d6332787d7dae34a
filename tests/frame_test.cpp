// Pointer checks and the operating-system family query.
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <cslib.h>

#include "support/testenv.h"

namespace {

using cstest::MappedPages;
using cstest::ScopedEnv;

TEST(PointerCheck, NullIsInvalidWhateverTheSize) {
  EXPECT_EQ(CSIsValidReadPtr(nullptr, 0), 0);
  EXPECT_EQ(CSIsValidReadPtr(nullptr, 1), 0);
  EXPECT_EQ(CSIsValidWritePtr(nullptr, 0), 0);
  EXPECT_EQ(CSIsValidWritePtr(nullptr, 1), 0);
}

TEST(PointerCheck, ProtectionOfEachKindOfPage) {
  MappedPages none(1, PROT_NONE);
  MappedPages ro(1, PROT_READ);
  MappedPages rw(1, PROT_READ | PROT_WRITE);
  struct Case {
    const char* what;
    const void* p;
    unsigned long size;
    int read, write;
  } cases[] = {
      {"no access", none.data(), 1, 0, 0},
      {"no access, last byte", none.data() + none.size() - 1, 1, 0, 0},
      {"read-only", ro.data(), ro.size(), 1, 0},
      {"read-only, middle", ro.data() + 100, 10, 1, 0},
      {"read-write", rw.data(), rw.size(), 1, 1},
      {"size 0 on a no-access page", none.data(), 0, 1, 1},
      {"string literal", "literal", 8, 1, 0},
      {"range that wraps around", rw.data(), ~0ul, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CSIsValidReadPtr(c.p, c.size), c.read);
    EXPECT_EQ(CSIsValidWritePtr(c.p, c.size), c.write);
  }
}

TEST(PointerCheck, RangeRunningIntoAnInaccessiblePage) {
  MappedPages pages(2, PROT_READ | PROT_WRITE);
  const std::size_t page = MappedPages::PageSize();
  ASSERT_EQ(mprotect(pages.data() + page, page, PROT_NONE), 0);
  char* last = pages.data() + page - 1;
  EXPECT_EQ(CSIsValidReadPtr(last, 1), 1);
  EXPECT_EQ(CSIsValidWritePtr(last, 1), 1);
  EXPECT_EQ(CSIsValidReadPtr(last, 2), 0);
  EXPECT_EQ(CSIsValidWritePtr(last, 2), 0);
  EXPECT_EQ(CSIsValidReadPtr(pages.data(), page), 1);
  EXPECT_EQ(CSIsValidReadPtr(pages.data(), page + 1), 0);

  ASSERT_EQ(mprotect(pages.data() + page, page, PROT_READ), 0);
  EXPECT_EQ(CSIsValidReadPtr(last, 2), 1);
  EXPECT_EQ(CSIsValidWritePtr(last, 2), 0);
}

TEST(PointerCheck, WriteCheckLeavesTheBytesAsTheyWere) {
  MappedPages rw(1, PROT_READ | PROT_WRITE);
  for (std::size_t i = 0; i < rw.size(); ++i) rw.data()[i] = static_cast<char>(i * 7);
  std::vector<char> before(rw.data(), rw.data() + rw.size());
  for (std::size_t offset : {0ul, 1ul, 3ul, 4093ul})
    EXPECT_EQ(CSIsValidWritePtr(rw.data() + offset, 3), 1);
  EXPECT_EQ(std::memcmp(before.data(), rw.data(), rw.size()), 0);
}

TEST(PointerCheck, ChecksFromManyThreadsAtOnce) {
  MappedPages none(1, PROT_NONE);
  MappedPages rw(1, PROT_READ | PROT_WRITE);
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        if (CSIsValidReadPtr(none.data(), 1) != 0) ++wrong[t];
        if (CSIsValidWritePtr(rw.data() + (i % 4000), 8) != 1) ++wrong[t];
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int w : wrong) EXPECT_EQ(w, 0);
}

TEST(OSVersion, FollowsTheFamilyReadAfreshAtEachCall) {
  struct Case {
    const char* family;
    CSOSVersion expected;
  } cases[] = {
      {"winnt", CSOSWinNT},     {"win9x", CSOSWin9x},     {"win32s", CSOSWin32s},
      {"unknown", CSOSUnknown}, {"", CSOSUnknown},        {nullptr, CSOSUnknown},
      {"WINNT", CSOSUnknown},   {"beos", CSOSUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family ? c.family : "(unset)");
    ScopedEnv family("CSLIB_OS_FAMILY", c.family);
    EXPECT_EQ(CSGetOSVersion(), c.expected);
  }
}

}  // namespace
