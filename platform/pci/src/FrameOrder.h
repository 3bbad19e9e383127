#pragma once
// How a board keeps a frame in its memory, as its panel takes it back out: the one decode
// both the simulated card and the shadow of a real card use to show a stored frame.

#include <cstdint>
#include <cstring>

namespace pci::detail {

// Pixels in one run of the interleaved order: 16 on a 512 x 512 board, 8 on a 256 x 256 one.
constexpr uint32_t RunBytesFor(uint32_t width) { return width >= 512 ? 16 : 8; }

// Whether a board of this width and id keeps its frames interleaved: Kite boards with id 0
// and Wren boards with id 0x40 do; the others keep them as they are.
constexpr bool StoresReordered(uint32_t width, uint32_t boardId) {
  return (width == 512 && boardId == 0x00) || (width == 256 && boardId == 0x40);
}

// The picture of a stored frame of size bytes. Interleaved, each group holds four runs of
// pixels woven word by word: stored byte 4k + j is pixel k of run j.
inline void DecodeFrame(const uint8_t* stored, uint8_t* picture, uint32_t size, uint32_t runBytes, bool reordered) {
  if (!reordered) {
    std::memcpy(picture, stored, size);
    return;
  }
  for (uint32_t group = 0; group + 4 * runBytes <= size; group += 4 * runBytes) {
    for (uint32_t j = 0; j < 4; ++j) {
      for (uint32_t k = 0; k < runBytes; ++k) {
        picture[group + runBytes * j + k] = stored[group + 4 * k + j];
      }
    }
  }
}

}  // namespace pci::detail
