#pragma once
// Square pattern images: bitmaps turned into top-down byte images, and the whole-number
// rescaling between square images that the conversion follows.

#include <cstdint>
#include <memory>
#include <string>

#include "File.h"
#include "cdib.h"

// The largest side of a bitmap that is converted: sixteen times the Kite side.
constexpr int MAX_PATTERN_SIDE = 8192;

// A bitmap file as top-down side x side images: rows reversed, one byte per pixel by depth
// (4 bits: the byte holding the pixel pair, 8: the index, 16: the low byte, 24: the blue byte).
class CBitmapConverter {
 public:
  // The header's biWidth, biHeight and biBitCount, also of a bitmap Convert refuses; false,
  // out-parameters untouched, when the file cannot be opened or holds no bitmap.
  bool Open(const std::string& path, int& width, int& height, int& bitCount);
  // Its own side copied, or a whole multiple or divisor of it enlarged or decimated, reading
  // only the rows needed; false when not square, of another depth, cut short or unreadable.
  bool Convert(uint8_t* destination, int side);

 private:
  CFile m_File;
  CDib m_Dib;
};

// A new M x M image from an N x N one: each pixel becomes a k x k block (N < M, k = M / N),
// or each k x k block gives its top-left pixel (N > M, k = N / M). Null, after a message,
// when there is no memory for it.
std::unique_ptr<uint8_t[]> ResampleSquare(const uint8_t* source, int N, int M);
