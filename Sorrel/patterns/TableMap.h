#pragma once
// Mapping an image through a 256-entry table, optionally adding two compensation images
// first (modulo 256): the last step of every frame and screen image.

#include <cstddef>
#include <cstdint>

// image[i] = table[image[i]], or table[(image[i] + slm[i] + sys[i]) mod 256] when both
// compensation images are given.
void MapThroughTable(uint8_t* image, size_t count, const uint8_t table[256], const uint8_t* slm = nullptr,
                     const uint8_t* sys = nullptr);

// The two ways MapThroughTable chooses between: plain code for any processor, and 64 pixels
// at a time with byte permutes where the processor has AVX-512 VBMI.
void MapThroughTablePlain(uint8_t* image, size_t count, const uint8_t table[256], const uint8_t* slm,
                          const uint8_t* sys);
void MapThroughTableVbmi(uint8_t* image, size_t count, const uint8_t table[256], const uint8_t* slm,
                         const uint8_t* sys);
bool ProcessorHasVbmi();
