#pragma once
// The one copy every ratio "to a copy" is taken against: the library's memcpy of the bytes
// between two buffers that start on cache lines (equal offsets, so no processor's slow case
// of a copy between differently aligned buffers can make the reference itself slow). Its
// bytes per second are printed beside every ratio, so a reader sees whether it is sane.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cpu/AlignedBytes.h"
#include "cpu/Paths.h"

namespace benchref {

using Clock = std::chrono::steady_clock;

// The reference copy itself.
inline void ReferenceCopy(uint8_t* target, const uint8_t* source, size_t bytes) {
  std::memcpy(target, source, bytes);
  benchmark::ClobberMemory();
}

// Seconds per reference copy of bytes: the median of nine rounds.
inline double CopySeconds(size_t bytes) {
  constexpr int ROUNDS = 9;
  constexpr int COPIES = 200;
  cpu::FrameVector from(bytes, 0x5A), to(bytes, 0);
  std::vector<double> rounds;
  for (int r = 0; r < ROUNDS; ++r) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < COPIES; ++i) ReferenceCopy(to.data(), from.data(), bytes);
    rounds.push_back(std::chrono::duration<double>(Clock::now() - start).count() / COPIES);
  }
  std::nth_element(rounds.begin(), rounds.begin() + ROUNDS / 2, rounds.end());
  return rounds[ROUNDS / 2];
}

// The benchmark's time per iteration since start, over a reference copy of bytes measured
// right after it, as the counter "x_copy"; the reference's speed as "copy_GBps".
inline void ReportCopyRatio(benchmark::State& state, Clock::time_point start, size_t bytes) {
  if (state.iterations() == 0) return;
  const double each = std::chrono::duration<double>(Clock::now() - start).count() / state.iterations();
  const double copy = CopySeconds(bytes);
  state.counters["x_copy"] = each / copy;
  state.counters["copy_GBps"] = static_cast<double>(bytes) / copy / 1e9;
}

// The reference alone, as a benchmark of its own: state.range(0) bytes.
inline void BM_CopyReference(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(state.range(0));
  cpu::FrameVector from(bytes, 0x5A), to(bytes, 0);
  for (auto _ : state) ReferenceCopy(to.data(), from.data(), bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  state.SetLabel(std::string("vector path ") + cpu::PathName(cpu::ChosenPath()));
}

}  // namespace benchref
