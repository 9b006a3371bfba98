#include "support/hash.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(Hash, KeyedAndStable) {
  uint64_t seed = qf::process_hash_seed();
  EXPECT_EQ(seed, qf::process_hash_seed());
  EXPECT_EQ(qf::hash_bytes("key"), qf::hash_bytes("key"));
  EXPECT_NE(qf::hash_bytes("key", 1), qf::hash_bytes("key", 2));
  std::set<uint64_t> seen;
  for (int i = 0; i < 1000; ++i) seen.insert(qf::hash_bytes(std::to_string(i)));
  EXPECT_EQ(seen.size(), 1000u);
}
