#include "BoardModels.h"

#include "KiteBoardModel.h"
#include "WrenBoardModel.h"

namespace scripting {

std::optional<EBoardModel> BoardModelNamed(const std::string& name) {
  if (name == "kite") return EBoardModel::Kite;
  if (name == "wren") return EBoardModel::Wren;
  return std::nullopt;
}

EBoardModel BoardModelOfType(const std::string& boardType) {
  return boardType == wren::BoardSpec().BoardName ? EBoardModel::Wren : EBoardModel::Kite;
}

SBoard_Spec ModelSpec(EBoardModel model) { return model == EBoardModel::Wren ? wren::BoardSpec() : kite::BoardSpec(); }

void ToStoredOrder(EBoardModel model, const uint8_t* src, uint8_t* dst) {
  if (model == EBoardModel::Wren) {
    wren::ToStoredOrder(src, dst);
  } else {
    kite::ToStoredOrder(src, dst);
  }
}

int WriteFrameFrom(EBoardModel model, COrvBoard& board, uint16_t frame, const uint8_t* data, uint8_t* scratch) {
  return model == EBoardModel::Wren ? wren::WriteFrameFrom(board, frame, data, scratch)
                                    : kite::WriteFrameFrom(board, frame, data, scratch);
}

}  // namespace scripting
