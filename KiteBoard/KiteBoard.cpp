// The Kite driver library: the model-board driver for the Kite board, with its own copy
// of the bridge layer and its own interrupt routine.
#include "KiteBoard.h"

#include "KiteSetupDlg.h"
#include "ModelBoardImpl.h"

template class CModelBoard<KiteModel>;

CKiteBoard::CKiteBoard(uint16_t modulatorType, uint16_t trueFrames, bool* claimed)
    : CModelBoard(modulatorType, trueFrames, claimed) {}

CKiteBoard::~CKiteBoard() = default;

void BoardInterruptRoutine(void* pCard) { modelboard::InterruptRoutine<KiteModel>(pCard); }
