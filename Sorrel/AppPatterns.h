#pragma once
// The pattern operations as the program calls them. Each resolves the geometry from the
// application's board and keeps the application's record of what it read
// (m_PatternBitCount, m_bSequenceModified); the work beneath takes the geometry as
// arguments and leaves the application alone.

#include <cstdint>
#include <optional>
#include <string>

#include "BoardGeometry.h"
#include "FrameComposition.h"
#include "OrvBoard.h"
#include "SequenceFile.h"
#include "Zernike.h"

// The board's frame geometry; none without a board.
std::optional<PatternGeometry> FrameGeometry();
// m_PatternBitCount takes the depth of the last bitmap read; 0 (none read) leaves it.
void KeepPatternBitCount(int bitCount);

// A bitmap onto the board's frame (UseBoardGeometry) or the 128 x 128 screen image
// (ReadBitmapPattern); m_PatternBitCount takes the depth of each bitmap read. A board
// that is not square gets a frame of 48 and false. Without a board the board geometry is
// unknown: false, nothing written.
bool ReadandInvertBitmap(uint8_t* destination, const std::string& path, bool UseBoardGeometry);
bool ReadScreenBitmap(uint8_t* destination, const std::string& path);

// The compensation images on the board's frame: ReadStoredCompensationImage as start-up
// reads the stored files, ReadPickedCompensationImage as the Browse buttons read a picked
// one; m_PatternBitCount as for ReadandInvertBitmap. Without a board: false, nothing written.
bool ReadStoredCompensation(uint8_t* image, const std::string& path);
bool ReadPickedCompensation(uint8_t* image, const std::string& path);

// ComposeFrameImage on the board's frame; m_PatternBitCount as for ReadandInvertBitmap.
// Without a board the entry is marked not valid and the frame left alone.
void ComposeFrame(Image_Entry& entry, uint8_t* frame, int applyCorrection, const uint8_t* slmPhaseComp,
                  const uint8_t* sysPhaseComp);

// The screen images of the application's image list; m_PatternBitCount as for
// ReadandInvertBitmap. Always true.
bool BuildScreenImages();

// ReadSequenceEntries; after a successful read the sequence counts as unmodified.
bool ReadSequenceFile(const std::string& path, ImageList& list, int& state);
