#pragma once
// The byte order a model board keeps its frames in when its board id asks for the reorder.
// The driver reorders every frame it downloads to such a board; tools that show what the
// board will store use the same code.

#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "cpu/Paths.h"

namespace modelboard {

// The frame reorder: in each group of four runs of Run pixels, output byte 4k + j is
// input byte Run * j + k. A whole group is loaded before it is stored, so src may be dst.
// bytes is a whole number of groups.
template <int Run>
void ReorderFramePortable(const uint8_t* src, uint8_t* dst, uint32_t bytes) {
  using V16 = uint8_t __attribute__((vector_size(16)));
  static_assert(Run == 16 || Run == 8);
  constexpr uint32_t group = 4 * Run;
  for (uint32_t g = 0; g < bytes; g += group) {
    if constexpr (Run == 16) {
      V16 a0, a1, a2, a3;
      std::memcpy(&a0, src + g, 16);
      std::memcpy(&a1, src + g + 16, 16);
      std::memcpy(&a2, src + g + 32, 16);
      std::memcpy(&a3, src + g + 48, 16);
      // Interleave runs 0/1 and 2/3 byte by byte, then the two pairs 16 bits at a time.
      const V16 p01lo = __builtin_shufflevector(a0, a1, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
      const V16 p01hi = __builtin_shufflevector(a0, a1, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
      const V16 p23lo = __builtin_shufflevector(a2, a3, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
      const V16 p23hi = __builtin_shufflevector(a2, a3, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
      const V16 o0 = __builtin_shufflevector(p01lo, p23lo, 0, 1, 16, 17, 2, 3, 18, 19, 4, 5, 20, 21, 6, 7, 22, 23);
      const V16 o1 = __builtin_shufflevector(p01lo, p23lo, 8, 9, 24, 25, 10, 11, 26, 27, 12, 13, 28, 29, 14, 15, 30, 31);
      const V16 o2 = __builtin_shufflevector(p01hi, p23hi, 0, 1, 16, 17, 2, 3, 18, 19, 4, 5, 20, 21, 6, 7, 22, 23);
      const V16 o3 = __builtin_shufflevector(p01hi, p23hi, 8, 9, 24, 25, 10, 11, 26, 27, 12, 13, 28, 29, 14, 15, 30, 31);
      std::memcpy(dst + g, &o0, 16);
      std::memcpy(dst + g + 16, &o1, 16);
      std::memcpy(dst + g + 32, &o2, 16);
      std::memcpy(dst + g + 48, &o3, 16);
    } else {
      V16 r01, r23;  // runs 0 and 1, runs 2 and 3
      std::memcpy(&r01, src + g, 16);
      std::memcpy(&r23, src + g + 16, 16);
      const V16 p01 = __builtin_shufflevector(r01, r01, 0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
      const V16 p23 = __builtin_shufflevector(r23, r23, 0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
      const V16 o0 = __builtin_shufflevector(p01, p23, 0, 1, 16, 17, 2, 3, 18, 19, 4, 5, 20, 21, 6, 7, 22, 23);
      const V16 o1 = __builtin_shufflevector(p01, p23, 8, 9, 24, 25, 10, 11, 26, 27, 12, 13, 28, 29, 14, 15, 30, 31);
      std::memcpy(dst + g, &o0, 16);
      std::memcpy(dst + g + 16, &o1, 16);
    }
  }
}

#if defined(__x86_64__)

// The same steps on two groups at once: group g in the low lane, group g + 1 in the high
// lane, as the in-lane unpacks want them. An odd last group goes the portable way.
template <int Run>
__attribute__((target("avx2"))) void ReorderFrameAvx2(const uint8_t* src, uint8_t* dst, uint32_t bytes) {
  static_assert(Run == 16 || Run == 8);
  constexpr uint32_t group = 4 * Run;
  const auto at = [](const uint8_t* p) { return reinterpret_cast<const __m128i*>(p); };
  const auto to = [](uint8_t* p) { return reinterpret_cast<__m128i*>(p); };
  uint32_t g = 0;
  for (; g + 2 * group <= bytes; g += 2 * group) {
    const uint8_t* s = src + g;
    uint8_t* d = dst + g;
    if constexpr (Run == 16) {
      const __m256i a0 = _mm256_loadu2_m128i(at(s + 64), at(s));
      const __m256i a1 = _mm256_loadu2_m128i(at(s + 80), at(s + 16));
      const __m256i a2 = _mm256_loadu2_m128i(at(s + 96), at(s + 32));
      const __m256i a3 = _mm256_loadu2_m128i(at(s + 112), at(s + 48));
      const __m256i p01lo = _mm256_unpacklo_epi8(a0, a1), p01hi = _mm256_unpackhi_epi8(a0, a1);
      const __m256i p23lo = _mm256_unpacklo_epi8(a2, a3), p23hi = _mm256_unpackhi_epi8(a2, a3);
      _mm256_storeu2_m128i(to(d + 64), to(d), _mm256_unpacklo_epi16(p01lo, p23lo));
      _mm256_storeu2_m128i(to(d + 80), to(d + 16), _mm256_unpackhi_epi16(p01lo, p23lo));
      _mm256_storeu2_m128i(to(d + 96), to(d + 32), _mm256_unpacklo_epi16(p01hi, p23hi));
      _mm256_storeu2_m128i(to(d + 112), to(d + 48), _mm256_unpackhi_epi16(p01hi, p23hi));
    } else {
      const __m256i pairs = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15,  //
                                             0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
      const __m256i p01 = _mm256_shuffle_epi8(_mm256_loadu2_m128i(at(s + 32), at(s)), pairs);
      const __m256i p23 = _mm256_shuffle_epi8(_mm256_loadu2_m128i(at(s + 48), at(s + 16)), pairs);
      _mm256_storeu2_m128i(to(d + 32), to(d), _mm256_unpacklo_epi16(p01, p23));
      _mm256_storeu2_m128i(to(d + 48), to(d + 16), _mm256_unpackhi_epi16(p01, p23));
    }
  }
  if (g < bytes) ReorderFramePortable<Run>(src + g, dst + g, bytes - g);
}

template <int Run>
inline constexpr void (*REORDER_PATHS[cpu::PATH_COUNT])(const uint8_t*, uint8_t*, uint32_t) = {
    ReorderFramePortable<Run>, ReorderFrameAvx2<Run>, ReorderFrameAvx2<Run>};

#else

template <int Run>
inline constexpr void (*REORDER_PATHS[cpu::PATH_COUNT])(const uint8_t*, uint8_t*, uint32_t) = {
    ReorderFramePortable<Run>, ReorderFramePortable<Run>, ReorderFramePortable<Run>};

#endif

// The reorder on the path this process runs.
template <int Run>
void ReorderFrame(const uint8_t* src, uint8_t* dst, uint32_t bytes) {
  static const auto reorder = cpu::Chosen(REORDER_PATHS<Run>);
  reorder(src, dst, bytes);
}

// A whole frame of the model in the board's order; src may be dst.
template <class Model>
void ToBoardOrder(const uint8_t* src, uint8_t* dst) {
  ReorderFrame<Model::ReorderRun>(src, dst, uint32_t{Model::Width} * Model::Height);
}

}  // namespace modelboard
