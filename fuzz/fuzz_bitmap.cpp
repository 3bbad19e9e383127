// The bitmap reader with its conversion: a whole read into a CDib, and the frame and screen
// conversions at both board geometries.
#include <cstring>
#include <vector>

#include "FrameComposition.h"
#include "FuzzInput.h"
#include "Sorrel.h"
#include "cdib.h"

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
  static const std::vector<uint8_t> missing(512 * 512, 48);
  for (uint16_t side : {512, 256}) {
    UseBoard(side);
    if (!ReadandInvertBitmap(frame.data(), path, true) && std::memcmp(frame.data(), missing.data(), size_t{side} * side) != 0)
      __builtin_trap();
  }
  ReadScreenBitmap(frame.data(), path);
  const int depth = theApp->m_PatternBitCount;
  if (depth != 0 && depth != 4 && depth != 8 && depth != 16 && depth != 24) __builtin_trap();
  return 0;
}
