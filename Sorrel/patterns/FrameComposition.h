#pragma once
// Frame composition: a sequence entry becomes its frame (pattern, compensation images,
// lookup table) and its 128 x 128 screen image, on the geometry the caller hands down.

#include <cstdint>
#include <string>

#include "PatternImage.h"
#include "SequenceFile.h"

// The kind of a pattern file, by name: ".BMP" or ".bmp" anywhere is a bitmap, otherwise
// ".ZRN" or ".zrn" a Zernike file (exact spellings only).
enum class EPatternKind { Bitmap, Zernike, Neither };
EPatternKind PatternKindOf(const std::string& path);

// Reads a square bitmap as a top-down side x side image (CBitmapConverter). Any file that
// cannot be opened or converted safely gives an image of 48 and false. bitCount takes the
// depth of every bitmap whose header was read, converted or not, and is left alone otherwise.
bool ReadBitmapPattern(uint8_t* destination, const std::string& path, int side, int& bitCount);

// Reads a pattern of the given kind onto the geometry. A bitmap fills only a square image;
// a bitmap onto any other, and a name of neither kind, read like a missing file (48, false).
bool ReadPattern(EPatternKind kind, uint8_t* destination, const std::string& path, const PatternGeometry& geometry,
                 int& bitCount);

// A compensation image from the file the settings name, as start-up reads it: as a bitmap
// onto the frame, whatever the name says (an image of 48 and false when it cannot be).
bool ReadStoredCompensationImage(uint8_t* image, const std::string& path, const PatternGeometry& geometry,
                                 int& bitCount);
// A compensation image from a file the operator picked: read by its kind. A name of neither
// kind leaves the image as it was and gives false.
bool ReadPickedCompensationImage(uint8_t* image, const std::string& path, const PatternGeometry& geometry,
                                 int& bitCount);

// Adds both compensation images to frame (geometry.Pixels() bytes, modulo 256) when
// applyCorrection is set, then maps it through table: how every frame the program sends is
// finished, whatever it was made from.
void CompensateAndMap(uint8_t* frame, const PatternGeometry& geometry, const uint8_t table[256], int applyCorrection,
                      const uint8_t* slmPhaseComp, const uint8_t* sysPhaseComp);

// Fills frame (geometry.Pixels() bytes) from the entry's pattern, adds both compensation
// images when applyCorrection is set, maps it through the entry's LUT (CompensateAndMap),
// and sets the entry's Valid flag. bitCount as for ReadBitmapPattern.
void ComposeFrameImage(Image_Entry& entry, uint8_t* frame, const PatternGeometry& geometry, int applyCorrection,
                       const uint8_t* slmPhaseComp, const uint8_t* sysPhaseComp, int& bitCount);

// Rebuilds one screen image per entry of the list. bitCount takes the depth of the last
// bitmap read and is left alone when there was none.
void BuildScreenImagesFor(const ImageList& list, int& bitCount);
// The screen image of a frame given whole (geometry.width x geometry.height bytes in screen
// order), each screen pixel the frame's pixel at its place.
void ScreenImageOfFrame(const uint8_t* frame, const PatternGeometry& geometry, uint8_t* image);
// Base of the screen images: entry i at offset i x 16,384; null before the first build.
uint8_t* GetScreenImages();
// Releases the screen images (at shutdown).
void ReleaseScreenImages();
