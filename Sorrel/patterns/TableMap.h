#pragma once
// Mapping an image through a 256-entry table, optionally adding two compensation images
// first (modulo 256): the last step of every frame and screen image.

#include <cstddef>
#include <cstdint>

#include "cpu/Paths.h"

// image[i] = table[image[i]], or table[(image[i] + slm[i] + sys[i]) mod 256] when both
// compensation images are given.
void MapThroughTable(uint8_t* image, size_t count, const uint8_t table[256], const uint8_t* slm = nullptr,
                     const uint8_t* sys = nullptr);

// The same on each path: eight table loads to a word (portable); 32 pixels at a time with
// sixteen 16-entry byte shuffles (AVX2); 64 at a time with 128-byte permutes (AVX-512 VBMI).
using TableMapFunction = void (*)(uint8_t* image, size_t count, const uint8_t table[256], const uint8_t* slm,
                                  const uint8_t* sys);
extern const TableMapFunction TABLE_MAP_PATHS[cpu::PATH_COUNT];
