#include "BoardModels.h"

#include "FrameReorder.h"
#include "KiteBoard.h"
#include "WrenBoard.h"

namespace scripting {

std::optional<EBoardModel> BoardModelNamed(const std::string& name) {
  if (name == "kite") return EBoardModel::Kite;
  if (name == "wren") return EBoardModel::Wren;
  return std::nullopt;
}

EBoardModel BoardModelOfType(const std::string& boardType) {
  return boardType == WrenModel::BoardName ? EBoardModel::Wren : EBoardModel::Kite;
}

SBoard_Spec ModelSpec(EBoardModel model) {
  return model == EBoardModel::Wren ? ModelBoardSpec<WrenModel>() : ModelBoardSpec<KiteModel>();
}

void ToStoredOrder(EBoardModel model, const uint8_t* src, uint8_t* dst) {
  if (model == EBoardModel::Wren) {
    modelboard::ToBoardOrder<WrenModel>(src, dst);
  } else {
    modelboard::ToBoardOrder<KiteModel>(src, dst);
  }
}

}  // namespace scripting
