#pragma once
// Zernike files (*.zrn): 20 coefficients of the classical Zernike polynomials, turned into a
// wrapped phase image of one byte per pixel, rows top to bottom.

#include <cstdint>
#include <memory>
#include <string>

constexpr int ZernikeTerms = 20;
extern const char* const ZernikeKey[ZernikeTerms];

// The phase scale: a full wave maps onto 0 ... 255.
constexpr double PhaseScale = 255.0;

// Fills the board's Width x Height bytes (UseBoardGeometry) or 128 x 128 bytes with the
// phase of the file's coefficients. When the file cannot be opened or read the image is
// all 48 and the result false. Without a board the board geometry is unknown: false,
// nothing written.
bool ReadZernikeFile(uint8_t* destination, const std::string& path, bool UseBoardGeometry);

// The entry editor's 128 x 128 preview; a new image in every case.
std::unique_ptr<uint8_t[]> PreviewZernike(const std::string& path);
