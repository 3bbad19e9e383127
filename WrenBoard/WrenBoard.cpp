// The Wren driver library: the model-board driver for the Wren board, with its own copy
// of the bridge layer and its own interrupt routine.
#include "WrenBoard.h"

#include "ModelBoardImpl.h"
#include "WrenBoardModel.h"
#include "WrenSetupDlg.h"

template class CModelBoard<WrenModel>;

SBoard_Spec wren::BoardSpec() { return ModelBoardSpec<WrenModel>(); }

void wren::ToStoredOrder(const uint8_t* src, uint8_t* dst) { modelboard::ToBoardOrder<WrenModel>(src, dst); }

int wren::WriteFrameFrom(COrvBoard& board, uint16_t frame, const uint8_t* data, uint8_t* scratch) {
  auto* model = dynamic_cast<CWrenBoard*>(&board);
  return model != nullptr ? model->WriteFrameBufferFrom(frame, data, scratch) : 0;
}

CWrenBoard::CWrenBoard(uint16_t modulatorType, uint16_t trueFrames, bool* claimed)
    : CModelBoard(modulatorType, trueFrames, claimed) {}

CWrenBoard::~CWrenBoard() = default;

void BoardInterruptRoutine(void* pCard) { modelboard::InterruptRoutine<WrenModel>(pCard); }
