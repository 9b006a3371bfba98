#include "support/stack_guard.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// A walk deep enough to overflow an 8 MiB stack several times over without
// the guard (each level holds a 1 KiB frame).
size_t deep(size_t n) {
  if (n == 0) return 0;
  volatile char pad[1024];
  pad[0] = static_cast<char>(n);
  return qf::ensure_stack([&] { return deep(n - 1); }) + 1 + (pad[0] & 0);
}

void throw_at(size_t n) {
  if (n == 0) throw std::runtime_error("bottom");
  volatile char pad[1024];
  pad[0] = 1;
  qf::ensure_stack([&] { throw_at(n - 1 + (pad[0] & 0)); });
}

}  // namespace

TEST(StackGuard, RemainingStackIsPositiveAndShrinks) {
  size_t outer = qf::remaining_stack();
  EXPECT_GT(outer, qf::kStackReserve);
  size_t inner = qf::ensure_stack([] { return qf::remaining_stack(); });
  EXPECT_LE(inner, outer);
}

TEST(StackGuard, DeepRecursionContinuesOnFreshStacks) {
  // 100k levels of >1 KiB: about 100 MiB of stack, several fresh stacks chained.
  EXPECT_EQ(deep(100000), 100000u);
}

TEST(StackGuard, ExceptionsCrossStacks) {
  try {
    throw_at(50000);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "bottom");
  }
}

TEST(StackGuard, ResultsOfEveryKind) {
  // Force the fresh-stack path directly.
  int x = 0;
  struct Ctx {
    int* x;
  } c{&x};
  qf::run_on_fresh_stack([](void* p) { *static_cast<Ctx*>(p)->x = 42; }, &c);
  EXPECT_EQ(x, 42);
  EXPECT_GT(qf::remaining_stack(), qf::kStackReserve);
}

TEST(StackGuard, WorksOnSmallThreadStacks) {
  size_t got = 0;
  std::thread t([&] { got = deep(20000); });
  t.join();
  EXPECT_EQ(got, 20000u);
}

TEST(StackGuard, MoveOnlyAndReferenceResults) {
  int value = 5;
  int& r = qf::ensure_stack([&]() -> int& { return value; });
  EXPECT_EQ(&r, &value);
  auto p = qf::ensure_stack([] { return std::make_unique<std::string>("x"); });
  EXPECT_EQ(*p, "x");
}
