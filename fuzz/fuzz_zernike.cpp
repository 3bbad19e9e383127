// The Zernike reader: any text gives a phase image and true.
#include <vector>

#include "FuzzInput.h"
#include "PatternImage.h"
#include "Zernike.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteInput("input.zrn", data, size);
  static std::vector<uint8_t> image(SCREEN_IMAGE_BYTES);
  if (!ReadZernikePattern(image.data(), path, SCREEN_GEOMETRY.width, SCREEN_GEOMETRY.height, SCREEN_GEOMETRY.unitRadius))
    __builtin_trap();
  return 0;
}
