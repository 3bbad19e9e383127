#include "cdib.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "ui/Host.h"

namespace {

uint32_t LoadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

bool KnownDepth(unsigned bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

void ReportReadError() { AppMessageBox("Read error"); }

}  // namespace

void CDib::Clear() {
  m_HeaderBlock.reset();
  m_PixelBlock.reset();
  m_pColorTable = nullptr;
  m_pPixels = nullptr;
  m_pInfo = nullptr;
  m_PixelBytes = 0;
  m_ColorEntries = 0;
  m_Palette = LOGPALETTE{};
  m_PixelsOffset = 0;
}

std::pair<int32_t, int32_t> CDib::GetSize() const {
  if (m_pInfo == nullptr) return {0, 0};
  return {m_pInfo->biWidth, m_pInfo->biHeight};
}

bool CDib::MakePalette() {
  m_Palette = LOGPALETTE{};
  m_Palette.palVersion = 0x300;
  m_Palette.palNumEntries = m_ColorEntries;
  // Always a grey ramp: the colours stored in the file are not used.
  for (unsigned i = 0; i < m_ColorEntries; ++i) {
    uint8_t level = static_cast<uint8_t>(i);
    m_Palette.palPalEntry[i] = {level, level, level, PC_RESERVED};
  }
  return true;
}

bool CDib::ReadHeader(CFile& file) {
  Clear();
  int64_t start = file.Position();
  int64_t length = file.Length();
  if (start < 0 || length < 0) {
    ReportReadError();
    return false;
  }
  uint64_t available = static_cast<uint64_t>(length - start);

  uint8_t fileHeader[FILE_HEADER_BYTES];
  ptrdiff_t got = file.Read(fileHeader, sizeof fileHeader);
  if (got < 0) {
    ReportReadError();
    return false;
  }
  if (static_cast<size_t>(got) < sizeof fileHeader) return false;
  // bfType is not looked at; only the offset of the pixels counts.
  uint64_t offBits = LoadU32(fileHeader + 10);
  if (offBits < FILE_HEADER_BYTES + INFO_HEADER_BYTES || offBits > available) return false;
  size_t headerBytes = static_cast<size_t>(offBits - FILE_HEADER_BYTES);

  m_HeaderBlock.reset(new (std::nothrow) uint8_t[headerBytes]);
  if (!m_HeaderBlock) {
    AppMessageBox("Error allocating memory for CDib,Read");
    return false;
  }
  got = file.Read(m_HeaderBlock.get(), headerBytes);
  if (got < 0) {
    Clear();
    ReportReadError();
    return false;
  }
  if (static_cast<size_t>(got) < headerBytes) {
    Clear();
    return false;
  }
  m_pInfo = reinterpret_cast<BITMAPINFOHEADER*>(m_HeaderBlock.get());
  m_pColorTable = m_HeaderBlock.get() + INFO_HEADER_BYTES;

  const BITMAPINFOHEADER& info = *m_pInfo;
  if (info.biSize != INFO_HEADER_BYTES)
    std::fputs("Not a valid Windows bitmap -- probably an OS/2 bitmap\n", stderr);

  // Sizes this object could not describe: no positive extent, an unknown depth, a pixel
  // block beyond 32 bits, a colour table larger than a palette or cut short.
  uint64_t rowBytes = (static_cast<uint64_t>(info.biBitCount) * static_cast<uint64_t>(info.biWidth) + 31) / 32 * 4;
  uint64_t pixelBytes = info.biSizeImage != 0 ? info.biSizeImage : rowBytes * static_cast<uint64_t>(info.biHeight);
  uint32_t entries = info.biClrUsed;
  if (entries == 0) entries = info.biBitCount == 1 ? 2 : info.biBitCount == 4 ? 16 : info.biBitCount == 8 ? 256 : 0;
  if (info.biWidth <= 0 || info.biHeight <= 0 || !KnownDepth(info.biBitCount) || pixelBytes > UINT32_MAX ||
      entries > 256 || INFO_HEADER_BYTES + 4 * static_cast<size_t>(entries) > headerBytes) {
    Clear();
    return false;
  }
  m_ColorEntries = static_cast<uint16_t>(entries);
  m_PixelsOffset = static_cast<uint64_t>(start) + offBits;
  m_PixelBytes = static_cast<uint32_t>(std::min<uint64_t>(pixelBytes, available - offBits));
  MakePalette();
  return true;
}

bool CDib::ReadPixelBytes(CFile& file, uint64_t offset, size_t count, uint8_t* out) const {
  ptrdiff_t got = file.ReadAt(out, count, m_PixelsOffset + offset);
  // The file was measured when the header was read; coming up short now is an error too.
  if (got < 0 || static_cast<size_t>(got) < count) {
    ReportReadError();
    return false;
  }
  return true;
}

bool CDib::Read(CFile& file) {
  if (!ReadHeader(file)) return false;
  m_PixelBlock.reset(new (std::nothrow) uint8_t[m_PixelBytes]);
  if (!m_PixelBlock) {
    Clear();
    AppMessageBox("Error allocating memory for image CDib:Read");
    return false;
  }
  if (!ReadPixelBytes(file, 0, m_PixelBytes, m_PixelBlock.get())) {
    Clear();
    return false;
  }
  m_pPixels = m_PixelBlock.get();
  return true;
}
