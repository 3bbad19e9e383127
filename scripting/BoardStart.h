#pragma once
// The board opened as start-up opens it, written once for the program and the scripting core:
// the factory builds it with the true frames held, a board neither 256 nor 512 wide is
// refused in the system's words, the board goes to download mode 0, and the frame rate is
// held to the board's maximum. What the operator or a script is told stays the caller's.

#include <cstdint>
#include <functional>
#include <string>

#include "OrvBoard.h"

namespace startup {

// The system's text for a board of neither width.
inline constexpr const char* NOT_256_OR_512 = "The hardware found was not 256 or 512 hardware";

// The frame rate start-up asks of the board: at most its MaxFrameRate.
uint16_t HeldFrameRate(uint16_t frameRate, const SBoard_Spec& spec);

struct SBoardStart {
  COrvBoard* Board = nullptr;        // the caller's since Take
  const char* Refusal = nullptr;     // NOT_256_OR_512, and nothing after the build was done
  bool DownloadMode = false;         // the board took download mode 0
  uint16_t FrameRate = 0;            // the asked rate, held
};

// Given the board the moment the factory built it, with who held the card when the search
// found it claimed ("" when nobody did). The board is the taker's from then on, whatever
// follows; the taker may end the start-up by throwing.
using BoardTaker = std::function<void(COrvBoard* board, const std::string& holder)>;

SBoardStart OpenBoard(uint16_t modulatorType, uint16_t trueFrames, uint16_t frameRate, const BoardTaker& take);

}  // namespace startup
