#include "SampleFiles.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "Zernike.h"
#include "files/ReplaceFile.h"

namespace {

constexpr uint32_t FILE_HEADER_BYTES = 14;
constexpr uint32_t INFO_HEADER_BYTES = 40;

void Put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// Headers, colour table and rows bottom first, each padded to four bytes.
bool WriteBitmap(const std::string& path, const SamplePicture& picture, uint16_t bitCount) {
  const uint32_t side = static_cast<uint32_t>(picture.side);
  const uint32_t tableBytes = bitCount == 8 ? 256 * 4 : 0;
  const uint32_t rowBytes = (side * bitCount / 8 + 3) & ~3u;
  const uint32_t offBits = FILE_HEADER_BYTES + INFO_HEADER_BYTES + tableBytes;
  std::string out;
  out.reserve(offBits + rowBytes * side);
  out += "BM";
  Put32(out, offBits + rowBytes * side);
  Put32(out, 0);
  Put32(out, offBits);
  Put32(out, INFO_HEADER_BYTES);
  Put32(out, side);
  Put32(out, side);
  Put16(out, 1);
  Put16(out, bitCount);
  Put32(out, 0);  // no compression
  Put32(out, rowBytes * side);
  Put32(out, 2835);  // 72 dpi
  Put32(out, 2835);
  Put32(out, bitCount == 8 ? 256 : 0);
  Put32(out, 0);
  for (uint32_t i = 0; i < tableBytes / 4; ++i) {
    out.append(3, static_cast<char>(i));
    out += '\0';
  }
  for (uint32_t row = side; row-- > 0;) {
    const size_t start = out.size();
    for (uint32_t x = 0; x < side; ++x) {
      const char v = static_cast<char>(picture.pixels[row * side + x]);
      out.append(bitCount / 8, v);
    }
    out.append(start + rowBytes - out.size(), '\0');
  }
  return ReplaceFile(path, {out});
}

}  // namespace

bool WriteGreyBitmap(const std::string& path, const SamplePicture& picture) { return WriteBitmap(path, picture, 8); }

bool WriteColourBitmap(const std::string& path, const SamplePicture& picture) {
  return WriteBitmap(path, picture, 24);
}

bool WriteLutFile(const std::string& path, const std::vector<int>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) text += std::to_string(i) + " " + std::to_string(values[i]) + "\n";
  return ReplaceFile(path, {text});
}

bool WriteZernikeFile(const std::string& path, const std::vector<std::pair<std::string, double>>& terms) {
  std::string text;
  for (const char* key : ZernikeKey) {
    double value = 0.0;
    for (const auto& [name, given] : terms) {
      if (name == key) value = given;
    }
    // The reader takes "." as the decimal point in every locale; so must the writer.
    const long thousandths = std::lround(value * 1000.0);
    const long whole = std::labs(thousandths);
    char line[80];
    std::snprintf(line, sizeof line, "%s = %s%ld.%03ld\n", key, thousandths < 0 ? "-" : "", whole / 1000, whole % 1000);
    text += line;
  }
  return ReplaceFile(path, {text});
}
