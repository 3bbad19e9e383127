#include "PatternFiles.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace {

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> BmpFile(const BmpLayout& layout, const std::vector<uint8_t>& pixelBlock) {
  const size_t table = 14 + std::max<size_t>(layout.headerSize, 40);
  const size_t headerEnd = table + 4 * size_t{layout.colorTableEntries};
  std::vector<uint8_t> file(headerEnd, 0);
  file[0] = 'B';
  file[1] = 'M';
  Put32(file, 2, static_cast<uint32_t>(file.size() + pixelBlock.size()));
  Put32(file, 10, static_cast<uint32_t>(layout.offBits < 0 ? headerEnd : static_cast<size_t>(layout.offBits)));
  Put32(file, 14, layout.headerSize);
  Put32(file, 18, static_cast<uint32_t>(layout.width));
  Put32(file, 22, static_cast<uint32_t>(layout.height));
  Put16(file, 26, 1);
  Put16(file, 28, layout.bitCount);
  Put32(file, 34, layout.sizeImage);
  Put32(file, 46, layout.colorsUsed);
  for (uint32_t i = 0; i < layout.colorTableEntries; ++i) {
    // A colour ramp that is not grey, so a reader that used it would show.
    file[table + 4 * i] = static_cast<uint8_t>(255 - i);
    file[table + 4 * i + 1] = static_cast<uint8_t>(i / 2);
    file[table + 4 * i + 2] = static_cast<uint8_t>(i);
  }
  file.insert(file.end(), pixelBlock.begin(), pixelBlock.end());
  return file;
}

BmpLayout StandardLayout(int32_t width, int32_t height, uint16_t bitCount) {
  BmpLayout layout;
  layout.width = width;
  layout.height = height;
  layout.bitCount = bitCount;
  layout.colorTableEntries = bitCount == 1 ? 2 : bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
  return layout;
}

std::vector<uint8_t> PixelBlock(int side, uint16_t bitCount, const std::function<uint32_t(int y, int x)>& value) {
  const size_t rowBytes = (size_t{bitCount} * static_cast<size_t>(side) + 31) / 32 * 4;
  std::vector<uint8_t> block(rowBytes * static_cast<size_t>(side), 0);
  for (int stored = 0; stored < side; ++stored) {
    uint8_t* row = block.data() + static_cast<size_t>(stored) * rowBytes;
    const int y = side - 1 - stored;
    for (int x = 0; x < side; ++x) {
      uint32_t v = value(y, x);
      switch (bitCount) {
        case 1: row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8)); break;
        case 4: row[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? (v & 15) << 4 : (v & 15)); break;
        case 8: row[x] = static_cast<uint8_t>(v); break;
        case 16:
          row[2 * x] = static_cast<uint8_t>(v);
          row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
          break;
        case 24:
          row[3 * x] = static_cast<uint8_t>(v);
          row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
          row[3 * x + 2] = static_cast<uint8_t>(v >> 16);
          break;
        default: throw std::invalid_argument("depth");
      }
    }
  }
  return block;
}

void WriteSquareBitmap(const std::string& path, int side, uint16_t bitCount,
                       const std::function<uint32_t(int y, int x)>& value) {
  WriteBytes(path, BmpFile(StandardLayout(side, side, bitCount), PixelBlock(side, bitCount, value)));
}

uint32_t Noise(int y, int x) {
  uint32_t h = static_cast<uint32_t>(y) * 2654435761u ^ static_cast<uint32_t>(x) * 40503u;
  h ^= h >> 13;
  return h * 0x5bd1e995u >> 8;
}

namespace {

uint32_t Le(const std::vector<uint8_t>& bytes, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | bytes[at + static_cast<size_t>(i)];
  return v;
}

}  // namespace

std::vector<uint8_t> ConvertedTheLongWay(const std::vector<uint8_t>& file, int m) {
  const uint8_t* pixels = file.data() + Le(file, 10, 4);
  const int n = static_cast<int>(Le(file, 22, 4));
  const int depth = static_cast<int>(Le(file, 28, 2));
  std::vector<uint8_t> temp(static_cast<size_t>(n) * static_cast<size_t>(n));
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) {
      size_t at = depth == 4 ? static_cast<size_t>(r * (n / 2) + c / 2)
                  : depth == 8 ? static_cast<size_t>(r * n + c)
                  : depth == 16 ? static_cast<size_t>(r * n + c) * 2
                                : static_cast<size_t>(r * n + c) * 3;
      temp[static_cast<size_t>((n - 1 - r) * n + c)] = pixels[at];
    }
  }
  std::vector<uint8_t> out(static_cast<size_t>(m) * static_cast<size_t>(m));
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < m; ++j) {
      int si = n < m ? i / (m / n) : n > m ? i * (n / m) : i;
      int sj = n < m ? j / (m / n) : n > m ? j * (n / m) : j;
      out[static_cast<size_t>(i * m + j)] = temp[static_cast<size_t>(si * n + sj)];
    }
  }
  return out;
}

const char* const ALL_ZERNIKE_TERMS =
    "Piston = 0.3\nXTilt = 1.7\nYTilt = -2.2\nPower = 0.9\nAstigX = 0.4\nAstigY = -0.6\nComaX = 0.25\n"
    "ComaY = 0.1\nPrimarySpherical = -0.35\nTrefoilX = 0.2\nTrefoilY = 0.15\nSecondaryAstigX = -0.05\n"
    "SecondaryAstigY = 0.07\nSecondaryComaX = 0.3\nSecondaryComaY = -0.2\nSecondarySpherical = 0.11\n"
    "TetrafoilX = 0.02\nTetrafoilY = -0.4\nTertiarySpherical = 0.08\nQuaternarySpherical = 0.03\n";

std::string LutText(const std::vector<int>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) text += std::to_string(i) + " " + std::to_string(values[i]) + "\n";
  return text;
}

void WriteLut(const std::string& path, const std::vector<int>& values) { WriteText(path, LutText(values)); }

std::vector<int> IdentityValues() {
  std::vector<int> values(256);
  for (int i = 0; i < 256; ++i) values[static_cast<size_t>(i)] = i;
  return values;
}

std::vector<int> ScrambledValues(int seed) {
  std::vector<int> values(256);
  for (int i = 0; i < 256; ++i) values[static_cast<size_t>(i)] = (i * 7 + seed) % 256;
  return values;
}
