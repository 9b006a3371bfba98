// Shared by the C++ tests of several subsystems: runs a test body on a thread
// with a small stack, so that recursion over a deep tree crashes instead of
// passing by luck.
#pragma once
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <utility>

namespace qf::test {

template <class F>
void run_on_small_stack(F fn, size_t stack_size = 256 * 1024) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stack_size);
  pthread_t thread;
  auto* task = new F(std::move(fn));
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* p) -> void* {
                  auto* f = static_cast<F*>(p);
                  (*f)();
                  delete f;
                  return nullptr;
                },
                task),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

}  // namespace qf::test
