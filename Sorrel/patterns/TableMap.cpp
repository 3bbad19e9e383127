#include "TableMap.h"

#include <immintrin.h>

void MapThroughTablePlain(uint8_t* image, size_t count, const uint8_t table[256], const uint8_t* slm,
                          const uint8_t* sys) {
  if (slm != nullptr && sys != nullptr) {
    for (size_t i = 0; i < count; ++i) image[i] = table[static_cast<uint8_t>(image[i] + slm[i] + sys[i])];
  } else {
    for (size_t i = 0; i < count; ++i) image[i] = table[image[i]];
  }
}

// Two 128-byte permutes look up both halves of the table; bit 7 of each index picks one.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void MapThroughTableVbmi(uint8_t* image, size_t count,
                                                                                const uint8_t table[256],
                                                                                const uint8_t* slm,
                                                                                const uint8_t* sys) {
  const __m512i t0 = _mm512_loadu_si512(table);
  const __m512i t1 = _mm512_loadu_si512(table + 64);
  const __m512i t2 = _mm512_loadu_si512(table + 128);
  const __m512i t3 = _mm512_loadu_si512(table + 192);
  const bool compensate = slm != nullptr && sys != nullptr;
  for (size_t i = 0; i < count; i += 64) {
    const __mmask64 lanes = count - i >= 64 ? ~__mmask64{0} : (__mmask64{1} << (count - i)) - 1;
    __m512i index = _mm512_maskz_loadu_epi8(lanes, image + i);
    if (compensate) {
      index = _mm512_add_epi8(index, _mm512_maskz_loadu_epi8(lanes, slm + i));
      index = _mm512_add_epi8(index, _mm512_maskz_loadu_epi8(lanes, sys + i));
    }
    const __m512i low = _mm512_permutex2var_epi8(t0, index, t1);
    const __m512i high = _mm512_permutex2var_epi8(t2, index, t3);
    const __m512i mapped = _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
    _mm512_mask_storeu_epi8(image + i, lanes, mapped);
  }
}

bool ProcessorHasVbmi() {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi");
}

void MapThroughTable(uint8_t* image, size_t count, const uint8_t table[256], const uint8_t* slm,
                     const uint8_t* sys) {
  static const bool vbmi = ProcessorHasVbmi();
  if (vbmi)
    MapThroughTableVbmi(image, count, table, slm, sys);
  else
    MapThroughTablePlain(image, count, table, slm, sys);
}
