#include "support/borrow_flag.hpp"

#include <gtest/gtest.h>

TEST(BorrowFlag, SharedAndExclusiveExcludeEachOther) {
  qf::BorrowFlag f;
  EXPECT_TRUE(f.try_share());
  EXPECT_TRUE(f.try_share());
  EXPECT_EQ(f.value(), 2);
  EXPECT_FALSE(f.try_exclusive());
  f.release_share();
  f.release_share();
  EXPECT_TRUE(f.try_exclusive());
  EXPECT_EQ(f.value(), -1);
  EXPECT_FALSE(f.try_share());
  EXPECT_FALSE(f.try_exclusive());
  f.release_exclusive();
  EXPECT_EQ(f.value(), 0);
}
