#pragma once
// Zernike files (*.zrn): 20 coefficients of the classical Zernike polynomials, turned into a
// wrapped phase image of one byte per pixel, rows top to bottom.

#include <cstdint>
#include <memory>
#include <string>

#include "cpu/Paths.h"

constexpr int ZERNIKE_TERMS = 20;
extern const char* const ZernikeKey[ZERNIKE_TERMS];

// The phase scale: a full wave maps onto 0 ... 255.
constexpr double PhaseScale = 255.0;

// Fills width x height bytes with the phase of the 20 coefficients (in ZernikeKey order),
// normalised radius 1 lying unitRadius pixels from the centre.
void GenerateZernikePhase(const double coefficients[ZERNIKE_TERMS], int width, int height, double unitRadius,
                          uint8_t* destination);
// The same on the given path (the processor must run it); every path gives the same bytes.
void GenerateZernikePhaseOn(cpu::Path path, const double coefficients[ZERNIKE_TERMS], int width, int height,
                            double unitRadius, uint8_t* destination);

// Fills width x height bytes with the phase of the file's coefficients, normalised radius 1
// lying unitRadius pixels from the centre. When the file cannot be opened or read the
// image is all 48 and the result false.
bool ReadZernikePattern(uint8_t* destination, const std::string& path, int width, int height, double unitRadius);

// The entry editor's 128 x 128 preview; a new image in every case.
std::unique_ptr<uint8_t[]> PreviewZernike(const std::string& path);
