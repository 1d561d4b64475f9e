#include "print/global_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(GlobalMemoryTest, BlocksAreZeroedLockedByCountAndFreedOnce) {
  HGLOBAL h = GlobalAlloc(GHND, 64);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 64u);
  EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
  auto* p = static_cast<unsigned char*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0) << i;
  std::memset(p, 0xAB, 64);
  EXPECT_EQ(GlobalLock(h), p);
  EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 2u);
  EXPECT_NE(GlobalUnlock(h), 0);  // still locked once
  EXPECT_EQ(GlobalUnlock(h), 0);
  EXPECT_EQ(GlobalUnlock(h), 0);  // not locked: nothing to lower
  EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
  EXPECT_EQ(static_cast<unsigned char*>(GlobalLock(h))[63], 0xAB);
  GlobalUnlock(h);
  EXPECT_EQ(GlobalFree(h), nullptr);
  // A freed handle is unknown from then on: a second free is refused.
  EXPECT_EQ(GlobalFree(h), h);
  EXPECT_EQ(GlobalFlags(h), GMEM_INVALID_HANDLE);
}

TEST(GlobalMemoryTest, UnknownHandlesFailHarmlessly) {
  HGLOBAL invalid = reinterpret_cast<HGLOBAL>(intptr_t{-1});
  int local = 0;
  for (HGLOBAL h : {static_cast<HGLOBAL>(nullptr), invalid, static_cast<HGLOBAL>(&local)}) {
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GlobalFlags(h), GMEM_INVALID_HANDLE);
  }
  EXPECT_EQ(GlobalFree(&local), &local);
  EXPECT_EQ(local, 0);
}

}  // namespace
