#include "support/hash.hpp"

#include <gtest/gtest.h>

#include <set>
#include <vector>
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

// Every byte of every length counts (the short forms read overlapping words),
// and the low bits, which index the key tables, spread evenly.
TEST(Hash, EveryByteCountsAndLowBitsSpread) {
  std::set<uint64_t> seen;
  size_t made = 0;
  for (size_t n = 0; n <= 40; ++n) {
    const std::string base(n, 'k');
    seen.insert(qf::hash_bytes(base, 7));
    ++made;
    for (size_t i = 0; i < n; ++i) {
      std::string t = base;
      t[i] = 'q';
      seen.insert(qf::hash_bytes(t, 7));
      ++made;
    }
  }
  EXPECT_EQ(seen.size(), made);

  std::vector<int> buckets(1024);
  for (int i = 0; i < 100000; ++i) ++buckets[qf::hash_bytes("field_" + std::to_string(i), 7) & 1023];
  for (int count : buckets) {
    EXPECT_GT(count, 40);
    EXPECT_LT(count, 160);
  }
}
