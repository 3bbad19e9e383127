#include "FrameComposition.h"

#include <cstring>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>
#include <vector>

#include "BitmapConversion.h"
#include "LUTFile.h"
#include "TableMap.h"
#include "Zernike.h"
#include "cpu/AlignedBytes.h"
#include "ui/Host.h"

namespace {

cpu::AlignedBytes s_ScreenImages;

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

bool ReadBitmapPattern(uint8_t* destination, const std::string& path, int side, int& bitCount) {
  CBitmapConverter bitmap;
  int width, height, depth;
  if (bitmap.Open(path, width, height, depth)) {
    bitCount = depth;  // the file was read, whether or not its pixels convert
    if (bitmap.Convert(destination, side)) return true;
  }
  std::memset(destination, MISSING_PIXEL, static_cast<size_t>(side) * static_cast<size_t>(side));
  return false;
}

bool ReadPattern(EPatternKind kind, uint8_t* destination, const std::string& path, const PatternGeometry& geometry,
                 int& bitCount) {
  switch (kind) {
    case EPatternKind::Bitmap:
      if (geometry.width != geometry.height) break;  // frames are square
      return ReadBitmapPattern(destination, path, geometry.width, bitCount);
    case EPatternKind::Zernike:
      return ReadZernikePattern(destination, path, geometry.width, geometry.height, geometry.unitRadius);
    case EPatternKind::Neither: break;
  }
  std::memset(destination, MISSING_PIXEL, geometry.Pixels());
  return false;
}

bool ReadStoredCompensationImage(uint8_t* image, const std::string& path, const PatternGeometry& geometry,
                                 int& bitCount) {
  return ReadPattern(EPatternKind::Bitmap, image, path, geometry, bitCount);
}

bool ReadPickedCompensationImage(uint8_t* image, const std::string& path, const PatternGeometry& geometry,
                                 int& bitCount) {
  const EPatternKind kind = PatternKindOf(path);
  return kind != EPatternKind::Neither && ReadPattern(kind, image, path, geometry, bitCount);
}

void CompensateAndMap(uint8_t* frame, const PatternGeometry& geometry, const uint8_t table[256], int applyCorrection,
                      const uint8_t* slmPhaseComp, const uint8_t* sysPhaseComp) {
  if (applyCorrection != 0)
    MapThroughTable(frame, geometry.Pixels(), table, slmPhaseComp, sysPhaseComp);
  else
    MapThroughTable(frame, geometry.Pixels(), table);
}

void ComposeFrameImage(Image_Entry& entry, uint8_t* frame, const PatternGeometry& geometry, int applyCorrection,
                       const uint8_t* slmPhaseComp, const uint8_t* sysPhaseComp, int& bitCount) {
  entry.Valid = 1;
  if (!ReadPattern(PatternKindOf(entry.PatternFile), frame, entry.PatternFile, geometry, bitCount)) entry.Valid = 0;
  uint8_t table[256];
  if (!ReadLUTFile(entry.LUTFile, table)) entry.Valid = 0;
  CompensateAndMap(frame, geometry, table, applyCorrection, slmPhaseComp, sysPhaseComp);
}

namespace {

// Screen images of entries first .. last - 1; bitCount as ReadPattern leaves it.
void BuildScreenImagesOf(const ImageList& list, size_t first, size_t last, int& bitCount) {
  CLutCache luts;
  for (size_t i = first; i < last; ++i) {
    const Image_Entry& entry = *list[i];
    uint8_t* slot = s_ScreenImages.get() + i * SCREEN_IMAGE_BYTES;
    ReadPattern(PatternKindOf(entry.PatternFile), slot, entry.PatternFile, SCREEN_GEOMETRY, bitCount);
    MapThroughTable(slot, SCREEN_IMAGE_BYTES, luts.Table(entry.LUTFile));
  }
}

// Below this many entries a second thread costs more than it saves.
constexpr size_t ENTRIES_WORTH_A_THREAD = 64;

}  // namespace

void BuildScreenImagesFor(const ImageList& list, int& bitCount) {
  const size_t n = list.size();
  s_ScreenImages.reset();
  if (n == 0) return;
  s_ScreenImages = cpu::NewAlignedBytes(n * SCREEN_IMAGE_BYTES, std::nothrow);
  if (!s_ScreenImages) {
    AppMessageBox("Error allocating memory for m_ArrayForScreenImages");
    return;
  }
  if (n < ENTRIES_WORTH_A_THREAD) {
    BuildScreenImagesOf(list, 0, n, bitCount);
    return;
  }
  // The second half on another thread. Both halves hold their boxes until both are done, so
  // nothing can end the process under a box while the thread runs, and the operator meets
  // them in the order of the list; the last bitmap read gives the depth.
  const size_t half = n / 2;
  std::vector<HeldMessage> firstBoxes, secondBoxes;
  int secondBitCount = 0;
  {
    std::jthread second([&] {
      HoldMessagesOnThisThread(&secondBoxes);
      BuildScreenImagesOf(list, half, n, secondBitCount);
      HoldMessagesOnThisThread(nullptr);
    });
    HoldMessagesOnThisThread(&firstBoxes);
    BuildScreenImagesOf(list, 0, half, bitCount);
    HoldMessagesOnThisThread(nullptr);
  }
  ShowHeldMessages(firstBoxes);
  ShowHeldMessages(secondBoxes);
  if (secondBitCount != 0) bitCount = secondBitCount;
}

uint8_t* GetScreenImages() { return s_ScreenImages.get(); }

void ReleaseScreenImages() { s_ScreenImages.reset(); }

void ScreenImageOfFrame(const uint8_t* frame, const PatternGeometry& geometry, uint8_t* image) {
  for (int y = 0; y < SCREEN_SIDE; ++y) {
    const size_t row = static_cast<size_t>(y * geometry.height / SCREEN_SIDE) * static_cast<size_t>(geometry.width);
    for (int x = 0; x < SCREEN_SIDE; ++x) *image++ = frame[row + static_cast<size_t>(x * geometry.width / SCREEN_SIDE)];
  }
}
