#include "support/identity_set.hpp"

#include <gtest/gtest.h>

#include <random>
#include <unordered_set>

namespace qf {
namespace {

// Random inserts and erases over a small key range (so probe chains collide
// and wrap around) agree with std::unordered_set at every step.
TEST(IdentitySet, AgreesWithAReferenceSet) {
  std::mt19937_64 rng(11);
  IdentitySet set;
  std::unordered_set<uint64_t> ref;
  for (int step = 0; step < 200000; ++step) {
    uint64_t id = 1 + rng() % 3000;
    if (rng() % 3 == 0) {
      ASSERT_EQ(set.erase(id), ref.erase(id) == 1);
    } else {
      ASSERT_EQ(set.insert(id), ref.insert(id).second);
    }
    ASSERT_EQ(set.size(), ref.size());
    uint64_t probe = 1 + rng() % 3000;
    ASSERT_EQ(set.contains(probe), ref.count(probe) == 1);
  }
  for (uint64_t id = 1; id <= 3000; ++id) ASSERT_EQ(set.contains(id), ref.count(id) == 1);
}

TEST(IdentitySet, AddressLikeKeys) {
  IdentitySet set;
  for (uint64_t i = 0; i < 100000; ++i) ASSERT_TRUE(set.insert(0x7f0000000000ull + 16 * i));
  for (uint64_t i = 0; i < 100000; i += 2) ASSERT_TRUE(set.erase(0x7f0000000000ull + 16 * i));
  for (uint64_t i = 0; i < 100000; ++i) ASSERT_EQ(set.contains(0x7f0000000000ull + 16 * i), i % 2 == 1);
  EXPECT_FALSE(set.contains(12345));
  EXPECT_FALSE(IdentitySet().contains(1));
}

}  // namespace
}  // namespace qf
