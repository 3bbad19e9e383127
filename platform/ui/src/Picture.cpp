#include "ui/Picture.h"

#include <algorithm>

CRect PlacePicture(int controlWidth, int controlHeight, int pictureWidth, int pictureHeight, bool oneToOne) {
  if (controlWidth <= 0 || controlHeight <= 0 || pictureWidth <= 0 || pictureHeight <= 0) return {};
  int width = pictureWidth;
  int height = pictureHeight;
  if (!oneToOne) {
    // The largest size of the picture's shape that fits: compare the two ratios crosswise.
    if (static_cast<int64_t>(controlWidth) * pictureHeight <= static_cast<int64_t>(controlHeight) * pictureWidth) {
      width = controlWidth;
      height = std::max(1, static_cast<int>(static_cast<int64_t>(pictureHeight) * controlWidth / pictureWidth));
    } else {
      height = controlHeight;
      width = std::max(1, static_cast<int>(static_cast<int64_t>(pictureWidth) * controlHeight / pictureHeight));
    }
  }
  const int left = (controlWidth - width) / 2;
  const int top = (controlHeight - height) / 2;
  return CRect{left, top, left + width, top + height};
}
