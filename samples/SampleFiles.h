#pragma once
// Writers for the file formats of a working folder that the program only reads: bitmaps,
// lookup tables and Zernike files. Each file is replaced whole, never left half-written.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A grey picture, row-major, row 0 at the top.
struct SamplePicture {
  int side = 0;
  std::vector<uint8_t> pixels;
};

// An 8-bit bitmap with the grey-ramp colour table, or a 24-bit one whose every pixel is
// the grey of the picture.
bool WriteGreyBitmap(const std::string& path, const SamplePicture& picture);
bool WriteColourBitmap(const std::string& path, const SamplePicture& picture);

// "index value" lines for the 256 grey levels.
bool WriteLutFile(const std::string& path, const std::vector<int>& values);

// "Key = value" lines, one per Zernike term the reader knows, the given ones set and the
// others 0.
bool WriteZernikeFile(const std::string& path, const std::vector<std::pair<std::string, double>>& terms);
