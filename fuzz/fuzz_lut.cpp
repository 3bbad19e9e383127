// The LUT reader: a refused file always leaves the identity.
#include "FuzzInput.h"
#include "LUTFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteInput("input.lut", data, size);
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i * 13 + 1);
  if (!ReadLUTFile(path, table)) {
    for (int i = 0; i < 256; ++i)
      if (table[i] != i) __builtin_trap();
  }
  return 0;
}
