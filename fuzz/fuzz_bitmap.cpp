// The bitmap reader with its conversion: a whole read into a CDib, the frame and screen
// conversions at both board sides, and the preview's conversion at the bitmap's own side,
// which resampled must give the frame.
#include <cstring>
#include <vector>

#include "BitmapConversion.h"
#include "FrameComposition.h"
#include "FuzzInput.h"
#include "cdib.h"

namespace {

bool KnownDepth(int depth) { return depth == 4 || depth == 8 || depth == 16 || depth == 24; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteInput("input.bmp", data, size);
  CFile file;
  if (file.Open(path)) {
    CDib dib;
    if (dib.Read(file)) {
      // Every byte the object claims to hold is there.
      volatile uint8_t sum = 0;
      for (uint32_t i = 0; i < dib.m_PixelBytes; ++i) sum = static_cast<uint8_t>(sum + dib.m_pPixels[i]);
      if (dib.GetSize().first <= 0 || dib.m_ColorEntries > 256) __builtin_trap();
    }
  }
  static std::vector<uint8_t> frame(512 * 512);
  static const std::vector<uint8_t> ALL_MISSING(512 * 512, MISSING_PIXEL);
  for (int side : {256, SCREEN_SIDE, 512}) {
    int bitCount = 0;
    const bool read = ReadBitmapPattern(frame.data(), path, side, bitCount);
    // A header read gives its depth even when the pixels do not convert.
    if (read && !KnownDepth(bitCount)) __builtin_trap();
    if (!read && std::memcmp(frame.data(), ALL_MISSING.data(), static_cast<size_t>(side) * static_cast<size_t>(side)) != 0)
      __builtin_trap();
  }
  // frame holds the 512 x 512 conversion now, when there is one.
  CBitmapConverter bitmap;
  int width = 0, height = 0, bitCount = 0;
  if (bitmap.Open(path, width, height, bitCount) && width == height) {
    std::vector<uint8_t> own(static_cast<size_t>(height) * static_cast<size_t>(height));
    if (bitmap.Convert(own.data(), height) && (512 % height == 0 || height % 512 == 0)) {
      std::unique_ptr<uint8_t[]> resampled = ResampleSquare(own.data(), height, 512);
      if (resampled && std::memcmp(resampled.get(), frame.data(), frame.size()) != 0) __builtin_trap();
    }
  }
  return 0;
}
