#include "OrvBoard.h"

#include <cstring>

#include "OrvSetupDlg.h"

COrvBoard::COrvBoard() {
  RegisterOrvBoardResources();
  std::memset(&m_BoardSpec, 0, sizeof m_BoardSpec);
  std::memset(&m_RunStatus, 0, sizeof m_RunStatus);
  std::strncpy(m_BoardSpec.BoardName, "Board_Undefined", sizeof m_BoardSpec.BoardName - 1);
  m_BoardSpec.MaxFrames = 1000;
  m_BoardSpec.Width = 100;
  m_BoardSpec.Height = 100;
  m_BoardSpec.Reserved1 = 255;
  m_BoardSpec.FrameTime = 1000;
  m_BoardSpec.MinFrameRate = 0;
  m_BoardSpec.MaxFrameRate = 1000;
}

COrvBoard::~COrvBoard() = default;

const SBoard_Spec* COrvBoard::BoardSpec() { return &m_BoardSpec; }
int COrvBoard::BoardReady() { return 0; }

int COrvBoard::SetupDialog(int* /*modulatorType*/, int* /*trueFrames*/) {
  COrvSetupDlg dlg;
  dlg.DoModal();
  return 0;
}

int COrvBoard::SetDownloadMode(int) { return 0; }
int COrvBoard::SetRunParameters(uint16_t, uint16_t, uint16_t, uint16_t) { return 0; }
int COrvBoard::SetTrueFrames(uint16_t) { return 0; }
int COrvBoard::GetTrueFrames() { return 0; }
int COrvBoard::GetImageFrames() { return 0; }
int COrvBoard::WriteFrameBuffer(uint16_t, uint8_t*) { return 0; }
int COrvBoard::SelectImage(int) { return 0; }
int COrvBoard::SetRunMode(uint8_t, int, uint16_t*, int) { return 0; }
int COrvBoard::GetRunStatus(SRun_Status*) { return 0; }
int COrvBoard::SetPower(int) { return 0; }
int COrvBoard::GetPower() { return 0; }
