#pragma once
// Goals set against a copy of the frame are measured against one memcpy of its bytes, timed
// in the same run as the work compared with it, so a machine that slows down slows both.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace benchref {

using Clock = std::chrono::steady_clock;

// Seconds per memcpy of bytes between two buffers: the median of nine rounds.
inline double CopySeconds(size_t bytes) {
  constexpr int ROUNDS = 9;
  constexpr int COPIES = 200;
  std::vector<uint8_t> from(bytes, 0x5A), to(bytes, 0);
  std::vector<double> rounds;
  for (int r = 0; r < ROUNDS; ++r) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < COPIES; ++i) {
      std::memcpy(to.data(), from.data(), bytes);
      benchmark::ClobberMemory();
    }
    rounds.push_back(std::chrono::duration<double>(Clock::now() - start).count() / COPIES);
  }
  std::nth_element(rounds.begin(), rounds.begin() + ROUNDS / 2, rounds.end());
  return rounds[ROUNDS / 2];
}

// The benchmark's time per iteration since start, over a copy of bytes measured right
// after it, as the counter "x_copy".
inline void ReportCopyRatio(benchmark::State& state, Clock::time_point start, size_t bytes) {
  if (state.iterations() == 0) return;
  const double each = std::chrono::duration<double>(Clock::now() - start).count() / state.iterations();
  state.counters["x_copy"] = each / CopySeconds(bytes);
}

}  // namespace benchref
