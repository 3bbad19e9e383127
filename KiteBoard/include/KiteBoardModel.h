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

}  // namespace kite
