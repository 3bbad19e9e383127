#include "AppPatterns.h"

#include <optional>

#include "Sorrel.h"

namespace {

// The geometry UseBoardGeometry names; none when that is the board's and there is no board.
std::optional<PatternGeometry> Geometry(bool UseBoardGeometry) {
  if (!UseBoardGeometry) return SCREEN_GEOMETRY;
  if (theApp == nullptr || theApp->m_pBoard == nullptr) return std::nullopt;
  return BoardGeometry(*theApp->m_pBoard->BoardSpec());
}

}  // namespace

std::optional<PatternGeometry> FrameGeometry() { return Geometry(true); }

void KeepPatternBitCount(int bitCount) {
  if (bitCount != 0 && theApp != nullptr) theApp->m_PatternBitCount = bitCount;
}

bool ReadandInvertBitmap(uint8_t* destination, const std::string& path, bool UseBoardGeometry) {
  const std::optional<PatternGeometry> geometry = Geometry(UseBoardGeometry);
  if (!geometry) return false;
  int bitCount = 0;
  const bool read = ReadPattern(EPatternKind::Bitmap, destination, path, *geometry, bitCount);
  KeepPatternBitCount(bitCount);
  return read;
}

bool ReadScreenBitmap(uint8_t* destination, const std::string& path) {
  return ReadandInvertBitmap(destination, path, false);
}

bool ReadStoredCompensation(uint8_t* image, const std::string& path) {
  const std::optional<PatternGeometry> geometry = Geometry(true);
  if (!geometry) return false;
  int bitCount = 0;
  const bool read = ReadStoredCompensationImage(image, path, *geometry, bitCount);
  KeepPatternBitCount(bitCount);
  return read;
}

bool ReadPickedCompensation(uint8_t* image, const std::string& path) {
  const std::optional<PatternGeometry> geometry = Geometry(true);
  if (!geometry) return false;
  int bitCount = 0;
  const bool read = ReadPickedCompensationImage(image, path, *geometry, bitCount);
  KeepPatternBitCount(bitCount);
  return read;
}

void ComposeFrame(Image_Entry& entry, uint8_t* frame, int applyCorrection, const uint8_t* slmPhaseComp,
                  const uint8_t* sysPhaseComp) {
  const std::optional<PatternGeometry> geometry = Geometry(true);
  if (!geometry) {
    entry.Valid = 0;
    return;
  }
  int bitCount = 0;
  ComposeFrameImage(entry, frame, *geometry, applyCorrection, slmPhaseComp, sysPhaseComp, bitCount);
  KeepPatternBitCount(bitCount);
}

bool BuildScreenImages() {
  static const ImageList NO_ENTRIES;
  int bitCount = 0;
  BuildScreenImagesFor(theApp != nullptr ? theApp->m_ImageList : NO_ENTRIES, bitCount);
  KeepPatternBitCount(bitCount);
  return true;
}

bool ReadSequenceFile(const std::string& path, ImageList& list, int& state) {
  if (!ReadSequenceEntries(path, list, state)) return false;
  if (theApp != nullptr) theApp->m_bSequenceModified = 0;
  return true;
}
