#pragma once
// The two board models as scripts name them ("kite", "wren"), known without a card: what
// such a board reports about itself, and the byte order it stores frames in.

#include <cstdint>
#include <optional>
#include <string>

#include "OrvBoard.h"

namespace scripting {

enum class EBoardModel { Kite, Wren };

// "kite" or "wren"; nothing for any other name.
std::optional<EBoardModel> BoardModelNamed(const std::string& name);
// The model a board type of the settings store names ("Wren_SLM" is Wren, else Kite).
EBoardModel BoardModelOfType(const std::string& boardType);

// The description the model's driver gives of its board.
SBoard_Spec ModelSpec(EBoardModel model);

// A frame as a board of the model stores it when its board id asks for the reorder (ids 0
// and 0x40, the boards' usual ones); src may be dst.
void ToStoredOrder(EBoardModel model, const uint8_t* src, uint8_t* dst);
// The model's WriteFrameFrom: data kept as it is, reordered through scratch when the board wants it.
int WriteFrameFrom(EBoardModel model, COrvBoard& board, uint16_t frame, const uint8_t* data, uint8_t* scratch);

}  // namespace scripting
