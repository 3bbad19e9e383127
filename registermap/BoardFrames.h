#pragma once
// The two board shapes and the byte order a board keeps its frames in: the facts the drivers'
// model values, the simulated card and the shadow of a real card all take from here.

#include <cstdint>
#include <cstring>

namespace board {

struct Shape {
  uint32_t width;
  uint32_t height;
  uint32_t buffers;
  uint32_t fieldBits;      // width of the image and download fields of REG_FRAME_SELECT
  uint32_t runBytes;       // pixels in one run of the interleaved order
  uint32_t frameNs;        // one board frame
  uint32_t interleavedId;  // the board id (REG_STATUS bits 24-31) that stores frames interleaved
  uint32_t plainId;        // the board id that stores them as they are
  constexpr uint32_t FrameBytes() const { return width * height; }
};

constexpr Shape KITE{512, 512, 1024, 10, 16, 164100, 0x00, 0x01};
constexpr Shape WREN{256, 256, 4096, 12, 8, 164400, 0x40, 0x41};

// The shape whose frame is this many bytes, or null.
constexpr const Shape* ShapeOfFrameBytes(uint32_t bytes) {
  if (bytes == KITE.FrameBytes()) return &KITE;
  if (bytes == WREN.FrameBytes()) return &WREN;
  return nullptr;
}

constexpr bool StoresInterleaved(const Shape& shape, uint32_t boardId) { return boardId == shape.interleavedId; }

// Where picture byte i is stored when interleaved: each group holds four runs of pixels woven
// word by word, pixel k of run j at byte 4k + j of the group. Writing a frame applies this
// (modelboard's reorder paths); showing one takes it back.
constexpr uint32_t StoredOffset(uint32_t i, uint32_t runBytes) {
  const uint32_t group = i - i % (4 * runBytes);
  const uint32_t j = (i - group) / runBytes;
  const uint32_t k = (i - group) % runBytes;
  return group + 4 * k + j;
}

// The picture of a stored frame of size bytes (a whole number of groups).
inline void DecodeFrame(const uint8_t* stored, uint8_t* picture, uint32_t size, uint32_t runBytes, bool interleaved) {
  if (!interleaved) {
    std::memcpy(picture, stored, size);
    return;
  }
  for (uint32_t i = 0; i < size; ++i) picture[i] = stored[StoredOffset(i, runBytes)];
}

}  // namespace board
