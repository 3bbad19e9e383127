// The Zernike reader: any text gives a phase image and true.
#include <vector>

#include "FuzzInput.h"
#include "Zernike.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteInput("input.zrn", data, size);
  static std::vector<uint8_t> image(128 * 128);
  UseBoard(0);
  if (!ReadZernikeFile(image.data(), path, false)) __builtin_trap();
  return 0;
}
