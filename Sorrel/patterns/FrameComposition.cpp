#include "FrameComposition.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

#include "File.h"
#include "LUTFile.h"
#include "Sorrel.h"
#include "TableMap.h"
#include "Zernike.h"
#include "cdib.h"
#include "ui/Host.h"

namespace {

constexpr uint8_t kMissingPixel = 48;
// Sixteen times the Kite side: the largest pattern a frame is decimated from.
constexpr int kMaxPatternSide = 8192;
// Rows that lie this close together are read in one go, up to this much at a time.
constexpr uint64_t kRowGapBytes = 8 * 1024;
constexpr size_t kWindowBytes = 256 * 1024;

std::unique_ptr<uint8_t[]> s_ScreenImages;

// Index along one axis of the N-sided source for index i of the M-sided target.
int SourceIndex(int i, int n, int m) { return n < m ? i / (m / n) : n > m ? i * (n / m) : i; }

// The bytes of a stored row that the conversion reads. Rows are counted N pixels long
// (the file's row padding is not looked at); a 4-bit pixel is the whole byte that holds
// it, a 16-bit pixel its low byte, a 24-bit pixel its first (blue) byte.
struct SPatternLayout {
  int side = 0;
  int depth = 0;
  uint64_t rowStride = 0;  // from one stored row to the next
  uint64_t rowSpan = 0;    // from a row's first byte to the last one read
};

uint64_t ColumnOffset(uint64_t c, int depth) {
  switch (depth) {
    case 4: return c / 2;
    case 16: return c * 2;
    case 24: return c * 3;
    default: return c;
  }
}

// Only square bitmaps of 4, 8, 16 or 24 bits whose side divides m or is a whole multiple
// of it, and whose pixel block holds every byte the conversion reads.
bool LayoutOf(const CDib& dib, int m, SPatternLayout& layout) {
  auto [width, height] = dib.GetSize();
  int depth = dib.m_pInfo->biBitCount;
  if (width != height || height <= 0 || height > kMaxPatternSide) return false;
  if (m % height != 0 && height % m != 0) return false;
  if (depth != 4 && depth != 8 && depth != 16 && depth != 24) return false;
  const uint64_t n = static_cast<uint64_t>(height);
  layout.side = height;
  layout.depth = depth;
  layout.rowStride = depth == 4 ? n / 2 : n * static_cast<uint64_t>(depth / 8);
  layout.rowSpan = ColumnOffset(n - 1, depth) + 1;
  return layout.rowStride * (n - 1) + layout.rowSpan <= dib.m_PixelBytes;
}

// Writes the m x m top-down image: target row i comes from source row SourceIndex(i), which
// is stored row N - 1 - SourceIndex(i) of the bottom-up file. Only those rows are read.
bool InvertRows(CFile& file, const CDib& dib, const SPatternLayout& layout, int m, uint8_t* out) {
  const int n = layout.side;
  const size_t side = static_cast<size_t>(m);
  const uint64_t step = static_cast<uint64_t>(n > m ? n / m : 1) * layout.rowStride;
  const size_t windowBytes = step <= layout.rowSpan + kRowGapBytes
                                 ? static_cast<size_t>(std::max<uint64_t>(kWindowBytes, layout.rowSpan))
                                 : static_cast<size_t>(layout.rowSpan);
  std::unique_ptr<uint8_t[]> window(new (std::nothrow) uint8_t[windowBytes]);
  std::vector<uint32_t> columns;
  if (window) {
    try {
      columns.resize(side);
    } catch (const std::bad_alloc&) {
      window.reset();
    }
  }
  if (!window) {
    AppMessageBox("Error allocating memory for image CDib:Read");
    return false;
  }
  for (size_t j = 0; j < side; ++j)
    columns[j] = static_cast<uint32_t>(ColumnOffset(static_cast<uint64_t>(SourceIndex(static_cast<int>(j), n, m)), layout.depth));
  const bool plainCopy = n == m && layout.depth == 8;

  uint64_t windowStart = 0, windowEnd = 0;
  int previous = -1;
  for (int i = 0; i < m; ++i) {
    uint8_t* target = out + static_cast<size_t>(i) * side;
    const int r = n - 1 - SourceIndex(i, n, m);
    if (r == previous) {
      std::memcpy(target, target - side, side);
      continue;
    }
    previous = r;
    const uint64_t start = static_cast<uint64_t>(r) * layout.rowStride;
    const uint64_t end = start + layout.rowSpan;
    if (start < windowStart || end > windowEnd) {
      // Rows are taken bottom of the file last, so the window reaches back from this row.
      windowEnd = end;
      windowStart = end > windowBytes ? end - windowBytes : 0;
      if (!dib.ReadPixelBytes(file, windowStart, static_cast<size_t>(windowEnd - windowStart), window.get()))
        return false;
    }
    const uint8_t* row = window.get() + (start - windowStart);
    if (plainCopy) {
      std::memcpy(target, row, side);
    } else {
      for (size_t j = 0; j < side; ++j) target[j] = row[columns[j]];
    }
  }
  return true;
}

bool ConvertBitmap(uint8_t* destination, const std::string& path, int m) {
  CFile file;
  if (!file.Open(path)) return false;
  CDib dib;
  SPatternLayout layout;
  if (!dib.ReadHeader(file) || !LayoutOf(dib, m, layout)) return false;
  if (!InvertRows(file, dib, layout, m, destination)) return false;
  if (theApp != nullptr) theApp->m_PatternBitCount = layout.depth;
  return true;
}

// A pattern of either kind; a name of neither kind reads like a missing file.
bool ReadPattern(uint8_t* destination, const std::string& path, bool UseBoardGeometry, size_t bytes) {
  switch (PatternKindOf(path)) {
    case EPatternKind::Bitmap: return ReadandInvertBitmap(destination, path, UseBoardGeometry);
    case EPatternKind::Zernike: return ReadZernikeFile(destination, path, UseBoardGeometry);
    case EPatternKind::Neither: break;
  }
  std::memset(destination, kMissingPixel, bytes);
  return false;
}

// LUT tables of one rebuild, each file read again only when it changed on disk.
class CLutCache {
 public:
  const uint8_t* Table(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      ReadLUTFile(path, m_Scratch);
      return m_Scratch;
    }
    Item& item = m_Items[path];
    if (!item.loaded || !SameFile(item.st, st)) {
      ReadLUTFile(path, item.table);
      item.st = st;
      item.loaded = true;
    }
    return item.table;
  }

 private:
  struct Item {
    bool loaded = false;
    struct stat st {};
    uint8_t table[256];
  };
  static bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
  }
  std::unordered_map<std::string, Item> m_Items;
  uint8_t m_Scratch[256];
};

}  // namespace

EPatternKind PatternKindOf(const std::string& path) {
  if (path.find(".BMP") != std::string::npos || path.find(".bmp") != std::string::npos) return EPatternKind::Bitmap;
  if (path.find(".ZRN") != std::string::npos || path.find(".zrn") != std::string::npos) return EPatternKind::Zernike;
  return EPatternKind::Neither;
}

bool ReadandInvertBitmap(uint8_t* destination, const std::string& path, bool UseBoardGeometry) {
  int side = ScreenSide;
  size_t bytes = ScreenImageBytes;
  if (UseBoardGeometry) {
    const SBoard_Spec* spec = AppBoardSpec();
    if (spec == nullptr) return false;
    bytes = static_cast<size_t>(spec->Width) * spec->Height;
    side = spec->Width == spec->Height ? spec->Width : 0;  // frames are square
  }
  if (side > 0 && ConvertBitmap(destination, path, side)) return true;
  std::memset(destination, kMissingPixel, bytes);
  return false;
}

bool ReadScreenBitmap(uint8_t* destination, const std::string& path) {
  return ReadandInvertBitmap(destination, path, false);
}

std::unique_ptr<uint8_t[]> ResampleSquare(const uint8_t* source, int N, int M) {
  const size_t side = static_cast<size_t>(M);
  std::unique_ptr<uint8_t[]> target(new (std::nothrow) uint8_t[side * side]);
  if (!target) {
    AppMessageBox("Error allocating memory for CFile,LoadSIFRec");
    return nullptr;
  }
  for (int i = 0; i < M; ++i) {
    const uint8_t* row = source + static_cast<size_t>(SourceIndex(i, N, M)) * static_cast<size_t>(N);
    for (int j = 0; j < M; ++j) target[static_cast<size_t>(i) * side + static_cast<size_t>(j)] = row[SourceIndex(j, N, M)];
  }
  return target;
}

void ComposeFrame(Image_Entry& entry, uint8_t* frame, int applyCorrection, const uint8_t* slmPhaseComp,
                  const uint8_t* sysPhaseComp) {
  const SBoard_Spec* spec = AppBoardSpec();
  if (spec == nullptr) {
    entry.Valid = 0;
    return;
  }
  const size_t count = static_cast<size_t>(spec->Width) * spec->Height;
  entry.Valid = 1;
  if (!ReadPattern(frame, entry.PatternFile, true, count)) entry.Valid = 0;
  uint8_t table[256];
  if (!ReadLUTFile(entry.LUTFile, table)) entry.Valid = 0;
  if (applyCorrection != 0)
    MapThroughTable(frame, count, table, slmPhaseComp, sysPhaseComp);
  else
    MapThroughTable(frame, count, table);
}

bool BuildScreenImages() {
  const size_t n = theApp != nullptr ? theApp->m_ImageList.size() : 0;
  s_ScreenImages.reset();
  if (n == 0) return true;
  s_ScreenImages.reset(new (std::nothrow) uint8_t[n * ScreenImageBytes]);
  if (!s_ScreenImages) {
    AppMessageBox("Error allocating memory for m_ArrayForScreenImages");
    return true;
  }
  CLutCache luts;
  for (size_t i = 0; i < n; ++i) {
    const Image_Entry& entry = *theApp->m_ImageList[i];
    uint8_t* slot = s_ScreenImages.get() + i * ScreenImageBytes;
    ReadPattern(slot, entry.PatternFile, false, ScreenImageBytes);
    MapThroughTable(slot, ScreenImageBytes, luts.Table(entry.LUTFile));
  }
  return true;
}

uint8_t* GetScreenImages() { return s_ScreenImages.get(); }

void ReleaseScreenImages() { s_ScreenImages.reset(); }
