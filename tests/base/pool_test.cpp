#include "base/pool.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(Pool, AllocationsAreZeroedAndFreedTogether) {
  kd_mp_c pool;
  auto* one = static_cast<uint8_t*>(pool.Allocate(1));
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one[0], 0);
  EXPECT_NE(pool.Allocate(0), nullptr);  // an empty request still gets a block
  auto* big = static_cast<uint8_t*>(pool.Allocate(1000));
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(big[i], 0);
  pool.FreeAll();
  pool.FreeAll();  // twice is harmless
  EXPECT_NE(pool.Allocate(7), nullptr);  // usable after a reset
}

TEST(Pool, FailuresAreCounted) {
  UtPool pool;
  PoolFailNextAllocations(2);
  EXPECT_EQ(pool.Allocate(10), nullptr);
  EXPECT_EQ(pool.Allocate(10), nullptr);
  EXPECT_NE(pool.Allocate(10), nullptr);
  EXPECT_EQ(pool.FailureCount(), 2u);
}

TEST(Pool, ConcurrentAllocationsAllSurvive) {
  kd_mp_c pool;
  std::vector<std::thread> threads;
  std::vector<std::vector<uint32_t*>> got(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (uint32_t i = 0; i < 2000; ++i) {
        auto* p = static_cast<uint32_t*>(pool.Allocate(sizeof(uint32_t)));
        *p = t * 10000 + i;
        got[t].push_back(p);
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t)
    for (uint32_t i = 0; i < 2000; ++i) ASSERT_EQ(*got[t][i], t * 10000 + i);
}

TEST(Pool, HeapAllocatorGivesIndependentZeroedBlocks) {
  kd_heap_ma_c heap;
  auto* p = static_cast<uint8_t*>(heap.Allocate(16));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], 0);
  HeapFree(p);
  HeapFree(nullptr);
}
