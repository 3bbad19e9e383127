#pragma once
// The images the pattern readers fill: one byte per pixel, row-major, row 0 at the top. A
// frame has the board's geometry, a screen image is 128 x 128; the readers are handed the
// geometry and never look for a board themselves.

#include <cstddef>
#include <cstdint>

constexpr int SCREEN_SIDE = 128;
constexpr size_t SCREEN_IMAGE_BYTES = SCREEN_SIDE * SCREEN_SIDE;

// Every pixel of an image whose file could not be read.
constexpr uint8_t MISSING_PIXEL = 48;

// The size of an image and the Zernike unit radius on it: the distance in pixels that
// corresponds to normalised radius 1.
struct PatternGeometry {
  int width;
  int height;
  double unitRadius;

  size_t Pixels() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
};

// The screen image; R 75 is 75/64 of half the side, as on either board, so the screen
// image is a scaled copy of the frame.
constexpr PatternGeometry SCREEN_GEOMETRY{SCREEN_SIDE, SCREEN_SIDE, 75.0};
