#pragma once
// A grey picture for a picture control, and the one rule every host draws it by: fitted
// into the control whole, keeping its shape, or 1:1; centred either way; each shown pixel
// takes the nearest picture pixel, so a picture scaled up by a whole factor shows every
// pixel as a block of that size.

#include <cstdint>
#include <vector>

#include "ui/Types.h"

struct GreyPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width x height, row-major, row 0 at the top
};

// The rectangle of control pixels the picture covers (it may reach past the control at 1:1).
UI_API CRect PlacePicture(int controlWidth, int controlHeight, int pictureWidth, int pictureHeight, bool oneToOne);

// The picture column (or row) that pixel i of a placement n pixels long shows.
constexpr int PictureSource(int i, int n, int pictureN) {
  return static_cast<int>(static_cast<int64_t>(i) * pictureN / n);
}
