// Process services: the sleep hook, also when several threads sleep at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "ui/Process.h"

namespace {

TEST(SleepMs, HookReplacesRealSleeping) {
  std::vector<unsigned> asked;
  SetSleepHook([&](unsigned ms) { asked.push_back(ms); });
  const auto start = std::chrono::steady_clock::now();
  SleepMs(1000);
  SleepMs(5);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  SetSleepHook({});
  EXPECT_EQ(asked, (std::vector<unsigned>{1000, 5}));
  EXPECT_LT(elapsed, std::chrono::milliseconds(500));

  // Without a hook the time really passes.
  const auto before = std::chrono::steady_clock::now();
  SleepMs(20);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(20));
  EXPECT_EQ(asked.size(), 2u);
}

TEST(SleepMs, ThreadsMaySleepWhileTheHookChanges) {
  std::atomic<int> first{0}, second{0};
  SetSleepHook([&](unsigned) { first.fetch_add(1, std::memory_order_relaxed); });
  std::vector<std::thread> sleepers;
  for (int t = 0; t < 2; ++t) {
    sleepers.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) SleepMs(1);
    });
  }
  for (int i = 0; i < 200; ++i) {
    SetSleepHook([&](unsigned) { second.fetch_add(1, std::memory_order_relaxed); });
    SetSleepHook([&](unsigned) { first.fetch_add(1, std::memory_order_relaxed); });
  }
  for (auto& t : sleepers) t.join();
  SetSleepHook({});
  // Every sleep went to one hook or the other: none slept for real, none was lost.
  EXPECT_EQ(first.load() + second.load(), 4000);
}

}  // namespace
