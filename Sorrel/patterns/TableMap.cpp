#include "TableMap.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// Eight entries looked up from eight indices in one word: one load and one store per eight
// pixels beside the table's loads, where a byte at a time spends three memory accesses on each.
inline uint64_t LookUpEight(uint64_t index, const uint8_t table[256]) {
  uint64_t entries = 0;
  for (int k = 0; k < 64; k += 8) entries |= uint64_t{table[(index >> k) & 0xFF]} << k;
  return entries;
}

void MapPortable(uint8_t* image, size_t count, const uint8_t table[256], const uint8_t* slm, const uint8_t* sys) {
  const bool compensate = slm != nullptr && sys != nullptr;
  // The sums of a block first, in a loop the compiler can keep in vector registers.
  constexpr size_t BLOCK = 512;
  alignas(64) uint8_t index[BLOCK];
  size_t i = 0;
  for (; i + BLOCK <= count; i += BLOCK) {
    const uint8_t* indices = image + i;
    if (compensate) {
      for (size_t k = 0; k < BLOCK; ++k) index[k] = static_cast<uint8_t>(image[i + k] + slm[i + k] + sys[i + k]);
      indices = index;
    }
    for (size_t k = 0; k < BLOCK; k += 8) {
      uint64_t word;
      std::memcpy(&word, indices + k, 8);
      word = LookUpEight(word, table);
      std::memcpy(image + i + k, &word, 8);
    }
  }
  for (; i < count; ++i) image[i] = table[static_cast<uint8_t>(image[i] + (compensate ? slm[i] + sys[i] : 0))];
}

#if defined(__x86_64__)

// The table as sixteen rows of 16, each held as its difference (XOR) from the row before
// within its half of the table, in both lanes for the in-lane byte shuffle.
struct TableRows {
  __m256i row[16];
};

__attribute__((target("avx2"))) inline TableRows LoadRows(const uint8_t table[256]) {
  TableRows rows;
  for (int k = 0; k < 16; ++k) {
    __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * k));
    if (k % 8 != 0) row = _mm_xor_si128(row, _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * (k - 1))));
    rows.row[k] = _mm256_broadcastsi128_si256(row);
  }
  return rows;
}

// A byte shuffle gives 0 where its index has bit 7 set. Taken as signed, an index of the low
// half (0 ... 127) minus 16k with saturation stays non-negative exactly for rows k up to its
// own, and one of the high half stays negative; so the XOR of the shuffled differences over
// k = 0 ... 7 is the index's entry, or 0 for the other half. The high half is done alike
// with bit 7 flipped. Saturation makes taking 16 k times the same as taking 16k once.
__attribute__((target("avx2"))) inline __m256i Lookup(const TableRows& rows, __m256i index) {
  const __m256i step = _mm256_set1_epi8(16);
  __m256i low = index;
  __m256i high = _mm256_xor_si256(index, _mm256_set1_epi8(static_cast<char>(0x80)));
  __m256i entry = _mm256_xor_si256(_mm256_shuffle_epi8(rows.row[0], low), _mm256_shuffle_epi8(rows.row[8], high));
  for (int k = 1; k < 8; ++k) {
    low = _mm256_subs_epi8(low, step);
    high = _mm256_subs_epi8(high, step);
    entry = _mm256_xor_si256(entry, _mm256_shuffle_epi8(rows.row[k], low));
    entry = _mm256_xor_si256(entry, _mm256_shuffle_epi8(rows.row[8 + k], high));
  }
  return entry;
}

__attribute__((target("avx2"))) void MapAvx2(uint8_t* image, size_t count, const uint8_t table[256],
                                             const uint8_t* slm, const uint8_t* sys) {
  const TableRows rows = LoadRows(table);
  const bool compensate = slm != nullptr && sys != nullptr;
  size_t i = 0;
  for (; i + 32 <= count; i += 32) {
    __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(image + i));
    if (compensate) {
      index = _mm256_add_epi8(index, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(slm + i)));
      index = _mm256_add_epi8(index, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sys + i)));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(image + i), Lookup(rows, index));
  }
  if (i == count) return;
  // The ragged end through a whole vector of scratch, so nothing past the image is touched.
  alignas(32) uint8_t part[32] = {}, a[32] = {}, b[32] = {};
  const size_t rest = count - i;
  std::memcpy(part, image + i, rest);
  if (compensate) {
    std::memcpy(a, slm + i, rest);
    std::memcpy(b, sys + i, rest);
  }
  __m256i index = _mm256_load_si256(reinterpret_cast<const __m256i*>(part));
  index = _mm256_add_epi8(index, _mm256_load_si256(reinterpret_cast<const __m256i*>(a)));
  index = _mm256_add_epi8(index, _mm256_load_si256(reinterpret_cast<const __m256i*>(b)));
  _mm256_store_si256(reinterpret_cast<__m256i*>(part), Lookup(rows, index));
  std::memcpy(image + i, part, rest);
}

// Two 128-byte permutes look up both halves of the table; bit 7 of each index picks one.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void MapAvx512(uint8_t* image, size_t count,
                                                                      const uint8_t table[256], const uint8_t* slm,
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

#endif

}  // namespace

#if defined(__x86_64__)
const TableMapFunction TABLE_MAP_PATHS[cpu::PATH_COUNT] = {MapPortable, MapAvx2, MapAvx512};
#else
const TableMapFunction TABLE_MAP_PATHS[cpu::PATH_COUNT] = {MapPortable, MapPortable, MapPortable};
#endif

void MapThroughTable(uint8_t* image, size_t count, const uint8_t table[256], const uint8_t* slm,
                     const uint8_t* sys) {
  static const TableMapFunction map = cpu::Chosen(TABLE_MAP_PATHS);
  map(image, count, table, slm, sys);
}
