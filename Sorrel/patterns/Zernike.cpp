#include "Zernike.h"

#include <climits>
#include <cstring>
#include <locale.h>
#include <string_view>
#include <vector>

#include "File.h"
#include "PatternImage.h"

// Products and sums are rounded one by one on every machine and path (this file is built
// with -ffp-contract=off): a fused multiply-add in one build and not in another would move
// pixels across a grey-level boundary.

const char* const ZernikeKey[ZERNIKE_TERMS] = {
    "Piston",         "XTilt",          "YTilt",          "Power",              "AstigX",
    "AstigY",         "ComaX",          "ComaY",          "PrimarySpherical",   "TrefoilX",
    "TrefoilY",       "SecondaryAstigX", "SecondaryAstigY", "SecondaryComaX",   "SecondaryComaY",
    "SecondarySpherical", "TetrafoilX", "TetrafoilY",     "TertiarySpherical",  "QuaternarySpherical"};

namespace {

// Longest line read; longer lines are skipped.
constexpr size_t MAX_ZERNIKE_LINE = 299;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The decimal number at the start of text (sign, digits, point, exponent); 0 when the
// text starts with no number. Read in the "C" locale whatever the process's locale is.
double DecimalValue(std::string_view text) {
  size_t n = 0;
  if (n < text.size() && (text[n] == '+' || text[n] == '-')) ++n;
  size_t digits = 0;
  for (; n < text.size() && IsDigit(text[n]); ++n) ++digits;
  if (n < text.size() && text[n] == '.')
    for (++n; n < text.size() && IsDigit(text[n]); ++n) ++digits;
  if (digits == 0) return 0.0;
  if (n < text.size() && (text[n] == 'e' || text[n] == 'E')) {
    size_t e = n + 1;
    if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
    if (e < text.size() && IsDigit(text[e])) {
      n = e;
      while (n < text.size() && IsDigit(text[n])) ++n;
    }
  }
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  std::string number(text.substr(0, n));
  return strtod_l(number.c_str(), nullptr, c_locale);
}

// "%[^= ]%*[= ]%s": a key up to "=" or a blank, one or more of either, then a value.
void ParseLine(std::string_view line, double coefficients[ZERNIKE_TERMS]) {
  size_t keyEnd = line.find_first_of("= ");
  if (keyEnd == 0 || keyEnd == std::string_view::npos) return;
  std::string_view key = line.substr(0, keyEnd);
  size_t valueStart = line.find_first_not_of("= ", keyEnd);
  while (valueStart < line.size() && IsSpace(line[valueStart])) ++valueStart;
  if (valueStart >= line.size()) return;
  size_t valueEnd = valueStart;
  while (valueEnd < line.size() && !IsSpace(line[valueEnd])) ++valueEnd;
  for (int k = 0; k < ZERNIKE_TERMS; ++k) {
    if (key == ZernikeKey[k]) {
      coefficients[k] = DecimalValue(line.substr(valueStart, valueEnd - valueStart));
      return;
    }
  }
}

// Four pixels at a time, spelled out with vector types so that every compiler vectorises
// the wrap alike: trunc and the selects are written as bit masks, without branches.
using v4d = double __attribute__((vector_size(32)));
using v4l = int64_t __attribute__((vector_size(32)));
using v4i = int32_t __attribute__((vector_size(16)));
using v4d_unaligned = double __attribute__((vector_size(32), aligned(8)));

// Columns go eight vectors of four at a time: Horner's rule is one long chain of dependent
// steps, and eight chains side by side keep the arithmetic units busy through the latency
// of a multiply and an add.
constexpr int CHAINS = 8;
constexpr int BLOCK_PIXELS = 4 * CHAINS;

// One row: S(u) = a[0] + a[1] u + ... + a[10] u^10 by Horner's rule (a[7] and a[9] are
// always 0, and adding 0 changes no level, so those two additions are left out), wrapped to one wave
// (S > 0: f = S - trunc(S), otherwise f = S - trunc(S) + 1) and quantised to trunc(f x 255);
// a sum that is not a number gives 0. u and levels are padded to a multiple of BLOCK_PIXELS.
inline __attribute__((always_inline)) void PhaseRowBody(const double* a, const double* u, int width,
                                                         int32_t* levels, uint8_t* out) {
  const v4d two52 = {0x1p52, 0x1p52, 0x1p52, 0x1p52};
  const v4d one = {1.0, 1.0, 1.0, 1.0};
  const v4d zero = {};
  const v4d scale = {PhaseScale, PhaseScale, PhaseScale, PhaseScale};
  const v4l sign = {INT64_MIN, INT64_MIN, INT64_MIN, INT64_MIN};
  v4d c[11];
  for (int k = 0; k <= 10; ++k) c[k] = v4d{a[k], a[k], a[k], a[k]};
  for (int col = 0; col < width; col += BLOCK_PIXELS) {
    v4d x[CHAINS], s[CHAINS];
    for (int j = 0; j < CHAINS; ++j) x[j] = *reinterpret_cast<const v4d_unaligned*>(u + col + 4 * j);
    for (int j = 0; j < CHAINS; ++j) s[j] = c[10] * x[j] * x[j] + c[8];
    for (int j = 0; j < CHAINS; ++j) s[j] = s[j] * x[j] * x[j] + c[6];
    for (int k = 5; k >= 0; --k)
      for (int j = 0; j < CHAINS; ++j) s[j] = s[j] * x[j] + c[k];
    for (int j = 0; j < CHAINS; ++j) {
      // trunc(s), exactly: below 2^52 round |s| to the nearest integer and step back when
      // that went up; from 2^52 on every double is an integer already.
      v4d magnitude = (v4d)((v4l)s[j] & ~sign);
      v4d t = (magnitude + two52) - two52;
      t -= (v4d)((v4l)one & (t > magnitude));
      v4l large = magnitude >= two52;
      t = (v4d)(((v4l)t & ~large) | ((v4l)magnitude & large));
      t = (v4d)((v4l)t | ((v4l)s[j] & sign));
      v4d f = s[j] - t + (v4d)((v4l)one & ~(s[j] > zero));
      v4d level = f * scale;
      level = (v4d)((v4l)level & (level >= zero));
      v4i whole = __builtin_convertvector(level, v4i);
      std::memcpy(levels + col + 4 * j, &whole, sizeof whole);
    }
  }
  for (int col = 0; col < width; ++col) out[col] = static_cast<uint8_t>(levels[col]);
}

// The row code built once per path. (Chosen through the path table, not by ifunc: a resolver
// runs before the sanitizers' runtimes are up.)
using PhaseRowFunction = void (*)(const double*, const double*, int, int32_t*, uint8_t*);

void PhaseRowPortable(const double* a, const double* u, int width, int32_t* levels, uint8_t* out) {
  PhaseRowBody(a, u, width, levels, out);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void PhaseRowAvx2(const double* a, const double* u, int width, int32_t* levels,
                                                  uint8_t* out) {
  PhaseRowBody(a, u, width, levels, out);
}

// The same four-wide code with twice the registers, so the eight chains stay in them.
__attribute__((target("avx512f,avx512vl"))) void PhaseRowAvx512(const double* a, const double* u, int width,
                                                                 int32_t* levels, uint8_t* out) {
  PhaseRowBody(a, u, width, levels, out);
}

constexpr PhaseRowFunction PHASE_ROW_PATHS[cpu::PATH_COUNT] = {PhaseRowPortable, PhaseRowAvx2, PhaseRowAvx512};
#else
constexpr PhaseRowFunction PHASE_ROW_PATHS[cpu::PATH_COUNT] = {PhaseRowPortable, PhaseRowPortable, PhaseRowPortable};
#endif

// Half the weighted sum of the 20 polynomials at fixed v, as a polynomial in u.
void RowPolynomial(const double h[ZERNIKE_TERMS], double v, double a[11]) {
  const double w = v * v, w2 = w * w, w3 = w2 * w, w4 = w3 * w, w5 = w4 * w;
  for (int k = 0; k <= 10; ++k) a[k] = 0.0;
  a[0] = h[0] + h[2] * v + h[3] * (2 * w - 1) - h[4] * w + h[7] * (3 * w - 2) * v + h[8] * (6 * w2 - 6 * w + 1) -
         h[10] * w * v + h[11] * (3 * w - 4 * w2) + h[14] * v * (10 * w2 - 12 * w + 3) +
         h[15] * (20 * w3 - 30 * w2 + 12 * w - 1) + h[16] * w2 +
         h[18] * (70 * w4 - 140 * w3 + 90 * w2 - 20 * w + 1) +
         h[19] * (252 * w5 - 630 * w4 + 560 * w3 - 210 * w2 + 30 * w - 1);
  a[1] = h[1] + 2 * h[5] * v + h[6] * (3 * w - 2) - 3 * h[9] * w + 2 * h[12] * v * (4 * w - 3) +
         h[13] * (10 * w2 - 12 * w + 3) - 4 * h[17] * w * v;
  a[2] = 2 * h[3] + h[4] + 3 * h[7] * v + h[8] * (12 * w - 6) + 3 * h[10] * v - 3 * h[11] + h[14] * v * (20 * w - 12) +
         h[15] * (60 * w2 - 60 * w + 12) - 6 * h[16] * w + h[18] * (280 * w3 - 420 * w2 + 180 * w - 20) +
         h[19] * (1260 * w4 - 2520 * w3 + 1680 * w2 - 420 * w + 30);
  a[3] = 3 * h[6] + h[9] + 8 * h[12] * v + h[13] * (20 * w - 12) + 4 * h[17] * v;
  a[4] = 6 * h[8] + 4 * h[11] + 10 * h[14] * v + h[15] * (60 * w - 30) + h[16] +
         h[18] * (420 * w2 - 420 * w + 90) + h[19] * (2520 * w3 - 3780 * w2 + 1680 * w - 210);
  a[5] = 10 * h[13];
  a[6] = 20 * h[15] + h[18] * (280 * w - 140) + h[19] * (2520 * w2 - 2520 * w + 560);
  a[8] = 70 * h[18] + h[19] * (1260 * w - 630);
  a[10] = 252 * h[19];
}

}  // namespace

void GenerateZernikePhaseOn(cpu::Path path, const double coefficients[ZERNIKE_TERMS], int width, int height,
                            double radius, uint8_t* destination) {
  double h[ZERNIKE_TERMS];
  for (int k = 0; k < ZERNIKE_TERMS; ++k) h[k] = 0.5 * coefficients[k];
  const size_t padded = (static_cast<size_t>(width) + BLOCK_PIXELS - 1) / BLOCK_PIXELS * BLOCK_PIXELS;
  std::vector<double> u(padded);
  std::vector<int32_t> levels(padded);
  for (int c = 0; c < width; ++c) u[static_cast<size_t>(c)] = (c - width / 2) / radius;
  const PhaseRowFunction phaseRow = PHASE_ROW_PATHS[static_cast<int>(path)];
  double a[11];
  for (int r = 0; r < height; ++r) {
    RowPolynomial(h, (height / 2 - r) / radius, a);
    phaseRow(a, u.data(), width, levels.data(), destination + static_cast<size_t>(r) * static_cast<size_t>(width));
  }
}

void GenerateZernikePhase(const double coefficients[ZERNIKE_TERMS], int width, int height, double unitRadius,
                          uint8_t* destination) {
  static const cpu::Path path = cpu::ChosenPath();
  GenerateZernikePhaseOn(path, coefficients, width, height, unitRadius, destination);
}

bool ReadZernikePattern(uint8_t* destination, const std::string& path, int width, int height, double unitRadius) {
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  CFile file;
  if (!file.Open(path)) {
    std::memset(destination, MISSING_PIXEL, pixels);
    return false;
  }
  double coefficients[ZERNIKE_TERMS] = {};
  CTextReader in(file);
  std::string line;
  for (;;) {
    CTextReader::Line kind = in.ReadLine(line, MAX_ZERNIKE_LINE);
    if (kind == CTextReader::Line::End) break;
    if (kind == CTextReader::Line::Ok) ParseLine(line, coefficients);
  }
  if (in.Failed()) {
    std::memset(destination, MISSING_PIXEL, pixels);
    return false;
  }
  file.Close();
  GenerateZernikePhase(coefficients, width, height, unitRadius, destination);
  return true;
}

std::unique_ptr<uint8_t[]> PreviewZernike(const std::string& path) {
  auto image = std::make_unique<uint8_t[]>(SCREEN_IMAGE_BYTES);
  ReadZernikePattern(image.get(), path, SCREEN_GEOMETRY.width, SCREEN_GEOMETRY.height, SCREEN_GEOMETRY.unitRadius);
  return image;
}
