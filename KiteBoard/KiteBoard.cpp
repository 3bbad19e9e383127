// The Kite driver library: the model-board driver for the Kite board, with its own copy
// of the bridge layer and its own interrupt routine.
#include "KiteBoard.h"

#include "KiteBoardModel.h"
#include "KiteSetupDlg.h"
#include "ModelBoardImpl.h"

template class CModelBoard<KiteModel>;

SBoard_Spec kite::BoardSpec() { return ModelBoardSpec<KiteModel>(); }

void kite::ToStoredOrder(const uint8_t* src, uint8_t* dst) { modelboard::ToBoardOrder<KiteModel>(src, dst); }

int kite::WriteFrameFrom(COrvBoard& board, uint16_t frame, const uint8_t* data, uint8_t* scratch) {
  auto* model = dynamic_cast<CKiteBoard*>(&board);
  return model != nullptr ? model->WriteFrameBufferFrom(frame, data, scratch) : 0;
}

CKiteBoard::CKiteBoard(uint16_t modulatorType, uint16_t trueFrames, bool* claimed)
    : CModelBoard(modulatorType, trueFrames, claimed) {}

CKiteBoard::~CKiteBoard() = default;

void BoardInterruptRoutine(void* pCard) { modelboard::InterruptRoutine<KiteModel>(pCard); }
