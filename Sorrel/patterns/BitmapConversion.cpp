#include "BitmapConversion.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <tuple>
#include <vector>

#include "ui/Host.h"

namespace {

// Rows that lie this close together are read in one go, up to this much at a time.
constexpr uint64_t ROW_GAP_BYTES = 8 * 1024;
constexpr size_t WINDOW_BYTES = 256 * 1024;

// Index along one axis of the N-sided source for index i of the M-sided target.
int SourceIndex(int i, int n, int m) { return n < m ? i / (m / n) : n > m ? i * (n / m) : i; }

// The bytes of a stored row that the conversion reads. Rows are counted N pixels long
// (the file's row padding is not looked at); a 4-bit pixel is the whole byte that holds
// it, a 16-bit pixel its low byte, a 24-bit pixel its first (blue) byte.
struct PatternLayout {
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
// of it, and whose pixel block holds every byte the conversion reads. m has no upper bound
// (the caller sized the image): given one, the compiler copies rows with rep movsq instead
// of calling memcpy, which reads a Kite frame's bitmap a fifth slower.
bool LayoutOf(const CDib& dib, int m, PatternLayout& layout) {
  if (dib.m_pInfo == nullptr || m <= 0) return false;
  auto [width, height] = dib.GetSize();
  int depth = dib.m_pInfo->biBitCount;
  if (width != height || height <= 0 || height > MAX_PATTERN_SIDE) return false;
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
bool InvertRows(CFile& file, const CDib& dib, const PatternLayout& layout, int m, uint8_t* out) {
  const int n = layout.side;
  const size_t side = static_cast<size_t>(m);
  const uint64_t step = static_cast<uint64_t>(n > m ? n / m : 1) * layout.rowStride;
  const size_t windowBytes = step <= layout.rowSpan + ROW_GAP_BYTES
                                 ? static_cast<size_t>(std::max<uint64_t>(WINDOW_BYTES, layout.rowSpan))
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

}  // namespace

bool CBitmapConverter::Open(const std::string& path, int& width, int& height, int& bitCount) {
  if (!m_File.Open(path)) {
    m_Dib.Clear();  // no header of an earlier file may outlive it
    return false;
  }
  if (!m_Dib.ReadHeader(m_File)) return false;
  std::tie(width, height) = m_Dib.GetSize();
  bitCount = m_Dib.m_pInfo->biBitCount;
  return true;
}

bool CBitmapConverter::Convert(uint8_t* destination, int side) {
  PatternLayout layout;
  return LayoutOf(m_Dib, side, layout) && InvertRows(m_File, m_Dib, layout, side, destination);
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
