#pragma once
// CDib: a device-independent bitmap read from a BMP file into memory, kept as stored: the
// header block (information header and colour table) and the pixel block (bottom row
// first, rows padded as in the file). It decodes nothing; its users convert the pixels.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "File.h"

static_assert(std::endian::native == std::endian::little, "BMP fields are read in place");

struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

constexpr uint8_t PC_RESERVED = 1;

struct PALETTEENTRY {
  uint8_t peRed, peGreen, peBlue, peFlags;
};

// The grey-ramp palette. There is no palette hardware to realise it on.
struct LOGPALETTE {
  uint16_t palVersion = 0;
  uint16_t palNumEntries = 0;  // 0: no palette
  PALETTEENTRY palPalEntry[256] = {};
};

class CDib {
 public:
  static constexpr size_t FILE_HEADER_BYTES = 14;
  static constexpr size_t INFO_HEADER_BYTES = 40;

  CDib() { Clear(); }
  ~CDib() = default;

  CDib(const CDib&) = delete;
  CDib& operator=(const CDib&) = delete;

  // Reads a whole bitmap from the current position of the file. FALSE when the file is
  // not a bitmap this system can hold safely, or after a read error ("Read error");
  // the object is empty after FALSE.
  bool Read(CFile& file);

  // The first half of Read: header block, metrics and palette. The pixel block is left
  // in the file, to be read in whole or in part with ReadPixelBytes.
  bool ReadHeader(CFile& file);
  // Reads count bytes of the pixel block, starting offset bytes into it, as the file
  // holds them. The range must lie inside m_PixelBytes. FALSE after "Read error".
  bool ReadPixelBytes(CFile& file, uint64_t offset, size_t count, uint8_t* out) const;

  // (biWidth, biHeight) of the loaded header; (0, 0) when none is loaded.
  std::pair<int32_t, int32_t> GetSize() const;
  bool MakePalette();
  void Clear();

  const uint8_t* m_pColorTable;  // right behind the information header in the header block
  uint8_t* m_pPixels;            // the pixel block once Read has taken it in
  BITMAPINFOHEADER* m_pInfo;     // the header block: information header and colour table
  uint32_t m_PixelBytes;         // size of the pixel block: as declared, cut to what the file holds
  uint16_t m_ColorEntries;
  LOGPALETTE m_Palette;

 private:
  std::unique_ptr<uint8_t[]> m_HeaderBlock;
  std::unique_ptr<uint8_t[]> m_PixelBlock;
  uint64_t m_PixelsOffset;  // file offset of the pixel block
};
