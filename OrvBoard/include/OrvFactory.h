#pragma once
// Picks the board model that takes the hardware and builds it.

#include <cstdint>

#include "OrvBoard.h"

class ORVBOARD_API COrvFactory {
 public:
  COrvFactory();
  ~COrvFactory();

  // Kite first, then Wren, then the undefined board. The caller owns the result and
  // deletes it through the virtual destructor.
  COrvBoard* BuildBoard(uint16_t modulatorType, uint16_t trueFrames);
};
