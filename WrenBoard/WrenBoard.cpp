// The Wren driver library: the model-board driver for the Wren board, with its own copy
// of the bridge layer and its own interrupt routine.
#include "WrenBoard.h"

#include "ModelBoardImpl.h"
#include "WrenSetupDlg.h"

template class CModelBoard<WrenModel>;

CWrenBoard::CWrenBoard(uint16_t modulatorType, uint16_t trueFrames, bool* claimed)
    : CModelBoard(modulatorType, trueFrames, claimed) {}

CWrenBoard::~CWrenBoard() = default;

void BoardInterruptRoutine(void* pCard) { modelboard::InterruptRoutine<WrenModel>(pCard); }
