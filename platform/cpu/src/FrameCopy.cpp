#include "cpu/FrameCopy.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace cpu {
namespace {

void CopyPortable(void* target, const void* source, size_t bytes) { std::memcpy(target, source, bytes); }

#if defined(__x86_64__)

// A first unaligned vector up to the target's next boundary, then aligned stores four vectors
// at a time, then the last vector ending where the copy ends (overlapping what went before).
__attribute__((target("avx2"))) void CopyAvx2(void* target, const void* source, size_t bytes) {
  auto* to = static_cast<uint8_t*>(target);
  const auto* from = static_cast<const uint8_t*>(source);
  if (bytes < 32) {
    std::memcpy(to, from, bytes);
    return;
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)));
  const size_t head = 32 - (reinterpret_cast<uintptr_t>(to) & 31);
  size_t i = head;
  for (; i + 128 <= bytes; i += 128) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i + 32));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i + 64));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i + 96));
    _mm256_store_si256(reinterpret_cast<__m256i*>(to + i), a);
    _mm256_store_si256(reinterpret_cast<__m256i*>(to + i + 32), b);
    _mm256_store_si256(reinterpret_cast<__m256i*>(to + i + 64), c);
    _mm256_store_si256(reinterpret_cast<__m256i*>(to + i + 96), d);
  }
  for (; i + 32 <= bytes; i += 32)
    _mm256_store_si256(reinterpret_cast<__m256i*>(to + i), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i)));
  if (i < bytes)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + bytes - 32),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + bytes - 32)));
}

__attribute__((target("avx512f"))) void CopyAvx512(void* target, const void* source, size_t bytes) {
  auto* to = static_cast<uint8_t*>(target);
  const auto* from = static_cast<const uint8_t*>(source);
  if (bytes < 64) {
    std::memcpy(to, from, bytes);
    return;
  }
  _mm512_storeu_si512(to, _mm512_loadu_si512(from));
  const size_t head = 64 - (reinterpret_cast<uintptr_t>(to) & 63);
  size_t i = head;
  for (; i + 256 <= bytes; i += 256) {
    const __m512i a = _mm512_loadu_si512(from + i);
    const __m512i b = _mm512_loadu_si512(from + i + 64);
    const __m512i c = _mm512_loadu_si512(from + i + 128);
    const __m512i d = _mm512_loadu_si512(from + i + 192);
    _mm512_store_si512(to + i, a);
    _mm512_store_si512(to + i + 64, b);
    _mm512_store_si512(to + i + 128, c);
    _mm512_store_si512(to + i + 192, d);
  }
  for (; i + 64 <= bytes; i += 64) _mm512_store_si512(to + i, _mm512_loadu_si512(from + i));
  if (i < bytes) _mm512_storeu_si512(to + bytes - 64, _mm512_loadu_si512(from + bytes - 64));
}

#endif

}  // namespace

#if defined(__x86_64__)
const CopyFunction COPY_PATHS[PATH_COUNT] = {CopyPortable, CopyAvx2, CopyAvx512};
#else
const CopyFunction COPY_PATHS[PATH_COUNT] = {CopyPortable, CopyPortable, CopyPortable};
#endif

void CopyFrameBytes(void* target, const void* source, size_t bytes) {
  static const CopyFunction copy = Chosen(COPY_PATHS);
  copy(target, source, bytes);
}

}  // namespace cpu
