#pragma once
// Test inputs for the pattern readers, written by code: bitmaps of any shape (also broken
// ones) and LUT files.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TestFiles.h"

// Everything of a BMP file a test may want to get wrong on purpose.
struct BmpLayout {
  int32_t width = 0;
  int32_t height = 0;
  uint16_t bitCount = 8;
  uint32_t headerSize = 40;        // biSize
  uint32_t sizeImage = 0;          // biSizeImage as stored
  uint32_t colorsUsed = 0;         // biClrUsed
  uint32_t colorTableEntries = 0;  // entries actually written (grey unless colors given)
  int64_t offBits = -1;            // bfOffBits as stored; -1: right behind the colour table
};

// A BMP file: headers as the layout says, then the pixel block right behind the colour
// table, wherever bfOffBits says it is.
std::vector<uint8_t> BmpFile(const BmpLayout& layout, const std::vector<uint8_t>& pixelBlock);

// The standard layout of a width x height bitmap of the given depth: the full colour
// table for 4 and 8 bits, bfOffBits behind it.
BmpLayout StandardLayout(int32_t width, int32_t height, uint16_t bitCount);

// A pixel block in the file's order (bottom row first, rows padded to four bytes) whose
// pixel at picture row y (0 = top) and column x has the given value. 4-bit values are
// nibbles, 16-bit and 24-bit values are whole pixels (0xRRGGBB for 24 bits).
std::vector<uint8_t> PixelBlock(int side, uint16_t bitCount, const std::function<uint32_t(int y, int x)>& value);

// A square bitmap of the given depth written to path.
void WriteSquareBitmap(const std::string& path, int side, uint16_t bitCount,
                       const std::function<uint32_t(int y, int x)>& value);

// A pixel value that looks random and is the same on every run, so that a pixel landing in
// the wrong place shows.
uint32_t Noise(int y, int x);

// The conversion of a bitmap file done the long way, as written out for the operator: its
// rows reversed into an N x N image by the depth rules, then enlarged or decimated onto M x M.
std::vector<uint8_t> ConvertedTheLongWay(const std::vector<uint8_t>& file, int m);

// A Zernike file that gives each of the 20 terms a value of its own.
extern const char* const ALL_ZERNIKE_TERMS;

// "i value" lines for the table.
std::string LutText(const std::vector<int>& values);
void WriteLut(const std::string& path, const std::vector<int>& values);
std::vector<int> IdentityValues();
// (7 i + seed) mod 256: a permutation, so that every level maps somewhere else.
std::vector<int> ScrambledValues(int seed);
