#pragma once
// The Kite board as code that composes frames for one knows it without a card: the
// description its driver gives and the order it stores a frame in.

#include <cstdint>

#include "OrvBoard.h"

#define KITEBOARD_API __attribute__((visibility("default")))

namespace kite {

KITEBOARD_API SBoard_Spec BoardSpec();

// A 512 x 512 frame as the board stores it when its board id asks for the reorder; src may be dst.
KITEBOARD_API void ToStoredOrder(const uint8_t* src, uint8_t* dst);

// WriteFrameBuffer of a frame the caller keeps as it is, reordered through scratch (a frame of
// the board's size) when the board stores frames reordered. 0 when board is not this model's.
KITEBOARD_API int WriteFrameFrom(COrvBoard& board, uint16_t frame, const uint8_t* data, uint8_t* scratch);

}  // namespace kite
