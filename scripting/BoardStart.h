#pragma once
// The board opened as start-up opens it, written once for the program and the scripting
// core. What the operator or a script is told of it stays the caller's.

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
  COrvBoard* Board = nullptr;     // handed to the taker as soon as it was built
  const char* Refusal = nullptr;  // NOT_256_OR_512: the board was built and nothing more done
  bool DownloadMode = false;      // the board took download mode 0
  uint16_t FrameRate = 0;         // the asked rate, held
};

// Given the board the moment the factory built it, with who held the card when the search
// found it claimed ("" when nobody did). The board is the taker's from then on, whatever
// follows; the taker may end the start-up by throwing.
using BoardTaker = std::function<void(COrvBoard* board, const std::string& holder)>;

// The factory's board for the modulator type and the true frames (held to 3..32767), then
// the width check, download mode 0 and the frame rate held.
SBoardStart OpenBoard(uint16_t modulatorType, uint16_t trueFrames, uint16_t frameRate, const BoardTaker& take);

}  // namespace startup
