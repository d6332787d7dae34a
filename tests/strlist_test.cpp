// The string list: appending and reading, the cursor that makes in-order reads one
// step each, the 255-entry limit and the index wrap-around, removal from the end,
// bad texts and exhausted memory.
#include <cslib.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/allocfail.h"
#include "support/testenv.h"

namespace {

std::vector<std::string> Read(CISStringList& list) {
  std::vector<std::string> out;
  for (unsigned i = 1; i <= list.Count(); ++i) {
    const char* text = list.Find(static_cast<unsigned char>(i));
    out.push_back(text ? text : "<null>");
  }
  return out;
}

TEST(StringList, NewListIsEmptyAndSound) {
  CISStringList list;
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Length(), 0UL);
  EXPECT_EQ(list.IsListInvariant(), 1);
  for (unsigned index : {0u, 1u, 2u, 255u})
    EXPECT_EQ(list.Find(static_cast<unsigned char>(index)), nullptr);
}

TEST(StringList, AddFindAndCursor) {
  CISStringList list;
  char source[] = "alpha";
  ASSERT_EQ(list.Add(source), CISStrOk);
  source[0] = 'X';  // the list keeps its own copy
  EXPECT_STREQ(list.Find(1), "alpha");
  EXPECT_STREQ(list.Find(0), "alpha");
  EXPECT_EQ(list.Find(2), nullptr);
  ASSERT_EQ(list.Add(""), CISStrOk);
  ASSERT_EQ(list.Add("gamma"), CISStrOk);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Length(), 10UL);
  const char* first = list.Find(1);
  // In order, out of order, past the end and back: always the right entry.
  for (unsigned index : {1u, 2u, 3u, 4u, 1u, 3u, 2u, 2u, 1u, 0u, 3u}) {
    const char* want[] = {"gamma", "alpha", "", "gamma", nullptr};
    const char* got = list.Find(static_cast<unsigned char>(index));
    if (index == 4) {
      EXPECT_EQ(got, nullptr);
    } else {
      ASSERT_NE(got, nullptr) << index;
      EXPECT_STREQ(got, want[index]) << index;
    }
    EXPECT_EQ(list.IsListInvariant(), 1);
  }
  // Text pointers stay valid through later Adds and Finds.
  for (int i = 0; i < 20; ++i) ASSERT_EQ(list.Add("more"), CISStrOk);
  EXPECT_EQ(list.Find(1), first);
  EXPECT_STREQ(first, "alpha");
}

TEST(StringList, BadTextsChangeNothing) {
  cstest::MappedPages pages(2, PROT_READ | PROT_WRITE);
  const std::size_t page = cstest::MappedPages::PageSize();
  // A text that runs into an unreadable page: its first byte is readable.
  std::memset(pages.data(), 'a', 2 * page);
  ASSERT_EQ(mprotect(pages.data() + page, page, PROT_NONE), 0);
  const char* runaway = pages.data() + page - 3;
  CISStringList list;
  ASSERT_EQ(list.Add("keep"), CISStrOk);
  EXPECT_EQ(list.Add(nullptr), CISStrErrBadString);
  EXPECT_EQ(list.Add(pages.data() + page), CISStrErrBadString);
  EXPECT_EQ(list.Add(runaway), CISStrErrBadString);
  EXPECT_EQ(list.Replace(pages.data() + page), CISStrErrInvalid);
  EXPECT_EQ(Read(list), std::vector<std::string>{"keep"});
  // A text that ends just before the unreadable page is fine.
  pages.data()[page - 1] = '\0';
  EXPECT_EQ(list.Add(runaway), CISStrOk);
  EXPECT_STREQ(list.Find(0), "aa");
}

TEST(StringList, FullListAndIndexWrap) {
  CISStringList list;
  unsigned long total = 0;
  for (unsigned i = 1; i <= 255; ++i) {
    const std::string text = "entry" + std::to_string(i);
    total += text.size();
    ASSERT_EQ(list.Add(text.c_str()), CISStrOk) << i;
  }
  EXPECT_EQ(list.Add("one too many"), CISStrErrNoRoom);
  EXPECT_EQ(list.Count(), 255);
  EXPECT_EQ(list.Length(), total);
  std::vector<std::string> all = Read(list);
  ASSERT_EQ(all.size(), 255u);
  EXPECT_EQ(all[0], "entry1");
  EXPECT_EQ(all[254], "entry255");
  // After entry 255 the next index wraps to 0, which is the last entry.
  EXPECT_STREQ(list.Find(255), "entry255");
  EXPECT_STREQ(list.Find(static_cast<unsigned char>(255 + 1)), "entry255");
  EXPECT_EQ(list.IsListInvariant(), 1);
  // Room again after removing one.
  EXPECT_EQ(list.Replace(nullptr), CISStrOk);
  EXPECT_EQ(list.Add("again"), CISStrOk);
  EXPECT_STREQ(list.Find(0), "again");
}

TEST(StringList, Replace) {
  CISStringList list;
  EXPECT_EQ(list.Replace(nullptr), CISStrOk);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Replace("only"), CISStrOk);
  EXPECT_EQ(Read(list), std::vector<std::string>{"only"});
  EXPECT_EQ(list.Replace(nullptr), CISStrOk);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.IsListInvariant(), 1);
  for (const char* t : {"a", "b", "c", "d"}) ASSERT_EQ(list.Add(t), CISStrOk);
  list.Find(3);  // cursor somewhere in the middle
  EXPECT_EQ(list.Replace("D"), CISStrOk);
  EXPECT_EQ(Read(list), (std::vector<std::string>{"a", "b", "c", "D"}));
  EXPECT_EQ(list.Replace(nullptr), CISStrOk);
  EXPECT_EQ(Read(list), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_STREQ(list.Find(0), "c");
  EXPECT_EQ(list.IsListInvariant(), 1);
}

TEST(StringList, CopiesAreIndependent) {
  CISStringList list;
  for (const char* t : {"x", "yy", "zzz"}) ASSERT_EQ(list.Add(t), CISStrOk);
  CISStringList copy(list);
  EXPECT_EQ(Read(copy), Read(list));
  EXPECT_NE(copy.Find(1), list.Find(1));
  ASSERT_EQ(copy.Replace("w"), CISStrOk);
  EXPECT_STREQ(list.Find(0), "zzz");
  CISStringList assigned;
  ASSERT_EQ(assigned.Add("old"), CISStrOk);
  assigned = copy;
  EXPECT_EQ(Read(assigned), (std::vector<std::string>{"x", "yy", "w"}));
  assigned = assigned;
  EXPECT_EQ(assigned.Count(), 3);
}

TEST(StringList, ExhaustedMemoryLeavesListAsItWas) {
  CISStringList list;
  ASSERT_EQ(list.Add("first"), CISStrOk);
  for (long after = 0; after < 12; ++after) {
    SCOPED_TRACE(after);
    CISStrErr r;
    {
      cstest::FailingAllocations fail(after);
      r = list.Add("second");
    }
    if (r == CISStrOk) {
      EXPECT_EQ(list.Count(), 2);
      ASSERT_EQ(list.Replace(nullptr), CISStrOk);
    } else {
      EXPECT_EQ(r, CISStrErrNoRoom);
    }
    EXPECT_EQ(Read(list), std::vector<std::string>{"first"});
    EXPECT_EQ(list.IsListInvariant(), 1);
  }
  {
    cstest::FailingAllocations fail(3);
    CISStringList copy(list);  // cannot be completed
    EXPECT_EQ(copy.Count(), 0);
    EXPECT_EQ(copy.IsListInvariant(), 0);
    EXPECT_EQ(copy.Add("x"), CISStrErrInvalid);
  }
}

}  // namespace
