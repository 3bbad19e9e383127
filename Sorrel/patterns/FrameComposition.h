#pragma once
// Frame composition: a sequence entry becomes its frame (pattern, compensation images,
// lookup table) and its 128 x 128 screen image.

#include <cstdint>
#include <memory>
#include <string>

#include "SequenceFile.h"

constexpr int ScreenSide = 128;
constexpr size_t ScreenImageBytes = ScreenSide * ScreenSide;

// The kind of a pattern file, by name: ".BMP" or ".bmp" anywhere is a bitmap, otherwise
// ".ZRN" or ".zrn" a Zernike file (exact spellings only).
enum class EPatternKind { Bitmap, Zernike, Neither };
EPatternKind PatternKindOf(const std::string& path);

// Reads a square bitmap as a top-down image of the board's side (UseBoardGeometry) or of
// 128, enlarged or decimated by a whole factor. Any file that cannot be opened or converted
// safely gives an image of 48 and false. m_PatternBitCount takes the depth of each
// bitmap accepted. Without a board the board geometry is unknown: false, nothing written.
bool ReadandInvertBitmap(uint8_t* destination, const std::string& path, bool UseBoardGeometry);
bool ReadScreenBitmap(uint8_t* destination, const std::string& path);

// A new M x M image from an N x N one: each pixel becomes a k x k block (N < M, k = M / N),
// or each k x k block gives its top-left pixel (N > M, k = N / M). Null, after a message,
// when there is no memory for it.
std::unique_ptr<uint8_t[]> ResampleSquare(const uint8_t* source, int N, int M);

// Fills frame (the board's Width x Height bytes) from the entry's pattern, adds both
// compensation images when applyCorrection is set, maps it through the entry's LUT, and
// sets the entry's Valid flag.
void ComposeFrame(Image_Entry& entry, uint8_t* frame, int applyCorrection, const uint8_t* slmPhaseComp,
                  const uint8_t* sysPhaseComp);

// Rebuilds one screen image per entry of the application's image list; always true.
bool BuildScreenImages();
// Base of the screen images: entry i at offset i x 16,384; null before the first build.
uint8_t* GetScreenImages();
// Releases the screen images (at shutdown).
void ReleaseScreenImages();
